# shellcheck shell=bash
# A private Wayland desktop, KDE's KWin or GNOME's mutter with XWayland, so
# that the calendar (an X11 client) runs the way it runs on those desktops.
# Everything is started and stopped by process id, so that sessions of both
# kinds and plain Xvfb sessions share one machine. Sourced like xsession.sh:
#   compositor_start WORKDIR kwin|mutter [WxH]
#       starts a session (1024x768 by default) and waits until its X window
#       manager answers. Sets and exports:
#         XS_DISPLAY          the XWayland display (":N"), for the calendar and
#                             for xdotool, xprop, xwininfo and import -window ID;
#                             reachable from any process of the machine
#         CS_WAYLAND_DISPLAY  absolute path of the Wayland socket
#         CS_PID              the compositor: the session lives as long as it
#         CS_KIND             kwin or mutter
#         CS_HOST_DISPLAY     the private Xvfb that shows the compositor's output
#                             window at +0+0: xdotool there is real input, which
#                             goes through the compositor (XTEST on XS_DISPLAY
#                             goes straight to XWayland). KWin takes the right
#                             Control key there to grab the pointer.
#         CS_XAUTHORITY       mutter's cookie file ('' with KWin, which uses none)
#         CS_DBUS_ADDRESS     the session's D-Bus, which the compositor owns names on
#       and the array CS_ENV, NAME=VALUE words for env(1) that give a program
#       the session's DISPLAY, WAYLAND_DISPLAY, XAUTHORITY and D-Bus.
#       WORKDIR receives compositor.log (the compositor, XWayland, D-Bus) and
#       xvfb.log.
#   compositor_stop       ends all that compositor_start began. Should the
#                         shell that called compositor_start end without it,
#                         the session ends itself (and its Xvfb) within 2 s.
#   cs_run CMD...         runs CMD with CS_ENV
#   cs_screenshot FILE    the whole screen as the user sees it (PNG by its name)
#   cs_has_state ATOM     true when the window manager lists ATOM in _NET_SUPPORTED
#
# How it is put together, and why:
# - Nested, not headless: the compositor draws into a window of a private
#   Xvfb. Headless there is no whole-screen picture to be had: `import -window
#   root` fails on XWayland, KWin hands out screenshots over D-Bus only to
#   callers its desktop files allow, and mutter without gnome-shell has no
#   screenshot service at all. The Xvfb's root window is exactly the screen.
# - Both compositors pick an XWayland display number from :0 up, guarded by
#   /tmp/.XN-lock and by binding the abstract socket @/tmp/.X11-unix/XN, and
#   create /tmp/.X11-unix/XN. Each session runs in its own mount namespace
#   with a directory of WORKDIR bound over /tmp/.X11-unix, so that a session
#   never creates, replaces or leaves sockets in the shared directory; /tmp
#   itself stays shared so the lock files keep every display number unique.
#   Xvfb -displayfd writes no lock file but binds the same abstract socket, so
#   neither side can take a number the other holds.
# - Clients find the display through that abstract socket: libxcb tries it
#   first, so DISPLAY=:N works from every mount namespace of the machine.
#   (libxcb 1.15 and Xlib take no socket path in DISPLAY.)
# - mutter's XWayland wants its cookie (XAUTHORITY); the session's own user
#   is let in without one too (server-interpreted localuser, as xhost would),
#   so that a program started with a bare environment and DISPLAY connects as
#   it does under KWin. Other users stay out.
# - The compositor's first program, compositor/session-env.sh, writes down
#   the environment it was given: that is how the display names are learnt.
#   Both compositors end when it ends, which is how a session is stopped
#   cleanly (sockets and lock files removed by their owner).
# - /usr/bin/kwin_wayland carries the file capability cap_sys_resource; where
#   the bounding set lacks it, exec fails with EPERM. A plain copy, which has
#   no file capabilities, runs: it is kept in ~/.cache/himekuri and renewed
#   whenever the installed binary changes.
# CS_TIMEOUT (seconds, 30 by default) bounds the start-up.

cs_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=./xsession.sh source-path=SCRIPTDIR
declare -F xs_poll >/dev/null || source "$cs_lib_dir/xsession.sh"

CS_KIND='' CS_PID='' CS_HOST_DISPLAY='' CS_WAYLAND_DISPLAY='' CS_XAUTHORITY='' CS_DBUS_ADDRESS=''
CS_ENV=() cs_session_pid='' cs_helper_pid='' cs_xvfb_pid='' cs_workdir='' cs_mnt_ns='' cs_keep_display=''

cs_say() { echo "compositor: $*" >&2; }

cs_kwin_binary() { # prints the kwin_wayland that can be run here
    local bin=/usr/bin/kwin_wayland bound dir copy
    bound=$(sed -n 's/^CapBnd:[[:space:]]*//p' /proc/self/status)
    # CAP_SYS_RESOURCE is bit 24.
    if [[ ! $bound =~ ^[0-9a-fA-F]+$ ]] || (((16#$bound >> 24) & 1)); then
        echo "$bin"
        return
    fi
    dir=${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/himekuri
    copy=$dir/kwin_wayland
    if ! cmp -s "$bin" "$copy"; then
        # Renamed into place, so a session starting alongside never runs half a file.
        if ! { mkdir -p "$dir" && cp "$bin" "$copy.$$" && mv -f "$copy.$$" "$copy"; }; then
            rm -f "$copy.$$"
            cs_say "could not copy $bin to $copy"
            return 1
        fi
    fi
    echo "$copy"
}

cs_env_value() { # NAME: its value in the environment the session's first program got
    sed -n "s/^$1=//p" "$cs_workdir/session.env" | head -n 1
}

cs_start_time() { # PID: when it started (field 22 of stat), so a reused pid is told apart
    local stat fields
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    # Fields from the third on follow the name, which may hold spaces.
    read -ra fields <<<"${stat##*) }"
    echo "${fields[19]}"
}

cs_members() { # "PID STARTTIME" of every process in the session's mount namespace
    local dir pid start
    # Never the namespace this shell is in: that is everybody's.
    [[ -n $cs_mnt_ns && $cs_mnt_ns != "$(readlink "/proc/$$/ns/mnt")" ]] || return 0
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        [[ $(readlink "$dir/ns/mnt" 2>/dev/null) == "$cs_mnt_ns" ]] || continue
        start=$(cs_start_time "$pid") && [[ -n $start ]] && echo "$pid $start"
    done
}

cs_wm_ready() { # true once the X window manager has announced itself
    cs_run xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id #'
}

cs_allow_local_user() { # USER: lets USER into mutter's XWayland without the cookie
    if command -v xhost >/dev/null; then
        cs_run xhost "+si:localuser:$1" >/dev/null
        return
    fi
    # xhost (x11-xserver-utils) is not always there; Xlib is.
    cs_run python3 - "$1" <<'EOF'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XAddHost.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class Interpreted(ctypes.Structure):
    _fields_ = [("typelength", ctypes.c_int), ("valuelength", ctypes.c_int),
                ("type", ctypes.c_char_p), ("value", ctypes.c_char_p)]
class Host(ctypes.Structure):
    _fields_ = [("family", ctypes.c_int), ("length", ctypes.c_int),
                ("address", ctypes.c_void_p)]
display = x.XOpenDisplay(None)
if not display:
    sys.exit(1)
user = sys.argv[1].encode()
who = Interpreted(9, len(user), b"localuser", user)
host = Host(5, ctypes.sizeof(who), ctypes.addressof(who))  # 5: FamilyServerInterpreted
x.XAddHost(display, ctypes.byref(host))
x.XSync(display, 0)
x.XCloseDisplay(display)
EOF
}

cs_fail() { # MESSAGE: says why, shows the log's end, ends what was started
    cs_say "$1; the end of $cs_workdir/compositor.log:"
    tail -n 25 "$cs_workdir/compositor.log" >&2 2>/dev/null
    compositor_stop
    return 1
}

compositor_start() {
    local workdir=${1:-} kind=${2:-} size=${3:-1024x768} program tool deadline user width height ns
    local -a command environment
    case $kind in
    kwin) program=kwin_wayland ;;
    mutter) program=mutter ;;
    *)
        cs_say "usage: compositor_start WORKDIR kwin|mutter [WxH]"
        return 2
        ;;
    esac
    [[ -n $workdir ]] || { cs_say "usage: compositor_start WORKDIR kwin|mutter [WxH]"; return 2; }
    [[ $size =~ ^([1-9][0-9]*)x([1-9][0-9]*)$ ]] || { cs_say "size '$size' is not WxH"; return 2; }
    width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]}
    [[ -z $CS_PID$cs_session_pid ]] || { cs_say "a session runs already (pid $CS_PID)"; return 1; }
    for tool in "$program" Xwayland; do
        command -v "$tool" >/dev/null && continue
        cs_say "'$tool' not found (Debian: apt-get install --no-install-recommends kwin-wayland mutter xwayland)"
        return 1
    done
    for tool in dbus-run-session unshare mount Xvfb xprop import python3; do
        command -v "$tool" >/dev/null && continue
        cs_say "'$tool' not found (Debian: apt-get install dbus util-linux mount xvfb x11-utils imagemagick python3)"
        return 1
    done
    if [[ $kind == kwin ]]; then
        # KWin splits its session command like a shell.
        [[ $cs_lib_dir != *"'"* ]] || { cs_say "the path $cs_lib_dir has a quote in it"; return 1; }
        program=$(cs_kwin_binary) || return 1
    fi

    mkdir -p "$workdir" && workdir=$(cd "$workdir" && pwd) || return 1
    cs_workdir=$workdir CS_KIND=$kind
    # A fresh HOME: the compositors read and write their settings there.
    rm -rf "${workdir:?}"/{runtime,x11,home,session.env,compositor.pid}
    mkdir -p "$workdir/home" "$workdir/x11" && mkdir -m 0700 "$workdir/runtime" &&
        chmod 1777 "$workdir/x11" || return 1

    # An Xvfb (and openbox) that xsession_start runs already stays the
    # caller's, untouched: XS_DISPLAY points back at it after compositor_stop.
    local keep_display=${XS_DISPLAY:-} keep_xvfb=${XS_XVFB_PID:-} keep_wm=${XS_WM_PID:-}
    XS_XVFB_PID='' XS_WM_PID=''
    XS_SCREEN=${size}x24 xsession_start "$workdir"
    CS_HOST_DISPLAY=$XS_DISPLAY cs_xvfb_pid=$XS_XVFB_PID cs_keep_display=$keep_display
    XS_DISPLAY=$keep_display XS_XVFB_PID=$keep_xvfb XS_WM_PID=$keep_wm
    [[ -n $cs_xvfb_pid ]] || { compositor_stop; return 1; }

    environment=(PATH=/usr/local/bin:/usr/bin:/bin HOME="$workdir/home" LANG=C.UTF-8
        XDG_RUNTIME_DIR="$workdir/runtime" DISPLAY="$CS_HOST_DISPLAY" CS_ENV_FILE="$workdir/session.env"
        CS_XVFB_PID="$cs_xvfb_pid" CS_OWNER_PID="$$")
    if [[ $kind == kwin ]]; then
        # No lock screen: the session locks itself after some idle minutes otherwise.
        command=("$program" --x11-display "$CS_HOST_DISPLAY" --width "$width"
            --height "$height" --xwayland --socket wayland-cs --no-lockscreen
            --exit-with-session "/bin/sh '$cs_lib_dir/compositor/session-env.sh'")
    else
        environment+=(MUTTER_DEBUG_DUMMY_MODE_SPECS="$size")
        command=(mutter --nested --wayland --wayland-display=wayland-cs
            -- /bin/sh "$cs_lib_dir/compositor/session-env.sh")
    fi
    local -a private=(unshare --mount --propagation private)
    # Without root, a user namespace grants the mount.
    ((EUID == 0)) || private+=(--map-root-user)
    # unshare, sh, env and dbus-run-session each exec the next: the pid of
    # the background job is dbus-run-session's, which ends the session's bus
    # when the compositor, its child, has ended.
    # shellcheck disable=SC2016 # expanded by the inner shells
    "${private[@]}" -- /bin/sh -c 'mount --bind "$1" /tmp/.X11-unix || exit 1; shift; exec "$@"' \
        cs-mount "$workdir/x11" env -i "${environment[@]}" dbus-run-session -- \
        /bin/sh -c 'echo "$$" >"$1" && export CS_COMPOSITOR_PID=$$ && shift && exec "$@"' \
        cs-pid "$workdir/compositor.pid" "${command[@]}" >"$workdir/compositor.log" 2>&1 </dev/null &
    cs_session_pid=$!

    deadline=$((SECONDS + ${CS_TIMEOUT:-30}))
    until [[ -s $workdir/session.env ]]; do
        # Learnt as soon as they exist, so that a failed start still ends all.
        [[ -z $CS_PID && -s $workdir/compositor.pid ]] && CS_PID=$(<"$workdir/compositor.pid")
        if [[ -z $cs_mnt_ns ]]; then
            ns=$(readlink "/proc/$cs_session_pid/ns/mnt" 2>/dev/null)
            [[ -n $ns && $ns != "$(readlink "/proc/$$/ns/mnt")" ]] && cs_mnt_ns=$ns
        fi
        xs_pid_gone "$cs_session_pid" && { cs_fail "$kind ended during start-up"; return 1; }
        ((SECONDS < deadline)) || { cs_fail "$kind did not start its session within ${CS_TIMEOUT:-30} s"; return 1; }
        sleep 0.05
    done
    CS_PID=$(<"$workdir/compositor.pid")
    if [[ -z $cs_mnt_ns ]]; then
        ns=$(readlink "/proc/$cs_session_pid/ns/mnt" 2>/dev/null)
        [[ -n $ns && $ns != "$(readlink "/proc/$$/ns/mnt")" ]] && cs_mnt_ns=$ns
    fi
    cs_helper_pid=$(cs_env_value CS_HELPER_PID)
    XS_DISPLAY=$(cs_env_value DISPLAY)
    CS_XAUTHORITY=$(cs_env_value XAUTHORITY)
    CS_DBUS_ADDRESS=$(cs_env_value DBUS_SESSION_BUS_ADDRESS)
    CS_WAYLAND_DISPLAY=$(cs_env_value WAYLAND_DISPLAY)
    # An absolute path works whatever XDG_RUNTIME_DIR a client has.
    [[ -z $CS_WAYLAND_DISPLAY || $CS_WAYLAND_DISPLAY == /* ]] ||
        CS_WAYLAND_DISPLAY=$workdir/runtime/$CS_WAYLAND_DISPLAY
    [[ $XS_DISPLAY =~ ^:[0-9]+$ && -n $CS_WAYLAND_DISPLAY ]] ||
        { cs_fail "$kind gave its session DISPLAY='$XS_DISPLAY' WAYLAND_DISPLAY='$CS_WAYLAND_DISPLAY'"; return 1; }
    CS_ENV=(DISPLAY="$XS_DISPLAY" WAYLAND_DISPLAY="$CS_WAYLAND_DISPLAY")
    [[ -n $CS_XAUTHORITY ]] && CS_ENV+=(XAUTHORITY="$CS_XAUTHORITY")
    [[ -n $CS_DBUS_ADDRESS ]] && CS_ENV+=(DBUS_SESSION_BUS_ADDRESS="$CS_DBUS_ADDRESS")

    if ! xs_poll $((deadline - SECONDS)) cs_wm_ready; then
        cs_fail "the window manager of $kind did not answer on $XS_DISPLAY within ${CS_TIMEOUT:-30} s"
        return 1
    fi
    if [[ -n $CS_XAUTHORITY ]]; then
        # XWayland judges by its own user namespace, where a user without
        # root is root (see --map-root-user), and every other user is not.
        user=root
        ((EUID == 0)) && user=$(id -un)
        if ! cs_allow_local_user "$user" || ! env -u XAUTHORITY DISPLAY="$XS_DISPLAY" xprop -root -len 0 _NET_SUPPORTED >/dev/null 2>&1; then
            cs_fail "could not let $user into $XS_DISPLAY without its cookie"
            return 1
        fi
    fi
    export XS_DISPLAY CS_PID CS_KIND CS_HOST_DISPLAY CS_WAYLAND_DISPLAY CS_XAUTHORITY CS_DBUS_ADDRESS
}

compositor_stop() {
    local pid start lock members=()
    if [[ -n $cs_session_pid ]]; then
        # Everyone in the session's namespace, looked up while it still exists.
        mapfile -t members < <(cs_members)
        # Both compositors end with their first program and then remove their
        # own sockets and lock files; dbus-run-session then ends the bus.
        [[ -n $cs_helper_pid ]] && kill -TERM "$cs_helper_pid" 2>/dev/null
        if [[ -n $CS_PID ]] && ! xs_poll 5 xs_pid_gone "$CS_PID"; then
            cs_say "$CS_KIND did not end with its session; ending it"
            xs_end_pid "$CS_PID"
        fi
        xs_poll 5 xs_pid_gone "$cs_session_pid" || xs_end_pid "$cs_session_pid"
        wait "$cs_session_pid" 2>/dev/null
        for pid in "${members[@]}"; do
            start=${pid#* } pid=${pid%% *}
            [[ $(cs_start_time "$pid") == "$start" ]] && xs_end_pid "$pid"
        done
        # Left only by a compositor that was killed: its lock files hold its pid.
        if [[ -n $CS_PID ]]; then
            for lock in /tmp/.X*-lock; do
                [[ -f $lock && $(tr -d ' \n' <"$lock" 2>/dev/null) == "$CS_PID" ]] && rm -f "$lock"
            done
        fi
    fi
    xs_end_pid "$cs_xvfb_pid"
    [[ -n $CS_KIND ]] && XS_DISPLAY=$cs_keep_display
    CS_KIND='' CS_PID='' CS_HOST_DISPLAY='' CS_WAYLAND_DISPLAY='' CS_XAUTHORITY='' CS_DBUS_ADDRESS=''
    CS_ENV=() cs_session_pid='' cs_helper_pid='' cs_xvfb_pid='' cs_mnt_ns='' cs_keep_display=''
    return 0
}

cs_run() { # CMD...: runs CMD with the session's DISPLAY, WAYLAND_DISPLAY, XAUTHORITY and D-Bus
    ((${#CS_ENV[@]})) || { cs_say "cs_run: no session"; return 1; }
    env "${CS_ENV[@]}" "$@"
}

cs_screenshot() { # FILE: the compositor's whole output, as drawn into its window
    [[ -n $CS_HOST_DISPLAY ]] || { cs_say "cs_screenshot: no session"; return 1; }
    DISPLAY=$CS_HOST_DISPLAY import -window root "$1"
}

cs_has_state() { # ATOM: whether the window manager lists it in _NET_SUPPORTED
    local supported
    supported=$(cs_run xprop -root _NET_SUPPORTED 2>/dev/null) || return 1
    [[ $supported == *" = "* ]] || return 1
    supported=${supported#* = }
    [[ ", $supported," == *", $1,"* ]]
}
