#!/bin/bash
# Functions run through trap and xs_poll look unreachable to shellcheck.
# shellcheck disable=SC2317
# End-to-end check of the browser pane under Xvfb + openbox, with the real
# helper himekuri-web and pages from a loopback HTTP server of its own.
#
# usage: web_pane.sh PROBE OUTDIR
#
# PROBE is web_pane_probe (next to himekuri-web). It checks that a local
# picture is drawn without the engine; that a web page is drawn by the helper
# inside the pane while the probe itself never maps libQt6WebEngine; that later
# pages reuse the helper; that an unreachable page leaves everything working;
# that a page survives new window flags (a new native window); that a
# picture after a page ends the helper; that killing the helper leaves
# the probe alive with an empty pane; and that the helper ends with the probe.
# It prints memory and timing figures and keeps screenshots in OUTDIR. Every
# wait is bounded and every process is ended by its id.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../scripts/xsession.sh
source "$here/../../scripts/xsession.sh"

if (($# != 2)); then
    echo "usage: $0 PROBE OUTDIR" >&2
    exit 2
fi
probe=$1 outdir=$2

failures=()
fail() { failures+=("$*"); echo "web_pane: FAIL: $*" >&2; }
say() { echo "web_pane: $*"; }

for tool in xdotool xwininfo xprop import python3; do
    command -v "$tool" >/dev/null || {
        echo "web_pane: '$tool' not found (Debian: xdotool x11-utils imagemagick python3)" >&2
        exit 1
    }
done
[[ -x $probe ]] || { echo "web_pane: probe '$probe' is not executable" >&2; exit 1; }
[[ -x $(dirname "$probe")/himekuri-web ]] ||
    { echo "web_pane: no himekuri-web next to $probe" >&2; exit 1; }

mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
rm -f "$outdir"/web-*.png "$outdir"/web-probe.log
work=$(mktemp -d "${TMPDIR:-/tmp}/himekuri-web-e2e.XXXXXX")
probe_pid='' server_pid='' helper_pid=''

finish() {
    if ((${#failures[@]} == 0)); then
        say "ok"
        exit 0
    fi
    echo "web_pane: FAILED (${#failures[@]} problem(s)):" >&2
    printf '  - %s\n' "${failures[@]}" >&2
    [[ -s $work/probe.log ]] && cp "$work/probe.log" "$outdir/web-probe.log" &&
        echo "web_pane: the probe's output: $outdir/web-probe.log" >&2
    exit 1
}

cleanup() {
    exec 3>&- 2>/dev/null
    [[ -n $probe_pid ]] && xs_end_pid "$probe_pid"
    [[ -n $helper_pid ]] && kill -KILL "$helper_pid" 2>/dev/null
    [[ -n $server_pid ]] && xs_end_pid "$server_pid"
    xsession_stop
    rm -rf "$work"
}
trap cleanup EXIT

now_ms() { date +%s%3N; }

# --- what the pane shows ---------------------------------------------------

site=$work/site
mkdir -p "$site"
page() { # FILE COLOUR
    printf '<!doctype html><html><body style="margin:0;background:%s"></body></html>\n' "$2" >"$site/$1"
}
page green.html '#00c000'
page blue.html '#0000c0'
page tall.html '#00c000;height:3000px'
# A 20x10 red picture (binary PPM: Qt reads it without a plug-in).
picture=$work/pictures/red\ picture.ppm
mkdir -p "$(dirname "$picture")"
{ printf 'P6\n20 10\n255\n'; for ((i = 0; i < 200; i++)); do printf '\xff\x00\x00'; done; } >"$picture"

# A loopback HTTP server on a free port, which it reports in a file.
python3 - "$site" "$work/port" >"$work/server.log" 2>&1 <<'EOF' &
import functools, http.server, os, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
server.serve_forever()
EOF
server_pid=$!
xs_poll 10 test -s "$work/port" || { fail "the loopback HTTP server did not start"; finish; }
port=$(<"$work/port")
# A port nobody listens on: the server's own, once more, is taken; this one
# is found free by binding and letting go.
closed_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# --- the session and the probe -----------------------------------------------

xsession_start "$work/x" wm || { fail "could not start Xvfb/openbox"; finish; }

home=$work/home runtime=$work/runtime
mkdir -p "$home"
mkdir -m 0700 "$runtime"
mkfifo "$work/in"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
    DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb \
    "$probe" <"$work/in" >"$work/probe.log" 2>&1 &
probe_pid=$!
exec 3>"$work/in"

send() { echo "$*" >&3; }

# Prints the Nth line of the probe's output that matches REGEX, waiting for
# it at most SECONDS.
nth_line() { # REGEX N SECONDS
    local deadline=$((SECONDS + $3)) line
    while :; do
        line=$(grep -E "$1" "$work/probe.log" | sed -n "$2p")
        [[ -n $line ]] && { echo "$line"; return 0; }
        ((SECONDS < deadline)) || return 1
        xs_pid_gone "$probe_pid" && return 1
        sleep 0.05
    done
}

# Sets natives: how many widgets besides the pane's host are native.
pings=0 natives=''
ping_probe() {
    send ping
    local line
    ((++pings))
    line=$(nth_line "^pong $pings " 1 10) || { natives=''; return 1; }
    natives=${line#*natives=}
    natives=${natives%% *}
}

window=
find_window() {
    local w
    for w in $(DISPLAY=$XS_DISPLAY xdotool search --pid "$probe_pid" 2>/dev/null); do
        # By title: a window made anew by new flags has lost its role.
        DISPLAY=$XS_DISPLAY xprop -id "$w" WM_NAME 2>/dev/null |
            grep -q '"web pane probe"' || continue
        DISPLAY=$XS_DISPLAY xwininfo -id "$w" 2>/dev/null | grep -q 'IsViewable' || continue
        window=$w
        return 0
    done
    return 1
}
# Sets window, pane_x and pane_y (the pane is at the window's top-left).
locate_pane() {
    xs_poll 20 find_window || return 1
    local info
    info=$(DISPLAY=$XS_DISPLAY xwininfo -id "$window")
    pane_x=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    pane_y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    say "probe pid $probe_pid, window $window, pane at $pane_x,$pane_y"
}
locate_pane || { fail "the probe's window did not appear within 20 s"; finish; }

# --- looking at the screen ---------------------------------------------------

shot=$work/pane.ppm
# Takes a picture of the pane; prints "R,G,B" for each point X,Y given.
look() {
    DISPLAY=$XS_DISPLAY import -window root -crop "249x81+$pane_x+$pane_y" +repage \
        -depth 8 "ppm:$shot" 2>/dev/null || return 1
    python3 - "$shot" "$@" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pos += 1
width = int(fields[1])
for point in sys.argv[2:]:
    x, y = map(int, point.split(","))
    i = pos + 3 * (y * width + x)
    print("%d,%d,%d" % tuple(data[i:i + 3]))
EOF
}

keep() { # NAME: keeps the last look for a person
    DISPLAY=$XS_DISPLAY import -window "$window" "$outdir/web-$1.png" 2>/dev/null
}

# Waits until the points show the colours: "X,Y=R,G,B ..." for SECONDS.
# Sets got (what was seen last) and seen_at (when that picture was taken).
got='' seen_at=''
wait_for_colours() { # SECONDS X,Y=R,G,B...
    local limit=$1
    shift
    local deadline=$((SECONDS + limit)) points=() want=() point
    for point in "$@"; do points+=("${point%%=*}"); want+=("${point#*=}"); done
    while :; do
        seen_at=$(now_ms)
        got=$(look "${points[@]}" | paste -sd' ')
        [[ $got == "${want[*]}" ]] && return 0
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

# Waits until the point no longer shows the colour, at most SECONDS.
wait_for_change() { # SECONDS X,Y=R,G,B
    local deadline=$((SECONDS + $1))
    while :; do
        got=$(look "${2%%=*}")
        [[ -n $got && $got != "${2#*=}" ]] && return 0
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }
# Proportional set size: shared pages divided among the processes sharing them.
pss_kb() { awk '/^Pss:/ { print $2 }' "/proc/$1/smaps_rollup" 2>/dev/null; }
maps_engine() { grep -c 'libQt6WebEngine' "/proc/$1/maps" 2>/dev/null; }
descendants() { # PID: every process below it
    local kids k
    kids=$(cat /proc/"$1"/task/*/children 2>/dev/null)
    for k in $kids; do
        echo "$k"
        descendants "$k"
    done
}
sum_kb() { # rss_kb|pss_kb PID...
    local what=$1 total=0 p r
    shift
    for p in "$@"; do
        r=$("$what" "$p")
        total=$((total + ${r:-0}))
    done
    echo "$total"
}
find_helper() {
    helper_pid=$(pgrep -P "$probe_pid" -x himekuri-web | head -n1)
    [[ -n $helper_pid ]]
}
# Sets nav_at: when the probe called Navigate, in ms since the epoch.
navigations=0 nav_at=''
navigate() { # TARGET
    send "navigate $1"
    local line took_us
    ((++navigations))
    line=$(nth_line '^navigated ' "$navigations" 10) || return 1
    read -r _ nav_at took_us <<<"$line"
    say "Navigate($1) returned after $took_us µs"
}

white=255,255,255 red=255,0,0 green=0,192,0 blue=0,0,192

# --- 1. a local picture: drawn by the probe, no engine -----------------------

navigate "$picture" || { fail "the probe did not take the picture"; finish; }
wait_for_colours 10 5,5=$red 19,9=$red 30,5=$white 5,20=$white 248,80=$white ||
    fail "the picture is not shown at natural size from the pane's top-left corner"
keep 1-picture
find_helper && fail "a picture started the helper"
sleep 0.5 # let the probe settle before reading its memory
rss_picture=$(rss_kb "$probe_pid") pss_picture=$(pss_kb "$probe_pid")
[[ $(maps_engine "$probe_pid") == 0 ]] || fail "the probe mapped libQt6WebEngine for a picture"

# --- 2. a web page: drawn by the helper inside the pane ----------------------

navigate "http://127.0.0.1:$port/green.html" || { fail "the probe did not take the page"; finish; }
web_nav_at=$nav_at
xs_poll 20 find_helper || { fail "himekuri-web was not started within 20 s"; finish; }
helper_seen=$(now_ms)
say "helper pid $helper_pid"
if wait_for_colours 30 0,0=$green 124,40=$green 248,80=$green; then
    first_paint=$((seen_at - web_nav_at))
else
    fail "the page's green did not appear in the pane within 30 s (saw $got)"
fi
keep 2-web-page
sleep 1 # the page has settled; now its memory
rss_web=$(rss_kb "$probe_pid")
rss_helper=$(rss_kb "$helper_pid")
mapfile -t engine_procs < <(descendants "$helper_pid")
rss_engine=$(sum_kb rss_kb "${engine_procs[@]}") engine_count=${#engine_procs[@]}
pss_all_web=$(sum_kb pss_kb "$probe_pid" "$helper_pid" "${engine_procs[@]}")
pss_probe_web=$(pss_kb "$probe_pid")
[[ $(maps_engine "$probe_pid") == 0 ]] || fail "the probe mapped libQt6WebEngine for a web page"
[[ $(maps_engine "$helper_pid") != 0 ]] || fail "the helper did not map libQt6WebEngine (is it the helper?)"
ping_probe || fail "the probe did not answer with a page shown"
[[ ${natives:-x} == 0 ]] || fail "$natives widgets besides the pane's host became native"

# --- 3. a second page goes to the same helper; scrolling bars stay hidden ----

navigate "file://$site/blue.html"
wait_for_colours 20 0,0=$blue 248,80=$blue || fail "the second page did not appear"
navigate "http://127.0.0.1:$port/tall.html"
wait_for_colours 20 124,40=$green 246,40=$green 248,80=$green ||
    fail "a page taller than the pane shows something besides its colour (a scroll bar?)"
keep 3-tall-page
[[ $(pgrep -P "$probe_pid" -x himekuri-web | paste -sd' ') == "$helper_pid" ]] ||
    fail "later pages did not go to the one running helper"

# --- 4. new window flags give the window a new native window: the page
#        comes back in a new helper -------------------------------------------

old_helper=$helper_pid
old_window=$window
send ontop
xs_poll 20 xs_pid_gone "$old_helper" || fail "the helper of the replaced native window did not end"
locate_pane || { fail "the probe's window did not come back with new flags"; finish; }
[[ $window != "$old_window" ]] || say "(the window kept its native window: nothing was made anew)"
xs_poll 20 find_helper || { fail "no new helper after the window was made anew"; finish; }
[[ $helper_pid != "$old_helper" ]] || fail "no new helper after the window was made anew"
wait_for_colours 30 124,40=$green 248,80=$green || fail "the page did not come back after new window flags"
keep 4-new-window-flags

# --- 5. an unreachable page leaves everything working -----------------------

navigate "http://127.0.0.1:$closed_port/"
wait_for_change 20 124,40=$green || fail "the unreachable page did not replace the green one"
keep 5-unreachable
ping_probe || fail "the probe did not answer after an unreachable page"
xs_pid_gone "$helper_pid" && fail "the helper ended on an unreachable page"

# --- 6. a picture after a page ends the helper -------------------------------

old_helper=$helper_pid
navigate "$picture"
wait_for_colours 10 5,5=$red 30,5=$white 248,80=$white ||
    fail "the picture did not replace the page"
picture_nav_at=$nav_at
xs_poll 10 xs_pid_gone "$old_helper" || fail "the helper did not end when a picture was shown"
helper_gone=$(now_ms)
keep 6-picture-after-page

# --- 7. killing the helper leaves the probe alive with an empty pane ---------

navigate "http://127.0.0.1:$port/green.html"
xs_poll 20 find_helper || { fail "no new helper for a page after a picture"; finish; }
[[ $helper_pid != "$old_helper" ]] || fail "the ended helper was used again"
wait_for_colours 30 124,40=$green || fail "the page after a picture did not appear"
mapfile -t engine_procs < <(descendants "$helper_pid")
kill -KILL "$helper_pid"
xs_poll 10 xs_pid_gone "$helper_pid" || fail "the helper survived kill -9"
helper_pid=
ping_probe || fail "the probe did not answer after its helper was killed"
xs_pid_gone "$probe_pid" && { fail "the probe died with its helper"; finish; }
[[ ${natives:-x} == 0 ]] || fail "$natives widgets besides the pane's host are native"
wait_for_colours 10 0,0=$white 124,40=$white 248,80=$white ||
    fail "the pane is not empty after its helper was killed"
keep 7-helper-killed
engine_left() {
    local p
    for p in "${engine_procs[@]}"; do xs_pid_gone "$p" || return 1; done
}
xs_poll 15 engine_left || fail "the engine's processes outlived the killed helper by 15 s"

# --- 8. the helper ends with the probe, even when the probe is killed --------

navigate "http://127.0.0.1:$port/green.html"
xs_poll 20 find_helper || { fail "no helper after the kill"; finish; }
wait_for_colours 30 124,40=$green || fail "the page did not come back after the kill"
last_helper=$helper_pid
mapfile -t engine_procs < <(descendants "$helper_pid")
kill -KILL "$probe_pid"
wait "$probe_pid" 2>/dev/null
probe_pid=
xs_poll 15 xs_pid_gone "$last_helper" || fail "the helper outlived the killed probe by 15 s"
xs_poll 15 engine_left || fail "the engine's processes outlived the killed probe by 15 s"
helper_pid=

# --- figures -----------------------------------------------------------------

say "figures:"
say "  probe with a local picture:  VmRSS ${rss_picture:-?} kB, PSS ${pss_picture:-?} kB"
say "  probe with a web page:       VmRSS ${rss_web:-?} kB, PSS ${pss_probe_web:-?} kB"
say "  himekuri-web:                VmRSS ${rss_helper:-?} kB"
say "  its ${engine_count:-?} engine processes:     VmRSS ${rss_engine:-?} kB together"
say "  probe + helper + engine:     PSS ${pss_all_web:-?} kB together"
say "  Navigate -> helper process seen:     $((helper_seen - web_nav_at)) ms"
say "  Navigate -> page's colour on screen: ${first_paint:-?} ms (polled about every 0.1 s)"
say "  Navigate(picture) -> helper gone: $((helper_gone - picture_nav_at)) ms"
say "screenshots: $outdir/web-*.png"
finish
