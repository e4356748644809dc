#!/usr/bin/env bash
# Builds everything and runs the benchmarks under Wine for each build that
# set-up chose; each prints its figures, and one table of every figure
# (ours, the reference measured in the same run, their ratio, the build)
# closes the run. KP_BENCH=Delivery (a shell pattern) runs only the
# benchmarks whose name, less "Bench", it matches; KP_BENCH_ROUNDS=N makes
# the start-up and PDF benchmarks take their medians over N rounds.
set -uo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/env.sh"
kp_setup
figures=$(mktemp)
out=$(mktemp)
trap 'rm -f "$figures" "$out"; kp_cleanup' EXIT
# Shows a benchmark's output (kept in a file first: a device program it
# started outlives it and would hold a pipe open) and keeps its figures.
show() {
    tr -d '\r' <"$out" | grep -v '^FIGURE '
    tr -d '\r' <"$out" | sed -n "s/^FIGURE /$build|/p" >>"$figures"
}
for build in $(kp_builds); do
    kp_prepare "$build"
    for bench in "$KP_BUILD"/bin/${KP_BENCH:-*}Bench.exe; do
        [ -f "$bench" ] || continue
        echo "== $build: $(basename "$bench" .exe)"
        wine "$bench" >"$out" 2>&1 </dev/null
        show
        # Each benchmark starts without a device or program left by the one before.
        wine taskkill /F /IM KEYPAD32.EXE /IM VNLPANEL.EXE >/dev/null 2>&1
    done
    if [[ ImageFile == ${KP_BENCH:-*} ]]; then
        bash "$here/bench_imagefile.sh" >"$out" 2>&1 </dev/null
        show
    fi
    wineserver -k >/dev/null 2>&1 || true
done
echo
echo "== Figures: ours against the reference measured in the same run"
awk -F'|' '{ printf "%-78s %10.2f %10.2f %-7s %7.2f  %s\n", $2, $3, $4, $5, ($4 > 0 ? $3 / $4 : 0), $1 }
    BEGIN { printf "%-78s %10s %10s %-7s %7s  %s\n", "figure", "ours", "reference", "unit", "ratio", "build" }' "$figures"
