#!/usr/bin/env bash
# Starts the window under a virtual display with a window manager, on a temporary volume,
# walks start -> agreement -> register -> login -> unlocked in English and Chinese, and saves
# one PNG per screen in docs/screenshots/ (or the folder given); then the restore wizard and
# the backup settings sheet in both languages.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
app="$PWD/build/app/coffervale"
[ -x "$app" ] || { echo "build the program first (./run.sh or ./test.sh)"; exit 1; }
mkdir -p "$out"

display=":${SCREENSHOT_DISPLAY:-$((90 + RANDOM % 100))}"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d)
cleanup() { kill "$app_pid" "$wm" "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export DISPLAY="$display"
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 0.5

# The window whose title contains $1, once it is shown.
window() {
  for _ in $(seq 1 50); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1) && [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
  echo "no window '$1'" >&2; return 1
}
shot() {  # window id, file name
  xdotool windowactivate --sync "$1" 2>/dev/null || true
  sleep 0.6
  import -window "$1" -frame "$out/$2.png"
  echo "saved $out/$2.png"
}
keys() { xdotool key --delay 80 "$@"; }
type_text() { xdotool type --delay 40 "$1"; }

for lang in en zh-Hans; do
  volume="$work/$lang"; mkdir -p "$volume"
  case $lang in en) locale=en_US.UTF-8; language=en;; zh-Hans) locale=zh_CN.UTF-8; language=zh_CN;; esac
  HOME="$work/home-$lang" XDG_RUNTIME_DIR="$work/run-$lang" LANGUAGE=$language LANG=$locale \
    "$app" --volume "$volume" >/dev/null 2>&1 &
  app_pid=$!
  mkdir -p "$work/run-$lang" && chmod 700 "$work/run-$lang"

  start=$(window "Coffervale"); sleep 0.3; import -window "$start" -frame "$out/$lang-1-start.png"
  echo "saved $out/$lang-1-start.png"

  sleep 1.5
  agreement=$(xdotool getactivewindow); shot "$agreement" "$lang-2-agreement"
  keys space Tab space                        # accept, then Next

  sleep 1; register=$(xdotool getactivewindow)
  type_text "Coffer#2026"; keys Tab; type_text "Coffer#2026"; keys Tab; type_text "the usual one"
  shot "$register" "$lang-3-register"
  keys Tab Tab space                          # OK

  sleep 2.5; login=$(xdotool getactivewindow); shot "$login" "$lang-4-login"
  type_text "Coffer#2026"; keys Return
  sleep 1.5; shot "$login" "$lang-5-unlocked"
  kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
done

# The unlocked screen in its three views, on a vault with a few pictures and documents.
cli="$PWD/build/cli/coffervale-cli"
volume="$work/views"; samples="$work/samples"; mkdir -p "$volume" "$samples/Holiday"
for colour in orange teal purple; do
  convert -size 320x240 "gradient:$colour-white" "$samples/Holiday/$colour.png"
done
printf 'Shopping list\n' >"$samples/notes.txt"
printf 'Quarterly report\n' >"$samples/report.md"
export COFFERVALE_PASSWORD="Coffer#2026"
"$cli" --volume "$volume" init >/dev/null
"$cli" --volume "$volume" put "$samples/Holiday" "$samples/notes.txt" "$samples/report.md" >/dev/null
unset COFFERVALE_PASSWORD
home="$work/home-views"; mkdir -p "$home/Documents" "$work/run-views" && chmod 700 "$work/run-views"
cp "$samples/notes.txt" "$samples/report.md" "$home/Documents/"
HOME="$home" XDG_RUNTIME_DIR="$work/run-views" LANGUAGE=en LANG=en_US.UTF-8 \
  "$app" --volume "$volume" >/dev/null 2>&1 &
app_pid=$!
window "Coffervale" >/dev/null; sleep 3; main=$(xdotool getactivewindow)
type_text "Coffer#2026"; keys Return; sleep 2
keys Tab Down Return; sleep 1                 # open the vault's root entry
shot "$main" "en-6-unlocked-details"
keys Home Return; sleep 1                     # into the Holiday folder
keys ctrl+3; sleep 2; shot "$main" "en-7-unlocked-thumbnails"
keys ctrl+2; sleep 0.8; shot "$main" "en-8-unlocked-list"
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true


# The restore wizard (pages 1, 2, 3 and 5) and the backup settings sheet, in both languages,
# on a vault with one backup in the documents folder.
settings_menu() {  # opens the Settings menu and goes down $1 entries
  keys alt; sleep 0.3; keys Right Right Right Down; sleep 0.4
  for _ in $(seq 1 "$1"); do keys Down; done
}
for lang in en zh-Hans; do
  case $lang in en) locale=en_US.UTF-8; language=en;; zh-Hans) locale=zh_CN.UTF-8; language=zh_CN;; esac
  volume="$work/settings-$lang"; home="$work/home-settings-$lang"; run="$work/run-settings-$lang"
  mkdir -p "$volume" "$home/Documents" "$run" && chmod 700 "$run"
  COFFERVALE_PASSWORD="Coffer#2026" "$cli" --volume "$volume" init >/dev/null
  COFFERVALE_PASSWORD="Coffer#2026" "$cli" --volume "$volume" put "$samples/notes.txt" >/dev/null
  backup="$home/Documents/TovinUSBENC/Backup/2026-12-01 09:30:00"
  mkdir -p "$(dirname "$backup")" && cp -r "$volume/.TovinCoffervale" "$backup"
  HOME="$home" XDG_RUNTIME_DIR="$run" LANGUAGE=$language LANG=$locale \
    "$app" --volume "$volume" >/dev/null 2>&1 &
  app_pid=$!
  window "Coffervale" >/dev/null; sleep 3
  type_text "Coffer#2026"; keys Return; sleep 2
  settings_menu 2; keys Return; sleep 1         # Settings > Restore Data
  wizard=$(xdotool getactivewindow); shot "$wizard" "$lang-9-restore-1"
  keys Return; sleep 1.5; keys Down space       # Next, then choose the backup
  shot "$wizard" "$lang-9-restore-2"
  keys Return; sleep 0.5; shot "$wizard" "$lang-9-restore-3"
  keys Return; sleep 3; shot "$wizard" "$lang-9-restore-5"
  keys Return; sleep 2                          # OK locks; log in to the restored vault
  type_text "Coffer#2026"; keys Return; sleep 2
  settings_menu 3; keys Return; sleep 1.5       # Settings > Backup Settings
  sheet=$(xdotool getactivewindow); shot "$sheet" "$lang-10-backup-settings"
  keys Escape
  kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
done

# The automatic-lock sheet: the Settings menu's last entry but one, or its last while the
# format entry is disabled (which entry Up reaches first from the top wraps to the bottom).
for lang in en zh-Hans; do
  case $lang in en) locale=en_US.UTF-8; language=en; title="Automatic Lock";;
    zh-Hans) locale=zh_CN.UTF-8; language=zh_CN; title="自动锁定";; esac
  volume="$work/lock-$lang"; mkdir -p "$volume" "$work/run-lock-$lang" && chmod 700 "$work/run-lock-$lang"
  COFFERVALE_PASSWORD="Coffer#2026" "$cli" --volume "$volume" init >/dev/null
  HOME="$work/home-lock-$lang" XDG_RUNTIME_DIR="$work/run-lock-$lang" LANGUAGE=$language LANG=$locale \
    "$app" --volume "$volume" >/dev/null 2>&1 &
  app_pid=$!
  window "Coffervale" >/dev/null; sleep 3; main=$(xdotool getactivewindow)
  type_text "Coffer#2026"; keys Return; sleep 2
  for ups in Up "Up Up"; do
    xdotool mousemove --window "$main" 20 12 click 1; sleep 0.5   # the first menu, then Settings
    # shellcheck disable=SC2086
    keys Right Right Right $ups Return; sleep 1.5
    sheet=""   # by its full title: a search pattern does not match Chinese titles
    for w in $(xdotool search --onlyvisible --name Coffervale 2>/dev/null); do
      [ "$(xdotool getwindowname "$w")" = "$title – Coffervale" ] && sheet=$w
    done
    [ -n "$sheet" ] && break
    keys Escape; sleep 0.5                      # the format question: cancel it
  done
  shot "$sheet" "$lang-11-timeout"
  kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
done
