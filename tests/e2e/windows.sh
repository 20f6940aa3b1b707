#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The Windows build under Wine, on its own Xvfb + openbox: the Windows unit
# tests (the code page through Windows itself, stacking, the install folder,
# the pane's web-browser control), then the real himekuri.exe, started on
# drive C: at 10:00 on Sunday 3 November 2002 (Culture Day): the splash, then
# the calendar at its designed place in red; a line of de.txt with ① ～ ＼
# saved by 書き込む as the right Shift-JIS bytes; only a killed save's leftover
# removed at the start; a second copy refused.
# usage: windows.sh BUILD_WINDOWS_DIR OUTDIR
if (($# != 2)); then
    echo "usage: $0 BUILD_WINDOWS_DIR OUTDIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 1
for exe in himekuri tst_datafiles tst_windows; do
    [[ -f $build/$exe.exe ]] || { echo "e2e: $build/$exe.exe is missing: run scripts/windows/build.sh" >&2; exit 1; }
done
tag=windows
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" wine wineboot wineserver faketime
second_pid=''
end_at_exit second_pid
on_exit() { WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null; }
# A prefix of the test's own; no Mono or Gecko to install (nothing can be
# downloaded here, and the pane must do without them).
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
x wineboot -i >/dev/null 2>&1 || { fail "could not make a Wine prefix"; finish; }
drive_c=$WINEPREFIX/drive_c data=$WINEPREFIX/drive_c/Program\ Files/Tesrava

for test in tst_datafiles tst_windows; do
    x timeout 120 wine "$build/$test.exe" -o "$work/$test.txt,txt" >/dev/null 2>&1
    if grep -q '^Totals: [0-9]* passed, 0 failed' "$work/$test.txt" 2>/dev/null; then
        say "$test.exe: $(grep '^Totals' "$work/$test.txt")"
    else
        fail "$test.exe under Wine: $(grep -E '^(FAIL|Totals)|Loc:' "$work/$test.txt" 2>/dev/null || echo 'no result')"
    fi
done

# Started from drive C: the install folder is C:\Program Files\Tesrava\.
mkdir -p "$data"
printf 'N\r\n' >"$data/or.txt"
printf '\x87\x40\x81\x60\x81\x5f\r\n' >"$data/de.txt"
# What a killed save leaves, and a copy of the user's own that only looks like it.
printf 'cut short' >"$data/.de.txt.himekuri-Ab12Cd"
printf 'mine\r\n' >"$data/de.txt.backup"
log=$outdir/$tag-program.log
(cd "$drive_c" && x env TZ=UTC NO_FAKE_STAT=1 FAKETIME_DONT_RESET=1 \
    faketime -f '@2002-11-03 10:00:00' wine "$build/himekuri.exe" >"$log" 2>&1 </dev/null) &
app_pid=$!

# The program's windows, by size: the splash's client area, the calendar's frame.
window_of() { # WxH: a viewable window of the program that size
    local w
    for w in $(x xdotool search --onlyvisible --class himekuri.exe 2>/dev/null); do
        geometry "$w"
        [[ ${gw}x$gh == "$1" ]] && echo "$w" && return 0
    done
    return 1
}
if xs_poll 20 window_of 251x309 >/dev/null; then
    say "the splash is up"
else
    fail "no splash (251x309) within 20 s"
fi
if ! form1=$(xs_poll 20 window_of 377x440); then
    fail "no calendar (377x440) within 20 s"
    shoot no-calendar >/dev/null
    finish
fi
geometry "$form1"
[[ $gx,$gy == 646,0 ]] || fail "the calendar is at $gx,$gy, expected 646,0"
ox=$((gx + frame)) oy=$((gy + frame))
shot_painted() { local png; png=$(shoot sunday-holiday) && analyse "$png" && painted red; }
xs_poll 10 shot_painted || fail "the calendar is not drawn with its Sunday holiday in red: $(paste -sd' ' <<<"$stats")"

[[ -e $data/.de.txt.himekuri-Ab12Cd ]] && fail "the start kept what a killed save left"
[[ -f $data/de.txt.backup ]] || fail "the start removed the user's de.txt.backup"

click_box RichTextBox1
x xdotool key Home type --delay 40 'Hello '
click_box Command2
printf 'Hello \x87\x40\x81\x60\x81\x5f\r\n' >"$work/expected"
saved() { cmp -s "$data/de.txt" "$work/expected"; }
xs_poll 10 saved || fail "de.txt holds $(od -An -tx1 "$data/de.txt"), expected $(od -An -tx1 "$work/expected")"

(cd "$drive_c" && x wine "$build/himekuri.exe" >"$outdir/$tag-second.log" 2>&1 </dev/null) &
second_pid=$!
refusal() { local w; w=$(x xdotool search --onlyvisible --class himekuri.exe 2>/dev/null | grep -vx "$form1" | head -n1); [[ -n $w ]] && echo "$w"; }
if box=$(xs_poll 20 refusal && refusal); then
    shoot refusal >/dev/null
    x xdotool windowactivate --sync "$box" key Return 2>/dev/null
    xs_poll 10 xs_pid_gone "$second_pid" || fail "the second copy did not end after OK"
    second_pid=''
else
    fail "a second copy showed no refusal within 20 s"
fi
window_of 377x440 >/dev/null || fail "the calendar is gone after the second copy"
finish
