# shellcheck shell=bash
# A private Xvfb (and optionally openbox), started and stopped strictly by
# process id so that several runs share one machine. Sourced by the e2e tests
# and the benchmarks:
#   xsession_start WORKDIR [wm]  sets XS_DISPLAY (":N"), XS_XVFB_PID, XS_WM_PID;
#                                WORKDIR receives their logs. Without "wm",
#                                top-level windows are children of the root
#                                window (the start-up benchmark wants that).
#   xsession_stop                ends what xsession_start began
#   xs_poll SECONDS CMD...       runs CMD every 0.05 s until it succeeds or time is up
#   xs_end_pid PID               SIGTERM, SIGKILL after 5 s, and reaps it
#   xs_pid_gone PID              true once PID has ended
# XS_WM_DEBUG=1 in the environment runs openbox with --debug; XS_SCREEN=WxHxD
# sets the screen (1024x768x24 by default).

XS_DISPLAY='' XS_XVFB_PID='' XS_WM_PID='' XS_DESKTOPS=''

xs_poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

xs_pid_gone() {
    ! kill -0 "$1" 2>/dev/null || [[ $(ps -o stat= -p "$1" 2>/dev/null) == Z* ]]
}

xs_end_pid() {
    [[ -n $1 ]] || return 0
    kill -TERM "$1" 2>/dev/null && ! xs_poll 5 xs_pid_gone "$1" && kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    return 0
}

xs_desktops() { DISPLAY=$XS_DISPLAY xprop -root _NET_NUMBER_OF_DESKTOPS 2>/dev/null; }
xs_wm_desktop_count() { # sets XS_DESKTOPS once openbox has published it
    XS_DESKTOPS=$(xs_desktops)
    XS_DESKTOPS=${XS_DESKTOPS##* }
    [[ $XS_DESKTOPS =~ ^[0-9]+$ ]]
}
# Right after start-up openbox 3.6 now and then never handles a window mapped
# in that moment (it stays unmapped, openbox idle). Once openbox has answered
# a request of ours its event loop runs and later windows are handled. The
# number of desktops changes without a popup that could end up in a screenshot.
xs_wm_desktops() { # N: asks for N desktops; true once openbox has them
    DISPLAY=$XS_DISPLAY xdotool set_num_desktops "$1" 2>/dev/null
    [[ $(xs_desktops) == *" = $1" ]]
}

xsession_start() {
    local workdir=$1 want_wm=${2:-} tool
    for tool in Xvfb xprop ${want_wm:+openbox xdotool}; do
        command -v "$tool" >/dev/null && continue
        echo "xsession: '$tool' not found (Debian: apt-get install xvfb x11-utils openbox xdotool)" >&2
        return 1
    done
    mkdir -p "$workdir"
    : >"$workdir/displayfd"
    # Xvfb takes the first free display (its lock file settles any race) and
    # writes the number to fd 3 once it accepts connections. -dpi 96 keeps
    # point sizes the same on every host.
    Xvfb -displayfd 3 -screen 0 "${XS_SCREEN:-1024x768x24}" -dpi 96 -nolisten tcp -noreset \
        3>"$workdir/displayfd" >"$workdir/xvfb.log" 2>&1 </dev/null &
    XS_XVFB_PID=$!
    if ! xs_poll 20 grep -qx '[0-9]\+' "$workdir/displayfd"; then
        echo "xsession: Xvfb did not report a display within 20 s; its log:" >&2
        cat "$workdir/xvfb.log" >&2
        xsession_stop
        return 1
    fi
    XS_DISPLAY=:$(<"$workdir/displayfd")

    if [[ -n $want_wm ]]; then
        # A private HOME keeps openbox from reading or writing the user's files.
        mkdir -p "$workdir/wm-home"
        HOME=$workdir/wm-home DISPLAY=$XS_DISPLAY \
            openbox --sm-disable ${XS_WM_DEBUG:+--debug} >"$workdir/openbox.log" 2>&1 </dev/null &
        XS_WM_PID=$!
        if ! xs_poll 20 xs_wm_desktop_count || ! xs_poll 20 xs_wm_desktops $((XS_DESKTOPS + 1)) ||
            ! xs_poll 20 xs_wm_desktops "$XS_DESKTOPS"; then
            echo "xsession: openbox did not take the screen within 20 s; its log:" >&2
            cat "$workdir/openbox.log" >&2
            xsession_stop
            return 1
        fi
    fi
    export XS_DISPLAY XS_XVFB_PID XS_WM_PID
}

xsession_stop() {
    xs_end_pid "$XS_WM_PID"
    xs_end_pid "$XS_XVFB_PID"
    XS_WM_PID='' XS_XVFB_PID='' XS_DISPLAY=''
}
