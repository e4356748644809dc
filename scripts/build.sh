#!/usr/bin/env bash
# Configures (once) and builds one build (i686 or x86_64, as the caller or
# set-up chose). Extra arguments go to the build tool (for example
# --target VNLSCN32).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
kp_use_default
bash "$KP_ROOT/scripts/cross_libs.sh" "$KP_ARCH_NOW" "$KP_BUILD" || exit 1
if [ ! -f "$KP_BUILD/build.ninja" ]; then
    cmake -S "$KP_ROOT" -B "$KP_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KP_ROOT/cmake/mingw-$KP_ARCH_NOW.cmake" -DCMAKE_BUILD_TYPE=Release ||
        kp_fail "CMake could not configure the $KP_ARCH_NOW build in $KP_BUILD" \
            "run bash scripts/setup.sh for the compilers, or remove $KP_BUILD and run again"
fi
cmake --build "$KP_BUILD" "$@"
