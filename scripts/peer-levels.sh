#!/usr/bin/env bash
# Per-channel levels against FluidSynth on the same SoundFont: every song of a folder is
# rendered channel by channel (the other channels' notes taken out, their set-up kept) by
# build/corvelle-render (the font in front of the patch set) and by fluidsynth, with the effects
# on and with reverb and chorus off; for each song the difference of the RMS levels
# (ours - FluidSynth) per channel, their spread, and the median and worst spread over songs.
#
#     scripts/peer-levels.sh [-b BUILD] [-f FONT] [-g GAIN] [-o OUT.tsv] [-m wet,dry] [-j N] [FOLDER]
#
# FOLDER defaults to ../shared/midi/songs beside the checkout; BUILD to build; FONT to the GM
# SoundFont; GAIN (FluidSynth's -g) to 0.6, which brings FluidSynth's whole songs to about our
# level (the spread does not depend on it); OUT to peer-levels.tsv in the build folder; N
# renders at a time (default 1, each under nice).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
font=/usr/share/sounds/sf2/FluidR3_GM.sf2
gain=0.6
tsv=""
modes=wet,dry
jobs=1
usage() { sed -n '8p' "$0" | sed 's/^#     /usage: /' >&2; exit 1; }
while getopts "b:f:g:o:m:j:h" opt; do
  case "$opt" in
    b) build="$OPTARG" ;;
    f) font="$OPTARG" ;;
    g) gain="$OPTARG" ;;
    o) tsv="$OPTARG" ;;
    m) modes="$OPTARG" ;;
    j) jobs="$OPTARG" ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -le 1 ] || usage
folder="${1:-$here/../shared/midi/songs}"
case "$build" in /*) ;; *) build="$(pwd)/$build" ;; esac
tsv="${tsv:-$build/peer-levels.tsv}"

fail() { echo "peer-levels: $*" >&2; exit 1; }
[ -x "$build/corvelle-render" ] || fail "no $build/corvelle-render (make build first)"
[ -r "$build/corvelle.cfg" ] || fail "no $build/corvelle.cfg (scripts/write-config.sh $build)"
[ -d "$folder" ] || fail "no folder $folder"
[ -r "$font" ] || fail "cannot read the SoundFont $font"
case "$font" in *[[:space:]]*) fail "the SoundFont's path may not hold spaces (a configuration line names it)" ;; esac
command -v fluidsynth >/dev/null || fail "fluidsynth is not installed (apt-get install fluidsynth)"
command -v python3 >/dev/null || fail "python3 is not installed"

exec python3 "$here/scripts/peer_levels.py" --render "$build/corvelle-render" \
  --config "$build/corvelle.cfg" --font "$font" --gain "$gain" --tsv "$tsv" \
  --modes "$modes" --jobs "$jobs" "$folder"
