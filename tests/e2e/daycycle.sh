#!/bin/bash
# End-to-end checks of what the calendar does while it runs, under Xvfb +
# openbox with the clock moved by faketime.
#
# usage: daycycle.sh BINARY OUTDIR midnight|stacking|menu|banner
#
#   midnight  starts at 2002-12-31 23:59:50: the page (大晦日, red) is seen
#             before midnight, the splash alone right after it, then a fresh
#             page whose month, day and year differ and are still red (元日).
#   stacking  the calendar carries BELOW, SKIP_TASKBAR and SKIP_PAGER and sits
#             below an ordinary window; raised above a window of its own layer
#             it goes back below it by itself at the next clock tick or so.
#   menu      a right click on the page pops up the menu; それ以外 puts the
#             calendar into the always-on-top band, where it stays over an
#             activated window for several clock ticks.
#   banner    the two banners hand their addresses to xdg-open (a stand-in
#             that takes its time) while the clock keeps going; 閉じる ends
#             the program with status 0.
#
# Screenshots (daycycle-MODE-*.png) and the program's output are kept in
# OUTDIR. Every wait is bounded; every process is ended by its id.
# Functions run through trap and xs_poll look unreachable to shellcheck.
# shellcheck disable=SC2317
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../scripts/xsession.sh
source "$here/../../scripts/xsession.sh"

if (($# != 3)) || [[ ! $3 =~ ^(midnight|stacking|menu|banner)$ ]]; then
    echo "usage: $0 BINARY OUTDIR midnight|stacking|menu|banner" >&2
    exit 2
fi
binary=$1 outdir=$2 mode=$3

# Client area boxes (left,top,width,height).
# shellcheck disable=SC2054 # the commas are part of each value
declare -A box=(
    [Label3_month]=8,96,89,105
    [Label5_day]=136,80,201,185
    [Label2_weekday]=8,296,129,57
    [Label9_holiday]=16,216,129,73
    [Label8_year]=256,48,113,41
    [Label1_clock]=136,312,233,41
    [Label7_board]=8,352,89,25
    [Image2_home]=8,408,124,26
    [Image3_feedback]=136,408,124,26
    [Command1_close]=232,352,129,17
)
red_boxes=(Label3_month Label5_day Label2_weekday Label9_holiday)
# Drawn on every date: once all three show something, Form1 has been painted.
# (The clock stays empty until the first tick.)
painted_boxes=(Label3_month Label5_day Label2_weekday)
frame=3
want_x=646 want_y=0
# The page's client area on the screen (the window draws its own frame).
ox=$((want_x + frame)) oy=$((want_y + frame))

if [[ $mode == midnight ]]; then
    # A few seconds before midnight: the 2 s splash and a slow start still
    # leave the first page time to be seen before the day changes.
    start='2002-12-31 23:59:50'
else
    start='2002-11-02 10:00:00'
fi

tag=daycycle-$mode
failures=()
fail() { failures+=("$*"); echo "e2e: $tag: FAIL: $*" >&2; }
say() { echo "e2e: $tag: $*"; }

for tool in faketime xdotool xwininfo xprop xmessage import convert python3; do
    command -v "$tool" >/dev/null || {
        echo "e2e: '$tool' not found (Debian: faketime xdotool x11-utils imagemagick python3)" >&2
        exit 1
    }
done
[[ -x $binary ]] || { echo "e2e: binary '$binary' is not executable" >&2; exit 1; }

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
log=$outdir/$tag-program.log
rm -f "$outdir/$tag"-*

work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-daycycle.XXXXXX")
faketime_pid='' app_pid='' other_pid='' watcher_pid=''

finish() {
    if ((${#failures[@]} == 0)); then
        say "ok"
        exit 0
    fi
    echo "e2e: $tag FAILED (${#failures[@]} problem(s)):" >&2
    printf '  - %s\n' "${failures[@]}" >&2
    if [[ -s $log ]]; then
        echo "--- last lines of the program's output ($log) ---" >&2
        tail -n 20 "$log" >&2
    fi
    local f
    for f in xvfb openbox; do
        [[ -s $work/x/$f.log ]] && cp "$work/x/$f.log" "$outdir/$tag-$f.log" &&
            echo "e2e: $f log kept: $outdir/$tag-$f.log" >&2
    done
    exit 1
}

# The stand-in browsers were started detached by the program: not our children.
end_openers() {
    local pid
    [[ -s $work/opener-pids ]] || return 0
    while read -r pid; do
        [[ $pid =~ ^[0-9]+$ ]] || continue
        [[ $(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") == "sleep "* ]] &&
            kill -KILL "$pid" 2>/dev/null
    done <"$work/opener-pids"
}

cleanup() {
    [[ -n $watcher_pid ]] && xs_end_pid "$watcher_pid"
    [[ -n $other_pid ]] && xs_end_pid "$other_pid"
    [[ -n $app_pid ]] && xs_end_pid "$app_pid"
    [[ -n $faketime_pid ]] && xs_end_pid "$faketime_pid"
    end_openers
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "e2e: $tag: interrupted" >&2; exit 1' HUP INT TERM

# Isolated HOME; or.txt "N" answers the first-run question (no dialog, no
# network), written with the CRLF the program's files use.
home=$work/home
mkdir -p "$home/Program Files/Tesrava"
printf 'N\r\n' >"$home/Program Files/Tesrava/or.txt"
runtime=$work/runtime
mkdir -m 0700 "$runtime"

# A slow browser: it notes what it was asked to open, then keeps running.
# faketime waits for everything that holds its pipe, which the program's
# children inherit: the stand-in lets go of all it inherited, so faketime
# reports the program's own end at once.
mkdir -p "$work/bin"
opened=$work/opened
cat >"$work/bin/xdg-open" <<EOF
#!/bin/bash
printf '%s\n' "\$*" >>'$opened'
echo \$\$ >>'$work/opener-pids'
closers=
for fd in /proc/\$\$/fd/*; do
    fd=\${fd##*/}
    ((fd > 2)) && closers+=" \$fd>&-"
done
eval "exec sleep 8 \$closers"
EOF
chmod +x "$work/bin/xdg-open"

xsession_start "$work/x" wm || { fail "could not start Xvfb/openbox"; finish; }
x() { DISPLAY=$XS_DISPLAY "$@"; }

# env -i: nothing from the caller's session (XDG_*, QT_*, LC_*, BROWSER) leaks in.
env -i PATH="$work/bin:/usr/bin:/bin" HOME="$home" XDG_RUNTIME_DIR="$runtime" \
    TZ=Asia/Tokyo LANG=C.UTF-8 DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb \
    FAKETIME_DONT_RESET=1 \
    faketime -f "@$start" "$binary" >"$log" 2>&1 </dev/null &
faketime_pid=$!

# faketime forks the program; its child is the process that owns the windows.
child_of_faketime() {
    local kids
    kids=$(cat "/proc/$faketime_pid/task/$faketime_pid/children" 2>/dev/null)
    app_pid=${kids%% *}
    [[ -n $app_pid ]] || xs_pid_gone "$faketime_pid"
}
xs_poll 10 child_of_faketime
if [[ -z $app_pid ]]; then
    fail "faketime did not start the program, or it ended at once"
    finish
fi

# --- windows -----------------------------------------------------------------

# Prints the id of a viewable window of the program whose WM_WINDOW_ROLE is $1.
viewable_with_role() {
    local role=$1 w
    for w in $(x xdotool search --pid "$app_pid" 2>/dev/null); do
        [[ $w =~ ^[0-9]+$ ]] || continue # never let xwininfo ask for a click
        x xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null |
            grep -qx "WM_WINDOW_ROLE(STRING) = \"$role\"" || continue
        x xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        echo "$w"
        return 0
    done
    return 1
}

# What the program is doing and which windows it has, for a failure report.
describe_program() {
    local w role state
    echo "e2e: program pid $app_pid: $(grep -E '^(State|Threads):' "/proc/$app_pid/status" 2>/dev/null | tr -s '\t\n' '  ')"
    for w in $(x xdotool search --pid "$app_pid" 2>/dev/null); do
        [[ $w =~ ^[0-9]+$ ]] || continue
        role=$(x xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null)
        state=$(x xwininfo -id "$w" 2>/dev/null | sed -n 's/^ *Map State: //p')
        echo "e2e: window $w: ${role#WM_WINDOW_ROLE(STRING) = } $state"
    done
    echo "e2e: $(x xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null)"
}

shoot() { # NAME: the whole screen, kept in OUTDIR; prints the file
    local png=$outdir/$tag-$1.png
    x import -window root "$png" 2>/dev/null && echo "$png"
}

# Sets red[] and colours[] for every box from a screenshot.
declare -A red colours
analyse() { # PNG
    local ppm=$work/analyse.ppm name r c rects=()
    red=() colours=()
    convert "$1" -alpha off -depth 8 "$ppm" 2>/dev/null || return 1
    for name in "${!box[@]}"; do rects+=("$name=${box[$name]}"); done
    while read -r name r c; do
        red[$name]=${r#red=}
        colours[$name]=${c#colours=}
    done < <(python3 "$here/boxes.py" "$ppm" "$ox" "$oy" "${rects[@]}")
    ((${#colours[@]} > 0))
}
painted() {
    local name
    for name in "${painted_boxes[@]}"; do
        ((${colours[$name]:-0} >= 2)) || return 1
    done
}
all_red() {
    local name
    for name in "${red_boxes[@]}"; do
        ((${red[$name]:-0} > 0)) || return 1
    done
}
crop() { # PNG BOX OUT: the box's pixels, to compare with another moment
    local l t w h
    IFS=, read -r l t w h <<<"${box[$2]}"
    convert "$1" -alpha off -crop "${w}x$h+$((ox + l))+$((oy + t))" +repage -depth 8 "ppm:$3"
}
clock_now() { # OUT: the clock box as it is on the screen now
    local l t w h
    IFS=, read -r l t w h <<<"${box[Label1_clock]}"
    x import -window root -crop "${w}x$h+$((ox + l))+$((oy + t))" +repage -depth 8 "ppm:$1" 2>/dev/null
}
click_box() { # BOX [BUTTON]: its middle
    local l t w h
    IFS=, read -r l t w h <<<"${box[$1]}"
    x xdotool mousemove $((ox + l + w / 2)) $((oy + t + h / 2)) click "${2:-1}"
}

# Waits at most 20 s for a viewable Form1 (after the splash); sets form1.
form1=
wait_form1() {
    local deadline=$((SECONDS + 20))
    while :; do
        if xs_pid_gone "$app_pid"; then
            fail "the program exited before showing Form1"
            return 1
        fi
        viewable_with_role Form3 >/dev/null &&
            fail "the first-run question (Form3) appeared although or.txt holds N"
        form1=$(viewable_with_role Form1) && break
        if ((SECONDS >= deadline)); then
            fail "no viewable window with WM_WINDOW_ROLE Form1 within 20 s"
            describe_program >&2
            shoot no-form1 >/dev/null
            return 1
        fi
        sleep 0.1
    done
    local info wx wy
    info=$(x xwininfo -id "$form1")
    wx=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    wy=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    [[ $wx == "$want_x" && $wy == "$want_y" ]] ||
        fail "Form1 is at $wx,$wy, expected $want_x,$want_y (box positions below assume it)"
}

# Screenshots (as NAME) until Form1 is painted and, with "red", the four boxes
# hold pure red; at most 10 s. Form1 must stay viewable meanwhile.
wait_painted() { # NAME red|any
    local deadline=$((SECONDS + 10)) png
    while :; do
        png=$(shoot "$1") && analyse "$png" && painted && { [[ $2 == any ]] || all_red; } &&
            viewable_with_role Form1 >/dev/null && return 0
        if ! viewable_with_role Form1 >/dev/null; then
            fail "Form1 went away before it was seen painted (screenshot $outdir/$tag-$1.png)"
            return 1
        fi
        if ((SECONDS >= deadline)); then
            local name
            for name in "${painted_boxes[@]}"; do
                ((${colours[$name]:-0} >= 2)) || fail "$name box (${box[$name]}) is blank after 10 s"
            done
            if [[ $2 == red ]]; then
                for name in "${red_boxes[@]}"; do
                    ((${red[$name]:-0} > 0)) ||
                        fail "$name box (${box[$name]}) has no pure red (255,0,0) pixel"
                done
            fi
            say "screenshot: $outdir/$tag-$1.png"
            return 1
        fi
        sleep 0.2
    done
}

# --- window manager state ------------------------------------------------------

hex() { printf '0x%x' "$1"; }
net_state() { x xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
has_state() { # WIN NAME: _NET_WM_STATE holds _NET_WM_STATE_NAME
    local state
    state=$(net_state "$1")
    [[ ", ${state#*= }," == *", _NET_WM_STATE_$2,"* ]]
}
lacks_state() { ! has_state "$@"; }

# Prints above/below/missing: where WIN is against OTHER in the window
# manager's stacking order (bottom to top).
stack_place() { # WIN OTHER
    local list a=-1 b=-1 i=0 id
    list=$(x xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null)
    list=${list#*# }
    for id in ${list//,/ }; do
        [[ $id == "$(hex "$1")" ]] && a=$i
        [[ $id == "$(hex "$2")" ]] && b=$i
        ((++i))
    done
    if ((a < 0 || b < 0)); then
        echo missing
    elif ((a < b)); then
        echo below
    else
        echo above
    fi
}
is_below() { [[ $(stack_place "$1" "$2") == below ]]; }
is_above() { [[ $(stack_place "$1" "$2") == above ]]; }

# Asks the window manager to add or remove a _NET_WM_STATE atom, the way a
# pager does (EWMH client message to the root window).
wm_state() { # WIN add|remove NAME
    x python3 - "$@" <<'EOF'
import ctypes, sys
xlib = ctypes.CDLL("libX11.so.6")
xlib.XOpenDisplay.restype = ctypes.c_void_p
xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
xlib.XInternAtom.restype = ctypes.c_ulong
xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
xlib.XDefaultRootWindow.restype = ctypes.c_ulong
xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                            ctypes.c_long, ctypes.POINTER(XEvent)]
display = xlib.XOpenDisplay(None)
if not display:
    sys.exit("wm_state: cannot open the display")
event = XEvent()
event.xclient.type = 33  # ClientMessage
event.xclient.window = int(sys.argv[1])
event.xclient.message_type = xlib.XInternAtom(display, b"_NET_WM_STATE", 0)
event.xclient.format = 32
event.xclient.data[0] = {"remove": 0, "add": 1}[sys.argv[2]]
event.xclient.data[1] = xlib.XInternAtom(display, sys.argv[3].encode(), 0)
event.xclient.data[3] = 2  # from a pager: the window manager obeys at once
SUBSTRUCTURE_NOTIFY, SUBSTRUCTURE_REDIRECT = 1 << 19, 1 << 20
xlib.XSendEvent(display, xlib.XDefaultRootWindow(display), 0,
                SUBSTRUCTURE_NOTIFY | SUBSTRUCTURE_REDIRECT, ctypes.byref(event))
xlib.XSync(display, 0)
xlib.XCloseDisplay(display)
EOF
}

# An ordinary window of another program over the calendar's left part, where
# a screenshot shows which of the two is in front.
other=
find_other() {
    local w
    for w in $(x xdotool search --classname xmessage 2>/dev/null); do
        x xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        [[ $(stack_place "$w" "$w") != missing ]] || continue
        other=$w
        return 0
    done
    return 1
}
open_other() {
    DISPLAY=$XS_DISPLAY xmessage -geometry 300x200+450+100 hello >/dev/null 2>&1 </dev/null &
    other_pid=$!
    if ! xs_poll 10 find_other; then
        fail "the xmessage window was not mapped and managed within 10 s"
        return 1
    fi
    say "other window (xmessage) $other"
}

# --- midnight ------------------------------------------------------------------

# Logs, every 20 ms, which of the program's forms are viewable whenever that
# changes: "MS Form1=ID Form2=ID" (MS since the watch began). One process
# asking the server directly does not miss the 2 s splash on a loaded machine
# the way a round of xdotool/xprop/xwininfo calls per look can.
# usage: python3 watch_forms.py PID SECONDS
cat >"$work/watch_forms.py" <<'EOF'
import ctypes as c, sys, time
xlib = c.CDLL("libX11.so.6")
xlib.XOpenDisplay.restype = c.c_void_p
xlib.XOpenDisplay.argtypes = [c.c_char_p]
xlib.XDefaultRootWindow.restype = c.c_ulong
xlib.XDefaultRootWindow.argtypes = [c.c_void_p]
xlib.XInternAtom.restype = c.c_ulong
xlib.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
xlib.XFree.argtypes = [c.c_void_p]
xlib.XGetWindowProperty.argtypes = [
    c.c_void_p, c.c_ulong, c.c_ulong, c.c_long, c.c_long, c.c_int, c.c_ulong,
    c.POINTER(c.c_ulong), c.POINTER(c.c_int), c.POINTER(c.c_ulong),
    c.POINTER(c.c_ulong), c.POINTER(c.POINTER(c.c_ubyte))]


class Attributes(c.Structure):
    _fields_ = [("x", c.c_int), ("y", c.c_int), ("width", c.c_int),
                ("height", c.c_int), ("border_width", c.c_int), ("depth", c.c_int),
                ("visual", c.c_void_p), ("root", c.c_ulong), ("class_", c.c_int),
                ("bit_gravity", c.c_int), ("win_gravity", c.c_int),
                ("backing_store", c.c_int), ("backing_planes", c.c_ulong),
                ("backing_pixel", c.c_ulong), ("save_under", c.c_int),
                ("colormap", c.c_ulong), ("map_installed", c.c_int),
                ("map_state", c.c_int), ("all_event_masks", c.c_long),
                ("your_event_mask", c.c_long), ("do_not_propagate_mask", c.c_long),
                ("override_redirect", c.c_int), ("screen", c.c_void_p)]


xlib.XGetWindowAttributes.argtypes = [c.c_void_p, c.c_ulong, c.POINTER(Attributes)]
# Windows vanish between two requests: their errors are expected.
on_error = c.CFUNCTYPE(c.c_int, c.c_void_p, c.c_void_p)(lambda display, event: 0)
xlib.XSetErrorHandler(on_error)

display = xlib.XOpenDisplay(None)
if not display:
    sys.exit("watch_forms: cannot open the display")
root = xlib.XDefaultRootWindow(display)
CLIENTS, PID, ROLE = (xlib.XInternAtom(display, name, 0)
                      for name in (b"_NET_CLIENT_LIST", b"_NET_WM_PID", b"WM_WINDOW_ROLE"))
IS_VIEWABLE = 2


def prop(window, name, longs):
    kind, fmt, count, left = c.c_ulong(), c.c_int(), c.c_ulong(), c.c_ulong()
    data = c.POINTER(c.c_ubyte)()
    if xlib.XGetWindowProperty(display, window, name, 0, 1024, 0, 0, c.byref(kind),
                               c.byref(fmt), c.byref(count), c.byref(left),
                               c.byref(data)) != 0 or not data:
        return None
    try:
        if longs:  # format 32 comes as C longs
            return list(c.cast(data, c.POINTER(c.c_ulong))[:count.value])
        return c.string_at(data, count.value).decode(errors="replace")
    finally:
        xlib.XFree(data)


pid, limit = int(sys.argv[1]), float(sys.argv[2])
roles = {}  # the program's windows met so far, by id
start, last = time.monotonic(), None
while time.monotonic() - start < limit:
    # Managed windows carry their role and pid before the window manager
    # lists them; hidden ones leave the list but stay known here.
    for window in prop(root, CLIENTS, True) or []:
        if window not in roles and (prop(window, PID, True) or [None])[0] == pid:
            role = prop(window, ROLE, False)
            if role:
                roles[window] = role
    shown = []
    for window, role in roles.items():
        attributes = Attributes()
        if xlib.XGetWindowAttributes(display, window, c.byref(attributes)) and \
                attributes.map_state == IS_VIEWABLE:
            shown.append(f"{role}={window}")
    state = " ".join(sorted(shown))
    if state != last:
        print(f"{int((time.monotonic() - start) * 1000)} {state}".rstrip(), flush=True)
        last = state
    time.sleep(0.02)
EOF

# Prints the number of the first line of the forms log after line AFTER whose
# viewable forms are exactly FORMS (an extended regular expression).
forms_line_after() { # FORMS AFTER
    awk -v re="^[0-9]+ $1\$" -v after="$2" 'NR > after && $0 ~ re { print NR; exit }' \
        "$work/forms.log" | grep .
}

run_midnight() {
    wait_form1 || finish
    say "Form1 $form1 before midnight"
    local forms=$work/forms.log
    DISPLAY=$XS_DISPLAY python3 "$work/watch_forms.py" "$app_pid" 60 >"$forms" 2>"$work/forms.err" &
    watcher_pid=$!
    local first='' splash=''
    first_seen() { first=$(forms_line_after "Form1=$form1" 0); }
    xs_poll 10 first_seen || { fail "the forms watcher did not see Form1 $form1 ($(cat "$work/forms.err"))"; finish; }
    wait_painted 1-before-midnight red || finish
    local before=$outdir/$tag-1-before-midnight.png name
    # The screenshot shows the old day only if its page was still up after it.
    [[ $(tail -n 1 "$forms") == *" Form1=$form1" ]] ||
        fail "the page turned before the first page was seen whole (forms now: $(tail -n 1 "$forms"))"
    for name in Label3_month Label5_day Label8_year; do
        crop "$before" "$name" "$work/before-$name.ppm"
    done
    say "screenshot: $before (2002-12-31, 大晦日)"

    # The page turns at the midnight tick: the splash alone is shown.
    splash_seen() { splash=$(forms_line_after 'Form2=[0-9]+' "$first"); }
    if xs_poll 15 splash_seen; then
        shoot 2-splash-after-midnight >/dev/null
        say "screenshot: $outdir/$tag-2-splash-after-midnight.png (the splash after the midnight tick)"
        [[ $(tail -n 1 "$forms") =~ \ Form2=[0-9]+$ ]] ||
            say "note: the splash had gone before the screenshot was taken"
    else
        fail "no moment with the splash (Form2) viewable and Form1 not viewable within 15 s of the first page"
        describe_program >&2
        shoot 2-no-splash >/dev/null
    fi

    wait_form1 || finish
    say "Form1 $form1 after midnight"
    wait_painted 3-after-midnight red || finish
    local after=$outdir/$tag-3-after-midnight.png
    say "screenshot: $after (2003-01-01, 元日)"
    again_seen() { forms_line_after "Form1=$form1" "${splash:-0}" >/dev/null; }
    xs_poll 5 again_seen || fail "the forms watcher saw no new page alone after the splash"
    say "viewable forms (ms since the watch began, then the forms):"
    sed 's/^/    /' "$forms"
    for name in Label3_month Label5_day Label8_year; do
        crop "$after" "$name" "$work/after-$name.ppm"
        if cmp -s "$work/before-$name.ppm" "$work/after-$name.ppm"; then
            fail "$name box (${box[$name]}) looks the same before and after midnight"
        else
            say "$name box changed at midnight"
        fi
    done
    for name in "${red_boxes[@]}"; do
        say "$name box after midnight: ${red[$name]} pure-red pixels"
    done
}

# --- stacking ------------------------------------------------------------------

run_stacking() {
    wait_form1 || finish
    wait_painted 1-calendar any || finish
    local state name
    state=$(net_state "$form1")
    say "Form1 $form1: $state"
    for name in BELOW SKIP_TASKBAR SKIP_PAGER; do
        has_state "$form1" "$name" || fail "Form1 lacks _NET_WM_STATE_$name ($state)"
    done
    has_state "$form1" ABOVE && fail "Form1 has _NET_WM_STATE_ABOVE at start ($state)"

    open_other || finish
    xs_poll 5 is_below "$form1" "$other" ||
        fail "Form1 is not below the ordinary window ($(stack_place "$form1" "$other"))"
    # Raised by someone else, it stays in the bottom layer.
    x xdotool windowraise "$form1"
    sleep 0.3
    is_below "$form1" "$other" ||
        fail "a raise request put Form1 ($(stack_place "$form1" "$other")) over an ordinary window"
    shoot 2-under-other >/dev/null

    # The other window joins the bottom layer (openbox puts it on top of
    # that layer); there a raise does put the calendar over it for a moment.
    wm_state "$other" add _NET_WM_STATE_BELOW
    xs_poll 5 has_state "$other" BELOW || { fail "the window manager did not give xmessage BELOW"; finish; }
    xs_poll 5 is_below "$form1" "$other" ||
        fail "Form1 is not below a window that just joined the bottom layer"

    local raised_at seen_above='' ticks=0 elapsed
    x xdotool windowraise "$form1"
    raised_at=$(date +%s%3N)
    if xs_poll 3 is_above "$form1" "$other"; then
        seen_above=$(($(date +%s%3N) - raised_at))
        say "Form1 was above the other window $seen_above ms after the raise"
        shoot 3-raised >/dev/null
    else
        say "note: Form1 was never seen above the other window after the raise (lowered again before the first look?)"
    fi
    # Back below at the next repaint, which the clock brings every second.
    # Bounded by clock ticks seen on the screen rather than wall time: two
    # ticks leave ample room on a loaded machine.
    clock_now "$work/clock-a.ppm"
    while is_above "$form1" "$other"; do
        clock_now "$work/clock-b.ppm"
        if ! cmp -s "$work/clock-a.ppm" "$work/clock-b.ppm"; then
            ((++ticks))
            mv "$work/clock-b.ppm" "$work/clock-a.ppm"
        fi
        elapsed=$(($(date +%s%3N) - raised_at))
        if ((ticks >= 2 || elapsed > 10000)); then
            is_above "$form1" "$other" || break
            fail "Form1 stayed above the other window of its layer for $ticks clock ticks ($elapsed ms) after the raise"
            shoot 4-still-above >/dev/null
            finish
        fi
        sleep 0.05
    done
    elapsed=$(($(date +%s%3N) - raised_at))
    if is_below "$form1" "$other"; then
        say "Form1 was back below the other window $elapsed ms after the raise ($ticks clock ticks seen)"
        shoot 4-back-below >/dev/null
    else
        fail "Form1 is $(stack_place "$form1" "$other") against the other window after the raise"
    fi

    # The other window back in the normal layer: the calendar under it, still
    # in the bottom layer.
    wm_state "$other" remove _NET_WM_STATE_BELOW
    xs_poll 5 lacks_state "$other" BELOW || fail "the window manager did not take BELOW from xmessage"
    xs_poll 5 is_below "$form1" "$other" || fail "Form1 is not below the ordinary window at the end"
    has_state "$form1" BELOW || fail "Form1 lost _NET_WM_STATE_BELOW ($(net_state "$form1"))"

    # Someone else takes the bottom layer away and raises the calendar: the
    # next repaint puts both back.
    wm_state "$form1" remove _NET_WM_STATE_BELOW
    xs_poll 5 lacks_state "$form1" BELOW || fail "the window manager did not take BELOW from Form1"
    x xdotool windowraise "$form1"
    xs_poll 5 has_state "$form1" BELOW ||
        fail "Form1 did not take _NET_WM_STATE_BELOW back ($(net_state "$form1"))"
    xs_poll 5 is_below "$form1" "$other" ||
        fail "Form1 is $(stack_place "$form1" "$other") against the other window after losing BELOW"
}

# --- menu ----------------------------------------------------------------------

# Sets popup: a viewable override-redirect window of the program besides its forms.
popup=
find_popup() {
    local w info
    for w in $(x xdotool search --onlyvisible --classname himekuri 2>/dev/null); do
        [[ $w =~ ^[0-9]+$ ]] || continue
        x xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null | grep -q '"Form[0-9]"' && continue
        info=$(x xwininfo -id "$w" 2>/dev/null)
        grep -q 'Map State: IsViewable' <<<"$info" || continue
        grep -q 'Override Redirect State: yes' <<<"$info" || continue
        popup=$w
        return 0
    done
    return 1
}
no_popup() { ! find_popup; }

run_menu() {
    wait_form1 || finish
    wait_painted 1-calendar any || finish
    open_other || finish
    xs_poll 5 is_below "$form1" "$other" ||
        fail "Form1 is not below the ordinary window at start ($(stack_place "$form1" "$other"))"

    click_box Label7_board 3
    if ! xs_poll 5 find_popup; then
        fail "no popup menu within 5 s of a right click on 伝言板"
        describe_program >&2
        shoot 2-no-popup >/dev/null
        finish
    fi
    local info px py pw ph png
    info=$(x xwininfo -id "$popup")
    px=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    py=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    pw=$(sed -n 's/^ *Width: *//p' <<<"$info")
    ph=$(sed -n 's/^ *Height: *//p' <<<"$info")
    say "popup menu $popup at $px,$py size ${pw}x$ph"
    # Its three rows drawn (more than a plain background) before choosing.
    menu_drawn() {
        png=$outdir/$tag-2-menu.png
        x import -window root -crop "${pw}x$ph+$px+$py" +repage "$png" 2>/dev/null &&
            (($(convert "$png" -format '%k' info: 2>/dev/null || echo 0) > 8))
    }
    xs_poll 5 menu_drawn || fail "the popup menu was not drawn within 5 s"
    say "screenshot: $png (the menu)"
    shoot 2-menu-screen >/dev/null

    # それ以外 is the second of three rows: the middle of the menu.
    x xdotool mousemove $((px + pw / 2)) $((py + ph / 2))
    sleep 0.2
    x xdotool click 1
    xs_poll 5 no_popup || fail "the popup menu is still up 5 s after choosing それ以外"
    if ! xs_poll 5 has_state "$form1" ABOVE; then
        fail "Form1 has no _NET_WM_STATE_ABOVE 5 s after choosing それ以外 ($(net_state "$form1"))"
        shoot 3-not-above >/dev/null
        finish
    fi
    xs_poll 5 lacks_state "$form1" BELOW ||
        fail "Form1 still has _NET_WM_STATE_BELOW after choosing それ以外 ($(net_state "$form1"))"
    xs_poll 5 is_above "$form1" "$other" ||
        fail "Form1 is not above the other window after choosing それ以外 ($(stack_place "$form1" "$other"))"
    say "Form1 $form1: $(net_state "$form1")"

    # The other window is activated (and so raised); the calendar stays over
    # it for at least three clock ticks and 2.5 s.
    x xdotool windowactivate "$other" 2>/dev/null
    local started=$SECONDS ticks=0 deadline=$((SECONDS + 15)) where
    clock_now "$work/clock-a.ppm"
    while ((ticks < 3 || SECONDS - started < 3)); do
        where=$(stack_place "$form1" "$other")
        if [[ $where != above ]] || ! has_state "$form1" ABOVE; then
            fail "Form1 fell $where the other window after $ticks clock ticks ($(net_state "$form1"))"
            shoot 4-fell >/dev/null
            break
        fi
        clock_now "$work/clock-b.ppm"
        if ! cmp -s "$work/clock-a.ppm" "$work/clock-b.ppm"; then
            ((++ticks))
            mv "$work/clock-b.ppm" "$work/clock-a.ppm"
        fi
        if ((SECONDS >= deadline)); then
            fail "the clock changed only $ticks times in 15 s"
            break
        fi
        sleep 0.1
    done
    say "Form1 stayed above the activated window for $ticks clock ticks"
    say "screenshot: $(shoot 4-on-top) (the calendar over the activated window)"
}

# --- banner --------------------------------------------------------------------

opened_line() { # N URL: the stand-in's Nth call asked for URL
    [[ $(sed -n "$1p" "$opened" 2>/dev/null) == "$2" ]]
}
opener_running() { # N: the stand-in of the Nth call still sleeps
    local pid
    pid=$(sed -n "$1p" "$work/opener-pids" 2>/dev/null)
    [[ -n $pid ]] && ! xs_pid_gone "$pid"
}

run_banner() {
    wait_form1 || finish
    wait_painted 1-calendar any || finish

    click_box Image2_home
    if ! xs_poll 10 opened_line 1 'http://www.example.com/'; then
        fail "the stand-in xdg-open was not called with http://www.example.com/ within 10 s (it got: $(paste -sd' ' "$opened" 2>/dev/null))"
        finish
    fi
    xs_poll 5 opener_running 1 || fail "the stand-in's pid was not recorded"
    say "Image2 opened $(sed -n 1p "$opened")"
    # The browser is still busy; the calendar is not waiting for it.
    clock_now "$work/clock-a.ppm"
    sleep 1.5
    clock_changed() {
        clock_now "$work/clock-b.ppm" && ! cmp -s "$work/clock-a.ppm" "$work/clock-b.ppm"
    }
    if xs_poll 3 clock_changed; then
        if opener_running 1; then
            say "the clock kept changing while the browser was busy"
        else
            fail "the stand-in browser ended before the clock was checked (its sleep is too short for this machine)"
        fi
    else
        fail "the clock did not change within 4.5 s while the browser was busy"
        shoot 2-clock-stopped >/dev/null
    fi
    shoot 2-browser-busy >/dev/null

    click_box Image3_feedback
    if xs_poll 10 opened_line 2 'http://www.example.com/bbs/pt.cgi?room=himekuri'; then
        say "Image3 opened $(sed -n 2p "$opened")"
    else
        fail "the stand-in xdg-open was not called with the feedback address within 10 s (it got: $(paste -sd' ' "$opened" 2>/dev/null))"
    fi
    (($(wc -l <"$opened") == 2)) || fail "xdg-open was called $(wc -l <"$opened") times for two clicks"

    local clicked_at
    click_box Command1_close
    clicked_at=$(date +%s%3N)
    if ! xs_poll 10 xs_pid_gone "$faketime_pid"; then
        fail "the program did not end within 10 s of a click on 閉じる"
        describe_program >&2
        shoot 3-not-closed >/dev/null
        finish
    fi
    local status
    wait "$faketime_pid"
    status=$?
    faketime_pid='' app_pid=''
    if ((status == 0)); then
        say "閉じる ended the program with status 0 after $(($(date +%s%3N) - clicked_at)) ms"
    else
        fail "the program ended with status $status after 閉じる"
    fi
}

# The checks only mean something on the moved clock.
check_faketime() {
    grep -q libfaketime "/proc/$app_pid/maps" 2>/dev/null
}
xs_poll 5 check_faketime || fail "libfaketime is not loaded in the program: its clock was not moved to $start"

"run_$mode"
finish
