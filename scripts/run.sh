#!/usr/bin/env bash
# Starts Flowbright. On a machine without a display it starts a virtual one (Xvfb) with a
# window manager and a tray, saves a screenshot of the main window, and ends the program the way
# a desktop logout does (SIGTERM), so that it writes its files.
set -euo pipefail
program=${1:-build/flowbright}
program=$(realpath "$program")

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$program"
fi

shot=${FB_SCREENSHOT:-$(dirname "$program")/screenshot.png}
for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids=("$xvfb")
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

openbox >/dev/null 2>&1 & pids+=($!)
trayer --edge bottom --align right --widthtype request --height 24 >/dev/null 2>&1 & pids+=($!)
sleep 0.5

"$program" & app=$!
pids+=("$app")
echo "Flowbright runs on the virtual display $display (no display was found)."
window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Flowbright$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
sleep 2 # let the first samples and statistics arrive
if [ -z "$window" ] || ! import -window "$window" "$shot" 2>/dev/null; then
    import -window root "$shot"
fi
echo "Screenshot of the main window: $shot"
kill -TERM "$app"
wait "$app" || true
echo "Flowbright ended; its settings file: $(dirname "$program")/flowbright.ini"
