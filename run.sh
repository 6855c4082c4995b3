#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Until the window exists this runs
# a short demonstration of coffervale-cli on a demo volume folder inside the checkout.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target coffervale-cli

cli="$PWD/build/cli/coffervale-cli"
demo="$PWD/demo-volume"
echo "The window is not built yet; this is a demonstration of the command-line tool."
echo "Demo volume: $demo"
rm -rf "$demo"
mkdir -p "$demo/computer/Trip" "$demo/restored"
printf 'Passport number: X1234567\n' > "$demo/computer/notes.txt"
head -c 3000000 /dev/urandom > "$demo/computer/Trip/photo.raw"
printf 'Day one: the harbour.\n' > "$demo/computer/Trip/diary.md"

export COFFERVALE_PASSWORD="Demo#Pass2026"
run() { echo; echo "\$ coffervale-cli --volume demo-volume $*"; "$cli" --volume "$demo" "$@"; }
run init --hint "the demo password"
run put "$demo/computer/notes.txt" "$demo/computer/Trip"
run tree
run ls Trip
run cat notes.txt
run get Trip --to "$demo/restored"
diff -r "$demo/computer/Trip" "$demo/restored/Trip" && echo "(restored files are identical)"
run check
echo
echo "The encrypted vault is in $demo/.TovinCoffervale:"
find "$demo/.TovinCoffervale" -type f | sed "s|$demo/||" | sort
