#!/bin/bash
# End-to-end check of the real binary under Xvfb + openbox.
#
# usage: run_e2e.sh BINARY OUTDIR DATE red|no-red
#
# Starts BINARY with the clock at DATE 10:00:00 (Asia/Tokyo) in a throw-away
# HOME, waits for the main window (role Form1), checks where it sits and how
# big it is, then checks the screenshot: with "red" the month, day, weekday
# and holiday-name boxes must each hold pixels of exactly (255,0,0); with
# "no-red" none of them may. Screenshots and the program's output are kept in
# OUTDIR.
# Functions run through trap and xs_poll look unreachable to shellcheck.
# shellcheck disable=SC2317
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../scripts/xsession.sh
source "$here/../../scripts/xsession.sh"

if (($# != 4)) || [[ $4 != red && $4 != no-red ]]; then
    echo "usage: $0 BINARY OUTDIR YYYY-MM-DD red|no-red" >&2
    exit 2
fi
binary=$1 outdir=$2 date=$3 expect=$4
[[ $date =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] || { echo "bad date '$date'" >&2; exit 2; }

# Client area boxes (left,top,width,height) of the labels we look at.
# shellcheck disable=SC2054 # the commas are part of each value
declare -A box=(
    [Label3_month]=8,96,89,105
    [Label5_day]=136,80,201,185
    [Label2_weekday]=8,296,129,57
    [Label9_holiday]=16,216,129,73
    [Label8_year]=256,48,113,41
)
red_boxes=(Label3_month Label5_day Label2_weekday Label9_holiday)
# Drawn on every date: once all three show something, Form1 has been painted.
painted_boxes=(Label3_month Label5_day Label2_weekday)
frame=3
want_x=646 want_y=0 want_w=377 want_h=440

failures=()
fail() { failures+=("$*"); echo "e2e: $date: FAIL: $*" >&2; }

finish() {
    if ((${#failures[@]} == 0)); then
        echo "e2e: $date ok"
        exit 0
    fi
    echo "e2e: $date FAILED (${#failures[@]} problem(s)):" >&2
    printf '  - %s\n' "${failures[@]}" >&2
    if [[ -s $log ]]; then
        echo "--- last lines of the program's output ($log) ---" >&2
        tail -n 20 "$log" >&2
    fi
    local f
    for f in xvfb openbox; do
        [[ -s ${work:-}/x/$f.log ]] && cp "$work/x/$f.log" "$outdir/$date-$f.log" &&
            echo "e2e: $f log kept: $outdir/$date-$f.log" >&2
    done
    exit 1
}

for tool in faketime xdotool xwininfo xprop import convert python3; do
    command -v "$tool" >/dev/null || {
        echo "e2e: '$tool' not found (Debian: faketime xdotool x11-utils imagemagick python3)" >&2
        exit 1
    }
done
[[ -x $binary ]] || { echo "e2e: binary '$binary' is not executable" >&2; exit 1; }

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
log=$outdir/$date-program.log
screen_png=$outdir/$date-screen.png
window_png=$outdir/$date-form1.png
boxes_png=$outdir/$date-form1-boxes.png
rm -f "$log" "$screen_png" "$window_png" "$boxes_png" "$outdir/$date"-{xvfb,openbox}.log

work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-e2e.XXXXXX")
faketime_pid='' app_pid=''
cleanup() {
    [[ -n $app_pid ]] && xs_end_pid "$app_pid"
    [[ -n $faketime_pid ]] && xs_end_pid "$faketime_pid"
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT

# Isolated HOME; or.txt "N" answers the first-run question (so no dialog and
# no network access), written with the CRLF the program's files use.
home=$work/home
mkdir -p "$home/Program Files/Tesrava"
printf 'N\r\n' >"$home/Program Files/Tesrava/or.txt"
runtime=$work/runtime
mkdir -m 0700 "$runtime"

xsession_start "$work/x" wm || { fail "could not start Xvfb/openbox"; finish; }

# env -i: nothing from the caller's session (XDG_*, QT_*, LC_*) may leak in.
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" \
    TZ=Asia/Tokyo LANG=C.UTF-8 DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb \
    FAKETIME_DONT_RESET=1 \
    faketime -f "@$date 10:00:00" "$binary" >"$log" 2>&1 </dev/null &
faketime_pid=$!

# faketime forks the program; its child is the process that owns the windows.
# Also stops the wait when faketime itself has ended.
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

# Prints the id of a viewable window of the program whose WM_WINDOW_ROLE is $1.
viewable_with_role() {
    local role=$1 w
    for w in $(DISPLAY=$XS_DISPLAY xdotool search --pid "$app_pid" 2>/dev/null); do
        [[ $w =~ ^[0-9]+$ ]] || continue # never let xwininfo ask for a click
        DISPLAY=$XS_DISPLAY xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null |
            grep -qx "WM_WINDOW_ROLE(STRING) = \"$role\"" || continue
        DISPLAY=$XS_DISPLAY xwininfo -id "$w" 2>/dev/null |
            grep -q 'Map State: IsViewable' || continue
        echo "$w"
        return 0
    done
    return 1
}

# What the program is doing and which windows it has, for a failure report.
describe_program() {
    local w role state
    echo "e2e: program pid $app_pid: $(grep -E '^(State|Threads):' "/proc/$app_pid/status" 2>/dev/null | tr -s '\t\n' '  ')"
    local p
    for p in "openbox $XS_WM_PID" "Xvfb $XS_XVFB_PID"; do
        echo "e2e: ${p% *} pid ${p#* }: $(grep -E '^(State):' "/proc/${p#* }/status" 2>/dev/null | tr -s '\t\n' '  ') wchan $(cat "/proc/${p#* }/wchan" 2>/dev/null)"
    done
    for w in $(DISPLAY=$XS_DISPLAY xdotool search --pid "$app_pid" 2>/dev/null); do
        [[ $w =~ ^[0-9]+$ ]] || continue # never let xwininfo ask for a click
        role=$(DISPLAY=$XS_DISPLAY xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null)
        state=$(DISPLAY=$XS_DISPLAY xwininfo -id "$w" 2>/dev/null | sed -n 's/^ *Map State: //p')
        echo "e2e: window $w: ${role#WM_WINDOW_ROLE(STRING) = } $state"
        [[ -n ${XS_WM_DEBUG:-} ]] && DISPLAY=$XS_DISPLAY xprop -id "$w" && DISPLAY=$XS_DISPLAY xwininfo -children -id "$w"
    done
    [[ -n ${XS_WM_DEBUG:-} ]] && DISPLAY=$XS_DISPLAY xprop -root && DISPLAY=$XS_DISPLAY xwininfo -root -children
}

# The splash (Form2) may come first; Form1 follows it. Bounded at 20 s.
form1=
deadline=$((SECONDS + 20))
while :; do
    if xs_pid_gone "$app_pid"; then
        fail "the program exited before showing Form1"
        finish
    fi
    if viewable_with_role Form3 >/dev/null; then
        fail "the first-run question (Form3) appeared although or.txt holds N"
    fi
    form1=$(viewable_with_role Form1) && break
    if ((SECONDS >= deadline)); then
        fail "no viewable window with WM_WINDOW_ROLE Form1 within 20 s"
        describe_program >&2
        DISPLAY=$XS_DISPLAY import -window root "$screen_png" 2>/dev/null &&
            echo "e2e: screenshot: $screen_png"
        finish
    fi
    sleep 0.1
done
((${#failures[@]} == 0)) || finish

# The colour checks mean nothing unless the program runs on the moved clock.
grep -q libfaketime "/proc/$app_pid/maps" 2>/dev/null ||
    fail "libfaketime is not loaded in the program: its clock was not moved to $date"

# Geometry of the X window itself (no decoration, so this is what shows).
info=$(DISPLAY=$XS_DISPLAY xwininfo -id "$form1")
field() { sed -n "s/^ *$1: *\(-\?[0-9]\+\).*/\1/p" <<<"$info"; }
win_x=$(field 'Absolute upper-left X') win_y=$(field 'Absolute upper-left Y')
win_w=$(field 'Width') win_h=$(field 'Height')
echo "e2e: $date: Form1 window $form1 at $win_x,$win_y size ${win_w}x$win_h"
[[ $win_x == "$want_x" && $win_y == "$want_y" ]] ||
    fail "Form1 is at $win_x,$win_y, expected $want_x,$want_y"
[[ $win_w == "$want_w" && $win_h == "$want_h" ]] ||
    fail "Form1 is ${win_w}x$win_h, expected ${want_w}x$want_h"
extents=$(DISPLAY=$XS_DISPLAY xprop -id "$form1" _NET_FRAME_EXTENTS 2>/dev/null)
if [[ $extents == *=* && ${extents#*= } != "0, 0, 0, 0" ]]; then
    fail "the window manager decorates Form1 ($extents)"
fi

# Screenshots until Form1 has been painted (and, for "red", until the red text
# is there), at most 10 s. The last one is kept either way.
ox=$((${win_x:-$want_x} + frame)) oy=$((${win_y:-$want_y} + frame))
specs=()
for name in "${!box[@]}"; do specs+=("$name=${box[$name]}"); done
ppm=$work/shot.ppm
declare -A red colours
analyse() {
    DISPLAY=$XS_DISPLAY import -window root "$screen_png" 2>/dev/null || return 1
    convert "$screen_png" -alpha off -depth 8 "$ppm" || return 1
    local name r c
    while read -r name r c; do
        red[$name]=${r#red=}
        colours[$name]=${c#colours=}
    done < <(python3 "$here/boxes.py" "$ppm" "$ox" "$oy" "${specs[@]}")
    for name in "${painted_boxes[@]}"; do
        ((${colours[$name]:-0} >= 2)) || return 1
    done
    [[ $expect == no-red ]] && return 0
    for name in "${red_boxes[@]}"; do
        ((${red[$name]:-0} > 0)) || return 1
    done
}
deadline=$((SECONDS + 10))
until analyse; do
    if ((SECONDS >= deadline)); then
        break
    fi
    xs_pid_gone "$app_pid" && break
    sleep 0.2
done
xs_pid_gone "$app_pid" && fail "the program exited while Form1 was shown"
viewable_with_role Form3 >/dev/null &&
    fail "the first-run question (Form3) appeared although or.txt holds N"

if [[ -s $screen_png ]]; then
    convert "$screen_png" -crop "${win_w:-$want_w}x${win_h:-$want_h}+${win_x:-$want_x}+${win_y:-$want_y}" \
        +repage "$window_png"
    # The same with the checked boxes outlined, for a person to judge them.
    draw=()
    for name in "${!box[@]}"; do
        IFS=, read -r l t w h <<<"${box[$name]}"
        draw+=(-draw "rectangle $((frame + l)),$((frame + t)) $((frame + l + w - 1)),$((frame + t + h - 1))")
    done
    convert "$window_png" -fill none -stroke '#00c000' "${draw[@]}" "$boxes_png"
    echo "e2e: screenshot: $screen_png"
    echo "e2e: screenshot: $window_png"
    echo "e2e: screenshot: $boxes_png (checked boxes outlined)"
else
    fail "could not take a screenshot"
    finish
fi

for name in "${!box[@]}"; do
    echo "e2e: $date: $name box ${box[$name]}: ${red[$name]:-?} pure-red pixels, ${colours[$name]:-?} colours"
done | sort

for name in "${painted_boxes[@]}"; do
    ((${colours[$name]:-0} >= 2)) ||
        fail "$name box (${box[$name]}) is blank: nothing drawn there within 10 s"
done
for name in "${red_boxes[@]}"; do
    if [[ $expect == red ]]; then
        ((${red[$name]:-0} > 0)) ||
            fail "$name box (${box[$name]}) has no pure red (255,0,0) pixel; expected red text on $date"
    else
        ((${red[$name]:-0} == 0)) ||
            fail "$name box (${box[$name]}) has ${red[$name]} pure red (255,0,0) pixels; expected none on $date"
    fi
done
finish
