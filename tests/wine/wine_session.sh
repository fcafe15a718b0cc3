# A virtual display and a Wine prefix, shared by the Wine tests and the Wine benchmark (sourced).

# start_display FIRST LAST: Xvfb on the first free display number from FIRST to LAST;
# sets DISPLAY and xvfb_pid.
start_display() {
    local n
    for n in $(seq "$1" "$2"); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && return 0
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null
    done
    echo "no display could be started" >&2
    exit 1
}

# start_wine_desktop LOG: a fresh prefix in $WINEPREFIX whose windows live in an 800 x 600
# virtual desktop, so that Wine draws the title bars itself (there is no window manager).
# The desktop is chosen when the server starts: start it afresh and keep it running between
# the programs. Its device manager links the COM ports it finds once, when the services
# start: that happens here, so links made afterwards stay.
start_wine_desktop() {
    wineboot -i >"$1" 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
    wineserver -k
    wineserver -w
    wineserver -p >/dev/null 2>&1
    wineboot >>"$1" 2>&1
}
