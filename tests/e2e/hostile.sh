#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The real program on a machine that fails it.
# usage: hostile.sh BINARY OUTDIR fulldisk|lock
#   fulldisk  the install folder is a full 64 KiB tmpfs: 書き込む shows a
#             message box and de.txt keeps its bytes (needs root to mount).
#   lock      a read-only runtime folder (root) still gives a calendar; a live
#             copy still refuses a second one, which ends after OK.
# Exits 77 (skipped) where mounting is not allowed.
if (($# != 3)) || [[ ! $3 =~ ^(fulldisk|lock)$ ]]; then
    echo "usage: $0 BINARY OUTDIR fulldisk|lock" >&2
    exit 2
fi
[[ -x $1 ]] || { echo "e2e: binary '$1' is not executable" >&2; exit 1; }
binary=$1 mode=$3 tag=hostile-$3
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" faketime
mounts=() second_pid=''
end_at_exit second_pid
on_exit() {
    local m
    xs_end_pid "$app_pid" # not our child: faketime's
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
}
data=$home/Program\ Files/Tesrava
mount_or_skip() { # ARGS...: mount, or end the test as skipped
    if ! mount "$@" 2>"$work/mount.err"; then
        say "SKIPPED: cannot mount here ($(<"$work/mount.err")); run as root to test this"
        exit 77
    fi
    mounts=("${@: -1}" "${mounts[@]}")
}
stop_calendar() {
    xs_end_pid "$app_pid"
    xs_end_pid "$faketime_pid"
    app_pid='' faketime_pid=''
}
calendar_up() { # WHAT SECONDS: Form1 viewable within SECONDS of the start
    if xs_poll "$2" role Form1 >/dev/null; then
        say "$1: the calendar is up"
    else
        fail "$1: no calendar within $2 s"
        describe_program
        shoot "no-calendar-${1// /-}" >/dev/null
    fi
}
no_message_box() { ! message_box "$app_pid" >/dev/null; }

run_fulldisk() {
    local shown
    mkdir -p "$data"
    mount_or_skip -t tmpfs -o size=64k tmpfs "$data"
    before_start() {
        printf 'old message\r\n' >"$data/de.txt"
        cp "$data/de.txt" "$work/de.before"
        dd if=/dev/zero of="$data/filler" bs=1k 2>/dev/null
    }
    start_calendar "$binary" '2002-11-02 10:00:00'
    wait_form1
    wait_painted 1-calendar any || finish
    click_box RichTextBox1
    x xdotool key End type ' and more'
    click_box Command2
    if shown=$(xs_poll 5 message_box "$app_pid" && message_box "$app_pid"); then
        shoot 2-message >/dev/null
        x xdotool windowactivate --sync "$shown" key Return 2>/dev/null
        xs_poll 5 no_message_box || fail "the message box is still up after Return"
    else
        fail "no message box within 5 s of 書き込む on a full disk"
        shoot 2-no-message >/dev/null
    fi
    cmp -s "$work/de.before" "$data/de.txt" ||
        fail "de.txt changed: $(od -c "$data/de.txt" | head -n 3)"
    xs_pid_gone "$app_pid" && fail "the program ended after the failed save"
    ls "$data" | grep -q '\.txt\.' && fail "a temporary file was left: $(ls "$data")"
}

second_copy() { # starts a second calendar beside the first, same user and session
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
        DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb "$binary" >"$outdir/$tag-second.log" 2>&1 </dev/null &
    second_pid=$!
}

run_lock() {
    local refusal status
    if [[ $(id -u) == 0 ]]; then
        mount_or_skip --bind "$runtime" "$runtime"
        mount -o remount,bind,ro "$runtime" || fail "could not make the runtime folder read-only"
        start_calendar "$binary" '2002-11-02 10:00:00'
        calendar_up "read-only runtime folder" 10
        stop_calendar
        umount "$runtime" && mounts=()
    else
        say "read-only runtime folder: not tried (needs root)"
    fi
    start_calendar "$binary" '2002-11-02 10:00:00'
    calendar_up "a start" 10

    second_copy
    if refusal=$(xs_poll 10 message_box "$second_pid" && message_box "$second_pid"); then
        shoot refusal >/dev/null
        x xdotool windowactivate --sync "$refusal" key Return 2>/dev/null
        if xs_poll 5 xs_pid_gone "$second_pid"; then
            wait "$second_pid"
            status=$?
            ((status == 0)) || fail "the refused copy ended with status $status"
        else
            fail "the refused copy did not end after OK"
        fi
        second_pid=''
    else
        fail "a second copy beside a live one showed no refusal within 10 s"
    fi
    role Form1 >/dev/null || fail "the first calendar is gone after the refusal"
}

"run_$mode"
finish
