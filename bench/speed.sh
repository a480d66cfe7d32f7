#!/usr/bin/env bash
# Every speed figure of the README, as ratios measured in one run:
#   - MD5 throughput of the updater's digest against OpenSSL's (1 MiB blocks);
#   - over one tree of about 2 GiB (bench/make_tree.py), page cache warm, best
#     of three: md5sum, qalManifest build, the updater's planning comparison
#     natively (plan_digests), and the real qalUpdate.exe planning under Wine,
#     its start-up measured apart;
#   - the launcher's time to its first painted skin under Wine against a
#     minimal Win32 window program built the same way.
# Native figures come from a Release build without sanitizers (build-bench);
# the Wine figures from the x86_64 test build, so run scripts/test-all.sh
# first. The tree is deleted afterwards.
#   bench/speed.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQAL_SANITIZE=OFF \
      -DQAL_BUILD_BENCH=ON -DQAL_CROSS_TARGETS= >/dev/null
cmake --build "$build" --target md5_bench qalManifest plan_digests >/dev/null
if ldd "$build/bench/plan_digests" | grep -q -e libasan -e libubsan; then
  echo "speed: $build is built with sanitizers; configure it with -DQAL_SANITIZE=OFF" >&2
  exit 1
fi

echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo), Debian $(cat /etc/debian_version)"
"$build/bench/md5_bench" --benchmark_filter='^(Updater|OpenSsl)/1048576$' 2>/dev/null |
  awk '/^(Updater|OpenSsl)\// { for (i = 1; i <= NF; i++) if ($i ~ /^bytes_per_second=/) { sub(/bytes_per_second=/, "", $i); rate[$1] = $i } }
       END { printf "md5, 1 MiB blocks: updater %s, OpenSSL %s\n", rate["Updater/1048576"], rate["OpenSsl/1048576"] }'


work=$(mktemp -d "${TMPDIR:-/tmp}/qal-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT
tree=$work/game
python3 "$root/bench/make_tree.py" "$tree"
# A micro-client, so the updater under Wine ends as it does for players.
stub=$root/build/win-x86_64/tests/updater/PelMicroLauncher.exe
[ -f "$stub" ] && cp "$stub" "$tree/PelMicroLauncher.exe"
"$build/tools/qalManifest/qalManifest" build "$tree" --version bench -o "$work/qupdater.xml"
find "$tree" -type f -print0 >"$work/files"
xargs -0 cat <"$work/files" >/dev/null

now() { date +%s%N; }
best() {  # best of three wall times of a command, in seconds
  local b=0 t s
  for _ in 1 2 3; do
    s=$(now); "$@" >/dev/null; t=$(( $(now) - s ))
    { [ "$b" -eq 0 ] || [ "$t" -lt "$b" ]; } && b=$t
  done
  awk -v ns="$b" 'BEGIN { printf "%.3f", ns / 1e9 }'
}
md5sum_s=$(best xargs -0 -a "$work/files" md5sum)
manifest_s=$(best "$build/tools/qalManifest/qalManifest" build "$tree" --version bench -o "$work/again.xml")
plan_s=$(best "$build/bench/plan_digests" "$work/qupdater.xml" "$tree")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "tree: $(find "$tree" -type f | wc -l) files, $(du -sb "$tree" | awk '{printf "%.0f MiB", $1 / 1048576}')"
echo "md5sum: $md5sum_s s"
echo "qalManifest build: $manifest_s s (x$(ratio "$manifest_s" "$md5sum_s") md5sum)"
echo "updater planning, native: $plan_s s (x$(ratio "$plan_s" "$md5sum_s") md5sum)"

if [ -x "$root/build/win-x86_64/updater/qalUpdate.exe" ]; then
  wine=$(/usr/bin/python3 "$root/bench/wine_speed.py" planning "$tree" "$work/qupdater.xml")
  echo "$wine" | sed 's/^/  /'
  wine_plan=$(echo "$wine" | awk -F': ' '/^wine_planning_s/ {print $2}')
  echo "updater planning, Wine (start-up apart): $wine_plan s (x$(ratio "$wine_plan" "$md5sum_s") md5sum)"
  /usr/bin/python3 "$root/bench/wine_speed.py" startup | sed 's/^/  /'
else
  echo "Wine figures left out: build/win-x86_64 has no qalUpdate.exe (run scripts/test-all.sh first)"
fi
