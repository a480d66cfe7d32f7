#!/usr/bin/env bash
# How fast qalManifest digests a game tree compared with md5sum over the same
# files: about 2 GiB (four 256 MiB files, 1-8 MiB files, a few thousand small
# ones) in a temporary directory, the page cache warmed, then md5sum and
# qalManifest build alternating, best of three each, and qalManifest's peak
# memory. The files are deleted afterwards.
#   bench/manifest_speed.sh [BUILD_DIR]   (default: build-bench, native Release, no sanitizers)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-bench}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQAL_SANITIZE=OFF -DQAL_CROSS_TARGETS= >/dev/null
cmake --build "$build" --target qalManifest >/dev/null
tool=$build/tools/qalManifest/qalManifest
# Sanitizers left on by an earlier configuration would measure them instead.
if ldd "$tool" | grep -q -e libasan -e libubsan; then
  echo "manifest_speed: $tool is built with sanitizers; configure $build with -DQAL_SANITIZE=OFF" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qal-manifest-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT
tree=$work/game

echo "creating about 2 GiB of files in $work ..."
python3 "$root/bench/make_tree.py" "$tree"

find "$tree" -type f -print0 >"$work/files"
echo "warming the page cache ..."
xargs -0 cat <"$work/files" >/dev/null

now() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
have_time=false
[ -x /usr/bin/time ] && have_time=true

best_md5=0 best_tool=0 peak_kib=0
for round in 1 2 3; do
  start=$(now)
  xargs -0 md5sum <"$work/files" >/dev/null
  md5_ns=$(( $(now) - start ))

  start=$(now)
  if $have_time; then
    /usr/bin/time -f %M -o "$work/rss" "$tool" build "$tree" --version bench -o "$work/qupdater.xml"
    kib=$(tail -n 1 "$work/rss")
  else
    "$tool" build "$tree" --version bench -o "$work/qupdater.xml" &
    pid=$! kib=0
    while kill -0 "$pid" 2>/dev/null; do
      k=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$k" ] && kib=$k
      sleep 0.02
    done
    wait "$pid"
  fi
  tool_ns=$(( $(now) - start ))

  echo "round $round: md5sum $(seconds "$md5_ns") s, qalManifest $(seconds "$tool_ns") s"
  { [ "$best_md5" -eq 0 ] || [ "$md5_ns" -lt "$best_md5" ]; } && best_md5=$md5_ns
  { [ "$best_tool" -eq 0 ] || [ "$tool_ns" -lt "$best_tool" ]; } && best_tool=$tool_ns
  [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
done

echo "entries listed: $(grep -c '<file ' "$work/qupdater.xml")"
echo "md5sum (best of 3):       $(seconds "$best_md5") s"
echo "qalManifest (best of 3):  $(seconds "$best_tool") s"
echo "ratio qalManifest/md5sum: $(awk -v a="$best_tool" -v b="$best_md5" 'BEGIN { printf "%.3f", a / b }')"
echo "qalManifest peak RSS: $peak_kib KiB"
