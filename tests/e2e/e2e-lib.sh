# shellcheck shell=bash
# Sourced by the end-to-end scripts after they set "tag", the prefix of their
# messages and of the files they keep in OUTDIR. e2e_init gives each run its
# own Xvfb + openbox, throw-away HOME and XDG_RUNTIME_DIR; every process is
# ended by its pid on every way out, and every wait is bounded.
# Functions run through trap and xs_poll look unreachable to shellcheck, and
# tag comes from the caller.
# shellcheck disable=SC2317,SC2154
set -u
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
helper=$e2e_dir/e2e-helper.py
# shellcheck source=../../scripts/xsession.sh
source "$e2e_dir/../../scripts/xsession.sh"

failures=() pid_vars=(app_pid faketime_pid) app_pid='' faketime_pid='' work='' log='' stats=''
# What the calendar's session adds to its environment; where the page must be.
session_env=(QT_QPA_PLATFORM=xcb) expect_place=646,0
as_user=() # a command that runs the calendar as another user (setpriv ...)
say() { echo "e2e: $tag: $*"; }
fail() { failures+=("$*"); echo "e2e: $tag: FAIL: $*" >&2; }
x() { DISPLAY=$XS_DISPLAY "$@"; }
end_at_exit() { pid_vars=("$@" "${pid_vars[@]}"); } # VAR...: names of pids to end

finish() {
    ((${#failures[@]} == 0)) && { say ok; exit 0; }
    {
        echo "e2e: $tag FAILED (${#failures[@]} problem(s)):"
        printf '  - %s\n' "${failures[@]}"
        [[ -s $log ]] && echo "--- last lines of $log ---" && tail -n 20 "$log"
    } >&2
    local f
    for f in xvfb openbox; do
        [[ -s $work/x/$f.log ]] && cp "$work/x/$f.log" "$outdir/$tag-$f.log"
    done
    exit 1
}

cleanup() {
    local var
    declare -F on_exit >/dev/null && on_exit
    for var in "${pid_vars[@]}"; do xs_end_pid "${!var}"; done
    if [[ -n ${e2e_compositor:-} ]]; then compositor_stop; else xsession_stop; fi
    rm -rf "$work"
}

e2e_init() { # OUTDIR [TOOL...]
    local tool dir=$1
    shift
    for tool in xdotool xwininfo xprop import convert python3 "$@"; do
        command -v "$tool" >/dev/null && continue
        echo "e2e: '$tool' not found (Debian: faketime xdotool x11-utils imagemagick python3)" >&2
        exit 1
    done
    mkdir -p "$dir" && outdir=$(cd "$dir" && pwd) || exit 1
    rm -f "$outdir/$tag"-*
    work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-e2e.XXXXXX")
    trap cleanup EXIT
    trap 'echo "e2e: $tag: interrupted" >&2; exit 1' HUP INT TERM
    home=$work/home runtime=$work/runtime data=$work/home/.local/share/himekuri
    mkdir -p "$home" && mkdir -m 0700 "$runtime"
    # e2e_compositor=kwin|mutter: a Wayland desktop with XWayland instead.
    if [[ -n ${e2e_compositor:-} ]]; then
        # shellcheck source=../../scripts/compositor.sh
        source "$e2e_dir/../../scripts/compositor.sh"
        compositor_start "$work/x" "$e2e_compositor" || { fail "could not start $e2e_compositor"; finish; }
    else
        xsession_start "$work/x" wm || { fail "could not start Xvfb/openbox"; finish; }
    fi
}

# The calendar on a clock moved to START; its first-run question answered "N"
# (CRLF, as its own files are written), so no dialog and no network access.
start_calendar() { # BINARY 'YYYY-MM-DD HH:MM:SS' [PATH-PREFIX]
    mkdir -p "$data"
    printf 'N\r\n' >"$data/or.txt"
    declare -F before_start >/dev/null && before_start
    log=$outdir/$tag-program.log
    # env -i: nothing from the caller's session (XDG_*, QT_*, LC_*, BROWSER) leaks in.
    "${as_user[@]}" env -i PATH="${3:+$3:}/usr/bin:/bin" HOME="$home" XDG_RUNTIME_DIR="$runtime" \
        TZ=Asia/Tokyo LANG=C.UTF-8 DISPLAY="$XS_DISPLAY" "${session_env[@]}" \
        FAKETIME_DONT_RESET=1 faketime -f "@$2" "$1" >"$log" 2>&1 </dev/null &
    faketime_pid=$!
    # faketime forks the program, which owns the windows.
    xs_poll 10 child_of_faketime
    [[ -n $app_pid ]] || { fail "faketime did not start the program, or it ended at once"; finish; }
    xs_poll 5 grep -qs libfaketime "/proc/$app_pid/maps" ||
        fail "libfaketime is not loaded in the program: its clock was not moved to $2"
}
child_of_faketime() {
    app_pid=$(cat "/proc/$faketime_pid/task/$faketime_pid/children" 2>/dev/null)
    app_pid=${app_pid%% *}
    [[ -n $app_pid ]] || xs_pid_gone "$faketime_pid"
}

# Prints a viewable window of PID whose PROPERTY (a string) is VALUE.
viewable() { # PID PROPERTY VALUE
    local w
    for w in $(x xdotool search --pid "$1" 2>/dev/null); do
        x xprop -id "$w" "$2" 2>/dev/null | grep -qx "$2([A-Z0-9_]*) = \"$3\"" &&
            x xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' &&
            echo "$w" && return 0
    done
    return 1
}
role() { viewable "$app_pid" WM_WINDOW_ROLE "$1"; }

# shellcheck disable=SC2034 # for the caller
geometry() { # WIN: sets gx gy gw gh, its place on the screen and size
    read -r gx gy gw gh < <(x xwininfo -id "$1" 2>/dev/null | awk -F': *' '
        /Absolute upper-left X/ { x = $2 } /Absolute upper-left Y/ { y = $2 }
        /^ *Width/ { w = $2 } /^ *Height/ { h = $2 } END { print x, y, w, h }')
}

shoot() { # NAME [WIN]: kept in OUTDIR (the whole screen by default); prints the file
    if [[ -n ${e2e_compositor:-} && -z ${2:-} ]]; then
        cs_screenshot "$outdir/$tag-$1.png" 2>/dev/null && echo "$outdir/$tag-$1.png"
        return
    fi
    x import -window "${2:-root}" "$outdir/$tag-$1.png" 2>/dev/null && echo "$outdir/$tag-$1.png"
}

describe_program() { # for a failure report
    local w
    echo "program pid $app_pid: $(grep -s '^State:' "/proc/$app_pid/status")"
    for w in $(x xdotool search --pid "$app_pid" 2>/dev/null); do
        echo "window $w: $(x xprop -id "$w" WM_WINDOW_ROLE) $(x xwininfo -id "$w" | grep 'Map State')"
    done
    x xprop -root _NET_CLIENT_LIST_STACKING
} >&2 2>/dev/null

# --- the calendar's page ------------------------------------------------------

# Boxes (left,top,width,height, pixels) in Form1's client area, which starts
# after the 3-pixel frame the window draws itself: from the design's table
# the unit tests hold the forms to.
declare -A box
while IFS='=' read -r name rect; do box[$name]=$rect; done < <(
    python3 "$helper" layout-boxes "$e2e_dir/../data/layout.txt" Form1)
red_boxes=(Label3 Label5 Label2 Label9)
# Drawn on every date: once all three show something, Form1 has been painted.
painted_boxes=(Label3 Label5 Label2)
frame=3 ox=0 oy=0

# Waits at most 20 s for Form1 (the splash may come first); sets form1, its
# geometry and the origin ox,oy of the boxes.
wait_form1() {
    form1=''
    xs_poll 20 form1_up
    if [[ -z $form1 ]]; then
        if xs_pid_gone "$app_pid"; then
            fail "the program exited before showing Form1"
        else
            fail "no viewable window with WM_WINDOW_ROLE Form1 within 20 s"
            describe_program
            shoot no-form1 >/dev/null
        fi
        finish
    fi
    geometry "$form1"
    ox=$((gx + frame)) oy=$((gy + frame))
    [[ -z $expect_place || $gx,$gy == "$expect_place" ]] || fail "Form1 is at $gx,$gy, expected $expect_place"
}
form1_up() {
    xs_pid_gone "$app_pid" && return 0
    form1=$(role Form1)
}

# A viewable window of PID that is none of the forms: a message box.
message_box() { # PID
    local w
    for w in $(x xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        x xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null | grep -q '"Form[0-9]"' && continue
        x xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: no' && echo "$w" && return 0
    done
    return 1
}
click_box() { # BOX [BUTTON]: its middle
    local l t w h
    IFS=, read -r l t w h <<<"${box[$1]}"
    x xdotool mousemove $((ox + l + w / 2)) $((oy + t + h / 2)) click "${2:-1}"
}

clock_ticked() { # true when the clock shows something else than at the last look
    local l t w h now
    IFS=, read -r l t w h <<<"${box[Label1]}"
    now=$(set -o pipefail; x import -window root -crop "${w}x$h+$((ox + l))+$((oy + t))" +repage \
        -depth 8 ppm:- 2>/dev/null | md5sum) && [[ $now != "${clock:-}" ]] && clock=$now
}

# Sets box_red[], box_colours[] and stats (the same as text) from a screenshot.
declare -A box_red box_colours
analyse() { # PNG
    local name r c rects=()
    box_red=() box_colours=()
    for name in "${!box[@]}"; do rects+=("$name=${box[$name]}"); done
    convert "$1" -alpha off -depth 8 "$work/shot.ppm" 2>/dev/null || return 1
    stats=$(python3 "$helper" boxes "$work/shot.ppm" "$ox" "$oy" "${rects[@]}") || return 1
    while read -r name r c; do
        box_red[$name]=${r#red=} box_colours[$name]=${c#colours=}
    done <<<"$stats"
}
painted() { # red|any
    local name
    for name in "${painted_boxes[@]}"; do ((${box_colours[$name]:-0} >= 2)) || return 1; done
    [[ $1 == any ]] || for name in "${red_boxes[@]}"; do ((${box_red[$name]:-0} > 0)) || return 1; done
}
looks_painted() { # NAME red|any; also true once Form1 is gone (sets gone)
    local png shown
    png=$(shoot "$1") && analyse "$png" && painted "$2"
    shown=$?
    role Form1 >/dev/null || { gone=1; return 0; }
    return $shown
}

# Screenshots (kept as NAME) until Form1 is painted and, with "red", the four
# date boxes hold pure red; at most 10 s, with Form1 up all along.
wait_painted() { # NAME red|any
    local n=${#failures[@]} name gone=''
    xs_poll 10 looks_painted "$1" "$2"
    if [[ -n $gone ]]; then
        xs_pid_gone "$app_pid" && name=ended || name=running
        fail "Form1 went away before it was seen painted (the program has $name)"
        return 1
    fi
    painted "$2" && return 0
    fail "Form1 not drawn${2/any/} after 10 s (boxes: $(paste -sd' ' <<<"$stats"))"
    ((${#failures[@]} == n))
}
