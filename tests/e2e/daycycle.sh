#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# Where the calendar lives among other windows, with the clock moved by faketime.
# usage: daycycle.sh BINARY OUTDIR
# Form1 has BELOW, SKIP_TASKBAR and SKIP_PAGER and stays below an ordinary
# window; raised over a window of its own layer, or robbed of BELOW, it goes
# back below by itself within two clock ticks. Then a right click pops up the
# menu; それ以外 puts the calendar on top, where it stays over an activated
# window for three clock ticks.
if (($# != 2)); then
    echo "usage: $0 BINARY OUTDIR" >&2
    exit 2
fi
[[ -x $1 ]] || { echo "e2e: binary '$1' is not executable" >&2; exit 1; }
binary=$1 tag=daycycle
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" faketime xmessage
other_pid=''
end_at_exit other_pid

# --- looking at the page and the window manager -------------------------------

net_state() { x xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
has_state() { [[ "$(net_state "$1")," == *" _NET_WM_STATE_$2,"* ]]; } # WIN NAME
lacks_state() { ! has_state "$@"; }
wm_state() { x python3 "$helper" wm-state "$@"; } # WIN add|remove ATOM, as a pager asks

stack_place() { # WIN OTHER: below, above or missing in the window manager's stacking order
    local list a b
    list=" $(x xprop -root _NET_CLIENT_LIST_STACKING 2>/dev/null | sed 's/^[^#]*# //; s/,//g') "
    a=${list%% "$(printf 0x%x "$1")" *} b=${list%% "$(printf 0x%x "$2")" *}
    if ((${#a} == ${#list} || ${#b} == ${#list})); then
        echo missing
    elif ((${#a} < ${#b})); then
        echo below
    else
        echo above
    fi
}
is_below() { [[ $(stack_place "$1" "$2") == below ]]; }
is_above() { [[ $(stack_place "$1" "$2") == above ]]; }

# An ordinary window of another program over the calendar's left part, where
# a screenshot shows which of the two is in front.
find_other() {
    local w
    for w in $(x xdotool search --classname xmessage 2>/dev/null); do
        x xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' &&
            [[ $(stack_place "$w" "$w") != missing ]] && other=$w && return 0
    done
    return 1
}
# shellcheck disable=SC2034 # ended at exit by name
open_other() {
    x xmessage -geometry 300x200+450+100 hello >/dev/null 2>&1 </dev/null &
    other_pid=$!
    xs_poll 10 find_other || { fail "the xmessage window was not mapped and managed within 10 s"; finish; }
}

# --- stacking ------------------------------------------------------------------

below_again() { # done once Form1 is no longer above, or at the second clock tick
    is_above "$form1" "$other" || return 0
    clock_ticked && ((++ticks >= 2))
}

run_stacking() {
    local name ticks=0
    wait_form1
    wait_painted 1-calendar any || finish
    for name in BELOW SKIP_TASKBAR SKIP_PAGER; do
        has_state "$form1" "$name" || fail "Form1 lacks _NET_WM_STATE_$name ($(net_state "$form1"))"
    done
    has_state "$form1" ABOVE && fail "Form1 has _NET_WM_STATE_ABOVE at start ($(net_state "$form1"))"

    open_other
    xs_poll 5 is_below "$form1" "$other" ||
        fail "Form1 is not below the ordinary window ($(stack_place "$form1" "$other"))"
    # Raised by someone else, it stays in the bottom layer.
    x xdotool windowraise "$form1"
    sleep 0.3
    is_below "$form1" "$other" ||
        fail "a raise request put Form1 ($(stack_place "$form1" "$other")) over an ordinary window"
    shoot 2-under-other >/dev/null

    # The other window joins the bottom layer (openbox puts it on top of that
    # layer); there a raise does put the calendar over it for a moment.
    wm_state "$other" add _NET_WM_STATE_BELOW
    xs_poll 5 has_state "$other" BELOW || { fail "the window manager did not give xmessage BELOW"; finish; }
    xs_poll 5 is_below "$form1" "$other" || fail "Form1 is not below a window that just joined the bottom layer"
    # Right after a tick, so that the raise is seen before the next push.
    clock_ticked
    xs_poll 3 clock_ticked
    x xdotool windowraise "$form1"
    if xs_poll 1 is_above "$form1" "$other"; then
        shoot 3-raised >/dev/null
    else
        fail "the raise did not put Form1 over the other window of its layer: nothing to push back"
    fi
    # Back below at the next repaint, which the clock brings every second;
    # bounded by ticks seen on the screen rather than by wall time alone,
    # which a loaded machine stretches.
    clock_ticked
    xs_poll 10 below_again
    if ! is_below "$form1" "$other"; then
        fail "Form1 is $(stack_place "$form1" "$other") the other window of its layer" \
            "$ticks clock ticks after the raise"
        shoot 4-still-above >/dev/null
        finish
    fi
    shoot 4-back-below >/dev/null

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

find_popup() { # sets popup: a viewable override-redirect window of the program besides its forms
    local w info
    for w in $(x xdotool search --onlyvisible --classname himekuri 2>/dev/null); do
        x xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null | grep -q '"Form[0-9]"' && continue
        info=$(x xwininfo -id "$w" 2>/dev/null)
        [[ $info == *'Map State: IsViewable'* && $info == *'Override Redirect State: yes'* ]] &&
            popup=$w && return 0
    done
    return 1
}
no_popup() { ! find_popup; }
menu_drawn() { # its three rows: more colours than a plain background
    x import -window root -crop "${gw}x$gh+$gx+$gy" +repage "$outdir/$tag-5-menu.png" 2>/dev/null &&
        (($(convert "$outdir/$tag-5-menu.png" -format '%k' info: 2>/dev/null || echo 0) > 8))
}
stays_above() { # done once Form1 fell (sets fell), or after three clock ticks and 3 s
    if ! is_above "$form1" "$other" || ! has_state "$form1" ABOVE; then
        fell=$(stack_place "$form1" "$other")
        return 0
    fi
    clock_ticked && ((++ticks))
    ((ticks >= 3 && SECONDS - started >= 3))
}

run_menu() { # with the other window above the calendar
    local ticks=0 fell='' started
    click_box Label7 3
    if ! xs_poll 5 find_popup; then
        fail "no popup menu within 5 s of a right click on 伝言板"
        describe_program
        shoot 5-no-popup >/dev/null
        finish
    fi
    geometry "$popup"
    xs_poll 5 menu_drawn || fail "the popup menu was not drawn within 5 s"
    shoot 5-menu-screen >/dev/null
    # それ以外 is the middle one of three rows; the menu sees the pointer
    # arrive before the click.
    x xdotool mousemove $((gx + gw / 2)) $((gy + gh / 2))
    sleep 0.2
    x xdotool click 1
    xs_poll 5 no_popup || fail "the popup menu is still up 5 s after choosing それ以外"
    if ! xs_poll 5 has_state "$form1" ABOVE; then
        fail "Form1 has no _NET_WM_STATE_ABOVE 5 s after choosing それ以外 ($(net_state "$form1"))"
        shoot 6-not-above >/dev/null
        finish
    fi
    xs_poll 5 lacks_state "$form1" BELOW ||
        fail "Form1 still has _NET_WM_STATE_BELOW after choosing それ以外 ($(net_state "$form1"))"
    xs_poll 5 is_above "$form1" "$other" ||
        fail "Form1 is not above the other window after choosing それ以外 ($(stack_place "$form1" "$other"))"

    # The other window is activated (and so raised); the calendar stays over it.
    x xdotool windowactivate "$other" 2>/dev/null
    started=$SECONDS
    clock_ticked
    if ! xs_poll 15 stays_above; then
        fail "the clock changed only $ticks times in 15 s"
    elif [[ -n $fell ]]; then
        fail "Form1 fell $fell the other window after $ticks clock ticks ($(net_state "$form1"))"
        shoot 7-fell >/dev/null
    fi
    shoot 7-on-top >/dev/null
}

start_calendar "$binary" '2002-11-02 10:00:00'
run_stacking
run_menu
finish
