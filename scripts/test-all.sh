#!/usr/bin/env bash
# Sets up the machine, builds every target (native, i686, x86_64) and runs
# every test. Usage: scripts/test-all.sh [BUILD_DIR]   (default: build/)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}

if [ "$(id -u)" -eq 0 ]; then
  bash "$root/scripts/setup-debian.sh"
else
  sudo bash "$root/scripts/setup-debian.sh"
fi

# Wine's 32-bit side, prepared for the user who runs the programs (not as
# root): natively or under emulation, as this machine needs.
QAL_WINE_DIR=$(bash "$root/scripts/setup-wine32.sh")
export QAL_WINE_DIR

# A disk that fills mid-run fails tests far from the cause: say so first.
mkdir -p "$build"
free_mb=$(df -Pm "$build" | awk 'NR == 2 { print $4 }')
if [ -n "$free_mb" ] && [ "$free_mb" -lt 3000 ]; then
  echo "test-all: only $free_mb MB free under $build; a whole run needs about 2.5 GB at its peak" >&2
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQAL_WINE_DIR="$QAL_WINE_DIR"
cmake --build "$build"

# The Windows tests leave a virtual display and a Wine server per build tree;
# stop them so nothing outlives the run.
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
cleanup() {
  local tree
  for tree in "$build"/win-*; do
    qal_stop_tree "$tree"
  done
}
trap cleanup EXIT

ctest --test-dir "$build" --output-on-failure -j2
