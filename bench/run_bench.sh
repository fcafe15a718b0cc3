#!/usr/bin/env bash
# Builds tavboot for speed and runs every download benchmark; about seven minutes of real time.
# Usage: bench/run_bench.sh [--devices N] [PAGES...]   (defaults: 8 devices, pages 1 16 249)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVBOOT_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVBOOT_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavboot download_bench exchange_bench load_bench report_bench >/dev/null
# The figures are only as quiet as the machine: say how busy it was.
echo "$(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
"$build/bench/download_bench" "$@"
echo
"$build/bench/download_bench" --several 64
echo
"$build/bench/exchange_bench"
echo
"$build/bench/load_bench"
echo
"$build/bench/report_bench"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
