#!/usr/bin/env bash
# Wine GUI tests: the real tavboot-gui.exe on a virtual display against the simulated device.
#
# Usage: run_gui_tests.sh [--shots DIR] [--only REGEX] WIN_BUILD HOST_BUILD
#   WIN_BUILD    mingw build folder (tavboot-gui.exe, gui_driver.exe, serial_check.exe)
#   HOST_BUILD   host build folder (sim/tavboot-sim)
#   --shots DIR  also write the screenshots (main window, port dialog, message box) as PNG
#   --only REGEX run only the scenarios whose names match
# Every scenario runs with a fresh device; the last line is "N passed, N failed".
set -u

shots=""
only=""
while [ $# -gt 2 ]; do
    case "$1" in
        --shots) shots=$(realpath "$2") ;;
        --only) only=$2 ;;
        *) break ;;
    esac
    shift 2
done
if [ $# -ne 2 ]; then
    sed -n '4,10p' "$0" >&2
    exit 2
fi
win_build=$(realpath "$1")
host_build=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
sim="$host_build/sim/tavboot-sim"

work=$(mktemp -d /tmp/tavboot-wine.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono/Gecko installers
drive="$WINEPREFIX/drive_c/tavtest"
dosdevices="$WINEPREFIX/dosdevices"
passed=0
failed=0
xvfb_pid=""
sim_pid=""

cleanup() {
    stop_sim
    stop_sims
    [ -n "${holder_pid:-}" ] && kill "$holder_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tests/wine/wine_session.sh
. "$here/wine_session.sh"

# One prefix for the whole run, with the test programs and images on its C: drive.
make_prefix() {
    start_wine_desktop "$work/wineboot.log"
    mkdir -p "$drive"
    cp "$win_build/app/tavboot-gui.exe" "$win_build/tests/wine/gui_driver.exe" \
       "$win_build/tests/wine/serial_check.exe" "$win_build/cli/tavboot.exe" "$drive/"
    python3 "$here/wine_images.py" make "$drive"
    cp "$root/examples/sample.hex" "$drive/"
}

# COM ports that lead nowhere: opening them fails.
unlink_ports() {
    local port
    for port in com1 com5 com8; do
        ln -sfn "$work/no-such-tty" "$dosdevices/$port"
    done
}

# start_sim PORT [OPTIONS]: a fresh device behind COM PORT; its flash goes to $work/flash.bin.
start_sim() {
    local port=$1
    shift
    rm -f "$work/flash.bin" "$dosdevices/$port"
    "$sim" --link "$dosdevices/$port" --flash-out "$work/flash.bin" "$@" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -L "$dosdevices/$port" ] && return 0
        sleep 0.05
    done
    echo "simulator did not start: $(cat "$work/sim.log")" >&2
}

stop_sim() {
    [ -z "$sim_pid" ] && return 0
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=""
}

wanted() {
    [ -z "$only" ] || [[ "$1" =~ $only ]]
}

record() {
    local name=$1 ok=$2
    if [ "$ok" -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}

# drive NAME SCENARIO [ARGUMENTS]: one scenario of gui_driver.exe.
drive() {
    local name=$1
    shift
    (cd "$drive" && timeout 600 wine gui_driver.exe 'C:\tavtest\tavboot-gui.exe' "$@") \
        >"$work/driver.log" 2>&1
    local status=$?
    sed 's/\r$//' "$work/driver.log" | grep -v '^PASS' | sed "s/^/[$name] /"
    return $status
}

# gui NAME "SIM OPTIONS" SCENARIO [ARGUMENTS]: a scenario with a fresh device on COM1.
gui() {
    local name=$1 options=$2
    shift 2
    wanted "$name" || return 0
    unlink_ports
    # shellcheck disable=SC2086
    start_sim com1 $options
    drive "$name" "$@"
    local status=$?
    stop_sim
    record "$name" "$status"
}

# The device's flash holds the pages of the HEX image just downloaded.
check_flash() {
    local name=$1 image=$2
    wanted "$name" || return 0
    python3 "$here/wine_images.py" check-flash "$work/flash.bin" "$image" | sed "s/^/[$name] /"
    record "$name" "${PIPESTATUS[0]}"
}

save_shot() {
    [ -n "$shots" ] && [ -f "$drive/$1.bmp" ] || return 0
    mkdir -p "$shots"
    convert "$drive/$1.bmp" -crop "$2" +repage "$shots/$1.png"
}

# serial NAME "SIM OPTIONS" [ARGUMENTS]: serial_check.exe on COM1 against a fresh device.
serial() {
    local name=$1 options=$2
    shift 2
    unlink_ports
    # shellcheck disable=SC2086
    start_sim com1 $options
    (cd "$drive" && timeout 300 wine serial_check.exe COM1 "$@") >"$work/serial.log" 2>&1
    local status=$?
    stop_sim
    sed 's/\r$//' "$work/serial.log" | grep -E '^(PASS|FAIL)' | sed "s/^/[$name] /"
    record "$name" "$status"
}

run_serial_checks() {
    wanted serial || return 0
    serial serial-check "" 'C:\tavtest\small.hex'
    check_flash serial-flash "$drive/small.hex"
    serial serial-late-byte "--fault late-extra-byte" --late-byte
    serial serial-flow-left "" --flow-left 'C:\tavtest\small.hex'
    check_flash serial-flow-left-flash "$drive/small.hex"
}

# console NAME "SIM OPTIONS" STATUS TEXT ARGUMENTS: tavboot.exe on COM1 (or on
# $console_port) against a fresh device ends with STATUS and prints TEXT (stdout
# and stderr together).
console_port=com1
console() {
    local name=$1 options=$2 expect=$3 text=$4
    shift 4
    wanted "$name" || return 0
    unlink_ports
    # shellcheck disable=SC2086
    start_sim "$console_port" $options
    (cd "$drive" && timeout 300 wine tavboot.exe "$@") 2>&1 | tr -d '\r' >"$work/console.log"
    local status=${PIPESTATUS[0]}
    stop_sim
    if [ "$status" -eq "$expect" ] && grep -qF -- "$text" "$work/console.log"; then
        record "$name" 0
    else
        echo "[$name] exit status $status (expected $expect), output:"
        sed "s/^/[$name] /" "$work/console.log"
        record "$name" 1
    fi
}

run_console_checks() {
    wanted console || return 0
    console console-download "" 0 "BOOT info: Boot successful finished" download 'C:\tavtest\small.hex'
    check_flash console-flash "$drive/small.hex"
    console console-hwinfo "" 0 '"hw_platform": "TAV-SIM-PLATFORM"' hwinfo --json
    console console-appinfo "" 0 "FW version: FW 3.4" appinfo
    console console-failure "--fault no-page-ack --fault-arg 1" 1 "BOOT info: Boot write to Flash error" \
        download 'C:\tavtest\small.hex'
    console console-no-port "" 1 "COM port info: COM open error" hwinfo --port COM8
    console console-hwinfo-adapter "--adapter-latency 16" 0 "HW version: HW 1.0" hwinfo
    # A device text's bytes from 0x80 on come back as the characters of the same number.
    console console-texts "--platform $(printf 'Verze\370\232\200\377')" 0 \
        "\"hw_platform\": \"$(printf 'Verze\303\270\302\232\302\200\303\277')\"" hwinfo --json
    if wanted console-lone; then
        drive console-lone lone-console 'C:\tavtest\tavboot.exe'
        record console-lone $?
    fi
    # A station port that is no serial line is refused before any board.
    console console-station-not-serial "" 2 "tavboot: NUL is not a serial port" station --port NUL 'C:\tavtest\small.hex'
    # Above COM9 a port opens only by its device path.
    console_port=com12 console console-com12 "" 0 "HW platform: TAV-SIM-PLATFORM" hwinfo --port COM12
}

# check_log NAME LOG FILE: the run log (a Unix path) holds records of FILE that ended well.
check_log() {
    local name=$1 log=$2 file=$3
    wanted "$name" || return 0
    python3 "$here/wine_images.py" check-log "$log" "$file" | sed "s/^/[$name] /"
    record "$name" "${PIPESTATUS[0]}"
}

# hold NAME FILE SHARING: another program holds FILE (shared or exclusive) for a minute.
holder_pid=""
hold() {
    rm -f "$work/holder.log"
    (cd "$drive" && timeout 120 wine gui_driver.exe - hold-file "$2" "$3" 60000) >"$work/holder.log" 2>&1 &
    holder_pid=$!
    for _ in $(seq 200); do
        grep -q READY "$work/holder.log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "[$1] the holder did not start: $(cat "$work/holder.log")"
}

release() {
    kill "$holder_pid" 2>/dev/null
    wait "$holder_pid" 2>/dev/null
    holder_pid=""
}

# File names in any script, files other programs hold open, both programs.
run_name_checks() {
    local win='C:\tavtest'
    rm -f "$drive/Δοκιμή/run.log" "$drive/测试/run.log"
    console names-console "" 0 "BOOT info: Boot successful finished" \
        download --log "$win\Δοκιμή\run.log" "$win\names\fw_ř.hex"
    check_flash names-console-flash "$drive/names/fw_ř.hex"
    check_log names-console-log "$drive/Δοκιμή/run.log" "$win\names\fw_ř.hex"
    console names-greek "" 0 "BOOT info: Boot successful finished" \
        download --log "$win\测试\run.log" "$win\Δοκιμή\fw.hex"
    check_flash names-greek-flash "$drive/Δοκιμή/fw.hex"
    check_log names-greek-log "$drive/测试/run.log" "$win\Δοκιμή\fw.hex"
    console names-chinese "" 0 "BOOT info: Boot successful finished" download "$win\测试\fw.hex"
    check_flash names-chinese-flash "$drive/测试/fw.hex"
    gui names-gui "" download "$win\names\fw_ř.hex" 4 unpaced - -
    check_flash names-gui-flash "$drive/names/fw_ř.hex"
    local deep shallow
    deep=$(printf '测试%.0s' $(seq 40))
    shallow=$(printf '固件%.0s' $(seq 20))
    gui names-gui-long "" download "$win\\$deep\\$shallow\\fw.hex" 4 unpaced - -
    check_flash names-gui-long-flash "$drive/$deep/$shallow/fw.hex"
    # Without UTF-8 as its code page (Windows before 1903) a name the system cannot pass is refused,
    # never replaced by a similar one.
    if wanted names-old-windows; then
        local program
        for program in tavboot tavboot-gui; do
            python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); t = b">UTF-8</activeCodePage>"
open(sys.argv[2], "wb").write(d.replace(t, b">xxxxx</activeCodePage>") if t in d else b"")' \
                "$drive/$program.exe" "$drive/$program-old.exe"
        done
        (cd "$drive" && timeout 300 wine tavboot-old.exe download "$win\names\fw_ř.hex") 2>&1 |
            tr -d '\r' >"$work/console.log"
        local status=${PIPESTATUS[0]}
        if grep -qF "cannot pass in its code page" "$work/console.log" && [ "$status" -eq 2 ]; then
            record names-old-windows 0
        else
            sed "s/^/[names-old-windows] /" "$work/console.log"
            record names-old-windows 1
        fi
        (cd "$drive" && timeout 600 wine gui_driver.exe "$win\tavboot-gui-old.exe" open-refused \
            "$win\names\fw_ř.hex") >"$work/driver.log" 2>&1
        status=$?
        sed 's/\r$//' "$work/driver.log" | grep -v '^PASS' | sed "s/^/[names-old-windows-gui] /"
        record names-old-windows-gui "$status"
    fi
    if wanted held; then
        hold held-shared "$win\small.hex" shared
        console held-shared "" 0 "BOOT info: Boot successful finished" download "$win\small.hex"
        release
        check_flash held-shared-flash "$drive/small.hex"
        hold held-exclusive "$win\small.hex" exclusive
        console held-exclusive "" 1 "small.hex: the file is held by another program" download "$win\small.hex"
        release
        # The log: a reader may watch it grow; a program that lets no one write is named as the reason.
        : >"$drive/Δοκιμή/held.log"
        hold held-log-shared "$win\Δοκιμή\held.log" shared
        console held-log-shared "" 0 "BOOT info: Boot successful finished" \
            download --log "$win\Δοκιμή\held.log" "$win\small.hex"
        release
        check_log held-log-shared-log "$drive/Δοκιμή/held.log" "$win\small.hex"
        hold held-log-exclusive "$win\Δοκιμή\held.log" exclusive
        console held-log-exclusive "" 1 "held.log: held by another program" \
            download --log "$win\Δοκιμή\held.log" "$win\small.hex"
        release
    fi
}

# start_sims PORT...: a fresh device behind each COM PORT (PORT:FAULT gives it a fault that fails
# the first page); the flash of COM PORT goes to $work/flash-PORT.bin.
sims=()
start_sims() {
    local each port fault
    for each in "$@"; do
        port=${each%%:*}
        fault=()
        [ "$port" != "$each" ] && fault=(--fault "${each#*:}" --fault-arg 1)
        rm -f "$dosdevices/$port" "$work/flash-$port.bin"
        "$sim" --link "$dosdevices/$port" --flash-out "$work/flash-$port.bin" "${fault[@]}" \
            >"$work/sim-$port.log" 2>&1 &
        sims+=($!)
        for _ in $(seq 100); do
            [ -L "$dosdevices/$port" ] && break
            sleep 0.05
        done
    done
}

stop_sims() {
    [ ${#sims[@]} -eq 0 ] && return 0
    kill -TERM "${sims[@]}" 2>/dev/null
    wait "${sims[@]}" 2>/dev/null
    sims=()
}

# Ctrl-C in the console during a download on several ports: every worker is told, ends as a
# single download ends, and the run ends with 130.
several_ctrl_c() {
    start_sims com6 com7
    drive several-ctrl-c console-ctrl-c 'C:\tavtest\tavboot.exe download --port COM6 --port COM7 C:\tavtest\largest.hex' \
        'Write page 1'
    record several-ctrl-c $?
    stop_sims
}

# wait_lines FILE TEXT COUNT: waits up to a minute until FILE (CR dropped) shows TEXT on COUNT lines.
wait_lines() {
    for _ in $(seq 600); do
        [ "$(tr -d '\r' <"$1" | grep -cF -- "$2")" -ge "$3" ] && return 0
        sleep 0.1
    done
    return 1
}

# The station on two COM ports, boards plugged in turn: two at once; the first pulled (its device
# ends, its port goes) once it is flashed, and the next plugged there once the station waits
# again. Three boards counted, three records, each flash the image. A third port that does not
# exist is named once.
station_boards() {
    local log="$drive/station.log" pids
    rm -f "$log" "$work/flash-com6-next.bin"
    ln -sfn "$work/no-such-tty" "$dosdevices/com8"
    start_sims com6 com7
    pids=("${sims[@]}")
    (cd "$drive" && timeout 300 wine tavboot.exe station --boards 3 --log 'C:\tavtest\station.log' \
        --port COM6 --port COM7 --port COM8 'C:\tavtest\small.hex') >"$work/station.out" 2>"$work/station.err" &
    local station=$!
    wait_lines "$work/station.err" "[COM6] the board still shows TavSim App FW 3.4; remove it" 1
    kill -TERM "${pids[0]}" && wait "${pids[0]}"
    wait_lines "$work/station.err" "[COM6] waiting for a board" 2
    "$sim" --link "$dosdevices/com6" --flash-out "$work/flash-com6-next.bin" >"$work/sim-com6-next.log" 2>&1 &
    sims=("${pids[1]}" $!)
    wait "$station"
    local status=$?
    stop_sims
    tr -d '\r' <"$work/station.err" >"$work/station.log"
    if [ "$status" -eq 0 ] && grep -qE '^COM6 +2 +0$' "$work/station.log" && grep -qE '^COM7 +1 +0$' "$work/station.log" &&
        [ "$(grep -c '^waiting for COM8: not present$' "$work/station.log")" -eq 1 ] &&
        python3 - "$log" <<'CHECK'
import json, sys
records = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
sys.exit(sorted((r["port"], r["result"], r["operation"]) for r in records) !=
         [("COM6", "ok", "station"), ("COM6", "ok", "station"), ("COM7", "ok", "station")])
CHECK
    then
        record station-boards 0
    else
        echo "[station-boards] exit status $status (expected 0), output:"
        sed "s/^/[station-boards] /" "$work/station.log" "$log"
        record station-boards 1
    fi
    local flash
    for flash in com6 com7 com6-next; do
        python3 "$here/wine_images.py" check-flash "$work/flash-$flash.bin" "$drive/small.hex" |
            sed "s/^/[station-flash-$flash] /"
        record "station-flash-$flash" "${PIPESTATUS[0]}"
    done
}

# Ctrl-C once in the station's console during a download: no new boards, the download finishes
# with its record, the station ends with 0.
station_ctrl_c() {
    rm -f "$drive/station-ctrl-c.log"
    start_sims com6
    drive station-ctrl-c console-ctrl-c-once \
        'C:\tavtest\tavboot.exe station --log C:\tavtest\station-ctrl-c.log --port COM6 C:\tavtest\largest.hex' \
        'Write page 1' 0 'station: no new boards; running downloads finish (Ctrl-C again interrupts them)'
    local status=$?
    stop_sims
    if [ "$status" -eq 0 ] && grep -q '"result": *"ok"' "$drive/station-ctrl-c.log" &&
        [ "$(wc -l <"$drive/station-ctrl-c.log")" -eq 1 ]; then
        record station-ctrl-c 0
    else
        sed "s/^/[station-ctrl-c] /" "$drive/station-ctrl-c.log"
        record station-ctrl-c 1
    fi
    python3 "$here/wine_images.py" check-flash "$work/flash-com6.bin" "$drive/largest.hex" | sed "s/^/[station-ctrl-c-flash] /"
    record station-ctrl-c-flash "${PIPESTATUS[0]}"
}

# Several ports at once: one worker process per port, one device failing, named in the summary,
# the JSON and the log. The file's folder has a blank and a letter beyond ASCII: the workers'
# command lines carry it whole.
run_several_port_checks() {
    wanted several-ctrl-c && several_ctrl_c
    wanted station-boards && station_boards
    wanted station-ctrl-c && station_ctrl_c
    wanted several-download || return 0
    local win='C:\tavtest\two wordsř' log="$drive/Δοκιμή/several.log"
    mkdir -p "$drive/two wordsř"
    cp "$drive/small.hex" "$drive/two wordsř/"
    rm -f "$log"
    start_sims com6 com7 com9:no-page-ack com10
    (cd "$drive" && timeout 300 wine tavboot.exe download --json --log 'C:\tavtest\Δοκιμή\several.log' \
        --port COM6 --port COM7 --port COM9 --port COM10 "$win\small.hex") >"$work/several.json" 2>"$work/several.err"
    local status=$?
    stop_sims
    tr -d '\r' <"$work/several.err" >"$work/several.log"
    if [ "$status" -eq 1 ] && grep -qE '^COM9 +FAILED .*BOOT info: Boot write to Flash error' "$work/several.log" &&
        python3 - "$work/several.json" "$log" "$win\small.hex" <<'CHECK'
import json, sys
ports = json.load(open(sys.argv[1]))["ports"]
records = [json.loads(line) for line in open(sys.argv[2], encoding="utf-8")]
results = sorted((r["port"], r["result"], r["file"]) for r in records)
expected = [(p, "failed" if p == "COM9" else "ok", sys.argv[3]) for p in ("COM10", "COM6", "COM7", "COM9")]
sys.exit([p["result"] for p in ports] != ["ok", "ok", "failed", "ok"] or results != expected)
CHECK
    then
        record several-download 0
    else
        echo "[several-download] exit status $status (expected 1), output:"
        sed "s/^/[several-download] /" "$work/several.log" "$work/several.json" "$log"
        record several-download 1
    fi
    local port
    for port in com6 com7 com10; do
        python3 "$here/wine_images.py" check-flash "$work/flash-$port.bin" "$drive/small.hex" |
            sed "s/^/[several-flash-$port] /"
        record "several-flash-$port" "${PIPESTATUS[0]}"
    done
}

run_gui_scenarios() {
    local hex='C:\tavtest\small.hex' tvk='C:\tavtest\small.tvk' bin='C:\tavtest\notes.bin'
    local main_shot=- box_shot=- port_shot=-
    if [ -n "$shots" ]; then
        main_shot='C:\tavtest\main-window.bmp'
        box_shot='C:\tavtest\message-box.bmp'
        port_shot='C:\tavtest\port-dialog.bmp'
    fi
    if wanted resources; then
        drive resources resources 'C:\tavtest\tavboot-gui.exe'
        record resources $?
    fi
    gui startup "" startup
    gui download-no-file "" download-no-file
    gui open-files "" open-files "$hex" "$tvk" "$bin"
    gui download "" download "$hex" 4 unpaced "$main_shot" "$box_shot"
    check_flash download-flash "$drive/small.hex"
    gui download-tvk "" download "$tvk" 3 unpaced - -
    gui download-largest "" download 'C:\tavtest\largest.hex' 249 unpaced - -
    check_flash largest-flash "$drive/largest.hex"
    gui start-fails "--fault sync-zero" start-fails "$hex"
    gui transfer-fails "--fault bad-data-ack --fault-arg 40" transfer-fails "$hex"
    gui hw-info "" hw-info
    gui hw-info-fails "--fault silent" hw-info-fails
    gui hw-info-adapter "--adapter-latency 16" hw-info
    gui app-fw "" app-fw
    gui app-fw-fails "--fault short-app-reply" app-fw-fails
    gui about "" about

    if wanted com-open-error; then
        unlink_ports
        drive com-open-error com-open-error "$hex"
        record com-open-error $?
    fi
    if wanted port-dialog; then
        unlink_ports
        start_sim com5
        drive port-dialog port-dialog "$port_shot"
        record port-dialog $?
        stop_sim
    fi

    gui transfer-locks "--paced" transfer-locks "$hex"
    gui close-during-transfer "--paced" close-during-transfer "$hex"
    local sample_pages
    sample_pages=$(python3 "$here/wine_images.py" pages "$root/examples/sample.hex")
    gui sample-paced "--paced" download 'C:\tavtest\sample.hex' "$sample_pages" paced - -
    check_flash sample-flash "$root/examples/sample.hex"

    save_shot main-window 560x360+95+95
    save_shot message-box 560x360+95+95
    save_shot port-dialog 290x215+95+95
}

command -v wine >/dev/null || { echo "wine is not installed" >&2; exit 1; }
start_display 91 140
make_prefix
run_serial_checks
run_console_checks
run_name_checks
run_several_port_checks
run_gui_scenarios
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
