#!/usr/bin/env bash
# Mutation testing: how many seeded faults in the engine and the view the tests catch.
#
#   MUTANTS=N MUTANT_SEED=S bash scripts/mutants.sh      N mutants (default 80), seed S (default 1)
#   MUTANT_LIST=old/mutants.txt bash scripts/mutants.sh  the mutations an earlier run listed
#   MUTANT_PER_TEST=1 ...   the whole program runs for each mutant, and build-mutants/killers.txt
#                           names the tests that failed for each killed one (slower; shows which
#                           tests are the only ones to catch something, and which catch nothing)
#
# The tracked sources are copied to build-mutants/src and built there at -O2 (build-mutants/build);
# the working tree is never touched. One mutation at a time goes into that copy (scripts/mutants.py
# finds and applies it), the test program of the mutated file's folder is rebuilt (one object,
# one link) and run: KILLED when it fails, crashes or hangs, SURVIVED when it passes, NOCOMPILE
# when the mutant does not build (not counted; the next mutation is drawn instead). Then the file
# is restored and checked. The result is build-mutants/mutants.txt with a summary at its end.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="${MUTANT_DIR:-$here/build-mutants}"
src="$out/src" build="$out/build"
count="${MUTANTS:-80}" seed="${MUTANT_SEED:-1}" list="${MUTANT_LIST:-}"
jobs="${JOBS:-2}"
folders=(synth/frontend synth/config synth/instrum synth/readmidi synth/play synth/render
         synth/output synth/effects vis platform)
[ -z "$list" ] || list=$(cd "$(dirname "$list")" && pwd)/$(basename "$list")
export CCACHE_BASEDIR="$out" CORVELLE_AUDIO_DEVICE=null
mutator=(python3 "$here/scripts/mutants.py")

# The test program that covers a source folder: synth/render -> test_synth_render.
program_of() { local f=${1%/*}; echo "test_${f//\//_}"; }

# --- The copy: tracked files of the working tree, rewritten only when they differ (the build
# stays incremental from one run to the next).
bash "$here/scripts/setup.sh"
mkdir -p "$src"
(cd "$here" && git ls-files -z) | while IFS= read -r -d '' f; do
  [ -f "$here/$f" ] || continue
  if ! cmp -s "$here/$f" "$src/$f"; then
    mkdir -p "$src/$(dirname "$f")"
    cp "$here/$f" "$src/$f"  # a fresh time stamp: make rebuilds what includes it
  fi
done
# Files the working tree no longer tracks leave the copy too (a test file deleted since the last
# run would otherwise still be built).
(cd "$here" && git ls-files) | sort >"$out/tracked.txt"
(cd "$src" && find . -path ./data/freepats -prune -o -type f -print | sed 's|^\./||') | sort |
  comm -23 - "$out/tracked.txt" | while IFS= read -r f; do rm -f "$src/$f"; done
ln -sfn "$here/data/freepats" "$src/data/freepats"

# --- The build: the project's optimisation (-O2, assertions off as in its own builds) without
# debug information or sanitizers. (GCC 12 at -O1 drops the calls of the 8-bit and G.711
# converters in general_output_convert, and the output tests fail on the unmutated copy.)
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >"$out/configure.log"
# The test programs, and corvelle-render for those whose tests run it (it is relinked with them).
declare -A extra
programs=()
for f in "${folders[@]}"; do
  p=$(program_of "$f/x.cpp")
  programs+=("$p")
  if grep -rqs 'corvelle-render' "$src/tests/${f}"; then extra[$p]=corvelle-render; fi
done
echo "mutants: building ${programs[*]} corvelle-render in $build"
cmake --build "$build" -j"$jobs" --target "${programs[@]}" corvelle-render >"$out/build.log" 2>&1 ||
  { tail -30 "$out/build.log"; echo "mutants: the unmutated copy does not build" >&2; exit 1; }
bash "$src/scripts/write-config.sh" "$build"

# Runs a test program (the view's under a virtual display), stopping at the first failure.
# Its status: 0 passed, 124 timed out, otherwise failed or crashed.
per_test="${MUTANT_PER_TEST:-}"
run_program() {  # program timeout log
  local cmd=(timeout -k 10 "$2" "$build/$1")
  [ -n "$per_test" ] || cmd+=(--gtest_fail_fast=1 --gtest_brief=1)
  [ "$1" != test_vis ] || cmd=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "${cmd[@]}")
  (cd "$build" && "${cmd[@]}") >"$3" 2>&1
}

# --- The clean suite: each program once on the unmutated build. Its time sets the program's
# timeout (ten times as long, at least 60 s); a program that fails here skips its folder.
results="$out/mutants.txt"
say() { echo "$*" | tee -a "$results"; }
: >"$results"
[ -z "$per_test" ] || : >"$out/killers.txt"
what="MUTANTS=$count MUTANT_SEED=$seed"
[ -z "$list" ] || what="replaying $list"
say "# Mutation run $(date -u +%Y-%m-%dT%H:%MZ) on $(cd "$here" && git rev-parse --short HEAD), $what"
declare -A timeout_of skip
for f in "${folders[@]}"; do
  p=$(program_of "$f/x.cpp")
  start=$(date +%s%N)
  if run_program "$p" 1800 "$out/clean-$p.log"; then
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    t=$(( ms / 100 )); [ "$t" -ge 60 ] || t=60
    timeout_of[$p]=$t
    say "$(printf '# clean %-20s %6d ms (timeout %d s)' "$p" "$ms" "$t")"
  else
    skip[$f]=1
    say "# clean $p FAILS on the unmutated build: $f skipped (see $out/clean-$p.log)"
  fi
done

# --- The mutants. The file being mutated is restored on every exit, interrupt included.
saved="$out/saved-source" current=""
restore() {
  [ -n "$current" ] || return 0
  cp "$saved" "$src/$current"  # a fresh time stamp: the next build recompiles it (from ccache)
  cmp -s "$saved" "$src/$current" || { echo "mutants: could not restore $src/$current" >&2; exit 1; }
  cmp -s "$here/$current" "$src/$current" ||
    echo "mutants: note: $current changed in the working tree during the run" >&2
  current=""
}
trap 'restore' EXIT
trap 'restore; exit 130' INT TERM

if [ -n "$list" ]; then
  "${mutator[@]}" replay "$src" "$list" >"$out/plan.jsonl"
else
  "${mutator[@]}" plan "$src" "$seed" "${folders[@]}" >"$out/plan.jsonl"
fi

counted=0 started=$(date +%s)
# The plan is read on descriptor 3: a program of the loop that reads its standard input and puts
# the file's offset back where its own reading stopped would otherwise make lines run twice.
while IFS= read -r -u 3 mut; do
  [ -n "$list" ] || [ "$counted" -lt "$count" ] || break
  [[ "$mut" =~ \"file\":\ \"([^\"]+)\" ]] || continue
  file=${BASH_REMATCH[1]}
  folder=${file%/*}
  [ -z "${skip[$folder]:-}" ] || continue
  if [[ "$mut" == *'"gone": true'* ]]; then
    "${mutator[@]}" record GONE "$mut" | tee -a "$results"
    continue
  fi
  prog=$(program_of "$file")
  cp "$src/$file" "$saved"
  current=$file
  "${mutator[@]}" apply "$src" "$mut"
  t0=$(date +%s)
  # A mutant that lets a function fall off its end without a value counts as not compiling:
  # that is undefined behaviour, not a fault the tests could be asked to catch.
  if ! cmake --build "$build" -j"$jobs" --target "$prog" ${extra[$prog]:-} >"$out/mutant-build.log" 2>&1 ||
     grep -q -- '-Wreturn-type' "$out/mutant-build.log"; then
    status=NOCOMPILE
  elif run_program "$prog" "${timeout_of[$prog]}" "$out/mutant-test.log"; then
    status=SURVIVED
  else
    rc=$?
    status=KILLED
    [ "$rc" -ne 124 ] && [ "$rc" -ne 137 ] || status=TIMEOUT  # a hang is a caught fault
    cp "$out/mutant-test.log" "$out/last-killed.log"
    if [ -n "$per_test" ]; then
      # The failed tests; after a crash or a hang, the test that was running.
      killers=$(awk '/^\[  FAILED  \] [A-Za-z_]/ { t = $4; sub(/,$/, "", t); print t }' \
                "$out/mutant-test.log" | sort -u | tr '\n' ' ')
      [ -n "$killers" ] || killers="$(grep '^\[ RUN      \]' "$out/mutant-test.log" | tail -1 | cut -c14-) (crash)"
      printf '%s\t%s\n' "$file:$(sed -n 's/.*"line": \([0-9]*\).*/\1/p' <<<"$mut")" "$killers" >>"$out/killers.txt"
    fi
  fi
  restore
  [ "$status" = NOCOMPILE ] || counted=$((counted + 1))
  "${mutator[@]}" record "$status" "$mut" | tee -a "$results"
  echo "$status $file $(( $(date +%s) - t0 ))" >>"$out/times.log"
done 3<"$out/plan.jsonl"
elapsed=$(( $(date +%s) - started ))

# --- The summary: killed (TIMEOUT counts as killed) over counted, per folder and in total.
{
  echo "#"
  echo "# folder             killed/counted  survived  nocompile"
  awk -v elapsed="$elapsed" '
    /^(KILLED|TIMEOUT|SURVIVED|NOCOMPILE|GONE) / {
      split($2, loc, ":"); f = loc[1]; sub(/\/[^\/]*$/, "", f)
      if (!(f in seen)) { seen[f] = 1; order[n++] = f }
      if ($1 == "KILLED" || $1 == "TIMEOUT") { k[f]++; c[f]++; K++; C++ }
      else if ($1 == "SURVIVED") { s[f]++; c[f]++; C++ }
      else if ($1 == "NOCOMPILE") { nc[f]++; NC++ }
      else gone++
    }
    END {
      for (i = 0; i < n; i++) { f = order[i]
        printf "# %-18s %4d/%-4d %4.0f%%  %8d  %9d\n", f, k[f], c[f], c[f] ? 100 * k[f] / c[f] : 0, s[f], nc[f] }
      printf "# total              %4d/%-4d %4.0f%%  %8d  %9d\n", K, C, C ? 100 * K / C : 0, C - K, NC
      if (gone) printf "# gone (the line no longer exists): %d\n", gone
      printf "# %d s for %d mutants (%d that did not compile): %.1f s a mutant\n", elapsed, C + NC, NC, (C + NC) ? elapsed / (C + NC) : 0
    }' "$results"
} | tee -a "$results"
echo "mutants: the list is $results"
