#!/bin/bash
# Runs a benchmark against an existing build; builds nothing.
#
# usage: bench/run.sh [BUILD_DIR] [--runs N] [--warmup N] [--settle-ms MS] [--timeout-ms MS] [--hostile]
#        bench/run.sh [BUILD_DIR] clock [--seconds N] [--warmup-seconds N]
#        bench/run.sh [BUILD_DIR] pane [--rest-seconds N] [--wakes N]
# BUILD_DIR defaults to build/ beside bench/. The options go to the driver.
# The pane benchmark runs in a network of its own (root or user namespaces),
# where www.example.net is this machine and a python http.server serves the
# calendar's page.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../scripts/xsession.sh source-path=SCRIPTDIR
source "$here/../scripts/xsession.sh"

build=$here/../build
if (($# > 0)) && [[ $1 != --* && $1 != clock && $1 != pane ]]; then
    build=$1
    shift
fi
dir=$(cd "$build" 2>/dev/null && pwd) || { echo "bench: no build directory '$build'" >&2; exit 1; }
build=$dir
mode=startup
if (($# > 0)) && [[ $1 == clock || $1 == pane ]]; then
    mode=$1
    shift
fi

case $mode in
startup) needs=(himekuri bench/bench_minimal bench/bench_startup) ;;
clock) needs=(himekuri bench/bench_ticker bench/bench_clock) ;;
pane) needs=(himekuri himekuri-web bench/bench_webview bench/bench_pane) ;;
esac
for f in "${needs[@]}"; do
    [[ -x $build/$f ]] || { echo "bench: $build/$f is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-bench-x.XXXXXX")
driver=''
# The driver, told to end, ends the programs it started.
trap 'xs_end_pid "$driver"; xsession_stop; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The start-up benchmark without a window manager: top-level maps reach the
# root window directly. The others with openbox: the calendar asks the
# window manager to restack it at every paint, and that traffic belongs in
# the figures.
wm=wm
[[ $mode == startup ]] && wm=
xsession_start "$work" $wm || exit 1
# TMPDIR: whatever the programs leave behind goes with $work.
mkdir -p "$work/tmp"
export DISPLAY=$XS_DISPLAY TMPDIR=$work/tmp
# In the background, so that a signal to this script is handled at once
# rather than after the whole run.
case $mode in
startup) "$build/bench/bench_startup" "$@" "$build/himekuri" "$build/bench/bench_minimal" & ;;
clock)
    "$build/bench/bench_clock" --shared "Xvfb=$XS_XVFB_PID" --shared "openbox=$XS_WM_PID" "$@" \
        "$build/himekuri" "$build/bench/bench_ticker" &
    ;;
pane)
    mkdir -p "$work/www/~tesrava"
    printf '<!doctype html><html><body style="margin:0;background:#00a000;color:#fff;font:16px sans-serif">%s</body></html>\n' \
        'himekuri 1.0.0 is the latest version' >"$work/www/~tesrava/index.html"
    printf '127.0.0.1 localhost www.example.net\n' >"$work/hosts"
    root=()
    ((EUID == 0)) || root=(-r) # a user namespace
    # A network of its own, where www.example.net is this machine; the X
    # server stays outside, reached through its socket in /tmp. The page's
    # server ends with the driver.
    # shellcheck disable=SC2016 # expanded by the inner shell
    unshare "${root[@]}" -n -m bash -c '
        ip link set lo up && mount --bind "$1" /etc/hosts || exit 1
        setpriv --pdeathsig TERM python3 -m http.server 80 --bind 127.0.0.1 -d "$2" >"$3" 2>&1 </dev/null &
        for _ in {1..100}; do : 2>/dev/null >/dev/tcp/127.0.0.1/80 && break; sleep 0.1; done
        shift 3
        exec "$@"' sh "$work/hosts" "$work/www" "$work/server.log" \
        "$build/bench/bench_pane" "$@" "$build/himekuri" "$build/bench/bench_webview" &
    ;;
esac
driver=$!
wait "$driver"
status=$?
driver=''
exit "$status"
