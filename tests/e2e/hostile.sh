#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The real program on a machine that fails it.
# usage: hostile.sh BINARY OUTDIR fulldisk|lock|files|saves [FAULTS_SHIM]
#   fulldisk  a first start in a full 64 KiB tmpfs (root, to mount): the
#             question, いいえ refused aloud, the built-in picture in the pane,
#             書き込む refused aloud and de.txt keeping its bytes.
#   lock      ten copies at once, five times over an empty lock and five over
#             a dead copy's 0444 lock: one calendar each time; a read-only
#             runtime folder, a live copy's lock overwritten with junk: one
#             calendar.
#   files     a FIFO, /dev/zero, a folder and a terabyte at de.txt and dntl.gif,
#             then at or.txt: the calendar is up within 5 s each time, the
#             pane showing the picture built into the program.
#   saves     a save killed before its rename (FAULTS_SHIM): the next start
#             removes what it left and keeps de.txt and the user's de.txt.backup.
# Exits 77 (skipped) where mounting is not allowed.
if (($# < 3)) || [[ ! $3 =~ ^(fulldisk|lock|files|saves)$ ]]; then
    echo "usage: $0 BINARY OUTDIR fulldisk|lock|files|saves [FAULTS_SHIM]" >&2
    exit 2
fi
[[ -x $1 ]] || { echo "e2e: binary '$1' is not executable" >&2; exit 1; }
binary=$(realpath "$1") mode=$3 tag=hostile-$3 shim=${4:-}
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2" faketime
mounts=() copies=()
on_exit() {
    local m
    xs_end_pid "$app_pid" # not our child: faketime's
    end_copies
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
}
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

has_picture() { # NAME: the pane shows a picture (the built-in one, here), not a blank
    analyse "$(shoot "$1")" && ((${box_colours[WebBrowser1]:-0} > 2))
}
dismiss() { # WHAT: the program's message box, answered with Return
    local shown
    if shown=$(xs_poll 5 message_box "$app_pid" && message_box "$app_pid"); then
        shoot "message-${1// /-}" >/dev/null
        x xdotool windowactivate --sync "$shown" key Return 2>/dev/null
        xs_poll 5 no_message_box || fail "$1: the message box is still up after Return"
    else
        fail "$1: no message box within 5 s"
    fi
}

# A first start on a full disk: nothing can be seeded, so the question comes;
# いいえ cannot be stored and says so; the pane shows the built-in picture;
# 書き込む fails with a message and de.txt keeps its bytes.
run_fulldisk() {
    local question
    mkdir -p "$data"
    mount_or_skip -t tmpfs -o size=64k tmpfs "$data"
    before_start() {
        rm -f "$data/or.txt"
        printf 'old message\r\n' >"$data/de.txt"
        cp "$data/de.txt" "$work/de.before"
        dd if=/dev/zero of="$data/filler" bs=1k 2>/dev/null
    }
    start_calendar "$binary" '2002-11-02 10:00:00'
    wait_form1
    if question=$(xs_poll 5 role Form3 && role Form3); then
        geometry "$question"
        x xdotool mousemove $((gx + 200)) $((gy + 76)) click 1 # いいえ
        dismiss "いいえ on a full disk"
    else
        fail "no question at a first start on a full disk"
    fi
    [[ -e $data/or.txt ]] && fail "or.txt was left: $(od -c "$data/or.txt" | head -n 2)"
    [[ -e $data/dntl.gif ]] && fail "dntl.gif was left on a full disk"
    xs_poll 5 has_picture 1-picture || fail "the pane shows no picture"
    click_box RichTextBox1
    x xdotool key End type ' and more'
    click_box Command2
    dismiss "書き込む on a full disk"
    cmp -s "$work/de.before" "$data/de.txt" ||
        fail "de.txt changed: $(od -c "$data/de.txt" | head -n 3)"
    xs_pid_gone "$app_pid" && fail "the program ended after the failed save"
    ls -A "$data" | grep -q 'himekuri-' && fail "a temporary file was left: $(ls -A "$data")"
}

# Copies of the calendar, started at once with the same HOME and session.
start_copies() { # COUNT [WRAPPER...]: sets copies[]
    local i count=$1
    shift
    for ((i = 0; i < count; i++)); do
        env -i PATH=/usr/bin:/bin HOME="$home" ${runtime:+XDG_RUNTIME_DIR="$runtime"} LANG=C.UTF-8 \
            DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb "$@" "$binary" >/dev/null 2>&1 </dev/null &
        copies+=($!)
    done
}
end_copies() {
    local pid
    for pid in "${copies[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    for pid in "${copies[@]}"; do wait "$pid" 2>/dev/null; done
    copies=()
}
# How the copies came out: "calendars refusals" once each has its splash,
# calendar or message box up (a window of the copy's without a form's role).
copy_outcome() {
    local pid calendars=0 refusals=0 windows
    windows=$(x python3 "$helper" clients) || return 1
    for pid in "${copies[@]}"; do
        if grep -Eq "^$pid Form[12]\$" <<<"$windows"; then
            ((calendars += 1))
        elif grep -q "^$pid -\$" <<<"$windows"; then
            ((refusals += 1))
        else
            sleep 0.2 # a start takes a while: fewer looks, each a process
            return 1
        fi
    done
    echo "$calendars $refusals"
}
one_calendar() { # WHAT [CALENDARS]: of the copies just started, exactly one (or CALENDARS) runs
    local outcome want="${2:-1} $((${#copies[@]} - ${2:-1}))"
    if ! xs_poll 30 copy_outcome >/dev/null || ! outcome=$(copy_outcome); then
        fail "$1: not every copy showed a window within 30 s"
    elif [[ $outcome != "$want" ]]; then
        fail "$1: calendars and refusals: $outcome, expected $want"
        shoot "copies-${1// /-}" >/dev/null
    else
        say "$1: $outcome (calendars, refusals)"
    fi
    end_copies
}

run_lock() {
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
    start_copies 1
    one_calendar "a second copy beside a live one" 0 # the live one is not among the copies
    # Its lock overwritten with junk while it runs: still one calendar.
    head -c 300 /dev/urandom >"$runtime/himekuri.lock"
    start_copies 1
    one_calendar "junk over a live copy's lock" 0
    role Form1 >/dev/null || fail "the first calendar is gone after the refusals"
    stop_calendar

    local run lock=$runtime/himekuri.lock
    for run in 1 2 3 4 5; do
        rm -rf "$lock" && : >"$lock"
        start_copies 10
        one_calendar "10 at once over an empty lock, run $run"
        rm -f "$lock" && printf '4194305\nhimekuri\nvm\n' >"$lock" && chmod 0444 "$lock"
        start_copies 10
        one_calendar "10 at once over a 0444 dead lock, run $run"
    done
}

# Each kind of thing that is not a file stands at de.txt and dntl.gif (with
# or.txt saying N, so that the picture is shown), then at or.txt; the
# calendar is up within 5 s.
run_files() {
    local kind file
    for kind in fifo zero folder huge; do
        for file in 'de.txt dntl.gif' or.txt; do
            rm -rf "$data" && mkdir -p "$data"
            before_start() {
                local f
                for f in $file; do
                    rm -rf "${data:?}/$f"
                    case $kind in
                    fifo) mkfifo "$data/$f" ;;
                    zero) ln -s /dev/zero "$data/$f" ;;
                    folder) mkdir "$data/$f" ;;
                    huge) truncate -s 1T "$data/$f" ;;
                    esac
                done
            }
            start_calendar "$binary" '2002-11-02 10:00:00'
            calendar_up "a $kind at ${file// / and }" 5
            wait_form1
            [[ $file == or.txt ]] || xs_poll 5 has_picture "$kind" || fail "a $kind at dntl.gif: no picture in the pane"
            stop_calendar
        done
    done
}

run_saves() {
    [[ -n $shim ]] || { say "a save killed before its rename: not tried (no shim given)"; return; }
    mkdir -p "$data"
    printf 'old message\r\n' >"$data/de.txt"
    printf 'mine\r\n' >"$data/de.txt.backup"
    session_env=(QT_QPA_PLATFORM=xcb LD_PRELOAD="$shim" HIMEKURI_FAULTS=rename=KILL)
    start_calendar "$binary" '2002-11-02 10:00:00'
    wait_form1
    click_box RichTextBox1
    x xdotool type ' and more'
    click_box Command2
    xs_poll 5 xs_pid_gone "$app_pid" || fail "the save was not killed at its rename"
    stop_calendar
    session_env=(QT_QPA_PLATFORM=xcb)
    ls -A "$data" | grep -q '^\.de\.txt\.himekuri-' || fail "the killed save left nothing to clean up: $(ls -A "$data")"
    start_calendar "$binary" '2002-11-02 10:00:00'
    wait_form1
    ls -A "$data" | grep -q '^\.de\.txt\.himekuri-' && fail "the start kept what the killed save left: $(ls -A "$data")"
    [[ $(cat "$data/de.txt") == $'old message\r' ]] || fail "de.txt changed: $(od -c "$data/de.txt" | head -n 2)"
    [[ -f $data/de.txt.backup ]] || fail "the start removed the user's de.txt.backup"
}

"run_$mode"
finish
