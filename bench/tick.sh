#!/bin/bash
# What a second of the clock costs: the calendar against the floor, a
# one-label Qt clock (bench_ticker). Each program gets an X server and openbox
# of its own, so that the X server's CPU time is the program's doing.
#   CPU      ms of CPU per minute (user + system) of the program and of its
#            X server, the calendar twice: another window active (daily use)
#            and the calendar active (the box's cursor blinking); medians of
#            RUNS periods of SECONDS after a 10 s warm-up.
#   callgrind instructions per second and per tick over 20 s after a warm-up,
#            the calendar not active; ticks are the calls of Form1::Timer1_Timer
#            and of the ticker's tick().
# Prints figures; judges nothing.
# usage: bench/tick.sh BUILD_DIR [--runs N] [--seconds N] [--no-callgrind]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../scripts/xsession.sh
source "$here/../scripts/xsession.sh"
build=$(cd "${1:?usage: $0 BUILD_DIR [--runs N] [--seconds N] [--no-callgrind]}" && pwd) || exit 1
shift
runs=3 seconds=60 callgrind=1
while (($#)); do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --no-callgrind) callgrind=''; shift ;;
        *) echo "bench: unknown option $1" >&2; exit 2 ;;
    esac
done
for f in himekuri bench/bench_ticker; do
    [[ -x $build/$f ]] || { echo "bench: $build/$f is missing; build it first" >&2; exit 1; }
done
for tool in xdotool xmessage python3 ${callgrind:+valgrind callgrind_control}; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-tick.XXXXXX")
app='' other=''
stop_all() { xs_end_pid "$other"; xs_end_pid "$app"; other='' app=''; xsession_stop; }
trap 'stop_all; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

cpu_ms() { # PID: CPU time so far of all its threads, in ms (the scheduler's own count, in ns)
    cat /proc/"$1"/task/*/schedstat | awk '{ ns += $1 } END { printf "%.1f\n", ns / 1e6 }'
}
x() { DISPLAY=$XS_DISPLAY "$@"; }

# Starts SUBJECT (ticker, calendar) on a fresh desktop; WRAPPER... runs it.
launch() { # SUBJECT WRAPPER...
    local subject=$1 home=$work/home-$RANDOM
    shift
    xsession_start "$work/x" wm || exit 1
    mkdir -p "$home/.local/share/himekuri" "$home/runtime"
    chmod 700 "$home/runtime"
    printf 'N\r\n' >"$home/.local/share/himekuri/or.txt"
    local program=$build/bench/bench_ticker
    [[ $subject == calendar ]] && program=$build/himekuri
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/runtime" TZ=Asia/Tokyo \
        LANG=C.UTF-8 DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb "$@" "$program" \
        >"$work/$subject.log" 2>&1 </dev/null &
    app=$!
}

# Another program's window, active, as while the user works.
activate_other() {
    x xmessage -geometry 300x100+20+500 busy >/dev/null 2>&1 </dev/null &
    other=$!
    local w='' i
    for i in {1..100}; do
        w=$(x xdotool search --onlyvisible --classname xmessage 2>/dev/null | head -n1)
        [[ -n $w ]] && break
        sleep 0.1
    done
    [[ -n $w ]] && x xdotool windowactivate "$w" 2>/dev/null
}
activate_calendar() {
    local w
    w=$(x xdotool search --onlyvisible --role Form1 2>/dev/null | head -n1)
    [[ -n $w ]] && x xdotool windowactivate "$w" 2>/dev/null
}

measure_cpu() { # SUBJECT MODE: prints "program-ms xvfb-ms openbox-ms" per minute
    launch "$1"
    sleep 4 # the splash, and the calendar up
    case $2 in
        inactive) activate_other ;;
        active) activate_calendar ;;
    esac
    sleep 6
    local p0 x0 w0 p1 x1 w1
    p0=$(cpu_ms "$app") x0=$(cpu_ms "$XS_XVFB_PID") w0=$(cpu_ms "$XS_WM_PID")
    sleep "$seconds"
    p1=$(cpu_ms "$app") x1=$(cpu_ms "$XS_XVFB_PID") w1=$(cpu_ms "$XS_WM_PID")
    stop_all
    awk -v s="$seconds" -v a="$p0 $x0 $w0 $p1 $x1 $w1" 'BEGIN {
        split(a, v, " "); f = 60 / s
        printf "%.0f %.0f %.0f\n", (v[4] - v[1]) * f, (v[5] - v[2]) * f, (v[6] - v[3]) * f }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A cpu
echo "CPU per minute, $runs run(s) of $seconds s each after a 10 s warm-up; load now $(cut -d' ' -f1 /proc/loadavg)"
printf '%-4s %-20s %12s %12s %12s\n' run program 'program ms' 'Xvfb ms' 'openbox ms'
for ((r = 1; r <= runs; ++r)); do
    for case in ticker:idle calendar:inactive calendar:active; do
        read -r p xv wm < <(measure_cpu "${case%%:*}" "${case#*:}")
        printf '%-4s %-20s %12s %12s %12s\n' "$r" "$case" "$p" "$xv" "$wm"
        cpu[$case,p]+="$p " cpu[$case,x]+="$xv "
    done
done
for case in ticker:idle calendar:inactive calendar:active; do
    for k in p x; do
        cpu[$case,$k]=$(tr ' ' '\n' <<<"${cpu[$case,$k]}" | grep . | median)
    done
    printf 'median %-20s program %6s ms/min   Xvfb %6s ms/min\n' "$case" "${cpu[$case,p]}" "${cpu[$case,x]}"
done
awk -v a="${cpu[calendar:inactive,p]}" -v b="${cpu[ticker:idle,p]}" -v c="${cpu[calendar:inactive,x]}" \
    -v d="${cpu[ticker:idle,x]}" 'BEGIN { printf "ratio calendar (another window active) / floor: CPU %.2f, Xvfb %.2f\n", a / b, c / d }'

[[ -n $callgrind ]] || exit 0
count() { # SUBJECT FUNCTION: "instructions ticks" over 20 s of callgrind
    local out=$work/callgrind.$1
    launch "$1" valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out"
    sleep 15 # valgrind starts slowly
    [[ $1 == calendar ]] && activate_other
    sleep 5
    callgrind_control -i on "$app" >/dev/null
    sleep 20
    callgrind_control -d "$app" >/dev/null
    sleep 1
    stop_all
    python3 - "$2" "$out".* <<'PY'
import re, sys
name, files = sys.argv[1], sys.argv[2:]
total = ticks = 0
for path in files:
    names, current = {}, None
    for line in open(path, errors="replace"):
        m = re.match(r"(c?fn)=\((\d+)\)(?: (.*))?", line)
        if m:
            if m[3]:
                names[m[2]] = m[3]
            if m[1] == "cfn":
                current = names.get(m[2], "")
            continue
        if line.startswith("calls=") and current is not None and name in current:
            ticks += int(line.split()[0][6:])
        elif re.match(r"(summary|totals): ", line) and line.startswith("summary"):
            total += int(line.split()[1])
print(total, ticks)
PY
}
echo
echo "callgrind, 20 s (the calendar not active):"
read -r ti tt < <(count ticker 'tick(')
read -r ci ct < <(count calendar 'Form1::Timer1_Timer()')
awk -v ti="$ti" -v tt="$tt" -v ci="$ci" -v ct="$ct" 'BEGIN {
    printf "ticker:   %11d instructions, %3d ticks: %8.0f per tick, %9.0f per second\n", ti, tt, ti / (tt ? tt : 1), ti / 20
    printf "calendar: %11d instructions, %3d ticks: %8.0f per tick, %9.0f per second\n", ci, ct, ci / (ct ? ct : 1), ci / 20
    printf "ratio calendar / floor, instructions per second: %.2f\n", (ci / 20) / (ti / 20) }'
