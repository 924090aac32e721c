#!/usr/bin/env bash
# Writes corvelle.cfg next to the built programs, pointing at the patch set in data/freepats,
# and at the General MIDI SoundFont for every program and drum the patch set lacks.
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
gm_font=/usr/share/sounds/sf2/FluidR3_GM.sf2
if [ -r "$gm_font" ]; then
  cat >> "$build/corvelle.cfg" <<CFG
# The General MIDI SoundFont (fluid-soundfont-gm) plays what the patch set does not have;
# without order=1 it would play every program in place of the patches.
soundfont $gm_font order=1
CFG
fi
