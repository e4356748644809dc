#!/usr/bin/env bash
# Builds everything and runs all tests under Wine in the private prefix of
# each build that set-up chose (KP_ARCH picks; see scripts/setup.sh).
# Extra arguments go to ctest (for example -R Settings).
set -uo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/env.sh"
kp_setup
failed=()
for build in $(kp_builds); do
    echo "== $build: build and prefix"
    kp_prepare "$build"
    echo "== $build: tests"
    ctest --test-dir "$KP_BUILD" --output-on-failure "$@" || failed+=("$build")
    wineserver -k >/dev/null 2>&1 || true
done
if [ ${#failed[@]} -gt 0 ]; then
    kp_fail "tests failed in the ${failed[*]} build (their output is above)" \
        "run one test again with bash scripts/test.sh -R NAME"
fi
