#!/bin/sh
# The first program of a compositor session, started by the compositor itself
# so that it is given the session's DISPLAY, XAUTHORITY and WAYLAND_DISPLAY
# exactly as the desktop's applications get them. It writes its environment
# (and its pid) to $CS_ENV_FILE, then stays: both compositors end with it,
# and it ends with the compositor if that goes first.
trap 'kill "$nap" 2>/dev/null; exit 0' TERM INT HUP
nap=''
{ env && echo "CS_HELPER_PID=$$"; } >"$CS_ENV_FILE.part" && mv -f "$CS_ENV_FILE.part" "$CS_ENV_FILE" || exit 1
while kill -0 "$CS_COMPOSITOR_PID" 2>/dev/null; do
    # Without the Xvfb it draws into, a nested compositor stays and spins;
    # without the shell that started it, nobody would ever end the session.
    if ! kill -0 "$CS_XVFB_PID" 2>/dev/null || ! kill -0 "$CS_OWNER_PID" 2>/dev/null; then
        kill -TERM "$CS_COMPOSITOR_PID" "$CS_XVFB_PID" 2>/dev/null
        exit 0
    fi
    # In the background so that a TERM is handled at once, not after the nap.
    sleep 1 &
    nap=$!
    wait "$nap"
done
