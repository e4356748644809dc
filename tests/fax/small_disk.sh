#!/bin/sh
# small_disk.sh up|down FOLDER...: mounts a small disk of its own (a 64 KB
# tmpfs) at each FOLDER for the delivery tests onto a full disk, or takes
# them away. Without the right to mount, "up" says so and succeeds: those
# tests then skip, saying why, and every other test still runs.
set -u
action=$1
shift
for folder in "$@"; do
    if mountpoint -q "$folder"; then
        umount "$folder" || umount -l "$folder" || exit 1
    fi
    if [ "$action" = up ]; then
        mkdir -p "$folder" || exit 1
        mount -t tmpfs -o size=64k,mode=0755 tmpfs "$folder" ||
            echo "KEYPAD32: no small disk at $folder (mounting needs root): its delivery test skips"
    fi
    ! mountpoint -q "$folder" || [ "$action" = up ] || exit 1
done
