#!/bin/bash
# shellcheck disable=SC2317 # functions run through xs_poll and trap
# The browser pane of PROBE (web_pane_probe, built next to himekuri-web) with
# pages from a loopback HTTP server, step by step as numbered below.
# usage: web_pane.sh PROBE OUTDIR
if (($# != 2)); then
    echo "usage: $0 PROBE OUTDIR" >&2
    exit 2
fi
[[ -x $1 && -x $(dirname "$1")/himekuri-web ]] ||
    { echo "e2e: '$1' is not executable or has no himekuri-web beside it" >&2; exit 1; }
probe=$1 tag=web
# shellcheck source=e2e-lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
e2e_init "$2"
server_pid='' helper_pid='' got='' engine_procs=()
end_at_exit helper_pid server_pid

site=$work/site
mkdir -p "$site" "$work/pictures"
for page in green:'#00c000' blue:'#0000c0' tall:'#00c000;height:3000px'; do
    printf '<!doctype html><html><body style="margin:0;background:%s"></body></html>\n' \
        "${page#*:}" >"$site/${page%%:*}.html"
done
cat >"$site/link.html" <<'EOF'
<!doctype html><html><body style="margin:0;background:#00c000">
<a href="blue.html" style="display:block;width:100px;height:81px;background:#c0c000"></a></body></html>
EOF
cat >"$site/moving.html" <<'EOF'
<!doctype html><html><style>@keyframes m { from { background:#00c000 } to { background:#0000c0 } }
body { margin:0; animation: m 1s infinite alternate }</style><body></body></html>
EOF
# A 20x10 red picture (binary PPM: Qt reads it without a plug-in).
picture="$work/pictures/red picture.ppm"
{ printf 'P6\n20 10\n255\n'; printf '\xff\x00\x00%.0s' {1..200}; } >"$picture"

python3 "$helper" serve "$site" "$work/port" >"$work/server.log" 2>&1 &
# shellcheck disable=SC2034 # ended at exit by name
server_pid=$!
xs_poll 10 test -s "$work/port" || { fail "the loopback HTTP server did not start"; finish; }
port=$(<"$work/port")
closed_port=$(python3 "$helper" free-port)

mkfifo "$work/in"
log=$outdir/$tag-probe.log
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
    DISPLAY="$XS_DISPLAY" QT_QPA_PLATFORM=xcb "$probe" "$picture" <"$work/in" >"$log" 2>&1 &
app_pid=$!
exec 3>"$work/in"

got_line() { line=$(grep -E "$1" "$log" | sed -n "$2p"); [[ -n $line ]] || xs_pid_gone "$app_pid"; }
nth_line() { xs_poll "$3" got_line "$1" "$2" && [[ -n $line ]]; } # REGEX N SECONDS: sets line
pings=0 navigations=0
ping_probe() { # sets natives: how many widgets besides the pane's host are native
    natives=''
    echo ping >&3
    nth_line "^pong $((++pings)) " 1 10 || return 1
    natives=${line#*natives=} natives=${natives%% *}
}
navigate() { # TARGET
    local took_us
    echo "navigate $1" >&3
    nth_line '^navigated ' $((++navigations)) 10 || return 1
    read -r _ _ took_us <<<"$line"
    say "Navigate($1) returned after $took_us µs"
}

# By title: a window made anew by new flags has lost its role.
find_window() { window=$(viewable "$app_pid" WM_NAME 'web pane probe'); }
locate_pane() { xs_poll 20 find_window && geometry "$window" && say "window $window, pane at $gx,$gy"; }
look() { # X,Y...: "R,G,B" of each point of the pane (at the window's top-left)
    x import -window root -crop "249x81+$gx+$gy" +repage -depth 8 "ppm:$work/pane.ppm" 2>/dev/null &&
        python3 "$helper" pixels "$work/pane.ppm" "$@"
}
shows() { # X,Y=R,G,B...; sets got (what was seen)
    local p points=() want=()
    for p; do points+=("${p%%=*}") want+=("${p#*=}"); done
    got=$(look "${points[@]}" | paste -sd' ')
    [[ $got == "${want[*]}" ]]
}
changed() { got=$(look "${1%%=*}"); [[ -n $got && $got != "${1#*=}" ]]; } # X,Y=R,G,B
keep() { shoot "$1" "$window" >/dev/null; }

maps_engine() { grep -c libQt6WebEngine "/proc/$1/maps" 2>/dev/null; }
descendants() { # PID: every process below it
    local k kids
    kids=$(cat /proc/"$1"/task/*/children 2>/dev/null)
    for k in $kids; do echo "$k"; descendants "$k"; done
}
find_helper() { helper_pid=$(pgrep -P "$app_pid" -x himekuri-web | head -n1); [[ -n $helper_pid ]]; }
engine_gone() { local p; for p in "${engine_procs[@]}"; do xs_pid_gone "$p" || return 1; done; }

white=255,255,255 red=255,0,0 green=0,192,0 blue=0,0,192 yellow=192,192,0
locate_pane || { fail "the probe's window did not appear within 20 s"; finish; }
# A pane in use keeps its page live.
x xdotool mousemove $((gx + 200)) $((gy + 40))

# 1. A local picture: drawn by the probe, no engine.
navigate "$picture" || { fail "the probe did not take the picture"; finish; }
xs_poll 10 shows 5,5=$red 19,9=$red 30,5=$white 5,20=$white 248,80=$white ||
    fail "the picture is not shown at natural size from the pane's top-left corner"
keep 1-picture
find_helper && fail "a picture started the helper"
[[ $(maps_engine "$app_pid") == 0 ]] || fail "the probe mapped libQt6WebEngine for a picture"

# 2. A web page: drawn by the helper inside the pane.
navigate "http://127.0.0.1:$port/green.html" || { fail "the probe did not take the page"; finish; }
xs_poll 20 find_helper || { fail "himekuri-web was not started within 20 s"; finish; }
say "helper pid $helper_pid"
xs_poll 30 shows 0,0=$green 124,40=$green 248,80=$green ||
    fail "the page's green did not appear in the pane within 30 s (saw $got)"
keep 2-web-page
[[ $(maps_engine "$app_pid") == 0 ]] || fail "the probe mapped libQt6WebEngine for a web page"
[[ $(maps_engine "$helper_pid") != 0 ]] || fail "the helper did not map libQt6WebEngine (is it the helper?)"
ping_probe || fail "the probe did not answer with a page shown"
[[ ${natives:-x} == 0 ]] || fail "$natives widgets besides the pane's host became native"

# 3. Later pages go to the same helper; a tall page shows no scroll bar.
navigate "file://$site/blue.html"
xs_poll 20 shows 0,0=$blue 248,80=$blue || fail "the second page did not appear"
navigate "http://127.0.0.1:$port/tall.html"
xs_poll 20 shows 124,40=$green 246,40=$green 248,80=$green ||
    fail "a page taller than the pane shows something besides its colour (a scroll bar?)"
keep 3-tall-page
[[ $(pgrep -P "$app_pid" -x himekuri-web | paste -sd' ') == "$helper_pid" ]] ||
    fail "later pages did not go to the one running helper"

# 4. New window flags make a new native window: the page comes back in a new helper.
old_helper=$helper_pid
echo ontop >&3
xs_poll 20 xs_pid_gone "$old_helper" || fail "the helper of the replaced native window did not end"
locate_pane || { fail "the probe's window did not come back with new flags"; finish; }
xs_poll 20 find_helper || { fail "no new helper after the window was made anew"; finish; }
[[ $helper_pid != "$old_helper" ]] || fail "the old native window's helper still serves the new one"
xs_poll 30 shows 124,40=$green 248,80=$green || fail "the page did not come back after new window flags"
keep 4-new-window-flags

# 5. A page that cannot be shown gives the picture, never an error page of
# the engine's; the helper goes.
for page in "http://127.0.0.1:$closed_port/" "http://127.0.0.1:$port/missing.html"; do
    old_helper=$helper_pid
    navigate "$page"
    xs_poll 20 xs_pid_gone "$old_helper" || fail "the helper of $page did not end"
    xs_poll 10 shows 5,5=$red 30,5=$white 248,80=$white || fail "$page: the pane does not show its picture (saw $got)"
    keep "5-cannot-show-${page##*/}"
    navigate "http://127.0.0.1:$port/green.html"
    xs_poll 20 find_helper && [[ $helper_pid != "$old_helper" ]] || { fail "no new helper after $page"; finish; }
    xs_poll 30 shows 124,40=$green || fail "the page after $page did not appear"
done
ping_probe || fail "the probe did not answer after pages that could not be shown"

# 6. A picture after a page ends the helper.
old_helper=$helper_pid
navigate "$picture"
xs_poll 10 shows 5,5=$red 30,5=$white 248,80=$white || fail "the picture did not replace the page"
xs_poll 10 xs_pid_gone "$old_helper" || fail "the helper did not end when a picture was shown"

# 7. Killing the helper leaves the probe alive with its picture.
navigate "http://127.0.0.1:$port/green.html"
xs_poll 20 find_helper || { fail "no new helper for a page after a picture"; finish; }
[[ $helper_pid != "$old_helper" ]] || fail "the ended helper was used again"
xs_poll 30 shows 124,40=$green || fail "the page after a picture did not appear"
mapfile -t engine_procs < <(descendants "$helper_pid")
kill -KILL "$helper_pid"
xs_poll 10 xs_pid_gone "$helper_pid" || fail "the helper survived kill -9"
helper_pid=
ping_probe || fail "the probe did not answer after its helper was killed"
xs_pid_gone "$app_pid" && { fail "the probe died with its helper"; finish; }
[[ ${natives:-x} == 0 ]] || fail "$natives widgets besides the pane's host are native"
xs_poll 10 shows 5,5=$red 30,5=$white 248,80=$white || fail "the pane does not show its picture after its helper was killed"
keep 7-helper-killed
xs_poll 15 engine_gone || fail "the engine's processes outlived the killed helper by 15 s"

# 8. Left alone, a page becomes a picture of itself and the helper ends.
navigate "http://127.0.0.1:$port/link.html"
xs_poll 20 find_helper && xs_poll 30 shows 50,40=$yellow 200,40=$green ||
    { fail "the page with a link did not appear"; finish; }
x import -window root -crop "249x81+$gx+$gy" +repage -depth 8 "ppm:$work/live.ppm"
old_helper=$helper_pid
x xdotool mousemove $((gx + 300)) $((gy + 120))
xs_poll 30 xs_pid_gone "$old_helper" || fail "the helper of a page left alone did not end within 30 s"
[[ -z $(descendants "$app_pid") ]] || fail "processes are left beside the picture: $(descendants "$app_pid")"
x import -window root -crop "249x81+$gx+$gy" +repage -depth 8 "ppm:$work/still.ppm"
cmp -s "$work/live.ppm" "$work/still.ppm" || fail "the picture of the page differs from the live page"
keep 8-still

# 9. The pointer brings the page back, over the picture: never a blank frame.
x xdotool mousemove $((gx + 200)) $((gy + 40))
frames=()
for i in {1..12}; do frames+=("$(look 200,40 50,40 | paste -sd' ')"); find_helper && break; done
xs_poll 10 find_helper || fail "the pointer over the pane started no helper"
for i in {1..8}; do frames+=("$(look 200,40 50,40 | paste -sd' ')"); done
for frame in "${frames[@]}"; do
    [[ $frame == "$green $yellow" ]] || fail "the pane showed '$frame' while its page came back"
done
x xdotool mousemove $((gx + 300)) $((gy + 120))
xs_poll 30 xs_pid_gone "$helper_pid" || fail "the woken helper did not end once left alone"

# 10. A press on the picture is made on the page: its link is followed.
x xdotool mousemove $((gx + 50)) $((gy + 40)) click 1
xs_poll 30 shows 50,40=$blue 200,40=$blue || fail "the press on the picture did not follow the link (saw $got)"
keep 10-press-followed
x xdotool mousemove $((gx + 300)) $((gy + 120))

# 11. A page that keeps changing keeps its helper (for a while).
navigate "http://127.0.0.1:$port/moving.html"
xs_poll 20 find_helper && xs_poll 20 changed 124,40=$blue || fail "the moving page did not appear"
sleep 8
xs_pid_gone "$helper_pid" && fail "the helper of a page that keeps changing ended"

# 8. The helper ends with the probe, even when the probe is killed.
navigate "http://127.0.0.1:$port/green.html"
xs_poll 20 find_helper || { fail "no helper after the kill"; finish; }
xs_poll 30 shows 124,40=$green || fail "the page did not come back after the kill"
mapfile -t engine_procs < <(descendants "$helper_pid")
kill -KILL "$app_pid"
wait "$app_pid" 2>/dev/null
app_pid=
if xs_poll 15 xs_pid_gone "$helper_pid"; then
    helper_pid=
else
    fail "the helper outlived the killed probe by 15 s"
fi
xs_poll 15 engine_gone || fail "the engine's processes outlived the killed probe by 15 s"

finish
