#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The real program on DATE at 10:00 (Asia/Tokyo): Form1 viewable at 646,0,
# 377x440 and undecorated; with "red" the month, day, weekday and holiday
# boxes each hold pure red (255,0,0) pixels, with "no-red" none of them does.
# usage: run_e2e.sh BINARY OUTDIR YYYY-MM-DD red|no-red
if (($# != 4)) || [[ ! $3 =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ || ! $4 =~ ^(no-)?red$ ]]; then
    echo "usage: $0 BINARY OUTDIR YYYY-MM-DD red|no-red" >&2
    exit 2
fi
[[ -x $1 ]] || { echo "e2e: binary '$1' is not executable" >&2; exit 1; }
tag=$3 expect=$4
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" faketime
start_calendar "$1" "$3 10:00:00"

wait_form1
[[ $gw,$gh == 377,440 ]] || fail "Form1 is ${gw}x$gh, expected 377x440"
extents=$(x xprop -id "$form1" _NET_FRAME_EXTENTS 2>/dev/null)
[[ $extents != *=* || ${extents#*= } == "0, 0, 0, 0" ]] ||
    fail "the window manager decorates Form1 ($extents)"

wait_painted screen "${expect/no-red/any}"
screen=$outdir/$tag-screen.png
if [[ -s $screen ]]; then
    # The window alone, and with the checked boxes outlined for a person to judge.
    convert "$screen" -crop "${gw}x$gh+$gx+$gy" +repage "$outdir/$tag-form1.png"
    draw=()
    for name in "${red_boxes[@]}" Label8_year; do
        IFS=, read -r l t w h <<<"${box[$name]}"
        draw+=(-draw "rectangle $((frame + l)),$((frame + t)) $((frame + l + w - 1)),$((frame + t + h - 1))")
    done
    convert "$outdir/$tag-form1.png" -fill none -stroke '#00c000' "${draw[@]}" "$outdir/$tag-form1-boxes.png"
fi
sort <<<"$stats" | sed "s/^/e2e: $tag: /"
[[ $expect == red ]] || for name in "${red_boxes[@]}"; do
    ((${box_red[$name]:-0} == 0)) ||
        fail "$name box (${box[$name]}) has ${box_red[$name]} pure red (255,0,0) pixels; expected none on $tag"
done
finish
