#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The Windows build under Wine, on its own Xvfb + openbox:
#   - the Windows unit tests (the code page through Windows itself, stacking,
#     the install folder on a drive and on a network share, the pane's
#     web-browser control, the session mutex, a save on a full disk);
#   - the .exe as Windows expects it: version resource, asInvoker manifest;
#   - the installer, silent: the program, licence and notices in
#     C:\Program Files\Tesrava, the Start-menu and Startup shortcuts (target,
#     working folder), the uninstall key and its values, the Users group's
#     modify rights asked of icacls by SID (a stand-in records the call:
#     Wine has no access lists);
#   - the installed program started as its shortcut starts it, at 10:00 on
#     Sunday 3 November 2002 (Culture Day): the splash, the calendar at its
#     place in red, only a killed save's leftover removed, a line with ① ～ ＼
#     saved as the right Shift-JIS bytes, Qt's own menu in Japanese, a second
#     copy refused; while it runs the uninstaller changes nothing;
#   - a second install over the first keeps de.txt; the silent uninstall
#     removes program, shortcuts and key and keeps de.txt byte for byte;
#   - where C:\Program Files cannot be written (root: a read-only mount), the
#     portable zip's program says so, naming the folder, and runs all the
#     same, and the installer changes nothing; on a full disk (root: a small
#     tmpfs) 書き込む says so and de.txt keeps its bytes.
# usage: windows.sh BUILD_WINDOWS_DIR OUTDIR
if (($# != 2)); then
    echo "usage: $0 BUILD_WINDOWS_DIR OUTDIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 1
version=$("$(dirname "${BASH_SOURCE[0]}")/../../scripts/version.sh")
setup=$build/himekuri-$version-setup.exe zip=$build/himekuri-$version-win64.zip
for file in himekuri.exe tst_datafiles.exe tst_windows.exe icacls_standin.exe "${setup##*/}" "${zip##*/}"; do
    [[ -f $build/$file ]] || { echo "e2e: $build/$file is missing: run scripts/windows/build.sh" >&2; exit 1; }
done
tag=windows
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" wine wineboot wineserver faketime exiftool
second_pid='' mounts=()
end_at_exit second_pid
on_exit() {
    local m
    WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
}
# A prefix of the test's own; no Mono or Gecko to install (nothing can be
# downloaded here, and the pane must do without them).
# Our icacls stands in for Wine's own, which would otherwise run instead.
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;icacls.exe=n'
x wineboot -i >/dev/null 2>&1 || { fail "could not make a Wine prefix"; finish; }
drive_c=$WINEPREFIX/drive_c data=$WINEPREFIX/drive_c/Program\ Files/Tesrava
install='C:\Program Files\Tesrava'

# A full disk for the save's failure, a network share for the install folder.
full=$work/full
mkdir -p "$full" && mount -t tmpfs -o size=64k tmpfs "$full" && mounts+=("$full") ||
    fail "could not mount a small disk"
printf 'old\r\n' >"$full/de.txt"
dd if=/dev/zero of="$full/filler" bs=1k 2>/dev/null
mkdir -p "$WINEPREFIX/dosdevices/unc/calendarhost" "$work/share/a/b"
ln -s "$work/share" "$WINEPREFIX/dosdevices/unc/calendarhost/share"
export HIMEKURI_FULL_FOLDER="Z:$full" HIMEKURI_SHARE=//calendarhost/share
for test in tst_datafiles tst_windows; do
    x timeout 120 wine "$build/$test.exe" -o "$work/$test.txt,txt" >/dev/null 2>&1
    if grep -q '^Totals: [0-9]* passed, 0 failed' "$work/$test.txt" 2>/dev/null; then
        say "$test.exe: $(grep '^Totals' "$work/$test.txt")"
    else
        fail "$test.exe under Wine: $(grep -E '^(FAIL|Totals)|Loc:' "$work/$test.txt" 2>/dev/null || echo 'no result')"
    fi
done
umount "$full" && mounts=()

# --- the .exe ---------------------------------------------------------------
resource=$(exiftool -s -FileDescription -CompanyName -ProductVersion -FileVersionNumber "$build/himekuri.exe")
for want in "FileDescription *: 日めくりカレンダー" "CompanyName *: Tesrava" "ProductVersion *: $version" \
    "FileVersionNumber *: $version.0"; do
    grep -Eq "^$want\$" <<<"$resource" || fail "the version resource lacks '$want': $resource"
done
manifest=$(grep -ao '<requestedExecutionLevel level="[a-zA-Z]*"' "$build/himekuri.exe")
[[ $manifest == *asInvoker* ]] || fail "no asInvoker manifest in himekuri.exe: $manifest"
grep -aq 'PerMonitorV2' "$build/himekuri.exe" || fail "the manifest does not ask for per-monitor DPI"

# --- install -----------------------------------------------------------------
# The uninstall key's values as .reg lines ("Name"=...), read back as UTF-8.
uninstall_key() {
    rm -f "$drive_c/key.reg"
    x wine reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\himekuri' 'C:\key.reg' /y \
        >/dev/null 2>&1 && iconv -f UTF-16 -t UTF-8 "$drive_c/key.reg" | tr -d '\r'
}
# As QuietUninstallString says; the uninstaller runs on as a copy of itself
# in the temporary folder, so that it can remove itself: waited for.
uninstaller_gone() { ! pgrep -f '~nsu[^ ]*\.tmp' >/dev/null; }
uninstall() {
    x wine "$install\\Uninstall.exe" /S >/dev/null 2>&1
    xs_poll 30 uninstaller_gone || fail "the uninstaller did not end within 30 s"
}
start_menu=$drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/日めくりカレンダー.lnk
cp "$build/icacls_standin.exe" "$drive_c/windows/system32/icacls.exe"
x wine "$setup" /S >"$work/setup.log" 2>&1 || fail "the silent install failed ($?)"
startup=$(find "$drive_c/users" -ipath '*/Start Menu/Programs/Startup' -type d 2>/dev/null | grep -v Public | head -n 1)/日めくりカレンダー.lnk
for file in himekuri.exe LICENSE.txt THIRD-PARTY.md Uninstall.exe; do
    [[ -f $data/$file ]] || fail "the install lacks $file"
done
cmp -s "$build/himekuri.exe" "$data/himekuri.exe" || fail "the installed himekuri.exe is not the one built"
for link in "$start_menu" "$startup"; do
    if [[ -f $link ]]; then
        shortcut=$(python3 "$helper" lnk "$link")
        grep -qixF "target=$install\\himekuri.exe" <<<"$shortcut" && grep -qixF "workdir=$install" <<<"$shortcut" ||
            fail "${link##*/Microsoft/Windows/} starts the wrong thing: $(tr '\n' ' ' <<<"$shortcut")"
    else
        fail "no shortcut ${link##*/Microsoft/Windows/}"
    fi
done
key=$(uninstall_key)
for line in '"DisplayName"="日めくりカレンダー"' "\"DisplayVersion\"=\"$version\"" '"Publisher"="Tesrava"' \
    '"DisplayIcon"="C:\\Program Files\\Tesrava\\himekuri.exe,0"' \
    '"UninstallString"="\"C:\\Program Files\\Tesrava\\Uninstall.exe\""' \
    '"QuietUninstallString"="\"C:\\Program Files\\Tesrava\\Uninstall.exe\" /S"' \
    '"NoModify"=dword:00000001' '"NoRepair"=dword:00000001'; do
    grep -qxF "$line" <<<"$key" || fail "the uninstall key lacks $line"
done
grep -qx '"EstimatedSize"=dword:[0-9a-f]*' <<<"$key" || fail "the uninstall key has no EstimatedSize"
grep -qF "\"$install\" /grant *S-1-5-32-545:(OI)(CI)M" "$drive_c/icacls-calls.txt" 2>/dev/null ||
    fail "icacls was not asked for the Users group's rights: $(cat "$drive_c/icacls-calls.txt" 2>&1)"
say "installed: program, shortcuts, uninstall key, icacls $(head -c 80 "$drive_c/icacls-calls.txt")"

# --- the installed program, started as its shortcut starts it ----------------
printf 'N\r\n' >"$data/or.txt"
printf '\x87\x40\x81\x60\x81\x5f\r\n' >"$data/de.txt"
# What a killed save leaves, and a copy of the user's own that only looks like it.
printf 'cut short' >"$data/.de.txt.himekuri-Ab12Cd"
printf 'mine\r\n' >"$data/de.txt.backup"
log=$outdir/$tag-program.log
(cd "$data" && x env TZ=UTC NO_FAKE_STAT=1 FAKETIME_DONT_RESET=1 \
    faketime -f '@2002-11-03 10:00:00' wine "$install\\himekuri.exe" >"$log" 2>&1 </dev/null) &
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

# Qt's own menu of the edit box, in Japanese: a look for the eye.
click_box RichTextBox1 3
other_window() { x xdotool search --onlyvisible --class himekuri.exe 2>/dev/null | grep -vx "$form1" | head -n1 | grep .; }
xs_poll 5 other_window >/dev/null && shoot edit-menu >/dev/null || fail "no menu on a right click in the box"
x xdotool key Escape

(cd "$drive_c" && x wine "$install\\himekuri.exe" >"$outdir/$tag-second.log" 2>&1 </dev/null) &
second_pid=$!
if box=$(xs_poll 20 other_window && other_window); then
    shoot refusal >/dev/null
    x xdotool windowactivate --sync "$box" key Return 2>/dev/null
    xs_poll 10 xs_pid_gone "$second_pid" || fail "the second copy did not end after OK"
    second_pid=''
else
    fail "a second copy showed no refusal within 20 s"
fi
window_of 377x440 >/dev/null || fail "the calendar is gone after the second copy"

# The uninstaller while the calendar runs: nothing half-removed.
uninstall
[[ -f $data/himekuri.exe && -n $(uninstall_key) && -f $start_menu ]] ||
    fail "the refused uninstall removed something"
xs_end_pid "$app_pid"
app_pid=''
x wineserver -k # the calendar's Windows process with it

# --- over and out ------------------------------------------------------------
x wine "$setup" /S >/dev/null 2>&1 || fail "the second install failed"
cmp -s "$data/de.txt" "$work/expected" || fail "the second install changed de.txt"
uninstall
for file in himekuri.exe LICENSE.txt THIRD-PARTY.md Uninstall.exe; do
    [[ -e $data/$file ]] && fail "the uninstall left $file"
done
[[ -e $start_menu || -e $startup ]] && fail "the uninstall left a shortcut"
[[ -n $(uninstall_key) ]] && fail "the uninstall left its key"
cmp -s "$data/de.txt" "$work/expected" || fail "the uninstall took or changed de.txt"
[[ -f $data/or.txt ]] || fail "the uninstall took or.txt"

# --- where Program Files cannot be written ----------------------------------
if [[ $(id -u) != 0 ]]; then
    say "a read-only Program Files: not tried (needs root to mount)"
    finish
fi
rm -rf "$data"
mount --bind -o ro "$drive_c/Program Files" "$drive_c/Program Files" && mounts=("$drive_c/Program Files") ||
    { fail "could not make Program Files read-only"; finish; }
mkdir -p "$drive_c/portable" && (cd "$drive_c/portable" && python3 -m zipfile -e "$zip" .)
portable=C:\\portable\\himekuri-$version-win64\\himekuri.exe
(cd "$drive_c/portable" && x wine "$portable" >"$outdir/$tag-portable.log" 2>&1 </dev/null) &
app_pid=$!
if told=$(xs_poll 20 window_of 377x440 >/dev/null && xs_poll 10 other_window && other_window); then
    shoot portable-read-only >/dev/null
    x xdotool windowactivate --sync "$told" key Return 2>/dev/null
    say "the portable program says it cannot write there"
else
    fail "the portable program said nothing of a folder it cannot write"
fi
window_of 377x440 >/dev/null || fail "the portable program does not run on"
xs_end_pid "$app_pid"
app_pid=''
x wineserver -k
x wine "$setup" /S >/dev/null 2>&1 && fail "the install into a read-only Program Files reported success"
[[ -n $(uninstall_key) || -e $start_menu || -e $startup ]] && fail "the failed install changed something"

# --- a full disk: 書き込む says so, in Windows' words, and keeps de.txt ---------
umount "$drive_c/Program Files" && mounts=()
mkdir -p "$data" && mount -t tmpfs -o size=64k tmpfs "$data" && mounts=("$data") ||
    { fail "could not mount a small disk"; finish; }
printf 'N\r\n' >"$data/or.txt"
printf 'old\r\n' >"$data/de.txt"
dd if=/dev/zero of="$data/filler" bs=1k 2>/dev/null
(cd "$drive_c" && x wine "$build/himekuri.exe" >"$outdir/$tag-full.log" 2>&1 </dev/null) &
app_pid=$!
if form1=$(xs_poll 20 window_of 377x440); then
    geometry "$form1"
    ox=$((gx + frame)) oy=$((gy + frame))
    click_box RichTextBox1
    x xdotool type --delay 40 'new'
    click_box Command2
    if xs_poll 10 other_window >/dev/null; then
        shoot full-disk >/dev/null
    else
        fail "no message on a full disk"
    fi
    [[ $(cat "$data/de.txt") == $'old\r' ]] || fail "the full disk changed de.txt: $(od -c "$data/de.txt" | head -n 2)"
else
    fail "no calendar on a full disk"
fi
finish
