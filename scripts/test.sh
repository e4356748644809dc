#!/usr/bin/env bash
# Builds everything and runs all tests under Wine in the private prefix.
# Extra arguments go to ctest (for example -R Settings).
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/env.sh"
kp_prepare
ctest --test-dir "$KP_BUILD" --output-on-failure "$@"
