#!/usr/bin/env bash
# Set-up's choice of route, against stand-ins for apt-get, dpkg and
# dpkg-query on PATH: no network, no change to this machine.
set -u
setup=$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh
passed=0
failed=0

# Stand-ins keep their state in $STATE: installed packages, foreign
# architectures and a log of the calls. MODE says what fails:
# update (the index update), install32 (any :i386 install), install (all).
make_standins() {
    mkdir -p "$1/bin"
    cat >"$1/bin/apt-get" <<'SH'
#!/bin/bash
echo "apt-get $*" >>"$STATE/calls"
case "$1" in
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
    chmod +x "$1/bin/"*
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
        KP_BUILD_ROOT=$dir/build PATH="$dir/bin:$PATH" bash "$setup" 2>&1)
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
run "a host without 32-bit programs asks for none" "" no 0 x86_64 "does not execute 32-bit programs"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
