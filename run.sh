#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window. Without a removable volume it runs
# on the demo volume folder demo-volume/ inside the checkout; without a desktop session it
# runs a demonstration of the command-line tool instead.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target coffervale coffervale-cli

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Coffervale's window needs a desktop session (neither DISPLAY nor WAYLAND_DISPLAY is set)."
  echo "Showing the command-line tool instead."
  exec scripts/cli-demo.sh
fi

args=("$@")
if ! findmnt -rn -o TARGET | grep -qE '^(/media|/run/media)/'; then
  mkdir -p demo-volume
  echo "No removable volume is mounted: Coffervale starts on the demo volume $PWD/demo-volume."
  args=(--volume "$PWD/demo-volume" "${args[@]}")
fi
exec build/app/coffervale "${args[@]}"
