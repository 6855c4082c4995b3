#!/bin/sh
# Runs the command-line tool from this folder:   sh .../Coffervale/coffervale-cli.sh ARGS
here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd -P) || exit 1
exec sh "$here/bin/launch.sh" coffervale-cli "$@"
