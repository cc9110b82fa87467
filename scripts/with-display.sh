# Sourced by the scripts that open windows: when no X display is there, starts Xvfb (with
# Mesa's GLX, so SDL gets an accelerated renderer) on a free display number and stops it on exit.
# A script with an EXIT trap of its own calls stop_virtual_display from it.
VIRTUAL_DISPLAY_PID=""

stop_virtual_display() {
    if [ -n "$VIRTUAL_DISPLAY_PID" ]; then
        kill "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
        wait "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
        VIRTUAL_DISPLAY_PID=""
    fi
}

start_virtual_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local number=99
    # A display number can be taken where no lock file shows it (another file-system namespace
    # on the same network namespace holds its abstract socket): Xvfb then ends at once, and the
    # next number is tried.
    for _ in $(seq 1 20); do
        while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
            number=$((number + 1))
        done
        Xvfb ":${number}" -screen 0 1280x1024x24 +extension GLX -nolisten tcp >/dev/null 2>&1 &
        VIRTUAL_DISPLAY_PID=$!
        trap stop_virtual_display EXIT
        export DISPLAY=":${number}"
        for _ in $(seq 1 100); do
            [ -e "/tmp/.X11-unix/X${number}" ] && return 0
            kill -0 "$VIRTUAL_DISPLAY_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$VIRTUAL_DISPLAY_PID" 2>/dev/null && break
        VIRTUAL_DISPLAY_PID=""
        number=$((number + 1))
    done
    echo "with-display: Xvfb did not start" >&2
    return 1
}
