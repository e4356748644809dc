#!/bin/sh
# small_disk.sh up|down FOLDER: mounts a small disk of its own (a 64 KB
# tmpfs) at FOLDER for the delivery test of a full Sent folder, or takes it
# away. Without the right to mount, "up" says so and succeeds: that test then
# skips, saying why, and every other test still runs.
set -u
folder=$2
if mountpoint -q "$folder"; then
    umount "$folder" || umount -l "$folder" || exit 1
fi
if [ "$1" = up ]; then
    mkdir -p "$folder" || exit 1
    mount -t tmpfs -o size=64k,mode=0755 tmpfs "$folder" ||
        echo "KEYPAD32: no small disk at $folder (mounting needs root): the full-Sent delivery test skips"
fi
! mountpoint -q "$folder" || [ "$1" = up ]
