#!/usr/bin/env bash
# tavboot.exe under Wine: eight ports at once against one port, paced, in the same run.
# Usage: bench/wine_ports_bench.sh [PAGES]   (default 16; needs the mingw-w64 toolchain, wine and Xvfb;
#   TAVBOOT_BENCH_BUILD / TAVBOOT_BENCH_WIN_BUILD name existing build folders to use)
set -uo pipefail
cd "$(dirname "$0")/.."
host=${TAVBOOT_BENCH_BUILD:-build-bench}
win=${TAVBOOT_BENCH_WIN_BUILD:-build-bench-win}
pages=${1:-16}
# Folders of an existing build keep their configuration.
[ -f "$host/CMakeCache.txt" ] || cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DTAVBOOT_TESTS=OFF >/dev/null
[ -f "$win/CMakeCache.txt" ] || cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTAVBOOT_TESTS=OFF >/dev/null
cmake --build "$host" -j2 --target tavboot-sim download_bench >/dev/null &&
    cmake --build "$win" -j2 --target tavboot >/dev/null || exit 1

work=$(mktemp -d /tmp/tavboot-wine-ports.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
drive="$WINEPREFIX/drive_c/bench"
xvfb_pid=""
sims=()
# Above COM4: COM2 and COM4 failed now and then in this benchmark (one port each run, even alone),
# ports from COM5 on never; Wine's own handling of COM1 to COM4 is the suspect, not yet shown.
ports=(com5 com6 com7 com8 com9 com10 com11 com12)

cleanup() {
    [ ${#sims[@]} -gt 0 ] && kill "${sims[@]}" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/wine/wine_session.sh
. tests/wine/wine_session.sh

# A paced device behind each of the first COUNT ports.
start_devices() {
    local port
    for port in "${ports[@]:0:$1}"; do
        rm -f "$WINEPREFIX/dosdevices/$port" "$work/flash-$port.bin"
        "$host/sim/tavboot-sim" --link "$WINEPREFIX/dosdevices/$port" --paced --erase-delay 0 --program-delay 0 \
            --flash-out "$work/flash-$port.bin" >/dev/null 2>&1 &
        sims+=($!)
        for _ in $(seq 100); do
            [ -L "$WINEPREFIX/dosdevices/$port" ] && break
            sleep 0.05
        done
    done
}

# Stops the devices; "ok" when every flash holds the image.
stop_devices() {
    kill -TERM "${sims[@]}"
    wait "${sims[@]}"
    sims=()
    local port verdict=ok
    for port in "${ports[@]:0:$1}"; do
        python3 tests/wine/wine_images.py check-flash "$work/flash-$port.bin" "$drive/image$pages.hex" >/dev/null ||
            verdict=WRONG
    done
    echo "$verdict"
}

# The slowest and the mean port's seconds (tavboot.exe's own --json times) of a download into COUNT ports.
download_seconds() {
    local arguments=() port
    for port in "${ports[@]:0:$1}"; do arguments+=(--port "${port^^}"); done
    (cd "$drive" && timeout 900 wine tavboot.exe download --json "${arguments[@]}" "C:\\bench\\image$pages.hex") \
        2>"$work/download.err" | python3 -c 'import json, sys
seconds = [p["seconds"] for p in json.load(sys.stdin)["ports"] if p["result"] == "ok"]
print("%.3f %.3f %d" % (max(seconds), sum(seconds) / len(seconds), len(seconds)))' 2>/dev/null
}

command -v wine >/dev/null || { echo "wine is not installed" >&2; exit 1; }
start_display 141 190
start_wine_desktop /dev/null
mkdir -p "$drive"
cp "$win/cli/tavboot.exe" "$drive/"
"$host/bench/download_bench" --write-image "$pages" "$drive" || exit 1
echo "tavboot.exe under Wine, $pages pages paced at 19200 baud ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf "%6s %12s %12s %6s %6s\n" ports "slowest s" "mean s" "ok" flash
for count in 1 8 1; do
    start_devices "$count"
    read -r slowest mean ok < <(download_seconds "$count")
    printf "%6d %12.3f %12.3f %6s %6s\n" "$count" "${slowest:-0}" "${mean:-0}" "${ok:-0}" "$(stop_devices "$count")"
    sims=()
    [ "${ok:-0}" -eq "$count" ] || tr -d '\r' <"$work/download.err" | tail -n 12
done
