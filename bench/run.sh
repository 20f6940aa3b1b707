#!/bin/bash
# Runs the start-up benchmark against an existing build; builds nothing.
#
# usage: bench/run.sh [BUILD_DIR] [--runs N] [--warmup N] [--settle-ms MS] [--timeout-ms MS]
# BUILD_DIR defaults to build/ beside bench/. It needs BUILD_DIR/himekuri,
# BUILD_DIR/bench/bench_minimal and BUILD_DIR/bench/bench_startup.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../scripts/xsession.sh
source "$here/../scripts/xsession.sh"

build=$here/../build
if (($# > 0)) && [[ $1 != --* ]]; then
    build=$1
    shift
fi
build=$(cd "$build" 2>/dev/null && pwd) || { echo "bench: no build directory '$build'" >&2; exit 1; }

for f in himekuri bench/bench_minimal bench/bench_startup; do
    [[ -x $build/$f ]] || { echo "bench: $build/$f is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-bench-x.XXXXXX")
trap 'xsession_stop; rm -rf "$work"' EXIT

# No window manager: top-level maps must reach the root window directly.
xsession_start "$work" || exit 1
DISPLAY=$XS_DISPLAY "$build/bench/bench_startup" "$@" "$build/himekuri" "$build/bench/bench_minimal"
