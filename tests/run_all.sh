#!/usr/bin/env bash
# Builds tavboot and runs every test stage; exits nonzero when any stage fails.
# The last line counts the stages: "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Most tests wait on pseudo-terminals and simulated devices, not on the processor:
# ctest runs many more at once than there are cores (the few that hold the wall
# clock to a tight bound run alone; see tests/test_schedule.cmake). Under the
# sanitizers four or eight at once still failed now and then (late answers, a
# port that would not open), so those run one a core.
test_jobs=$((jobs * 4))
sanitizer_test_jobs=$jobs
passed=0
failed=0

stage() {
    echo "=== $1"
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "=== FAILED: $*"
        failed=$((failed + 1))
    fi
}

# A stage that needs only spare processor time (the fuzzers run for a fixed time)
# runs at the lowest priority beside one that mostly waits (the Wine scenarios);
# its output is kept aside and shown, with its verdict, by finish_beside.
start_beside() {
    beside_log=$(mktemp)
    (renice -n 19 -p "$BASHPID" >/dev/null && "$@") >"$beside_log" 2>&1 &
    beside_pid=$!
}

finish_beside() {
    wait "$beside_pid"
    local status=$?
    cat "$beside_log"
    rm -f "$beside_log"
    return $status
}

# Line tables (-g1) place a failure as well as full debug information and build faster.
host_tests() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
        -DTAVBOOT_TESTS=ON >/dev/null &&
        cmake --build build -j"$jobs" &&
        ctest --test-dir build --output-on-failure -j"$test_jobs"
}

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitizer_tests() {
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVBOOT_SANITIZE=ON >/dev/null &&
        cmake --build build-asan -j"$jobs" &&
        ctest --test-dir build-asan --output-on-failure -j"$sanitizer_test_jobs"
}

# One fuzz target for a bounded time, starting from the committed corpus (left
# as it is); a crash, a sanitizer report or a broken promise fails it.
fuzz_one() {
    local target=$1 work=$2
    mkdir -p "$work/$target"
    if build-fuzz/fuzz/fuzz_"$target" -max_total_time="$fuzz_seconds" -close_fd_mask=1 \
        -artifact_prefix="$work/$target-" "$work/$target" "fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
        echo "fuzz_$target: $(grep -o 'DONE.*' "$work/$target.log" | tail -1)"
        return 0
    fi
    echo "fuzz_$target FAILED:"
    tail -n 60 "$work/$target.log"
    return 1
}

fuzz_seconds=${TAVBOOT_FUZZ_SECONDS:-60}
fuzz_targets=(intel_hex memory_image compatibility arguments report_lines)

# Every target at once: each has its fixed time, and they share what processor time the
# stage beside them leaves.
bounded_fuzzing() {
    cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVBOOT_FUZZ=ON -DTAVBOOT_TESTS=OFF >/dev/null &&
        cmake --build build-fuzz --target fuzzers -j"$jobs" || return 1
    local work status=0 target pid pids=()
    work=$(mktemp -d)
    for target in "${fuzz_targets[@]}"; do
        fuzz_one "$target" "$work" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || status=1
    done
    rm -rf "$work"
    return $status
}

# The release build the Debian package check makes, made beforehand (the check then finds it
# made, or builds and reports it itself).
prebuild_debian_package() {
    cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release >/dev/null 2>&1 &&
        cmake --build build-deb -j"$jobs" --target tavboot >/dev/null 2>&1
}

# What runs beside the Wine scenarios: the fuzzing and the package's build.
beside_wine() {
    prebuild_debian_package &
    local builder=$!
    bounded_fuzzing
    local status=$?
    wait "$builder"
    return $status
}

# tavboot under Valgrind memcheck against `tavboot simulate`: no errors, no leaks.
# Returns tavboot's own status, 9 for a memcheck report (then shown).
memcheck() {
    local log status
    log=$(mktemp -d)
    valgrind -q --error-exitcode=9 --leak-check=full --log-file="$log/%p" build/cli/tavboot "$@" >/dev/null 2>&1
    status=$?
    if ((status == 9)); then
        echo "memcheck: tavboot $*"
        cat "$log"/*
    fi
    rm -rf "$log"
    return $status
}

valgrind_cli() {
    local work simulator status=0
    work=$(mktemp -d)
    build/cli/tavboot simulate --count 2 --link-prefix "$work/port" --erase-delay 0 --program-delay 0 \
        >"$work/simulator" &
    simulator=$!
    for _ in $(seq 100); do
        [[ -e "$work/port1" ]] && break
        sleep 0.1
    done
    memcheck download --port "$work/port0" examples/sample.hex || status=1
    memcheck download --port "$work/port0" --port "$work/port1" examples/sample.tvk || status=1
    memcheck download --port "$work/port0" --log "$work/log" --retries 1 examples/sample.hex || status=1
    memcheck appinfo --port "$work/port1" || status=1
    memcheck hwinfo --port "$work/port1" || status=1
    memcheck download --port "$work/no-such-port" examples/sample.hex
    [[ $? == 1 ]] || status=1
    memcheck inspect examples/sample.tvk || status=1
    kill -TERM "$simulator"
    wait "$simulator"
    rm -rf "$work"
    return $status
}

# The Windows programs cross-built with mingw-w64 as they are shipped (a release build,
# which the zip check then packs), then the real window and the Win32 serial back end
# driven under Wine against the simulated device.
windows_tests() {
    cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
        cmake --build build-win -j"$jobs" &&
        tests/wine/run_gui_tests.sh build-win build
}

stage "host build and tests" host_tests
stage "sanitizer build and tests (ASan, UBSan)" sanitizer_tests
start_beside beside_wine
stage "Windows build and tests under Wine (the fuzzers run beside)" windows_tests
stage "bounded fuzzing (${fuzz_seconds} s a target, ASan, UBSan)" finish_beside
stage "Valgrind memcheck of the command line" valgrind_cli
stage "Debian package, Windows zip, manual page and completion" env TAVBOOT_ZIP_BUILD=build-win bash tests/package_checks.sh
echo "$passed passed, $failed failed"
((failed == 0))
