#!/usr/bin/env bash
# Runs every benchmark program of a build (default: build) under a virtual display, so the
# figures come from the same software renderer on every machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-build}"
case "$build" in /*) ;; *) build="$here/$build" ;; esac
shopt -s nullglob
ran=0
for program in "$build"/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  xvfb-run -a -s "-screen 0 1920x1200x24" "$program"
  ran=$((ran + 1))
done
[ "$ran" -gt 0 ] || { echo "bench: no benchmark programs in $build" >&2; exit 1; }
