#!/bin/bash
# Runs a command with a fresh volume of its own mounted from a loop device, then takes it away:
#   bench/with-loop-volume.sh exfat|ext4 SIZE_MIB COMMAND [ARG ...]
# In COMMAND's arguments @VOLUME@ becomes the mount point and @DEVICE@ the loop device. An
# exFAT volume is mounted through exfat-fuse, as a stick is (Debian: exfatprogs, exfat-fuse);
# an ext4 one keeps the other programs on this machine, and what they just deleted, out of
# the measurement; its inode tables and journal are written when it is made, so that their
# zeroing in the background is not counted as the device writes of the program measured.
# Needs root.
set -euo pipefail
kind=$1 size=$2
shift 2
image=$(mktemp /tmp/coffervale-volume-XXXXXX.img)
mnt=$(mktemp -d /tmp/coffervale-volume-XXXXXX)
dev=
cleanup() {
    mountpoint -q "$mnt" && umount "$mnt"
    [ -n "$dev" ] && losetup -d "$dev"
    rm -f "$image"
    rmdir "$mnt"
}
trap cleanup EXIT
truncate -s "${size}M" "$image"
dev=$(losetup -f --show "$image")
case $kind in
exfat)
    mkfs.exfat "$dev" >/dev/null
    mount.exfat-fuse "$dev" "$mnt" >/dev/null
    ;;
ext4)
    mkfs.ext4 -q -E lazy_itable_init=0,lazy_journal_init=0 "$dev"
    mount "$dev" "$mnt"
    ;;
*)
    echo "kind: exfat or ext4" >&2
    exit 2
    ;;
esac
args=()
for a in "$@"; do
    a=${a//@VOLUME@/$mnt}
    args+=("${a//@DEVICE@/$dev}")
done
"${args[@]}"
