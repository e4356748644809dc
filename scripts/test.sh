#!/usr/bin/env bash
# Builds everything and runs all tests under Wine in the private prefix.
# Extra arguments go to ctest (for example -R Settings).
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
bash "$here/setup.sh"
source "$here/env.sh"
bash "$here/build.sh"
kp_display
trap kp_cleanup EXIT
bash "$here/prefix.sh"
kp_wineserver
ctest --test-dir "$KP_BUILD" --output-on-failure "$@"
