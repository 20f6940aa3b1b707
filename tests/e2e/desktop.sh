#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The calendar on the desktops its users have.
# usage: desktop.sh BINARY OUTDIR place-800x600|place-1024x768|place-scaled|typing|input|drag|fonts
#   place-*  the whole calendar, undecorated, lies on a 640x480 and an
#            800x600 screen and on a 1920x1080 one at QT_SCALE_FACTOR=2,
#            moved the least distance, and so does the splash with its
#            frame; on 1024x768 it is at its designed place.
#   typing   in a (pretend) Wayland session: right after the start the
#            calendar is active and typing reaches the box, before the line
#            read from de.txt (①～＼); 書き込む stores both in Shift-JIS; Qt's
#            Japanese texts are loaded; the banners hand their addresses to a
#            slow browser, which gets neither QT_QPA_PLATFORM nor QT_NO_GLIB,
#            while the clock keeps going; 閉じる ends the program with status 0.
#   drag     a drag on the page's background moves the window by the drag's
#            distance, and the place stands after midnight; the new page does
#            not take the keyboard from the program the user is in.
#   screens  a panel that comes at the right edge moves the page out from
#            under it at once; the page goes back when it goes.
#   display  without DISPLAY, or with one nobody serves, the program ends
#            with status 1 and a word in Japanese and English; with
#            QT_QPA_PLATFORM=wayland it runs on X11; when its display goes
#            away it ends with a word and no core.
#   input    through fcitx5 and mozc: romaji typed into the box shows its
#            reading there with mozc's window at the box, space converts,
#            Return commits, 書き込む stores 日本 in Shift-JIS.
#   fonts    in IPA, Noto Sans CJK JP alone, Noto Sans and Serif, VL Gothic
#            and Takao, each alone, the page is drawn (screenshots to look at);
#            with no Japanese font at all the calendar still starts and says
#            on stderr which package to install.
modes='place-640x480|place-800x600|place-1024x768|place-scaled|typing|input|drag|fonts|screens|display'
if (($# != 3)) || [[ ! $3 =~ ^($modes)$ ]]; then
    echo "usage: $0 BINARY OUTDIR $modes" >&2
    exit 2
fi
[[ -x $1 ]] || { echo "e2e: binary '$1' is not executable" >&2; exit 1; }
binary=$1 mode=$3 tag=desktop-$3
case $mode in
    place-640x480) export XS_SCREEN=640x480x24 ;;
    place-800x600) export XS_SCREEN=800x600x24 ;;
    place-scaled) export XS_SCREEN=1920x1080x24 ;;
esac
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" faketime xmessage
other_pid=''
end_at_exit other_pid

# The splash with its window manager's frame, all of it on the screen.
splash_whole_on() { # SCREEN-W SCREEN-H
    local splash l r t b
    splash=$(role Form2) || return 1
    geometry "$splash"
    IFS=', ' read -r l r t b < <(x xprop -id "$splash" _NET_FRAME_EXTENTS 2>/dev/null | sed 's/.*= //')
    [[ -n $b ]] && ((gx - l >= 0 && gy - t >= 0 && gx + gw + r <= $1 && gy + gh + b <= $2))
}

run_place() { # SCREEN-W SCREEN-H EXPECTED-X,Y
    expect_place=$3
    start_calendar "$binary" '2002-11-03 10:00:00'
    xs_poll 5 splash_whole_on "$1" "$2" ||
        fail "the splash's frame does not lie on the $1x$2 screen: ${gw}x$gh at $gx,$gy, frame $(x xprop -id "$(role Form2)" _NET_FRAME_EXTENTS 2>&1)"
    wait_form1
    ((gx >= 0 && gy >= 0 && gx + gw <= $1 && gy + gh <= $2)) ||
        fail "Form1 (${gw}x$gh at $gx,$gy) does not lie on the $1x$2 screen"
    extents=$(x xprop -id "$form1" _NET_FRAME_EXTENTS 2>/dev/null)
    [[ $extents != *=* || ${extents#*= } == "0, 0, 0, 0" ]] ||
        fail "the window manager decorates Form1 ($extents)"
    wait_painted calendar any
}

active_is() { [[ $(x xprop -root _NET_ACTIVE_WINDOW 2>/dev/null) == *" $(printf 0x%x "$1")" ]]; }
saved() { cmp -s "$data/de.txt" "$work/expected"; }

run_input() {
    mkdir -p "$home/.config/fcitx5" "$runtime" "$data"
    printf '[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=mozc\n[Groups/0/Items/0]\nName=keyboard-us
[Groups/0/Items/1]\nName=mozc\n[GroupOrder]\n0=Default\n' >"$home/.config/fcitx5/profile"
    if ((EUID == 0)); then # mozc serves no root
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        chmod o+x "$work" && chown -R nobody:nogroup "$home" "$runtime"
    fi
    # The bus, fcitx5 and mozc's server: all that runs with this HOME.
    on_exit() { grep -lsz "^HOME=$home\$" /proc/[0-9]*/environ | cut -d/ -f3 | xargs -r kill; }
    local bus l t w h
    bus=$("${as_user[@]}" env -i HOME="$home" dbus-daemon --session --fork --print-address=1)
    session_env=(QT_QPA_PLATFORM=xcb QT_IM_MODULE=fcitx XMODIFIERS=@im=fcitx DBUS_SESSION_BUS_ADDRESS="$bus")
    "${as_user[@]}" env -i HOME="$home" XDG_RUNTIME_DIR="$runtime" DISPLAY="$XS_DISPLAY" "${session_env[@]}" \
        fcitx5 -d --disable=wayland >"$outdir/$tag-fcitx5.log" 2>&1
    start_calendar "$binary" '2002-11-02 10:00:00'
    wait_form1
    click_box RichTextBox1
    x xdotool key ctrl+space
    sleep 1
    x xdotool type --delay 100 nihon
    IFS=, read -r l t w h <<<"${box[RichTextBox1]}"
    at_box() { geometry "$(x xdotool search --onlyvisible --class fcitx | head -n1)" &&
        ((gx >= ox + l && gx < ox + l + w && gy >= oy + t && gy < oy + t + h + 40)); }
    xs_poll 5 at_box || fail "no window of the input method opened at the box"
    shoot preedit >/dev/null
    x xdotool key space
    sleep 1
    x xdotool key Return
    click_box Command2
    printf '\x93\xfa\x96\x7b\r\n' >"$work/expected"
    xs_poll 5 saved || fail "de.txt holds $(od -An -tx1 "$data/de.txt" 2>&1), expected 日本 in Shift-JIS"
}

run_typing() {
    # A slow browser. faketime waits for all that holds its pipe, which the
    # program's children inherit: the stand-in lets go of every inherited
    # descriptor, so that faketime reports the program's own end at once.
    mkdir "$work/bin"
    cat >"$work/bin/xdg-open" <<EOF
#!/bin/bash
env >'$work/opener-env'
printf '%s\n' "\$*" >>'$work/opened'
echo \$\$ >>'$work/opener-pids'
closers=
for fd in /proc/\$\$/fd/*; do fd=\${fd##*/}; ((fd > 2)) && closers+=" \$fd>&-"; done
eval "exec sleep 8 \$closers"
EOF
    chmod +x "$work/bin/xdg-open"
    # A Wayland session that also offers X11: nothing tells the calendar which.
    session_env=(WAYLAND_DISPLAY=wayland-himekuri-e2e)
    # A line of the board in Shift-JIS; the cursor waits at its start.
    before_start() { printf '\x87\x40\x81\x60\x81\x5f\r\n' >"$data/de.txt"; }
    start_calendar "$binary" '2002-11-02 10:00:00' "$work/bin"
    wait_form1
    xs_poll 5 active_is "$form1" || fail "Form1 is not the active window after the start ($(x xprop -root _NET_ACTIVE_WINDOW))"
    grep -qs '/qtbase_ja\.qm$' "/proc/$app_pid/maps" || fail "Qt's Japanese texts (qtbase_ja.qm) are not loaded"

    x xdotool type --delay 40 'Hello '
    click_box Command2
    printf 'Hello \x87\x40\x81\x60\x81\x5f\r\n' >"$work/expected"
    xs_poll 5 saved || fail "de.txt holds $(od -An -tx1 "$data/de.txt" 2>&1), expected $(od -An -tx1 "$work/expected")"

    click_box RichTextBox1 3
    sleep 0.5
    shoot box-menu >/dev/null
    x xdotool key Escape

    click_box Image2
    click_box Image3
    opened() { [[ $(paste -sd' ' "$work/opened" 2>/dev/null) == "$1" ]]; }
    xs_poll 10 opened 'http://www.example.com/ http://www.example.com/bbs/pt.cgi?room=himekuri' ||
        fail "the banners did not hand their addresses to xdg-open ($(paste -sd' ' "$work/opened" 2>/dev/null))"
    grep -qE '^QT_(QPA_PLATFORM|NO_GLIB)=' "$work/opener-env" &&
        fail "the browser was started with $(grep -E '^QT_(QPA_PLATFORM|NO_GLIB)=' "$work/opener-env")"
    grep -q '^WAYLAND_DISPLAY=wayland-himekuri-e2e$' "$work/opener-env" ||
        fail "the browser did not get the session's WAYLAND_DISPLAY"
    clock_ticked
    xs_poll 5 clock_ticked || fail "the clock stood still while the browser was busy"

    # Ends at once, without saving what was typed since.
    click_box RichTextBox1
    x xdotool type --delay 40 'never saved'
    click_box Command1
    if xs_poll 10 xs_pid_gone "$faketime_pid"; then
        wait "$faketime_pid"
        status=$?
        faketime_pid='' app_pid=''
        ((status == 0)) || fail "the program ended with status $status after 閉じる"
        saved || fail "閉じる saved what was typed: $(od -An -tx1 "$data/de.txt")"
    else
        fail "the program did not end within 10 s of a click on 閉じる"
    fi
}
on_exit() { # the stand-ins were started detached by the program: not our children
    local pid
    while read -r pid; do
        [[ $(tr '\0' ' ' <"/proc/$pid/cmdline") == "sleep "* ]] && kill -KILL "$pid"
    done 2>/dev/null <"$work/opener-pids"
}

new_page() { # sets form1 once a page other than OLD is viewable
    local w
    w=$(role Form1) && [[ $w != "$1" ]] && form1=$w
}

run_drag() {
    local from_x from_y old
    expect_place=''
    start_calendar "$binary" '2002-12-31 23:59:45'
    wait_form1
    wait_painted 1-before any || finish
    # Below 月, on the background: labels let the pointer through to it.
    from_x=$((ox + 120)) from_y=$((oy + 200))
    # At a hand's pace: the window manager takes the move over from the press.
    x xdotool mousemove "$from_x" "$from_y" mousedown 1 sleep 0.2 mousemove $((from_x - 150)) $((from_y + 40)) \
        sleep 0.2 mousemove $((from_x - 300)) $((from_y + 100)) sleep 0.2 mouseup 1
    dropped_at() { geometry "$form1" && [[ $gx,$gy == "$1" ]]; }
    xs_poll 3 dropped_at 346,100 || fail "dragged by -300,+100 from 646,0, Form1 is at $gx,$gy"
    shoot 2-dragged >/dev/null
    # The user goes on in another program across midnight.
    x xmessage -geometry 200x100+20+500 typing >/dev/null 2>&1 </dev/null &
    other_pid=$!
    xs_poll 10 find_other || fail "the other program's window did not appear"
    x xdotool windowactivate "$other" 2>/dev/null
    xs_poll 5 active_is "$other" || fail "the other program's window could not be activated"
    old=$form1
    if ! xs_poll 25 new_page "$old"; then
        fail "no new page after midnight"
        finish
    fi
    geometry "$form1"
    ox=$((gx + frame)) oy=$((gy + frame))
    [[ $gx,$gy == 346,100 ]] || fail "after midnight the new page is at $gx,$gy, not where it was dropped (346,100)"
    wait_painted 3-after-midnight red
    active_is "$other" || fail "the new page took the keyboard from the active program ($(x xprop -root _NET_ACTIVE_WINDOW))"
}
find_other() { other=$(x xdotool search --onlyvisible --classname xmessage 2>/dev/null | head -n1); [[ -n $other ]]; }

# The page in each Japanese face it may be drawn in, each alone with DejaVu
# (screenshots to look at), and with none at all.
run_fonts() {
    local face dirs base=("${session_env[@]}")
    mkdir -p "$work/fonts"
    for face in none ipa:opentype/ipafont-gothic,opentype/ipafont-mincho noto-sans:opentype/noto \
        noto-sans-serif:opentype/noto vl-gothic:truetype/vlgothic takao:truetype/takao-gothic,truetype/takao-mincho; do
        dirs=${face#*:}
        {
            printf '<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir>'
            [[ $face == none ]] || printf '<dir>/usr/share/fonts/%s</dir>' ${dirs//,/ }
            [[ $face == noto-sans:* ]] && printf '<selectfont><rejectfont><glob>*NotoSerif*</glob></rejectfont></selectfont>'
            printf '<cachedir>%s</cachedir></fontconfig>\n' "$work/fonts"
        } >"$work/fonts/${face%%:*}.conf"
        session_env=("${base[@]}" FONTCONFIG_FILE="$work/fonts/${face%%:*}.conf")
        start_calendar "$binary" '2002-11-28 10:00:00'
        wait_form1
        wait_painted "face-${face%%:*}" any
        [[ $face != none ]] || grep -q 'no Japanese font.*fonts-ipafont' "$log" ||
            fail "nothing on stderr names the package of the missing fonts"
        xs_end_pid "$app_pid"
        xs_end_pid "$faketime_pid"
    done
}

# A panel that comes along the right edge after the calendar: the page moves
# out from under it at once, and goes back when it goes.
run_screens() {
    local panel_pid
    start_calendar "$binary" '2002-11-03 10:00:00'
    wait_form1
    DISPLAY=$XS_DISPLAY python3 "$helper" panel 200 &
    panel_pid=$!
    right_of_panel() { geometry "$form1" && ((gx + gw <= 824 && gy == 0)); }
    xs_poll 3 right_of_panel || fail "with a panel 200 wide at the right the page stays at $gx,$gy"
    shoot panel >/dev/null
    kill "$panel_pid" && wait "$panel_pid" 2>/dev/null
    back() { geometry "$form1" && [[ $gx,$gy == 646,0 ]]; }
    xs_poll 3 back || fail "the panel gone, the page stays at $gx,$gy"
}

# Without a display the program ends with a word, in Japanese and English;
# when its display goes away, it ends with a word and no core.
run_display() {
    local status
    env -i PATH=/usr/bin:/bin HOME="$home" "$binary" >/dev/null 2>"$work/none.txt"
    status=$?
    ((status == 1)) && grep -q 'X ディスプレイがありません' "$work/none.txt" && grep -q 'no X display' "$work/none.txt" ||
        fail "without DISPLAY: status $status, said: $(cat "$work/none.txt")"
    env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY=:99 "$binary" >/dev/null 2>"$work/gone.txt"
    status=$?
    ((status == 1)) && grep -q 'Cannot connect to the X display :99' "$work/gone.txt" ||
        fail "with DISPLAY=:99 (none): status $status, said: $(cat "$work/gone.txt")"
    # Wherever the user's environment points Qt, the calendar runs on X11.
    session_env=(QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=wayland-himekuri-e2e)
    start_calendar "$binary" '2002-11-03 10:00:00'
    wait_form1
    xsession_stop
    if xs_poll 10 xs_pid_gone "$app_pid"; then
        wait "$faketime_pid"
        status=$?
        ((status > 0 && status < 128)) || fail "the program ended with status $status when its display went"
        grep -qi 'X11 connection broke' "$log" || fail "nothing said on stderr when the display went: $(tail -n 3 "$log")"
    else
        fail "the program runs on with its display gone"
    fi
}

case $mode in
    place-640x480) run_place 640 480 263,0 ;;
    place-800x600) run_place 800 600 423,0 ;;
    place-1024x768) run_place 1024 768 646,0 ;;
    place-scaled)
        session_env+=(QT_SCALE_FACTOR=2)
        # 960x540 at scale 2: 583,0 in the calendar's pixels, 1166,0 on the screen
        run_place 1920 1080 1166,0
        ;;
    *) "run_$mode" ;;
esac
finish
