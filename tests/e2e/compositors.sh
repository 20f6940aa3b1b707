#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The calendar on the desktops people run: KDE's KWin or GNOME's mutter, a
# Wayland compositor with XWayland (scripts/compositor.sh), used through real
# input (the compositor's own pointer). Started at 23:59:40 on 31 December
# 2002: the page at its place, kept at the back (BELOW) without a taskbar
# entry, pushed back below another program after a click on it, moved by a
# drag; the banners hand their addresses to the user's browser; at midnight
# the new page comes without taking the keyboard from the program in use.
# What the compositor announces is written to OUTDIR/compositor-MODE.txt.
# usage: compositors.sh BINARY OUTDIR kwin|mutter
if (($# != 3)) || [[ ! $3 =~ ^(kwin|mutter)$ ]]; then
    echo "usage: $0 BINARY OUTDIR kwin|mutter" >&2
    exit 2
fi
[[ -x $1 ]] || { echo "e2e: binary '$1' is not executable" >&2; exit 1; }
binary=$1 e2e_compositor=$3 tag=compositor-$3
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" faketime xmessage
other_pid=''
end_at_exit other_pid
# Real input: the compositor sees it, as it sees a user's hand.
hand() { DISPLAY=$CS_HOST_DISPLAY xdotool "$@"; }
active_is() { [[ $(x xprop -root _NET_ACTIVE_WINDOW 2>/dev/null) == *" $(printf 0x%x "$1")" ]]; }
stacked_below() { # A B: A lies below B in the compositor's stacking
    local order
    order=$(x xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null)
    order=" ${order#*# } "
    [[ ${order//,/ } == *" $(printf 0x%x "$1") "*" $(printf 0x%x "$2") "* ]]
}

{
    for atom in _NET_WM_STATE_BELOW _NET_WM_STATE_SKIP_TASKBAR _NET_ACTIVE_WINDOW _NET_WM_MOVERESIZE; do
        cs_has_state "$atom" && echo "$atom yes" || echo "$atom no"
    done
} >"$outdir/$tag.txt"

mkdir -p "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$work/opened" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
session_env=()
start_calendar "$binary" '2002-12-31 23:59:40' "$work/bin"
wait_form1
hand mousemove 10 760 # the pointer, which mutter draws, off the page
wait_painted 1-page any
states=$(x xprop -id "$form1" _NET_WM_STATE 2>/dev/null)
for state in _NET_WM_STATE_BELOW _NET_WM_STATE_SKIP_TASKBAR; do
    [[ $states == *$state* ]] || fail "the page is not $state: $states"
done

# Another program over the page; the page brought up (activated, as a click
# or the task switcher does it) is below again within a second or two.
x xmessage -geometry 300x100+400+200 another program >/dev/null 2>&1 </dev/null &
other_pid=$!
find_other() { other=$(x xdotool search --onlyvisible --classname xmessage 2>/dev/null | head -n1); [[ -n $other ]]; }
xs_poll 10 find_other || { fail "the other program's window did not appear"; finish; }
xs_poll 5 stacked_below "$form1" "$other" ||
    fail "the page ($form1) is not below the other program's window ($other): $(x xprop -root _NET_CLIENT_LIST_STACKING)"
x xdotool windowactivate "$form1" 2>/dev/null
sleep 0.3
xs_poll 3 stacked_below "$form1" "$other" || fail "brought up, the page stays above the other program"
shoot 2-below >/dev/null

# A drag on the background, at a hand's pace.
from_x=$((ox + 120)) from_y=$((oy + 200))
hand mousemove "$from_x" "$from_y" mousedown 1 sleep 0.3 mousemove $((from_x - 150)) $((from_y + 40)) \
    sleep 0.2 mousemove $((from_x - 300)) $((from_y + 100)) sleep 0.3 mouseup 1
dropped() { geometry "$form1" && ((gx < 646 - 200 && gy > 50)); }
xs_poll 3 dropped || fail "a drag did not move the page (it is at $gx,$gy)"
sleep 0.5 # the page settles where it was dropped
geometry "$form1"
ox=$((gx + frame)) oy=$((gy + frame))
shoot 3-dragged >/dev/null

hand mousemove $((ox + 8 + 62)) $((oy + 408 + 13)) click 1 # Image2
opened() { grep -qx 'http://www.example.com/' "$work/opened" 2>/dev/null; }
xs_poll 5 opened || fail "the banner did not hand its address to xdg-open"

# Across midnight in the other program.
x xdotool windowactivate "$other" 2>/dev/null
xs_poll 5 active_is "$other" || fail "the other program's window could not be activated"
new_page() {
    local w
    w=$(role Form1) && [[ $w != "$form1" ]] && form1=$w
}
old=$form1
if xs_poll 30 new_page; then
    geometry "$form1"
    ox=$((gx + frame)) oy=$((gy + frame))
    sleep 0.5
    active_is "$other" || fail "the new page took the keyboard ($(x xprop -root _NET_ACTIVE_WINDOW))"
    shoot 4-after-midnight >/dev/null
else
    fail "no new page after midnight (the old one was $old)"
fi
finish
