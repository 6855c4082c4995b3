#!/usr/bin/env bash
# A short demonstration of coffervale-cli on a demo volume folder inside the checkout, for
# machines without a desktop session. Expects the build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cli="$PWD/build/cli/coffervale-cli"
demo="$PWD/demo-cli-volume"
echo "Demo volume: $demo"
rm -rf "$demo"
mkdir -p "$demo/computer/Trip" "$demo/restored"
printf 'Passport number: X1234567\n' > "$demo/computer/notes.txt"
head -c 3000000 /dev/urandom > "$demo/computer/Trip/photo.raw"
printf 'Day one: the harbour.\n' > "$demo/computer/Trip/diary.md"

export COFFERVALE_PASSWORD="Demo#Pass2026"
run() { echo; echo "\$ coffervale-cli --volume demo-cli-volume $*"; "$cli" --volume "$demo" "$@"; }
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
