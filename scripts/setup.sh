#!/usr/bin/env bash
# Installs what Corvelle needs to build, test and run on Debian, and provides the patch set.
# Safe to run again: it only installs what is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(build-essential cmake pkg-config libfltk1.3-dev libgl1-mesa-dev libglu1-mesa-dev
          libasound2-dev zlib1g-dev xvfb xauth xdotool googletest libgtest-dev sox imagemagick
          fluid-soundfont-gm desktop-file-utils
          libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libvorbis-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The instrument patches live in data/freepats (not committed). The shared folder beside the
# checkout serves as a local cache; otherwise Debian's freepats package is unpacked (not installed).
dest="$here/data/freepats"
if [ ! -f "$dest/patches.cfg" ]; then
  shared="${CORVELLE_SHARED:-$here/../shared}"
  mkdir -p "$here/data"
  if [ -f "$shared/freepats/patches.cfg" ]; then
    echo "setup: copying the patch set from $shared/freepats"
    rm -rf "$dest.tmp"; cp -r "$shared/freepats" "$dest.tmp"; mv "$dest.tmp" "$dest"
  else
    echo "setup: fetching the patch set from Debian's freepats package"
    tmp=$(mktemp -d); chmod 755 "$tmp"  # apt downloads as its own user
    (cd "$tmp" && apt-get download freepats >/dev/null && dpkg-deb -x freepats_*.deb root)
    rm -rf "$dest.tmp"; cp -r "$tmp/root/usr/share/midi/freepats" "$dest.tmp"
    rm -rf "$tmp"
    # The package carries no bank list of ours: name every patch by the number its file
    # name starts with (Drum_000/035_Kick_1.pat is drum note 35, Tone_000/000_... program 0).
    {
      for kind in "drumset 0:Drum_000" "bank 0:Tone_000"; do
        echo "${kind%%:*}"
        echo
        for f in "$dest.tmp/${kind#*:}"/[0-9][0-9][0-9]_*.pat; do
          [ -e "$f" ] || continue
          b=$(basename "$f")
          echo " $((10#${b:0:3}))	${kind#*:}/$b"
        done
        echo
      done
    } > "$dest.tmp/patches.cfg"
    mv "$dest.tmp" "$dest"
  fi
fi
