#!/usr/bin/env bash
# Builds (if needed) and runs the programs' main job under Wine: see demo.py.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build"
exec /usr/bin/python3 "$root/scripts/demo.py"
