# Corvelle: the two commands a newcomer needs are `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
XVFB        = xvfb-run -a -s "-screen 0 1280x1024x24 -noreset"
CTEST_ARGS ?= --output-on-failure -j$(JOBS) --timeout 600

.PHONY: all setup build run test test-asan test-tsan fuzz bench clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)
	@bash scripts/write-config.sh $(BUILD)

run: build
	./$(BUILD)/corvelle-visualizer

test: build
	cd $(BUILD) && $(XVFB) ctest $(CTEST_ARGS)

# The same suite, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCORVELLE_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	@bash scripts/write-config.sh $(ASAN_BUILD)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 $(XVFB) ctest $(CTEST_ARGS)

# The threading tests under ThreadSanitizer.
test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCORVELLE_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && $(XVFB) ctest $(CTEST_ARGS) -R 'Thread|Concurren'

# The libFuzzer programs of fuzz/ (clang), FUZZ_SECONDS each, two at a time.
fuzz: setup
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@bash scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
