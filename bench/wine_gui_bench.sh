#!/usr/bin/env bash
# The Windows loaders under Wine against the paced simulated device: the window (click to final box) and the console.
# Usage: bench/wine_gui_bench.sh [PAGES...]   (default 1 16; needs the mingw-w64 toolchain, wine and Xvfb)
set -uo pipefail
cd "$(dirname "$0")/.."
host=${TAVBOOT_BENCH_BUILD:-build-bench}
win=${TAVBOOT_BENCH_WIN_BUILD:-build-bench-win}
page_counts=${*:-1 16}
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DTAVBOOT_TESTS=OFF >/dev/null &&
    cmake --build "$host" -j"$(nproc)" --target tavboot-sim download_bench >/dev/null &&
    cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
        -DTAVBOOT_TESTS=OFF >/dev/null &&
    cmake --build "$win" -j"$(nproc)" --target tavboot-gui tavboot gui_driver >/dev/null || exit 1

work=$(mktemp -d /tmp/tavboot-wine-bench.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
drive="$WINEPREFIX/drive_c/bench"
com1="$WINEPREFIX/dosdevices/com1"
xvfb_pid=""
sim_pid=""

cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/wine/wine_session.sh
. tests/wine/wine_session.sh

# The loaders on the prefix's C: drive.
make_prefix() {
    start_wine_desktop /dev/null
    mkdir -p "$drive"
    cp "$win/app/tavboot-gui.exe" "$win/cli/tavboot.exe" "$win/tests/wine/gui_driver.exe" "$drive/"
}

start_device() {
    rm -f "$com1" "$work/flash.bin"
    "$host/sim/tavboot-sim" --link "$com1" --paced --erase-delay 0 --program-delay 0 \
        --flash-out "$work/flash.bin" >/dev/null 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -L "$com1" ] && return 0
        sleep 0.05
    done
}

# Stops the device and says whether its flash holds the image.
stop_device() {
    kill -TERM "$sim_pid"
    wait "$sim_pid"
    sim_pid=""
    python3 tests/wine/wine_images.py check-flash "$work/flash.bin" "$1" >/dev/null && echo ok || echo WRONG
}

gui_seconds() {
    (cd "$drive" && timeout 900 wine gui_driver.exe 'C:\bench\tavboot-gui.exe' download "C:\\bench\\$1" "$2" paced - -) 2>/dev/null |
        sed -n 's/.*paced): \([0-9]*\) ms.*/\1/p' | awk '{ printf "%.3f", $1 / 1000 }'
}

console_seconds() {
    (cd "$drive" && timeout 900 wine tavboot.exe download --json --port COM1 "C:\\bench\\$1") 2>/dev/null |
        python3 -c 'import json, sys; print("%.3f" % json.load(sys.stdin)["ports"][0]["seconds"])' 2>/dev/null
}

command -v wine >/dev/null || { echo "wine is not installed" >&2; exit 1; }
start_display 141 190
make_prefix
echo "Under Wine, paced at 19200 baud, device delays 0 ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf "%5s %9s %22s %6s %24s %6s\n" pages "ideal s" "window: click to box s" ratio "console: load to end s" ratio
rows=()
for pages in $page_counts; do
    "$host/bench/download_bench" --write-image "$pages" "$drive" || exit 1
    image="image$pages.hex"
    ideal=$(awk -v p="$pages" 'BEGIN { printf "%.3f", (58 + 1153 * p) * 10 / 19200 }')
    start_device
    gui=$(gui_seconds "$image" "$pages")
    gui_flash=$(stop_device "$drive/$image")
    start_device
    console=$(console_seconds "$image")
    console_flash=$(stop_device "$drive/$image")
    awk -v p="$pages" -v i="$ideal" -v g="${gui:-0}" -v c="${console:-0}" -v gf="$gui_flash" -v cf="$console_flash" \
        'BEGIN { printf "%5d %9.3f %17.3f %4s %6.4f %19.3f %4s %6.4f\n", p, i, g, gf, g / i, c, cf, c / i }'
    rows+=("$pages ${gui:-0} ${console:-0}")
done
# Between the smallest and the largest image the fixed costs (start-up, the
# driver's click and box) cancel: what is left is the cost of each further page.
if [ ${#rows[@]} -ge 2 ]; then
    echo "${rows[0]} ${rows[-1]}" | awk '{ n = $4 - $1; w = ($5 - $2) / n * 1000; c = ($6 - $3) / n * 1000
        printf "  each further page: window %.1f ms, console %.1f ms, wire 600.5 ms; the window'"'"'s timer %.1f ms\n", w, c, w - c }'
fi
echo "  window: from the DownLoad click to the final box read by the test driver (which also polls"
echo "  the status line every 5 ms); console: tavboot.exe's own --json time, file load to the end."
