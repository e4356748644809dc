#!/usr/bin/env bash
# Libraries that the Windows builds link statically and that Debian has only
# as source: fetched with `apt-get source` once per machine, cross-built with
# a build's MinGW-w64 toolchain once per source version, compiler and options
# (both kept outside the work tree, in $KP_CACHE), and copied into each build
# folder's libs/ (include/, lib/, and share/licences/ with their licences) once.
#
#   cross_libs.sh ARCH BUILD_FOLDER [ARCH BUILD_FOLDER]...
#
# ARCH is i686 or x86_64 (cmake/mingw-ARCH.cmake). Fetching may need root:
# without a deb-src entry for the system's main suite it adds one in a
# sources file of its own and updates the package index. Output of the tools
# goes to $KP_LOG (default: BUILD_FOLDER/libs.log of the first build).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${KP_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/keypad32}
sources_file=${KP_APT_SOURCES_DIR:-/etc/apt/sources.list.d}/keypad32-source.sources

# The libraries in the order they are built, each with its CMake options, a
# file that shows it built, its licence file (shipped with the product) and
# a sed script that mends its source for the MinGW-w64 toolchain. In the
# options, @PACKAGE@ stands for the built tree of a library built before it.
libraries=(libjpeg-turbo leptonlib tesseract)
options_libjpeg_turbo=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON)
product_libjpeg_turbo=lib/libjpeg.a
licence_libjpeg_turbo=LICENSE.md
# Leptonica only as the OCR engine's image container: no image-file formats.
# SW_BUILD would download its dependencies.
options_leptonlib=(-DBUILD_SHARED_LIBS=OFF -DSW_BUILD=OFF -DBUILD_PROG=OFF
    -DCMAKE_DISABLE_FIND_PACKAGE_GIF=ON -DCMAKE_DISABLE_FIND_PACKAGE_JPEG=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON -DCMAKE_DISABLE_FIND_PACKAGE_TIFF=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON)
product_leptonlib=include/leptonica/allheaders.h
licence_leptonlib=leptonica-license.txt
# The LSTM engine alone. Without COMPILER_SUPPORTS_MARCH_NATIVE=OFF one file
# would be compiled for the build machine's own processor; the SIMD code is
# chosen at run time from what the processor has.
options_tesseract=(-DBUILD_SHARED_LIBS=OFF -DSW_BUILD=OFF -DCOMPILER_SUPPORTS_MARCH_NATIVE=OFF
    -DGRAPHICS_DISABLED=ON -DDISABLED_LEGACY_ENGINE=ON -DENABLE_OPENCL=OFF -DOPENMP_BUILD=OFF
    -DBUILD_TRAINING_TOOLS=OFF -DBUILD_TESTS=OFF -DDISABLE_CURL=ON -DDISABLE_ARCHIVE=ON
    -DINSTALL_CONFIGS=OFF -DCMAKE_DISABLE_FIND_PACKAGE_TIFF=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON -DLeptonica_DIR=@leptonlib@/lib/cmake/leptonica)
product_tesseract=include/tesseract/baseapi.h
licence_tesseract=LICENSE
# MinGW-w64 has the Winsock library as libws2_32.a: set(LIB_Ws2_32 ws2_32).
mend_tesseract='s/Ws2_32)$/ws2_32)/'

fail() {
    echo "KEYPAD32 set-up failed: $1" >&2
    [ -n "${2:-}" ] && echo "  What to do: $2" >&2
    [ -s "$log" ] && { echo "  The last lines of $log:" >&2; tail -5 "$log" | sed 's/^/    /' >&2; }
    exit 1
}
var() { local name="$1_${2//-/_}[@]"; echo "${!name:-}"; }

# The Signed-By field of the sources entry (file:index) that serves a suite,
# so that the deb-src entry names the same key (apt refuses two that differ).
signed_by() {
    local file=${1%:*} index=${1##*:}
    case "$file" in
    *.sources) awk -v n="$index" 'BEGIN { RS = "" } NR == n' "$file" |
        awk '/^Signed-By:/ { on = 1; print; next } on && /^[ \t]/ { print; next } { on = 0 }' ;;
    *) sed -n "${index}p" "$file" | sed -n 's/.*signed-by=\([^] ]*\).*/Signed-By: \1/p' ;;
    esac
}

# A deb-src entry for the main suite of the machine's own Debian archive.
add_source_entry() {
    local uri suite entry
    read -r uri suite entry < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(SOURCESENTRY) $(TARGET_OF) $(COMPONENT)' 2>>"$log" |
        awk '$4 == "deb" && $5 == "main" && $2 !~ /[-\/]/ { print $1, $2, $3; exit }')
    [ -n "$uri" ] || fail "no Debian suite with a main component is configured for apt, so no deb-src entry can be added" \
        "check the machine's package sources (apt-get update)"
    mkdir -p "$(dirname "$sources_file")"
    { printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\n' "$uri" "$suite"
      signed_by "$entry" 2>>"$log" || true; } >"$sources_file.new" && mv "$sources_file.new" "$sources_file" ||
        fail "$sources_file could not be written" "run set-up as root"
    # A sources list that apt cannot read would stop every apt-get on the machine.
    if ! apt-get indextargets >/dev/null 2>>"$log"; then
        rm -f "$sources_file"
        fail "apt refused the deb-src entry for $suite at $uri (it is taken away again)" \
            "add a deb-src entry for $suite by hand, then run again"
    fi
    apt-get update -q -o DPkg::Lock::Timeout=300 >>"$log" 2>&1 ||
        echo "warning: the package index could not be updated in full after adding $sources_file (see $log)" >&2
}

# The version apt offers of a source package, from the name of its .dsc.
source_version() {
    apt-get source --print-uris -q "$1" 2>>"$log" |
        sed -n "s/^'[^']*' $1_\(.*\)\.dsc .*/\1/p" | head -1
}

# The source tree of a package in the cache, fetched when missing; its path.
fetch() {
    local package=$1 version
    version=$(source_version "$package")
    if [ -z "$version" ] && [ ! -f "$sources_file" ]; then
        add_source_entry
        version=$(source_version "$package")
    fi
    [ -n "$version" ] || fail "apt-get source $package: Debian's source package of $package cannot be had ($(grep '^E:' "$log" | tail -1))" \
        "check the deb-src entry (${sources_file}) and the network, then run again"
    local tree=$cache/src/${package}_$version mend
    mend=$(var mend "$package")
    # A tree mended otherwise than the script says now is fetched anew.
    if [ ! -f "$tree/CMakeLists.txt" ] || { [ -n "$mend" ] && [ "$(cat "$tree.mended" 2>/dev/null)" != "$mend" ]; }; then
        local work
        work=$cache/src/fetch.$$
        rm -rf "$work" && mkdir -p "$work" || fail "$cache is not writable"
        (cd "$work" && apt-get source -q "$package") >>"$log" 2>&1 ||
            { rm -rf "$work"; fail "apt-get source $package failed ($(grep '^E:' "$log" | tail -1))" \
                "check the network and the deb-src entry ($sources_file), then run again"; }
        echo >>"$log"
        # Named by the version fetched, should the index have moved on meanwhile.
        local dsc=("$work/${package}_"*.dsc)
        tree=$(basename "${dsc[0]}" .dsc)
        tree=$cache/src/$tree
        rm -rf "$tree"
        mv "$work"/"$package"-*/ "$tree" && rm -rf "$work" || fail "apt-get source $package gave no source tree in $work"
        if [ -n "$mend" ]; then
            sed -i "$mend" "$tree/CMakeLists.txt" && echo "$mend" >"$tree.mended" ||
                fail "the source of $package in $tree could not be mended"
        fi
    fi
    echo "$tree"
}

# Builds a library for one toolchain into the cache (once) and copies it into
# the build folder's libs/ (once); the second argument is the source tree.
build() {
    local package=$1 tree=$2 arch=$3 folder=$4
    local triple=$arch-w64-mingw32 cc
    for cc in "$triple-gcc-posix" "$triple-gcc" ""; do command -v "$cc" >/dev/null && break; done
    [ -n "$cc" ] || fail "no $arch MinGW-w64 compiler ($triple-gcc-posix) to build $package with" "run bash scripts/setup.sh"
    # The options with the built trees of the libraries it builds on, so
    # that a library built anew makes those built on it built anew too.
    local options=() option other tree_of
    for option in $(var options "$package"); do
        for other in "${libraries[@]}"; do
            tree_of=built_${other//-/_}_$arch
            option=${option//@$other@/${!tree_of:-}}
        done
        options+=("$option")
    done
    # Keyed by the source, the compiler, the options and the mend it was built with.
    local hash
    hash=$(printf '%s\n' "${options[@]}" "$(var mend "$package")" | md5sum | cut -c1-8)
    local key="$(basename "$tree")/$triple-gcc$("$cc" -dumpversion)-$hash"
    local built=$cache/lib/$key stamp=$folder/libs/.$package
    printf -v "built_${package//-/_}_$arch" %s "$built"
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ] && return 0
    if [ ! -f "$built/$(var product "$package")" ] || [ ! -f "$built/share/licences/$package.txt" ]; then
        echo "KEYPAD32: building $package for $arch from Debian's source (once per machine)..."
        local work
        work=$cache/lib/build.$$
        rm -rf "$work" "$built" && mkdir -p "$work" || fail "$cache is not writable"
        # Installed where it stays: its CMake package names its own folder.
        { cmake -S "$tree" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_INSTALL_PREFIX="$built" \
            "${options[@]}" &&
            cmake --build "$work" &&
            cmake --install "$work"; } >>"$log" 2>&1 ||
            { rm -rf "$work" "$built"; fail "$package could not be built for $arch"; }
        rm -rf "$work"
        # Its licence goes with the product that links it; copied last, it
        # marks the built tree whole.
        mkdir -p "$built/share/licences" &&
            cp "$tree/$(var licence "$package")" "$built/share/licences/$package.txt" ||
            fail "$package has no licence file $(var licence "$package")"
    fi
    mkdir -p "$folder/libs" && cp -R "$built/include" "$built/lib" "$built/share" "$folder/libs/" &&
        echo "$key" >"$stamp" || fail "$package could not be copied into $folder/libs"
}

[ $# -ge 2 ] && [ $(($# % 2)) = 0 ] || { echo "usage: cross_libs.sh ARCH BUILD_FOLDER [ARCH BUILD_FOLDER]..." >&2; exit 2; }
# Nothing to do, and no package index read, when every build folder has them.
all_there=1
for ((i = 2; i <= $#; i += 2)); do
    for package in "${libraries[@]}"; do [ -f "${!i}/libs/.$package" ] || all_there=; done
done
[ -n "$all_there" ] && exit 0
mkdir -p "$2"
log=${KP_LOG:-$2/libs.log}
: >>"$log"
# One fetch and build at a time on this machine: the cache is shared.
mkdir -p "$cache" || fail "$cache cannot be made"
exec 9>"$cache/lock"
flock 9
for package in "${libraries[@]}"; do
    tree=$(fetch "$package") || exit 1
    for ((i = 1; i < $#; i += 2)); do
        arch=${!i}
        j=$((i + 1))
        build "$package" "$tree" "$arch" "${!j}"
    done
done
