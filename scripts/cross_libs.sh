#!/usr/bin/env bash
# Libraries that the Windows builds link statically and that Debian has only
# as source: fetched with `apt-get source` once per machine, cross-built with
# a build's MinGW-w64 toolchain once per source version, compiler and options
# (both kept outside the work tree, in $KP_CACHE), and copied into each build
# folder's libs/ (include/, lib/) once.
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

# The libraries, each with its CMake options and a file that shows it built.
libraries=(libjpeg-turbo)
options_libjpeg_turbo=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON)
product_libjpeg_turbo=lib/libjpeg.a

fail() {
    echo "KEYPAD32 set-up failed: $1" >&2
    [ -n "${2:-}" ] && echo "  What to do: $2" >&2
    [ -s "$log" ] && { echo "  The last lines of $log:" >&2; tail -5 "$log" | sed 's/^/    /' >&2; }
    exit 1
}
var() { local name="$1_${2//-/_}[@]"; echo "${!name}"; }

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
    local tree=$cache/src/${package}_$version
    if [ ! -f "$tree/CMakeLists.txt" ]; then
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
    # Keyed by the source, the compiler and the options it was built with.
    local options
    options=$(var options "$package" | md5sum | cut -c1-8)
    local key="$(basename "$tree")/$triple-gcc$("$cc" -dumpversion)-$options"
    local built=$cache/lib/$key stamp=$folder/libs/.$package
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ] && return 0
    if [ ! -f "$built/$(var product "$package")" ]; then
        echo "KEYPAD32: building $package for $arch from Debian's source (once per machine)..."
        local work
        work=$cache/lib/build.$$
        rm -rf "$work" && mkdir -p "$work" || fail "$cache is not writable"
        # shellcheck disable=SC2046
        { cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DCMAKE_INSTALL_PREFIX="$work/install" \
            $(var options "$package") &&
            cmake --build "$work/build" &&
            cmake --install "$work/build"; } >>"$log" 2>&1 ||
            { rm -rf "$work"; fail "$package could not be built for $arch"; }
        mkdir -p "$(dirname "$built")" && rm -rf "$built" && mv "$work/install" "$built" && rm -rf "$work"
    fi
    mkdir -p "$folder/libs" && cp -R "$built/include" "$built/lib" "$folder/libs/" && echo "$key" >"$stamp" ||
        fail "$package could not be copied into $folder/libs"
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
