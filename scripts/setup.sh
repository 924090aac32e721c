#!/usr/bin/env bash
# Installs what Corvelle needs to build, test and run on Debian, and provides the patch set.
# Safe to run again: it only installs what is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(build-essential cmake pkg-config libfltk1.3-dev libgl1-mesa-dev libglu1-mesa-dev
          libasound2-dev zlib1g-dev xvfb xauth xdotool googletest libgtest-dev sox imagemagick)

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
    tmp=$(mktemp -d)
    (cd "$tmp" && apt-get download freepats >/dev/null && dpkg-deb -x freepats_*.deb root)
    rm -rf "$dest.tmp"; cp -r "$tmp/root/usr/share/midi/freepats" "$dest.tmp"; mv "$dest.tmp" "$dest"
    rm -rf "$tmp"
  fi
fi
