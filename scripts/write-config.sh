#!/usr/bin/env bash
# Writes corvelle.cfg next to the built programs, pointing at the patch set in data/freepats.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-build}"
case "$build" in /*) ;; *) build="$here/$build" ;; esac
mkdir -p "$build"
cat > "$build/corvelle.cfg" <<CFG
# Written by scripts/write-config.sh: the free GUS patch set of data/freepats.
dir $here/data/freepats
source $here/data/freepats/patches.cfg
CFG
