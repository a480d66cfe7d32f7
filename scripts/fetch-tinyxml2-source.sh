#!/usr/bin/env bash
# Unpacks Debian's tinyxml2 source package into DEST (used for the Windows
# builds, which compile it with the cross compiler). Needs deb-src entries,
# which scripts/setup-debian.sh adds. Prints the unpacked source directory.
set -euo pipefail
dest=$1
mkdir -p "$dest"
cd "$dest"
dir=$(find . -maxdepth 1 -type d -name 'tinyxml2-*' | head -n 1)
if [ -z "$dir" ] || [ ! -f "$dir/tinyxml2.cpp" ]; then
  rm -rf ./tinyxml2-* ./tinyxml2_*
  apt-get source -qq tinyxml2 >fetch.log 2>&1 || { cat fetch.log >&2; exit 1; }
  dir=$(find . -maxdepth 1 -type d -name 'tinyxml2-*' | head -n 1)
fi
[ -f "$dir/tinyxml2.cpp" ] || { echo "tinyxml2 source not found in $dest" >&2; exit 1; }
cd "$dir" && pwd
