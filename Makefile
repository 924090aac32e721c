# Corvelle: the two commands a newcomer needs are `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
XVFB        = xvfb-run -a -s "-screen 0 1280x1024x24 -noreset"
CTEST_ARGS ?= --output-on-failure -j$(JOBS) --timeout 1500

.PHONY: all setup build run install test test-asan-engine test-asan test-tsan fuzz bench mutants clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)
	@bash scripts/write-config.sh $(BUILD)

run: build
	./$(BUILD)/corvelle-visualizer

# Installs the visualiser and corvelle-render in PREFIX/bin, the patch set and a configuration
# naming it in PREFIX/share/corvelle (where the installed programs look, beside their own
# folder), the desktop file and the icon. DESTDIR stages the files elsewhere (packaging).
PREFIX  ?= /usr/local
DESTDIR ?=
SHARE    = $(DESTDIR)$(PREFIX)/share
install: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS) --target corvelle-visualizer corvelle-render
	install -d $(DESTDIR)$(PREFIX)/bin $(SHARE)/corvelle $(SHARE)/applications \
		$(SHARE)/icons/hicolor/scalable/apps
	install -m 755 $(BUILD)/corvelle-visualizer $(BUILD)/corvelle-render $(DESTDIR)$(PREFIX)/bin/
	rm -rf $(SHARE)/corvelle/freepats
	cp -r data/freepats $(SHARE)/corvelle/freepats
	printf '# Installed by make install: the free GUS patch set beside this file.\ndir %s\nsource %s\n' \
		'$(PREFIX)/share/corvelle/freepats' '$(PREFIX)/share/corvelle/freepats/patches.cfg' \
		> $(SHARE)/corvelle/corvelle.cfg
	install -m 644 data/corvelle.desktop $(SHARE)/applications/corvelle.desktop
	install -m 644 data/corvelle.svg $(SHARE)/icons/hicolor/scalable/apps/corvelle.svg

# The whole suite, then the engine's tests again under the sanitizers (a leak, an overflow or
# undefined behaviour anywhere in the engine or corvelle-render fails the run).
test: build
	cd $(BUILD) && $(XVFB) ctest $(CTEST_ARGS)
	@$(MAKE) --no-print-directory test-asan-engine

SANITIZE_CONFIGURE = cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCORVELLE_SANITIZE=address,undefined
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1

# The engine's test programs and corvelle-render, built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
test-asan-engine: setup
	$(SANITIZE_CONFIGURE)
	cmake --build $(ASAN_BUILD) -j$(JOBS) --target engine_tests
	@bash scripts/write-config.sh $(ASAN_BUILD)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest $(CTEST_ARGS) -L '^test_(synth|platform|fuzz|tools)'

# The whole suite, GUI tests included, under the same sanitizers.
test-asan: setup
	$(SANITIZE_CONFIGURE)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	@bash scripts/write-config.sh $(ASAN_BUILD)
	cd $(ASAN_BUILD) && $(ASAN_ENV) $(XVFB) ctest $(CTEST_ARGS)

# The threading tests under ThreadSanitizer: the platform layer's locks, threads and waveOut
# device thread, the output driver and audio queue against that thread, the note queue between
# the playback thread and frames, and a song played on its own thread while the toolkit animates.
TSAN_TARGETS = test_platform test_synth_output test_vis test_e2e
test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVELLE_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 $(XVFB) ctest $(CTEST_ARGS) -L '^test_(platform|synth_output)$$'
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 $(XVFB) ctest $(CTEST_ARGS) -R '^(NoteModel\.PushesOnAnotherThread|OpenMidi\.)'

# The libFuzzer programs of fuzz/ (clang), FUZZ_SECONDS each, two at a time.
fuzz: setup
	@bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@bash scripts/bench.sh $(BUILD)

# Seeded source mutations of synth/, vis/ and platform/, one at a time, each against the test
# program of its folder (build-mutants/; MUTANTS=N, MUTANT_SEED=S, MUTANT_LIST=earlier list).
mutants: setup
	@MUTANTS="$(MUTANTS)" MUTANT_SEED="$(MUTANT_SEED)" MUTANT_LIST="$(MUTANT_LIST)" bash scripts/mutants.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) build-mutants
