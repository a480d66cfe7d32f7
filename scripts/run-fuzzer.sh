#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time:
#   run-fuzzer.sh FUZZER SEED_CORPUS WORK_DIR SECONDS
# New inputs go to WORK_DIR/corpus, never into the seed corpus in the
# repository; a crash leaves its input in WORK_DIR and fails the run.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
mkdir -p "$work/corpus"
cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
     -artifact_prefix="$work/" "$work/corpus" "$seeds"
