#!/usr/bin/env bash
# Configures (once) and builds the 32-bit Windows binaries. Extra arguments go
# to the build tool (for example --target VNLSCN32).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
if [ ! -f "$KP_BUILD/build.ninja" ]; then
    cmake -S "$KP_ROOT" -B "$KP_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KP_ROOT/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$KP_BUILD" "$@"
