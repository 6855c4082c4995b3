#!/usr/bin/env bash
# A person's path through the unlocked screen under a virtual display: copy a stored file and
# read the clipboard as a file manager would (xclip), then drag a stored file onto the
# computer pane and find it exported. Needs Xvfb, openbox, xdotool and xclip; not part of
# ./test.sh (it needs a display server). Exits non-zero on the first check that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
app="$PWD/build/app/coffervale"
cli="$PWD/build/cli/coffervale-cli"
[ -x "$app" ] && [ -x "$cli" ] || { echo "build the program first (./run.sh or ./test.sh)"; exit 1; }

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d)
app_pid=
cleanup() { kill $app_pid "$wm" "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export DISPLAY="$display"
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 0.5
fail() { echo "FAILED: $*"; exit 1; }

volume="$work/stick"; home="$work/home"; mkdir -p "$volume" "$home/Documents" "$work/run"; chmod 700 "$work/run"
printf 'dragged out\n' >"$work/drag-me.txt"
printf 'copied out\n' >"$work/copy-me.txt"
export COFFERVALE_PASSWORD="Smoke#2026"
"$cli" --volume "$volume" init >/dev/null
"$cli" --volume "$volume" put "$work/copy-me.txt" "$work/drag-me.txt" >/dev/null
unset COFFERVALE_PASSWORD
HOME="$home" XDG_RUNTIME_DIR="$work/run" LANGUAGE=en LANG=en_US.UTF-8 "$app" --volume "$volume" >/dev/null 2>&1 &
app_pid=$!
sleep 4
main=$(xdotool getactivewindow)
xdotool windowsize --sync "$main" 1200 700
xdotool type --delay 40 "Smoke#2026"; xdotool key Return; sleep 2
xdotool key Tab Down Return; sleep 1            # into the vault: copy-me.txt, drag-me.txt

# Copy the first row and read the clipboard in the file managers' format.
xdotool key Home ctrl+c; sleep 2
copied=$(xclip -o -selection clipboard -t x-special/gnome-copied-files 2>/dev/null || true)
case "$copied" in
  copy$'\n'file://*copy-me.txt) echo "ok: the clipboard offers the decrypted copy: ${copied//$'\n'/ }";;
  *) fail "clipboard holds '$copied'";;
esac
path=$(printf '%s' "$copied" | tail -1 | sed 's|^file://||')
[ "$(cat "$path")" = "copied out" ] || fail "the offered file does not hold the stored content"

# Drag the second row onto the computer pane's file table (the Documents folder is shown).
main=$(xdotool getactivewindow)
row_x=60; row_y=123                             # second row of the detail list, in the window
table_x=900; table_y=380                        # the computer pane's file table
xdotool mousemove --window "$main" "$row_x" "$row_y" click 1; sleep 0.3
xdotool mousedown 1; sleep 0.2
for step in 1 2 3 4 5 6 7 8; do
  xdotool mousemove --window "$main" $((row_x + (table_x - row_x) * step / 8)) $((row_y + (table_y - row_y) * step / 8))
  sleep 0.1
done
xdotool mouseup 1; sleep 3
[ -n "${SMOKE_SHOT:-}" ] && import -window root "$SMOKE_SHOT"
[ -f "$home/Documents/drag-me.txt" ] || fail "the drag exported nothing into Documents"
[ "$(cat "$home/Documents/drag-me.txt")" = "dragged out" ] || fail "the exported file differs"
echo "ok: the drag exported drag-me.txt into Documents"
