#!/usr/bin/env bash
# Installs what building and running KEYPAD32 needs on Debian: the MinGW-w64
# cross compiler, 32-bit Wine, Xvfb, CMake, GoogleTest sources and the
# native image tools the tests compare against (Ghostscript renders the
# copy job's printed PostScript). Safe to run again.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686)
command -v wine >/dev/null 2>&1 || need+=(wine wine32:i386)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
command -v Xvfb >/dev/null 2>&1 || need+=(xvfb)
command -v xauth >/dev/null 2>&1 || need+=(xauth)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -x /usr/bin/python3 ] || need+=(python3)
/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1 || need+=(python3-pil)
command -v import >/dev/null 2>&1 || need+=(imagemagick)
command -v tiffcp >/dev/null 2>&1 || need+=(libtiff-tools)
command -v cjpeg >/dev/null 2>&1 || need+=(libjpeg-turbo-progs)
command -v gs >/dev/null 2>&1 || need+=(ghostscript)

if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need[@]}"
fi
