#!/usr/bin/env bash
# Builds everything and runs the benchmarks under Wine; each prints its figures.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/env.sh"
kp_prepare
shopt -s nullglob
for bench in "$KP_BUILD"/bin/*Bench.exe; do
    echo "== $(basename "$bench" .exe)"
    wine "$bench"
done
bash "$here/bench_imagefile.sh"
