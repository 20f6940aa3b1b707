# shellcheck shell=bash
# Shared by the e2e test and the start-up benchmark: a private Xvfb (and,
# optionally, openbox) that is started and stopped strictly by process id,
# so that several runs can share one machine without touching each other.
#
# Source it from bash, then:
#   xsession_start WORKDIR [wm]   sets XS_DISPLAY (":N"), XS_XVFB_PID, XS_WM_PID
#   xsession_stop                 ends what xsession_start began
#
# XS_WM_DEBUG=1 in the environment runs openbox with --debug.
# WORKDIR receives the logs of Xvfb and openbox. "wm" also starts openbox;
# without it top-level windows are children of the root window, which is what
# the benchmark wants (their MapNotify reaches the root directly).

XS_DISPLAY=
XS_XVFB_PID=
XS_WM_PID=
XS_DESKTOPS=

# Bounded wait: poll CMD every 0.05 s for at most SECONDS seconds.
xs_poll() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

xs_have_display_number() {
    [[ -s $1 ]] && [[ $(<"$1") =~ ^[0-9]+$ ]]
}

xs_wm_running() {
    # openbox sets _NET_SUPPORTING_WM_CHECK once it manages the screen.
    DISPLAY=$XS_DISPLAY xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

# Sets XS_DESKTOPS once openbox has published its number of desktops.
xs_wm_desktop_count() {
    XS_DESKTOPS=$(DISPLAY=$XS_DISPLAY xprop -root _NET_NUMBER_OF_DESKTOPS 2>/dev/null)
    XS_DESKTOPS=${XS_DESKTOPS##* }
    [[ $XS_DESKTOPS =~ ^[0-9]+$ ]]
}

# Asks openbox for $1 desktops and tells whether it has done so.
# Right after start-up openbox 3.6 now and then never handles a window mapped
# in that moment (it stays unmapped, openbox idle). Waiting until openbox has
# answered a request of ours, repeated until it does, proves its event loop
# is running; windows mapped after that are handled. The number of desktops,
# unlike the current desktop, changes without an on-screen popup that could
# end up in a screenshot.
xs_wm_desktops() {
    DISPLAY=$XS_DISPLAY xdotool set_num_desktops "$1" 2>/dev/null
    [[ $(DISPLAY=$XS_DISPLAY xprop -root _NET_NUMBER_OF_DESKTOPS 2>/dev/null) == *" = $1" ]]
}

xsession_start() {
    local workdir=$1 want_wm=${2:-}
    local tool
    for tool in Xvfb xprop ${want_wm:+openbox xdotool}; do
        if ! command -v "$tool" >/dev/null; then
            echo "xsession: '$tool' not found (Debian: apt-get install xvfb x11-utils openbox xdotool)" >&2
            return 1
        fi
    done
    mkdir -p "$workdir"
    local fdfile=$workdir/displayfd
    : >"$fdfile"
    # No display number is given: Xvfb takes the first free one (it owns the
    # lock file, so two runs cannot race for it) and writes it to fd 3 once it
    # accepts connections. -dpi 96 keeps point sizes the same on every host.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset \
        3>"$fdfile" >"$workdir/xvfb.log" 2>&1 </dev/null &
    XS_XVFB_PID=$!
    if ! xs_poll 20 xs_have_display_number "$fdfile"; then
        echo "xsession: Xvfb did not report a display within 20 s; its log:" >&2
        cat "$workdir/xvfb.log" >&2
        xsession_stop
        return 1
    fi
    XS_DISPLAY=:$(<"$fdfile")

    if [[ -n $want_wm ]]; then
        # A private HOME keeps openbox from reading or writing the user's files.
        mkdir -p "$workdir/wm-home"
        HOME=$workdir/wm-home DISPLAY=$XS_DISPLAY \
            openbox --sm-disable ${XS_WM_DEBUG:+--debug} >"$workdir/openbox.log" 2>&1 </dev/null &
        XS_WM_PID=$!
        XS_DESKTOPS=
        if ! xs_poll 20 xs_wm_running || ! xs_poll 20 xs_wm_desktop_count ||
            ! xs_poll 20 xs_wm_desktops $((XS_DESKTOPS + 1)) ||
            ! xs_poll 20 xs_wm_desktops "$XS_DESKTOPS"; then
            echo "xsession: openbox did not take the screen within 20 s; its log:" >&2
            cat "$workdir/openbox.log" >&2
            xsession_stop
            return 1
        fi
    fi
    export XS_DISPLAY XS_XVFB_PID XS_WM_PID
}

# Ends PID (SIGTERM, then SIGKILL after 5 s) and reaps it.
xs_end_pid() {
    local pid=$1
    [[ -n $pid ]] || return 0
    kill -TERM "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    if ! xs_poll 5 xs_pid_gone "$pid"; then
        kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    return 0
}

xs_pid_gone() {
    ! kill -0 "$1" 2>/dev/null || [[ $(ps -o stat= -p "$1" 2>/dev/null) == Z* ]]
}

xsession_stop() {
    xs_end_pid "$XS_WM_PID"
    XS_WM_PID=
    xs_end_pid "$XS_XVFB_PID"
    XS_XVFB_PID=
    XS_DISPLAY=
}
