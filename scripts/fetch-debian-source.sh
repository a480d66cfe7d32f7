#!/usr/bin/env bash
# Unpacks a Debian source package into DEST (for the Windows builds, which
# compile it with the cross compiler) and prints the unpacked directory:
#   fetch-debian-source.sh PACKAGE DEST FILE
# FILE, relative to the unpacked directory, proves a complete unpacking; an
# earlier one is reused. Needs deb-src entries, which scripts/setup-debian.sh
# adds.
set -euo pipefail
package=$1 dest=$2 marker=$3
mkdir -p "$dest"
cd "$dest"
dir=$(find . -maxdepth 1 -type d -name "$package-*" | head -n 1)
if [ -z "$dir" ] || [ ! -f "$dir/$marker" ]; then
  rm -rf "./$package-"* "./${package}_"*
  # A mirror in flux can list a newer version than its pool holds: then each
  # version the archive lists is tried, newest first.
  if ! apt-get source -qq "$package" >fetch.log 2>&1; then
    fetched=0
    for version in $(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq); do
      rm -rf "./$package-"* "./${package}_"*
      if apt-get source -qq "$package=$version" >>fetch.log 2>&1; then
        fetched=1
        break
      fi
    done
    [ "$fetched" -eq 1 ] || { grep '^E:' fetch.log >&2 || cat fetch.log >&2; exit 1; }
  fi
  dir=$(find . -maxdepth 1 -type d -name "$package-*" | head -n 1)
fi
[ -n "$dir" ] && [ -f "$dir/$marker" ] || { echo "$package source not found in $dest" >&2; exit 1; }
cd "$dir" && pwd
