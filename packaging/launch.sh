#!/bin/sh
# Runs one of the bundle's programs: launch.sh PROGRAM [ARGS]. The program is started
# through the computer's dynamic loader, which needs no execute bit on the program's file,
# with the bundle's libraries; --library-path, unlike LD_LIBRARY_PATH, is not passed on to
# the programs Coffervale opens files with.
bin=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd -P) || exit 1
bundle=$(dirname -- "$bin")
program=$1
shift

built_for=$(cat "$bin/machine.txt" 2>/dev/null)
machine=$(uname -m)
if [ -n "$built_for" ] && [ "$built_for" != "$machine" ]; then
  echo "Coffervale: this copy is built for $built_for processors; this computer has $machine." >&2
  exit 1
fi
loader=$(cat "$bin/loader.txt" 2>/dev/null)
if [ ! -f "$loader" ]; then
  echo "Coffervale: this computer has no $loader, so it cannot start programs built for $built_for Linux." >&2
  exit 1
fi

# Nothing on a volume mounted noexec can run, not even through the loader, whose own message
# ("failed to map segment") would not say why.
if command -v findmnt >/dev/null 2>&1 &&
   findmnt -n -o OPTIONS --target "$bin" 2>/dev/null | tr ',' '\n' | grep -qx noexec; then
  echo "Coffervale: $(findmnt -n -o TARGET --target "$bin") is mounted with noexec, which lets no program on it run. Mount it again without noexec (as desktops mount sticks)." >&2
  exit 1
fi

# The window finds the Qt plugins in the bundle's plugins/ itself. Its file dialogs are the
# desktop's own through the portal theme, where the desktop runs the portal (Qt's dialogs
# otherwise); given as an argument, since QT_QPA_PLATFORMTHEME would reach the programs the
# window opens files with.
if [ "$program" = coffervale ] && [ -z "${QT_QPA_PLATFORMTHEME:-}" ] &&
   [ -f "$bundle/plugins/platformthemes/libqxdgdesktopportal.so" ]; then
  set -- -platformtheme xdgdesktopportal "$@"
fi
exec "$loader" --library-path "$bundle/lib" "$bin/$program" "$@"
