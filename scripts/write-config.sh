#!/usr/bin/env bash
# Writes corvelle.cfg next to the built programs, pointing at the patch set in data/freepats,
# and at a SoundFont for every program and drum the patch set lacks: SOUNDFONT names it (default
# Debian's General MIDI SoundFont; SOUNDFONT=none writes the patch set alone).
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
font="${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}"
if [ "$font" != none ]; then
  case "$font" in /*) ;; *) font="$(pwd)/$font" ;; esac
  if [ -r "$font" ]; then
    cat >> "$build/corvelle.cfg" <<CFG
# The SoundFont plays what the patch set does not have; without order=1 it would play every
# program in place of the patches.
soundfont $font order=1
CFG
  elif [ -n "${SOUNDFONT:-}" ]; then
    echo "write-config: cannot read the SoundFont $font" >&2
    exit 1
  fi
fi
