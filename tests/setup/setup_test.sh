#!/usr/bin/env bash
# Set-up's choice of route, against stand-ins for apt-get, dpkg and
# dpkg-query on PATH: no network, no change to this machine.
set -u
setup=$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh
passed=0
failed=0

# Stand-ins keep their state in $STATE: installed packages, foreign
# architectures and a log of the calls. MODE says what fails:
# update (the index update), install32 (any :i386 install), install (all),
# source (Debian's source packages). The source packages answer only once a
# deb-src entry is in $STATE/sources; cmake and the compilers stand in for the
# cross-build of a library from them.
make_standins() {
    mkdir -p "$1/bin"
    printf 'Types: deb\nSigned-By: /usr/share/keyrings/example.gpg\n' >"$1/debian.sources"
    cat >"$1/bin/apt-get" <<'SH'
#!/bin/bash
echo "apt-get $*" >>"$STATE/calls"
case "$1" in
indextargets) echo "http://deb.example/debian/ stable $STATE/debian.sources:1 deb main" ;;
source)
    [[ " $MODE " == *" source "* ]] && { echo "E: Unable to find a source package for ${*: -1}" >&2; exit 100; }
    grep -qs deb-src "$STATE"/sources/* || { echo "E: You must put some 'deb-src' URIs in your sources.list" >&2; exit 100; }
    [ "$2" = --print-uris ] && { echo "'http://deb.example/${*: -1}_2.1-1.dsc' ${*: -1}_2.1-1.dsc 9 SHA256:0"; exit 0; }
    mkdir "${*: -1}-2.1" && touch "${*: -1}_2.1-1.dsc" "${*: -1}-2.1/CMakeLists.txt" ;;
update)
    case " $MODE " in *" update "*) echo "E: Failed to fetch binary-i386/Packages  File has unexpected size"; exit 100 ;; esac ;;
install)
    shift
    pkgs=$(printf '%s\n' "$@" | grep -v '^-')
    case " $MODE " in *" install "*) echo "E: Unable to locate package ${pkgs%%$'\n'*}"; exit 100 ;; esac
    if [[ " $MODE " == *" install32 "* ]] && grep -q ':i386$' <<<"$pkgs"; then
        echo " libwine : Depends: libgstreamer-plugins-base1.0-0 but it is not installable"
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
    fi
    printf '%s\n' "$pkgs" >>"$STATE/installed" ;;
esac
SH
    cat >"$1/bin/dpkg" <<'SH'
#!/bin/bash
echo "dpkg $*" >>"$STATE/calls"
case "$1" in
--print-foreign-architectures) cat "$STATE/archs" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$STATE/archs" ;;
--remove-architecture) grep -vx "$2" "$STATE/archs" >"$STATE/archs.new"; mv "$STATE/archs.new" "$STATE/archs" ;;
esac
SH
    cat >"$1/bin/dpkg-query" <<'SH'
#!/bin/bash
# -W -f=FORMAT [package]: "ii " for an installed package; without one,
# status and architecture of every installed package.
format=${2#-f=}
if [ $# -ge 3 ]; then
    grep -qx "$3" "$STATE/installed" 2>/dev/null && printf 'ii ' && exit 0
    exit 1
fi
while read -r p; do
    case "$p" in *:i386) printf 'ii i386\n' ;; *) printf 'ii amd64\n' ;; esac
done <"$STATE/installed"
SH
    cat >"$1/bin/cmake" <<'SH'
#!/bin/bash
echo "cmake $*" >>"$STATE/calls"
prefix=$(printf '%s\n' "$@" | sed -n 's/^-DCMAKE_INSTALL_PREFIX=//p')
[ -n "$prefix" ] && echo "$prefix" >"$STATE/prefix"
[ "$1" = --install ] && mkdir -p "$(cat "$STATE/prefix")"/{lib,include} && touch "$(cat "$STATE/prefix")/lib/libjpeg.a"
exit 0
SH
    printf '#!/bin/sh\necho 12-posix\n' >"$1/bin/i686-w64-mingw32-gcc-posix"
    cp "$1/bin/i686-w64-mingw32-gcc-posix" "$1/bin/x86_64-w64-mingw32-gcc-posix"
    chmod +x "$1/bin/"*
}

# The libraries from Debian's source: in each build folder after set-up, the
# deb-src entry naming the suite's key; with AGAIN set, made once per
# machine: a build folder made again gets them without a fetch or a build.
check_libraries() {
    local dir=$1 runs32=$3 b
    for b in $2; do [ -f "$dir/build/$b/libs/lib/libjpeg.a" ] || echo "no libjpeg.a in the $b build folder"; done
    grep -qx 'Signed-By: /usr/share/keyrings/example.gpg' "$dir/sources/keypad32-source.sources" ||
        echo "no deb-src entry with the suite's key"
    [ -n "${AGAIN:-}" ] || return 0
    rm -rf "$dir/build/"*/libs
    : >"$dir/calls"
    STATE=$dir MODE= KP_HOST_RUNS_32BIT=$runs32 KP_APT_PAUSE=0 KP_ARCH= KP_BUILD_ROOT=$dir/build \
        KP_CACHE=$dir/cache KP_APT_SOURCES_DIR=$dir/sources PATH="$dir/bin:$PATH" bash "$setup" >/dev/null 2>&1
    grep -E '^apt-get source -q|^cmake --build' "$dir/calls" | sed 's/^/fetched or built again: /'
    for b in $2; do [ -f "$dir/build/$b/libs/lib/libjpeg.a" ] || echo "no libjpeg.a in the $b build folder made again"; done
}

# run NAME MODE RUNS32 EXPECT_RC EXPECT_BUILDS EXPECT_TEXT
run() {
    local name=$1 mode=$2 runs32=$3 want_rc=$4 want_builds=$5 want_text=$6
    local dir
    dir=$(mktemp -d)
    make_standins "$dir"
    : >"$dir/installed"
    local out rc
    out=$(STATE=$dir MODE=$mode KP_HOST_RUNS_32BIT=$runs32 KP_APT_PAUSE=0 KP_ARCH= \
        KP_BUILD_ROOT=$dir/build KP_CACHE=$dir/cache KP_APT_SOURCES_DIR=$dir/sources \
        PATH="$dir/bin:$PATH" bash "$setup" 2>&1)
    rc=$?
    local builds=
    [ -f "$dir/build/route" ] && builds=$(head -1 "$dir/build/route")
    local why=()
    [ "$rc" = "$want_rc" ] || why+=("exit $rc, not $want_rc")
    [ "$builds" = "$want_builds" ] || why+=("builds '$builds', not '$want_builds'")
    grep -q -- "$want_text" <<<"$out" || why+=("no '$want_text' in the output")
    [ "$runs32" = no ] && grep -q "i386" "$dir/calls" && why+=("asked for 32-bit packages")
    [ "$rc" = 0 ] && [ "$builds" = x86_64 ] && grep -q ':i386' "$dir/installed" && why+=("installed 32-bit packages")
    grep -qx i386 "$dir/archs" 2>/dev/null && [ "$builds" != i686 ] && why+=("left the i386 architecture behind")
    [ "$rc" = 0 ] && [[ "${out%%$'\n'*}" != "KEYPAD32: building for $want_builds: "* ]] &&
        why+=("the first line does not say the route")
    [ "$rc" = 0 ] && while read -r problem; do why+=("$problem"); done < <(check_libraries "$dir" "$builds" "$runs32")
    if [ ${#why[@]} -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name: ${why[*]}"
        sed 's/^/    /' <<<"$out"
    fi
    rm -rf "$dir"
}

run "a broken index update is a warning" "update" yes 0 i686 "warning: the package index"
run "the 32-bit Wine that will not install means x86_64" "install32" yes 0 x86_64 "32-bit Wine could not be installed"
run "everything installs" "" yes 0 i686 "building for i686: this host executes 32-bit programs"
run "nothing installs" "install" yes 1 "" "^  cmake .*wine64"
AGAIN=1 run "a host without 32-bit programs asks for none" "" no 0 x86_64 "does not execute 32-bit programs"
run "Debian's source that cannot be had stops set-up" "source" no 1 "" "set-up failed: apt-get source libjpeg-turbo"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
