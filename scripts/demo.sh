#!/usr/bin/env bash
# The programs' main job, from the player's click to the game, under Wine on
# a virtual screen, with screenshots of each step: see demo.py.
#   scripts/demo.sh [OUT_DIR]      (default: build/demo)
# Sets the machine up (as scripts/test-all.sh does), makes a throwaway
# manifest key pair with qalManifest, then builds only what the demo runs,
# for x86_64, with that public key in the updater, in build/demo-x86_64,
# whose Wine prefix is the demo's own.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/build/demo}
tree=$root/build/demo-x86_64

if [ "$(id -u)" -eq 0 ]; then
  bash "$root/scripts/setup-debian.sh"
else
  sudo bash "$root/scripts/setup-debian.sh"
fi

# Wine's 32-bit side, prepared for the user who runs the programs (not as
# root): natively or under emulation, as this machine needs.
QAL_WINE_DIR=$(bash "$root/scripts/setup-wine32.sh")
export QAL_WINE_DIR

# Its own port, so a test run on this machine does not get in the way.
configure() {
  cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" \
        -DQAL_RESOURCE_BASE_URL=http://127.0.0.1:28470/qal_lianyun/micro/ \
        -DQAL_MANIFEST_PUBLIC_KEYS="$1" -DQAL_WINE_DIR="$QAL_WINE_DIR" >/dev/null
}

# The virtual screen and the Wine server are the demo's; stop them after.
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
cleanup() { qal_stop_tree "$tree"; }
trap cleanup EXIT
unset DISPLAY
export QAL_WINEPREFIX=$tree/wineprefix-demo

# The operator's first step: a key pair, made by qalManifest itself; the
# updater is then built to trust its public half.
keys=$tree/demo-keys
rm -rf "$keys"
mkdir -p "$keys"
configure ""
cmake --build "$tree" --target qalManifest
"$root/scripts/wine-run.sh" "$tree" "$tree/tools/qalManifest/qalManifest.exe" keygen \
  "$(winepath_of "$keys/operator.pem")" "$(winepath_of "$keys/operator.pub.pem")"
configure "$keys/operator.pub.pem"
cmake --build "$tree" --target qalLogin qalUpdate qalManifest demo_micro_client standin_browser qal_test_driver

/usr/bin/python3 "$root/scripts/demo.py" --tree "$tree" --out "$out" \
  --private-key "$keys/operator.pem" --public-key "$keys/operator.pub.pem"
