#!/usr/bin/env bash
# Builds the libFuzzer programs of fuzz/ with clang and runs each for SECONDS seconds, two at a
# time, starting from seed corpora: the conformance files and songs (song reader), their
# system-exclusive messages (decoders), the patch set (patch loader), configurations and small
# SoundFonts (SoundFont reader; a leading byte chooses the drum key and the filter setting), an
# Ogg Vorbis stream (the one sample of a compressed font, after the same leading byte).
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS [target...]
# Findings are written to BUILD_DIR/findings/<target>/; the grown corpora stay in
# BUILD_DIR/corpus/<target>/ for the next run; each run's log is BUILD_DIR/<target>.log.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-build-fuzz}"
seconds="${2:-60}"
shift 2 || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(midi sysex patch config sf2 sf3)
case "$build" in /*) ;; *) build="$here/$build" ;; esac

cc=$(command -v clang-14 || command -v clang || true)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
  echo "fuzz: clang is needed (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
cmake -S "$here/fuzz" -B "$build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j2

# Seeds. Patch inputs start with the byte that chooses the loading settings.
seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds/patch" "$seeds/config"
if [ -d "$here/data/freepats" ]; then
  i=0
  while IFS= read -r f; do
    printf '\x00' > "$seeds/patch/$i.pat"; cat "$f" >> "$seeds/patch/$i.pat"
    printf '\xc5' > "$seeds/patch/$i-drum.pat"; cat "$f" >> "$seeds/patch/$i-drum.pat"
    i=$((i + 1))
  done < <(find "$here/data/freepats" -name '*.pat' -size -96k | sort)
  cp "$here/data/freepats/patches.cfg" "$seeds/config/patches.cfg"
fi
printf 'dir %s\nsource %s\n' "$here/data/freepats" "$here/data/freepats/patches.cfg" \
  > "$seeds/config/corvelle.cfg"
cp "$here"/fuzz/seeds/config/* "$seeds/config/"

seed_dirs() {
  case "$1" in
    midi) echo "$here/tests/data/midi $here/tests/data/songs" ;;
    sysex) echo "$here/fuzz/seeds/sysex" ;;
    patch) echo "$seeds/patch" ;;
    config) echo "$seeds/config" ;;
    sf2) echo "$here/fuzz/seeds/sf2" ;;
    sf3) echo "$here/fuzz/seeds/sf3" ;;
  esac
}

run() {
  local t=$1
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  # shellcheck disable=SC2046
  "$build/fuzz_$t" "$build/corpus/$t" $(seed_dirs "$t") \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$t/" > "$build/$t.log" 2>&1
}

status=0
pids=()
names=()
for t in "${targets[@]}"; do
  if [ ${#pids[@]} -ge 2 ]; then
    wait "${pids[0]}" || { echo "fuzz: $t: see $build/${names[0]}.log" >&2; status=1; }
    pids=("${pids[@]:1}"); names=("${names[@]:1}")
  fi
  run "$t" & pids+=($!); names+=("$t")
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || { echo "fuzz: ${names[$i]} found a fault: see $build/${names[$i]}.log" >&2; status=1; }
done
for t in "${targets[@]}"; do
  echo "== $t: $(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$build/$t.log" | tail -1)"
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/$t.log" || true
  ls "$build/findings/$t" 2>/dev/null | sed "s|^|   finding: $build/findings/$t/|"
done
exit $status
