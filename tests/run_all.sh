#!/usr/bin/env bash
# Builds tavboot and runs every test stage; exits nonzero when any stage fails.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
failed=0

stage() {
    echo "=== $1"
    shift
    if ! "$@"; then
        echo "=== FAILED: $*"
        failed=1
    fi
}

host_tests() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
        cmake --build build -j"$jobs" &&
        ctest --test-dir build --output-on-failure -j"$jobs"
}

stage "host build and tests" host_tests
exit $failed
