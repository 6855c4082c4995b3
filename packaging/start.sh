#!/bin/sh
# Starts the Coffervale window from this folder. Sticks formatted FAT32 keep no execute bits,
# so start it with sh:   sh /media/USER/STICK/Coffervale/start.sh
# --self-test shows no window: it prints the volume the window would open and exits 0, or
# says why not and exits 1.
here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd -P) || exit 1
exec sh "$here/bin/launch.sh" coffervale "$@"
