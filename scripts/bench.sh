#!/usr/bin/env bash
# Builds everything and runs the benchmarks under Wine; each prints its figures.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
bash "$here/setup.sh"
source "$here/env.sh"
bash "$here/build.sh"
kp_display
trap kp_cleanup EXIT
bash "$here/prefix.sh"
kp_wineserver
shopt -s nullglob
for bench in "$KP_BUILD"/bin/*Bench.exe; do
    echo "== $(basename "$bench" .exe)"
    wine "$bench"
done
