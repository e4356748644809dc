#!/usr/bin/env bash
# Set-up's decisions against stand-ins for every command that asks or
# changes the machine (apt-get, dpkg, dpkg-query, id, invoke-rc.d,
# update-rc.d): no network, no change to this machine. Set-up runs with a
# PATH of the stand-ins and plain file and text tools only, traced: a case
# fails when set-up runs anything else, by name or by path.
set -u
setup=$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh
passed=0
failed=0

# The file and text tools set-up may use besides the stand-ins.
tools=(bash cat chmod cp cut dirname find grep head ln ls mkdir mv rm sed sleep sort tail tee touch
    tr uniq wc awk basename md5sum flock)

# Stand-ins keep their state in $STATE: installed packages, foreign
# architectures, a log of the calls. MODE says what goes wrong:
#   update    every index update fails; update1 only the first one
#   install   every install fails (no such package)
#   install32 the i386 packages cannot be installed (a dependency)
#   fetch32   the i386 packages cannot be downloaded
#   lock      another program holds the package lock for a while: apt-get
#             gets it only when told to wait for it
#   lockheld  another program holds the package lock for good
#   source    Debian's source packages cannot be had
# apt-get source answers only once a deb-src entry is in $STATE/sources; it
# unpacks PKG-2.1/ with an empty CMakeLists.txt, which the stand-ins of cmake
# and the compilers "build".
make_standins() {
    local bin=$1/bin
    mkdir -p "$bin"
    local tool
    for tool in "${tools[@]}"; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
    cat >"$bin/apt-get" <<'SH'
#!/bin/bash
set +x
echo "apt-get $*" >>"$STATE/calls"
all=" $* "
waits=0 command= pkgs=()
while [ $# -gt 0 ]; do
    case "$1" in
    -o) [[ "$2" =~ ^DPkg::Lock::Timeout=[1-9] ]] && waits=1; shift ;;
    -*) ;;
    *) if [ -z "$command" ]; then command=$1; else pkgs+=("$1"); fi ;;
    esac
    shift
done
mode=" $MODE "
lock() {
    echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)"
    echo "E: Unable to acquire the dpkg frontend lock (/var/lib/dpkg/lock-frontend), is another process using it?"
    exit 100
}
# Only what changes the package lists or the packages takes the lock.
if [ "$command" = install ] || [ "$command" = update ]; then
    [[ $mode == *" lockheld "* ]] && lock
    [[ $mode == *" lock "* ]] && [ "$waits" = 0 ] && lock
fi
case "$command" in
update)
    updates=$(($(cat "$STATE/updates" 2>/dev/null || echo 0) + 1))
    echo "$updates" >"$STATE/updates"
    if [[ $mode == *" update "* ]] || { [[ $mode == *" update1 "* ]] && [ "$updates" = 1 ]; }; then
        echo "E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-i386/Packages  File has unexpected size"
        exit 100
    fi ;;
install)
    [[ $mode == *" install "* ]] && echo "E: Unable to locate package ${pkgs[0]}" && exit 100
    if printf '%s\n' "${pkgs[@]}" | grep -q ':i386$'; then
        if [[ $mode == *" install32 "* ]]; then
            echo "The following packages have unmet dependencies:"
            echo " libwine:i386 : Depends: libgstreamer-plugins-base1.0-0:i386 but it is not installable"
            echo "E: Unable to correct problems, you have held broken packages."
            exit 100
        fi
        if [[ $mode == *" fetch32 "* ]]; then
            echo "E: Failed to fetch http://deb.debian.org/debian/pool/main/w/wine/wine32_8.0_i386.deb  Temporary failure resolving 'deb.debian.org'"
            exit 100
        fi
    fi
    printf '%s\n' "${pkgs[@]}" >>"$STATE/installed" ;;
indextargets) echo "http://deb.example/debian/ stable $STATE/debian.sources:1 deb main" ;;
source)
    p=${pkgs[-1]}
    [[ $mode == *" source "* ]] && echo "E: Unable to find a source package for $p" >&2 && exit 100
    grep -qs deb-src "$STATE"/sources/* || { echo "E: You must put some 'deb-src' URIs in your sources.list" >&2; exit 100; }
    [ "${pkgs[0]}" != "$p" ] && exit 0
    case "$all" in *" --print-uris "*) echo "'http://deb.example/${p}_2.1-1.dsc' ${p}_2.1-1.dsc 9 SHA256:0" ;;
    *) mkdir "$p-2.1" && touch "${p}_2.1-1.dsc" "$p-2.1/"{CMakeLists.txt,LICENSE,LICENSE.md,leptonica-license.txt} ;; esac ;;
esac
exit 0
SH
    cat >"$bin/dpkg" <<'SH'
#!/bin/bash
set +x
echo "dpkg $*" >>"$STATE/calls"
case "$1" in
--print-foreign-architectures) cat "$STATE/archs" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$STATE/archs" ;;
--remove-architecture) grep -vx "$2" "$STATE/archs" >"$STATE/archs.new"; mv "$STATE/archs.new" "$STATE/archs" ;;
esac
SH
    cat >"$bin/dpkg-query" <<'SH'
#!/bin/bash
# -W -f=FORMAT [package]: "ii " for an installed package; without one,
# status and architecture of every installed package.
set +x
if [ $# -ge 3 ]; then
    grep -qx "$3" "$STATE/installed" 2>/dev/null && printf 'ii ' && exit 0
    exit 1
fi
while read -r p; do
    case "$p" in *:i386) printf 'ii i386\n' ;; *) printf 'ii amd64\n' ;; esac
done <"$STATE/installed"
SH
    printf '#!/bin/bash\nset +x\n[ "$1" = -u ] && echo "${AS_UID:-0}"\n' >"$bin/id"
    local service
    for service in invoke-rc.d update-rc.d; do
        printf '#!/bin/bash\nset +x\necho "%s $*" >>"$STATE/calls"\n' "$service" >"$bin/$service"
    done
    cat >"$bin/cmake" <<'SH'
#!/bin/bash
set +x
echo "cmake $*" >>"$STATE/calls"
prefix=$(printf '%s\n' "$@" | sed -n 's/^-DCMAKE_INSTALL_PREFIX=//p')
[ -n "$prefix" ] && echo "$prefix" >"$STATE/prefix"
if [ "$1" = --install ]; then
    p=$(cat "$STATE/prefix")
    mkdir -p "$p"/{lib,include/leptonica,include/tesseract}
    touch "$p"/{lib/libjpeg.a,include/leptonica/allheaders.h,include/tesseract/baseapi.h}
fi
exit 0
SH
    printf '#!/bin/bash\nset +x\necho 12-posix\n' >"$bin/i686-w64-mingw32-gcc-posix"
    cp "$bin/i686-w64-mingw32-gcc-posix" "$bin/x86_64-w64-mingw32-gcc-posix"
    printf 'Types: deb\nSigned-By: /usr/share/keyrings/example.gpg\n' >"$1/debian.sources"
    chmod +x "$bin/"*
}

# Any command set-up runs that is neither a stand-in nor one of the tools.
command_not_found_handle() {
    echo "$1" >>"$STATE/unexpected"
    echo "$1: not a stand-in" >&2
    return 127
}

# A case: a new machine with nothing installed, named.
begin() {
    name=$1
    why=()
    dir=$(mktemp -d)
    make_standins "$dir"
    : >"$dir/installed"
    : >"$dir/calls"
    : >"$dir/unexpected"
    : >"$dir/archs"
    runs=0
}

# run RC BUILDS TEXT [NAME=VALUE...]: one set-up run on the case's machine
# (a 32-bit host unless RUNS32 says otherwise; "real" runs the real probe),
# checked for its exit code, route, a line of its output and what it ran.
run() {
    local want_rc=$1 want_builds=$2 want_text=$3
    shift 3
    local -A given=([MODE]= [RUNS32]=yes [AS_UID]=0 [KP_ARCH]= [KP_RETRY_32BIT]=)
    local setting
    for setting in "$@"; do given[${setting%%=*}]=${setting#*=}; done
    local runs32=${given[RUNS32]}
    [ "$runs32" = real ] && runs32=
    runs=$((runs + 1))
    : >"$dir/calls"
    cp "$dir/archs" "$dir/archs.before"
    rm -f "$dir/build/route"
    out=$(cd "$dir" && env -i HOME="$dir" TMPDIR="$dir/no-such-folder" STATE="$dir" PATH="$dir/bin" \
        MODE="${given[MODE]}" AS_UID="${given[AS_UID]}" KP_ARCH="${given[KP_ARCH]}" \
        KP_RETRY_32BIT="${given[KP_RETRY_32BIT]}" KP_HOST_RUNS_32BIT="$runs32" KP_APT_PAUSE=0 \
        KP_BUILD_ROOT="$dir/build" KP_APT_SOURCES_DIR="$dir/sources" SHELLOPTS=xtrace BASH_XTRACEFD=7 \
        BASH_FUNC_command_not_found_handle%%="() $(declare -f command_not_found_handle | tail -n +2)" \
        /bin/bash "$setup" 2>&1 7>"$dir/trace")
    rc=$?
    builds=
    [ -f "$dir/build/route" ] && builds=$(head -1 "$dir/build/route")
    local at="run $runs"
    [ "$rc" = "$want_rc" ] || why+=("$at: exit $rc, not $want_rc")
    [ "$builds" = "$want_builds" ] || why+=("$at: builds '$builds', not '$want_builds'")
    grep -q -- "$want_text" <<<"$out" || why+=("$at: no '$want_text' in the output")
    [ "$rc" = 0 ] && [[ "${out%%$'\n'*}" != "KEYPAD32: building for $want_builds: "* ]] &&
        why+=("$at: the first line does not say the route")
    local b
    for b in $builds; do
        [ "$rc" = 0 ] && [ ! -f "$dir/build/$b/libs/lib/libjpeg.a" ] && why+=("$at: no libjpeg.a in the $b build folder")
        [ "$rc" = 0 ] && [ ! -f "$dir/build/$b/libs/share/licences/tesseract.txt" ] &&
            why+=("$at: no licence of the OCR engine in the $b build folder")
    done
    [ -s "$dir/unexpected" ] && why+=("$at: ran $(tr '\n' ' ' <"$dir/unexpected")outside its stand-ins")
    # Commands run by a path: only the probe in the build tree may be.
    local by_path
    by_path=$(sed -n 's/^+\{1,\} //p' "$dir/trace" |
        awk '{ for (i = 1; i <= NF; i++) if ($i !~ /^[A-Za-z_][A-Za-z_0-9]*=/) { print $i; break } }' |
        tr -d "'" | grep / | grep -v "^$dir/build/")
    [ -n "$by_path" ] && why+=("$at: ran $(tr '\n' ' ' <<<"$by_path")by its path")
    [ "${given[RUNS32]}" = no ] && grep -q i386 "$dir/calls" && why+=("$at: asked for 32-bit packages")
    [ "$rc" = 0 ] && [[ " $builds " != *" i686 "* ]] && grep -q ':i386' "$dir/installed" &&
        why+=("$at: installed 32-bit packages")
    grep -qx i386 "$dir/archs" && ! grep -qx i386 "$dir/archs.before" &&
        [[ " $builds " != *" i686 "* ]] && why+=("$at: left the i386 architecture behind")
    return 0
}

# expect DESCRIPTION COMMAND...: one more condition of the case.
expect() {
    local what=$1
    shift
    "$@" || why+=("run $runs: $what")
}
called() { grep -q -- "$1" "$dir/calls"; }
said() { grep -q -- "$1" <<<"$out"; }

end() {
    if [ ${#why[@]} -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
        printf '    %s\n' "${why[@]}"
        sed 's/^/    | /' <<<"$out"
    fi
    rm -rf "$dir"
}

begin "everything installs, the common packages first, then the 32-bit Wine; a package lock held for good is said, one held for a while waited for"
run 1 "" "Another program holds the package lock" MODE=lockheld KP_ARCH=all
expect "no apt reason" said "Could not get lock"
expect "remembered" test ! -e "$dir/build/no-32bit"
run 0 i686 "building for i686: this host executes 32-bit programs" MODE=lock
expect "installed all in one" eval '[ "$(grep -c "apt-get.* install" "$dir/calls")" = 2 ]'
expect "the 32-bit Wine was not installed last, alone" eval 'grep "apt-get.* install" "$dir/calls" | tail -1 | grep -q " wine32:i386$"'
expect "did not stop the mail server it installed" called "invoke-rc.d exim4 stop"
expect "did not keep it off" called "update-rc.d exim4 disable"
run 0 i686 "building for i686"
expect "installed again" eval '! called "apt-get"'
expect "stopped a mail server it did not install" eval '! called "rc.d"'
end

begin "a host without 32-bit programs asks for none; Debian's source from a deb-src entry with the suite's key, built once a machine"
run 0 x86_64 "building for x86_64: this host does not execute 32-bit programs" RUNS32=no
expect "no deb-src entry with the suite's key" grep -qx "Signed-By: /usr/share/keyrings/example.gpg" "$dir/sources/keypad32-source.sources"
rm -rf "$dir/build/x86_64"
run 0 x86_64 "building for x86_64" RUNS32=no
expect "fetched or built again for a new build folder" eval '! grep -qE "^apt-get source -q|^cmake --build" "$dir/calls"'
run 1 "" "KP_ARCH=i686 asks for the 32-bit build, but this host does not execute" RUNS32=no KP_ARCH=i686
end

begin "Debian's source that cannot be had stops set-up, saying so"
run 1 "" "set-up failed: apt-get source libjpeg-turbo" RUNS32=no MODE=source
: >"$dir/installed"
end

begin "an index update that works at a later try is no warning; a broken one is"
run 0 "i686 x86_64" "building for i686 x86_64" MODE=update1 KP_ARCH=both
expect "warned" eval '! said warning'
expect "did not try again" eval '[ "$(grep -c "apt-get.* update" "$dir/calls")" -ge 2 ]'
: >"$dir/installed"
run 0 i686 "warning: the package index" MODE=update
end

begin "the 32-bit Wine that will not install means x86_64, remembered until asked again"
# A failed download, or a verdict from an index updated in part, is not final.
run 0 x86_64 "could not be installed this time (E: Failed to fetch" MODE=fetch32
expect "remembered" test ! -e "$dir/build/no-32bit"
run 0 x86_64 "could not be installed this time (libwine:i386 : Depends" MODE="update install32"
expect "remembered" test ! -e "$dir/build/no-32bit"
run 0 x86_64 "32-bit Wine could not be installed (libwine:i386 : Depends" MODE=install32
expect "not remembered" grep -q "libwine:i386 : Depends" "$dir/build/no-32bit"
run 0 x86_64 "an earlier try; KP_RETRY_32BIT=1 tries again"
expect "tried again" eval '! called i386'
run 0 i686 "building for i686" KP_RETRY_32BIT=1
run 0 i686 "building for i686"
end

begin "nothing installs: the packages and apt's reason, nothing remembered"
run 1 "" "^  cmake .*wine" MODE=install
expect "no reason" said "E: Unable to locate package cmake"
expect "no advice" said "Check the machine's package sources"
expect "remembered" test ! -e "$dir/build/no-32bit"
run 1 "" "must install these packages: cmake" AS_UID=1000
expect "a user was sent to the package sources" eval '! said "package sources"'
expect "a user's run asked apt-get" eval '! called apt-get'
expect "a user's run changed the architectures" eval '! called add-architecture'
run 0 i686 "building for i686"
run 0 i686 "building for i686" AS_UID=1000
expect "a user's run where all is installed asked apt-get" eval '! called apt-get'
end

begin "i386 already there: not added, and kept when the 32-bit Wine fails"
echo i386 >"$dir/archs"
run 0 x86_64 "32-bit Wine could not be installed" MODE=install32
expect "added it again" eval '! called add-architecture'
expect "took it away" grep -qx i386 "$dir/archs"
run 1 "" "asks for the 32-bit build, but the 32-bit Wine could not be installed" KP_ARCH=i686
end

# The real probe, with a temporary folder that cannot be used: it runs from
# the build tree, and this host's answer decides.
begin "the real probe runs in the build tree"
expected=i686
run 0 x86_64 "" RUNS32=real MODE=install32
grep -q "does not execute 32-bit programs" <<<"$out" && expected=x86_64
expect "the route follows neither the probe nor the install" eval \
    '[ "$expected" = x86_64 ] || grep -q "32-bit Wine could not be installed" <<<"$out"'
expect "the probe stayed" eval '! ls "$dir/build" | grep -q probe'
end

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
