#!/usr/bin/env bash
# The portable bundle's size and the time from "sh start.sh" to the first window on a virtual
# display: the median of RUNS warm starts, and, as root, of RUNS starts after the page cache
# was dropped (as from a stick just plugged in). Targets: under 45 MB, the first window within
# 1.5 s warm.
# Usage: bench/bundle-start.sh [BUNDLE [RUNS]]   (defaults: dist/Coffervale, 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bundle=$(cd "${1:-$root/dist/Coffervale}" && pwd)
runs=${2:-5}
[ -f "$bundle/start.sh" ] || { echo "bundle-start.sh: no bundle at $bundle (scripts/bundle.sh)" >&2; exit 1; }
for tool in Xvfb xdotool dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "bundle-start.sh: $tool is missing" >&2; exit 1; }
done
# A desktop session has a session bus; without one D-Bus tries to start its own on every
# start, which alone costs seconds.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- "$0" "$bundle" "$runs"
fi

work=$(mktemp -d)
xvfb=""
app=""
cleanup() {
  [ -z "$app" ] || kill "$app" 2>/dev/null || true
  # Waited for, so that a run right after this one finds the display number free again.
  [ -z "$xvfb" ] || { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; } || true
  rm -rf "$work"
}
trap cleanup EXIT
# A display number nobody uses.
for number in 97 98 99; do
  [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || { display=":$number"; break; }
done
[ -n "${display:-}" ] || { echo "bundle-start.sh: displays :97 to :99 are all taken" >&2; exit 1; }
# -noreset: by default the server resets whenever its last client leaves, and a window
# starting then finds no display.
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 1 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
kill -0 "$xvfb" 2>/dev/null || { echo "bundle-start.sh: Xvfb $display did not start" >&2; exit 1; }
mkdir -p "$work/volume" "$work/run" && chmod 700 "$work/run"

# Milliseconds from the launcher's start to a visible window of the program.
start_once() {
  local begin end
  begin=$(date +%s%N)
  HOME="$work/home" XDG_RUNTIME_DIR="$work/run" sh "$bundle/start.sh" --volume "$work/volume" >/dev/null 2>"$work/app.err" &
  app=$!
  until xdotool search --onlyvisible --pid "$app" >/dev/null 2>&1; do
    if ! kill -0 "$app" 2>/dev/null; then
      echo "bundle-start.sh: the window ended before it showed: $(grep -v '^______' "$work/app.err" | head -3)" >&2
      exit 1
    fi
    sleep 0.01
  done
  end=$(date +%s%N)
  kill "$app"; wait "$app" 2>/dev/null || true
  app=""
  echo $(((end - begin) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

start_once >/dev/null  # the first start fills the caches
warm=$(for _ in $(seq 1 "$runs"); do start_once; done | median)
echo "bundle: $(du -sm "$bundle" | cut -f1) MB ($(du -sb "$bundle" | cut -f1) bytes) in $(find "$bundle" -type f | wc -l) files"
echo "first window, warm: $warm ms (median of $runs)"
if [ "$(id -u)" -eq 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
  cold=$(for _ in $(seq 1 "$runs"); do sync; echo 3 > /proc/sys/vm/drop_caches; start_once; done | median)
  echo "first window, caches dropped: $cold ms (median of $runs)"
else
  echo "first window, caches dropped: not measured (needs root)"
fi
