#!/usr/bin/env bash
# The window on a real desktop: Xvfb, openbox and Debian's file manager pcmanfm. Files go
# between the vault and pcmanfm by drag and by clipboard, both ways, and every file that
# arrives is compared byte for byte; then a second start on the same vault must leave the
# first program as it was, the computer pane must show a folder made from outside, and a lock
# must leave no decrypted copy behind.
#
# Each case is a function named case_<name>, run in the order of CASES; a case that fails
# says why and the others still run. To add one: write the function, add its name to CASES.
# Helpers: wait_until SECONDS COMMAND... (polls), in_app / in_files (focus), click_row N,
# drag_between X1 Y1 X2 Y2, vault_cat PATH, copies_in_cache.
#
# Skips (exit 0) when a display server or pcmanfm cannot start; exits 1 when a case fails.
# Uses the displays :91 to :93 only.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
app="${COFFERVALE_DESKTOP_APP:-$root/build/app/coffervale}"  # another build can be checked
cli="$root/build/cli/coffervale-cli"
[ -x "$app" ] && [ -x "$cli" ] || { echo "desktop-test: build the program first (./run.sh or ./test.sh)"; exit 1; }
skip() { echo "desktop-test: SKIPPED: $*"; exit 0; }
for tool in Xvfb openbox pcmanfm xdotool xclip dbus-launch import; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done

CASES=(copy_to_file_manager paste_from_file_manager drag_in_small drag_out_small drag_in_large drag_out_large
       paste_after_drag clipboard_after_other_owner second_instance computer_pane_shows_outside_folder
       lock_leaves_no_decrypted_copy
       end_of_session_leaves_no_decrypted_copy)

password="Desktop#2026"
work=$(mktemp -d /tmp/coffervale-desktop.XXXXXX)
volume="$work/stick"; home="$work/home"; runtime="$work/run"; log="$work/app.log"
mkdir -p "$volume" "$home/Documents" "$home/Outbox" "$home/Desktop" "$runtime"; chmod 700 "$runtime"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  [ -n "${DBUS_SESSION_BUS_PID:-}" ] && kill "$DBUS_SESSION_BUS_PID" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" TERM INT HUP  # so that a killed run cleans up too

# Polls COMMAND every 0.1 s until it succeeds or SECONDS pass.
wait_until() {
  local limit=$1; shift
  local started=$SECONDS deadline=$((SECONDS + limit))
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -ge "$deadline" ] && { echo "  (gave up after $limit s: $*)" >&3; return 1; }
    sleep 0.1
  done
  [ $((SECONDS - started)) -ge 5 ] && echo "  (waited $((SECONDS - started)) s: $*)" >&3
  return 0
}
exec 3>&2
has_ended() { local state; state=$(ps -o stat= -p "$1" 2>/dev/null); [ -z "$state" ] || [[ $state == Z* ]]; }
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1; }
has_window() { [ -n "$(window_named "$1")" ]; }

# --- The desktop ---------------------------------------------------------------------
display=
for number in 91 92 93; do
  [ -e "/tmp/.X$number-lock" ] && continue
  Xvfb ":$number" -screen 0 1600x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pid=$!
  export DISPLAY=":$number"
  if wait_until 10 xdotool getdisplaygeometry >/dev/null; then display=$number; pids+=("$pid"); break; fi
  kill "$pid" 2>/dev/null
done
[ -n "$display" ] || skip "no virtual display could start on :91 to :93"
export HOME="$home" XDG_RUNTIME_DIR="$runtime" LANGUAGE=en LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
eval "$(dbus-launch --sh-syntax)"
openbox >/dev/null 2>&1 & pids+=($!)
wait_until 10 xdotool search --class openbox >/dev/null || sleep 1
pcmanfm --no-desktop "$home/Documents" >"$work/pcmanfm.log" 2>&1 & pids+=($!)
wait_until 20 has_window '^Documents$' || skip "pcmanfm shows no window"
files=$(window_named '^Documents$')
xdotool windowmove "$files" 900 60 windowsize "$files" 680 560
sleep 0.3
xdotool windowactivate --sync "$files"; xdotool key ctrl+4   # pcmanfm's detailed list

# --- The vault and the program -------------------------------------------------------
export COFFERVALE_PASSWORD="$password"
head -c 300M /dev/urandom >"$work/c-big.bin"
printf 'copied out of the vault\n' >"$work/a-copy.txt"
printf 'dragged out of the vault\n' >"$work/b-drag.txt"
printf 'dragged into the vault\n' >"$work/d-small-in.txt"
printf 'pasted into the vault\n' >"$work/e-pasted.txt"
head -c 300M /dev/urandom >"$work/f-big-in.bin"
"$cli" --volume "$volume" init >/dev/null
"$cli" --volume "$volume" mkdir /Inbox >/dev/null
"$cli" --volume "$volume" put "$work/a-copy.txt" "$work/b-drag.txt" "$work/c-big.bin" >/dev/null ||
  { echo "desktop-test: the vault could not be filled"; exit 1; }
vault_cat() { "$cli" --volume "$volume" cat "$1"; }
same_as() { cmp -s "$1" "$2"; }

start_app() {
  "$app" --volume "$volume" >>"$log" 2>&1 &
  app_pid=$!; pids+=("$app_pid")
  # The start window gives way to the login window after a second; that one stays.
  wait_until 30 login_window_shown || return 1
  main=$(window_named '^Coffervale$')
  xdotool windowmove "$main" 0 0 windowsize --sync "$main" 880 760
}
login_window_shown() {
  local id; id=$(window_named '^Coffervale$')
  [ -n "$id" ] && [ "$(xdotool getwindowgeometry "$id" 2>/dev/null | awk '/Geometry/ { split($2, s, "x"); print s[1] }')" -ge 600 ]
}
in_app() { xdotool windowactivate --sync "$main" 2>/dev/null; sleep 0.2; }
in_files() { xdotool windowactivate --sync "$files" 2>/dev/null; sleep 0.2; }
# Rows of the vault's detail list, counted from 0, and of pcmanfm's list.
row_y() { echo $((105 + 18 * $1)); }
click_row() { xdotool mousemove --window "$main" 60 "$(row_y "$1")" click 1; sleep 0.2; }
file_row() { xdotool mousemove --window "$files" 330 $((118 + 22 * $1)) click 1; sleep 0.2; }
empty_file_area() { xdotool mousemove --window "$files" 400 450 click 1; sleep 0.2; }
# Presses at (X1, Y1), moves in steps and lets go at (X2, Y2), in screen coordinates.
drag_between() {
  local x1=$1 y1=$2 x2=$3 y2=$4 hold=${5:-}
  xdotool mousemove "$x1" "$y1"; sleep 0.2; xdotool mousedown 1
  for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $((x1 + (x2 - x1) * step / 16)) $((y1 + (y2 - y1) * step / 16)); sleep 0.05
  done
  [ -n "$hold" ] && "$hold"   # the decryption of a large drag, before the pointer goes on
  for step in 9 10 11 12 13 14 15 16; do
    xdotool mousemove $((x1 + (x2 - x1) * step / 16)) $((y1 + (y2 - y1) * step / 16)); sleep 0.05
  done
  sleep 0.3; xdotool mouseup 1
}
clipboard_names() { xclip -o -selection clipboard -t text/uri-list 2>/dev/null | tr -d "\\0"; }
clipboard_offers() { clipboard_names | grep -q "$1"; }
# Decrypted files this program left in its private folder (its lock file aside).
copies_in_cache() { find "$runtime/TovinUSBENC" -type f ! -name owner.lock ! -path '*/stamps/*' ! -name 'volume-*' 2>/dev/null; }
no_copies_in_cache() { [ -z "$(copies_in_cache)" ]; }
# The reminder a finished transfer shows: a window of the program's other than the main one.
reminder_window() { xdotool search --onlyvisible --name '^Coffervale$' 2>/dev/null | grep -vx "$main" | tail -1; }
reminder_shown() { [ -n "$(reminder_window)" ]; }
no_reminder_shown() { ! reminder_shown; }
# Clicks the reminder's OK button (bottom right), and presses Return only if it is still there:
# while a file manager's drop is being wound up, keys can stay with it and never reach us.
close_reminder() {
  local id WIDTH HEIGHT
  id=$(reminder_window); [ -n "$id" ] || return 0
  eval "$(xdotool getwindowgeometry --shell "$id" | grep -E '^(WIDTH|HEIGHT)=')"
  xdotool mousemove --window "$id" $((WIDTH - 65)) $((HEIGHT - 29)) click 1
  wait_until 3 no_reminder_shown && return 0
  xdotool windowactivate --sync "$id" 2>/dev/null; xdotool key Return
  wait_until 3 no_reminder_shown
}
dismiss_reminder() {
  wait_until 20 reminder_shown || return 0   # the vault may hold the file before the window says so
  close_reminder
}
in_vault() { "$cli" --volume "$volume" ls "$1" 2>/dev/null | grep -q "$2"; }

log_in() {
  in_app
  xdotool type --delay 30 "$password"; xdotool key Return
  # The unlocked screen shows the vault's root entry; open it, then wait for its rows.
  wait_until 20 root_entry_shown || return 1
  xdotool mousemove --window "$main" 60 "$(row_y 0)" click --repeat 2 --delay 80 1
  wait_until 10 rows_shown
}
region_colours() { import -window root -crop "$3x$4+$1+$2" -format %k info: 2>/dev/null; }
root_entry_shown() { [ "$(region_colours 10 98 200 14)" -gt 8 ]; }
rows_shown() { [ "$(region_colours 10 $(( $(row_y 3) - 7 )) 200 14)" -gt 8 ]; }

# Shows FOLDER (in $home) in pcmanfm.
show_folder() {
  in_files; xdotool key ctrl+l; xdotool type --delay 10 "$home/$1"; xdotool key Return
  wait_until 10 has_window "^$1\$" || { echo "pcmanfm does not show $1"; return 1; }
  files=$(window_named "^$1\$"); sleep 0.3
}

# --- Cases ---------------------------------------------------------------------------
# The top level of the vault, in order: Inbox/, a-copy.txt, b-drag.txt, c-big.bin; once
# paste_from_file_manager has added e-pasted.txt, that text sorts before c-big.bin (texts come
# before other files, whatever the key).

case_copy_to_file_manager() {
  show_folder Documents || return 1
  in_app; click_row 1; xdotool key ctrl+c
  wait_until 10 clipboard_offers a-copy.txt || { echo "the clipboard offers no file: $(clipboard_names)"; return 1; }
  in_files; empty_file_area; xdotool key ctrl+v
  wait_until 10 same_as "$home/Documents/a-copy.txt" "$work/a-copy.txt" ||
    { echo "pcmanfm pasted nothing, or other bytes"; return 1; }
}

case_paste_from_file_manager() {
  cp "$work/e-pasted.txt" "$home/Outbox/"
  show_folder Outbox || return 1
  file_row 0; xdotool key ctrl+c; sleep 0.3
  in_app; click_row 1; xdotool key ctrl+v
  wait_until 20 in_vault / e-pasted.txt || { echo "nothing was imported"; return 1; }
  dismiss_reminder
  vault_cat /e-pasted.txt | cmp -s - "$work/e-pasted.txt" || { echo "the stored file differs"; return 1; }
}

drop_into_inbox() {  # drags pcmanfm's first row onto the vault's Inbox row and waits for NAME
  local name=$1 limit=$2
  rm -f "$home/Outbox/"*; cp "$work/$name" "$home/Outbox/"
  show_folder Outbox || return 1
  drag_between 1230 $((60 + 118)) 60 "$(row_y 0)"
  wait_until "$limit" in_vault /Inbox "$name" || { echo "$name did not arrive in the vault"; return 1; }
  dismiss_reminder
  vault_cat "/Inbox/$name" | cmp -s - "$work/$name" || { echo "the stored $name differs"; return 1; }
}
case_drag_in_small() { drop_into_inbox d-small-in.txt 20; }
case_drag_in_large() { drop_into_inbox f-big-in.bin 90; }

# The copy is decrypted while the button is held; the pointer moves on once it is whole.
staged_whole() { [ "$(stat -c %s "$(copies_in_cache | grep "/$1$" | head -1)" 2>/dev/null)" = "$2" ]; }
drag_out() {  # drags vault row ROW (NAME) onto pcmanfm's Documents list
  local row=$1 name=$2 size
  size=$(stat -c %s "$work/$name")
  show_folder Documents || return 1
  in_app; click_row "$row"
  hold() { wait_until 90 staged_whole "$name" "$size"; sleep 0.5; }
  drag_between 60 "$(row_y "$row")" 1300 400 hold
  wait_until 90 same_as "$home/Documents/$name" "$work/$name" ||
    { echo "$name did not arrive in pcmanfm whole"; return 1; }
}
case_drag_out_small() { drag_out 2 b-drag.txt; }
case_drag_out_large() { drag_out 4 c-big.bin; }

case_paste_after_drag() {
  rm -f "$home/Documents/a-copy.txt"
  case_copy_to_file_manager
}

case_clipboard_after_other_owner() {
  printf 'someone else' | xclip -selection clipboard -i >/dev/null 2>&1  # it stays to serve
  wait_until 5 sh -c '[ "$(xclip -o -selection clipboard)" = "someone else" ]'
  rm -f "$home/Documents/a-copy.txt"
  case_copy_to_file_manager
}

case_second_instance() {
  local before after
  before=$(copies_in_cache | sort | xargs -r md5sum)
  timeout 20 "$app" --volume "$volume" >>"$log" 2>&1 || { echo "the second start did not end by itself"; return 1; }
  after=$(copies_in_cache | sort | xargs -r md5sum)
  kill -0 "$app_pid" || { echo "the first program ended"; return 1; }
  [ "$before" = "$after" ] || { echo "the first program's copies changed"; return 1; }
  rm -f "$home/Documents/a-copy.txt"
  case_copy_to_file_manager || { echo "the first program no longer works"; return 1; }
}

# A folder made from outside appears in the computer pane without any action in the window.
# The pane's own menu then renames it, which it can only do for a row it shows.
case_computer_pane_shows_outside_folder() {
  local docs="$home/Documents" made="MadeOutside$RANDOM" seen="SeenInPane$RANDOM" WIDTH HEIGHT rename
  mkdir -p "$docs/$made"
  eval "$(xdotool getwindowgeometry --shell "$main" | grep -E '^(WIDTH|HEIGHT)=')"
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    in_app
    # Documents in the pane's tree (its type-ahead), then the new row in its list.
    xdotool mousemove --window "$main" $((WIDTH * 57 / 100)) $((HEIGHT * 4 / 5)) click 1
    xdotool type --delay 30 "Documents"
    xdotool mousemove --window "$main" $((WIDTH * 9 / 10)) $((HEIGHT * 4 / 5)) click 1
    xdotool type --delay 30 "$made"
    xdotool key Menu; sleep 0.3; xdotool key Down Return      # the row's menu: Rename
    if wait_until 3 active_window_other_than "$main"; then
      rename=$(xdotool getactivewindow)
      xdotool type --delay 30 "$seen"; xdotool key Return     # the new name
      wait_until 3 active_window_other_than "$main" "$rename" && xdotool key Return  # "renamed": OK
      [ -d "$docs/$seen" ] && [ ! -e "$docs/$made" ] && return 0
    else
      xdotool key Escape
    fi
    sleep 0.5                                                   # the watcher's turn, then again
  done
  echo "the computer pane never showed $docs/$made"
  return 1
}
active_window_other_than() {
  local active; active=$(xdotool getactivewindow 2>/dev/null) || return 1
  [[ " $* " != *" $active "* ]]
}

case_lock_leaves_no_decrypted_copy() {
  [ -n "$(copies_in_cache)" ] || { echo "no decrypted copy to begin with"; return 1; }
  in_app; xdotool mousemove --window "$main" 830 36 click 1
  wait_until 20 no_copies_in_cache || { echo "left behind: $(copies_in_cache)"; return 1; }
}

# The desktop ends the session (log-out sends SIGTERM): the program quits the normal way.
case_end_of_session_leaves_no_decrypted_copy() {
  log_in || { echo "could not log in again"; return 1; }
  in_app; click_row 1; xdotool key ctrl+c
  wait_until 10 clipboard_offers a-copy.txt || { echo "nothing was copied"; return 1; }
  kill -TERM "$app_pid"
  wait_until 30 has_ended "$app_pid" || { echo "the program did not end"; return 1; }
  no_copies_in_cache || { echo "left behind: $(copies_in_cache)"; return 1; }
  [ -z "$(find "$runtime/TovinUSBENC" -maxdepth 1 -name 'run-*')" ] || { echo "its folder is left"; return 1; }
}

# --- Run -----------------------------------------------------------------------------
# Each case runs in a subshell of its own, with a time limit: a tool that never returns (an
# xdotool waiting for a window that never comes) fails that case instead of the whole run.
kill_tree() {
  local child
  for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do kill_tree "$child"; done
  kill "$1" 2>/dev/null
}
run_case() {
  local limit=150 started=$SECONDS pid
  "case_$1" >"$work/case.out" 2>&1 &
  pid=$!
  while ! has_ended "$pid"; do
    if [ $((SECONDS - started)) -ge "$limit" ]; then
      kill_tree "$pid"; wait "$pid" 2>/dev/null
      echo "(stopped after $limit s)" >>"$work/case.out"
      return 1
    fi
    sleep 0.2
  done
  wait "$pid"
}
start_app || { echo "desktop-test: the program shows no window"; cat "$log"; exit 1; }
log_in || { echo "desktop-test: could not log in and open the vault"; import -window root /tmp/coffervale-desktop-login.png; exit 1; }
passed=0; failed=0
for name in "${CASES[@]}"; do
  started=$SECONDS
  # A dialog a failed case left open would take the next case's keys.
  for _ in 1 2 3; do reminder_shown && close_reminder 2>/dev/null; done
  if run_case "$name"; then
    passed=$((passed + 1)); echo "ok: $name ($((SECONDS - started)) s)"
  else
    failed=$((failed + 1)); echo "FAILED: $name: $(cat "$work/case.out")"
    import -window root "/tmp/coffervale-desktop-$name.png" 2>/dev/null
  fi
done
echo "desktop-test: $passed passed, $failed failed ($SECONDS s)"
[ "$failed" -eq 0 ]
