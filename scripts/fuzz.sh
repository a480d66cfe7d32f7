#!/usr/bin/env bash
# The longer fuzzing run: builds the libFuzzer targets with clang (as the test
# run does, in build/fuzz) and runs each for SECONDS (default 600), one after
# another, from its seed corpus in tests/fuzz/corpus plus what earlier runs
# found. A finding stops the run and leaves its input in build/fuzz/long/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-600}
tree=$root/build/fuzz
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DQAL_FUZZ=ON -DQAL_CROSS_TARGETS= -DQAL_FUZZ_BUILD=OFF >/dev/null
cmake --build "$tree"
for fuzzer in "$tree"/tests/fuzz/fuzz_*; do
  name=$(basename "$fuzzer"); name=${name#fuzz_}
  echo "== $name: $seconds s"
  rm -f "$tree/long/$name"/crash-* "$tree/long/$name"/leak-* "$tree/long/$name"/timeout-* "$tree/long/$name"/oom-*
  "$root/scripts/run-fuzzer.sh" "$fuzzer" "$root/tests/fuzz/corpus/$name" "$tree/long/$name" "$seconds" 2>&1 |
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)' || true
  # grep hides the fuzzer's exit status; a finding leaves crash-*/leak-*/timeout-* files.
  if compgen -G "$tree/long/$name/crash-*" >/dev/null || compgen -G "$tree/long/$name/leak-*" >/dev/null ||
     compgen -G "$tree/long/$name/timeout-*" >/dev/null || compgen -G "$tree/long/$name/oom-*" >/dev/null; then
    echo "finding in $tree/long/$name" >&2
    exit 1
  fi
done
