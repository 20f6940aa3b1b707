#!/bin/bash
# Runs a benchmark against an existing build; builds nothing.
#
# usage: bench/run.sh [BUILD_DIR] [--runs N] [--warmup N] [--settle-ms MS] [--timeout-ms MS]
#        bench/run.sh [BUILD_DIR] clock [--seconds N] [--warmup-seconds N]
# BUILD_DIR defaults to build/ beside bench/. The start-up benchmark needs
# BUILD_DIR/himekuri, BUILD_DIR/bench/bench_minimal and
# BUILD_DIR/bench/bench_startup; the clock benchmark needs BUILD_DIR/himekuri,
# BUILD_DIR/bench/bench_ticker, BUILD_DIR/bench/bench_clock_probe and
# BUILD_DIR/bench/bench_clock.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../scripts/xsession.sh
source "$here/../scripts/xsession.sh"

build=$here/../build
if (($# > 0)) && [[ $1 != --* && $1 != clock ]]; then
    build=$1
    shift
fi
dir=$(cd "$build" 2>/dev/null && pwd) || { echo "bench: no build directory '$build'" >&2; exit 1; }
build=$dir

mode=startup
if (($# > 0)) && [[ $1 == clock ]]; then
    mode=clock
    shift
fi

if [[ $mode == clock ]]; then
    for f in himekuri bench/bench_ticker bench/bench_clock_probe bench/bench_clock; do
        [[ -x $build/$f ]] || { echo "bench: $build/$f is missing; build first" >&2; exit 1; }
    done

    work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-bench-x.XXXXXX")
    driver=
    # The driver, told to end, ends the programs it started.
    trap 'xs_end_pid "$driver"; xsession_stop; rm -rf "$work"' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP

    # With openbox: the calendar asks the window manager to restack it at
    # every paint, and that traffic belongs in the figures.
    xsession_start "$work" wm || exit 1
    # TMPDIR: whatever the programs leave behind goes with $work.
    mkdir -p "$work/tmp"
    # In the background, so that a signal to this script is handled at once
    # rather than after the whole run.
    DISPLAY=$XS_DISPLAY TMPDIR=$work/tmp "$build/bench/bench_clock" \
        --shared "Xvfb=$XS_XVFB_PID" --shared "openbox=$XS_WM_PID" "$@" \
        "$build/himekuri" "$build/bench/bench_ticker" "$build/bench/bench_clock_probe" &
    driver=$!
    wait "$driver"
    status=$?
    driver=
    exit "$status"
fi

for f in himekuri bench/bench_minimal bench/bench_startup; do
    [[ -x $build/$f ]] || { echo "bench: $build/$f is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-bench-x.XXXXXX")
trap 'xsession_stop; rm -rf "$work"' EXIT

# No window manager: top-level maps must reach the root window directly.
xsession_start "$work" || exit 1
DISPLAY=$XS_DISPLAY "$build/bench/bench_startup" "$@" "$build/himekuri" "$build/bench/bench_minimal"
