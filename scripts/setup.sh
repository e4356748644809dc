#!/usr/bin/env bash
# Installs what building and running KEYPAD32 needs on Debian and chooses the
# build this host can run. Safe to run again.
#
# The product is the 32-bit (i686) program. It runs here only where the
# kernel executes 32-bit programs and Debian's 32-bit Wine installs; the same
# sources also build for 64-bit Windows (x86_64), run by the 64-bit Wine, on
# every x86-64 host. KP_ARCH picks: i686, x86_64, both, or all (every build
# the host can run); unset, i686 where the host can run it, else x86_64.
#
# The choice is written to $KP_BUILD_ROOT/route: the builds on the first
# line, the reason on the second. The first line printed says the same.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${KP_BUILD_ROOT:-$root/build}
mkdir -p "$build_root"
log=$build_root/setup.log
: >"$log"
arch=${KP_ARCH:-}
case "$arch" in "" | i686 | x86_64 | both | all) ;; *)
    echo "KP_ARCH=$arch is not a build: use i686, x86_64, both or all (or leave it unset)." >&2
    exit 2
    ;;
esac

common=(cmake ninja-build googletest python3 python3-pil imagemagick libtiff-tools bc
    libjpeg-turbo-progs ghostscript xvfb xauth mingw-w64-tools clang-format fp-utils nsis
    python3-aiosmtpd openssl exim4-daemon-light nasm dpkg-dev gcc libtiff-dev libjpeg62-turbo-dev)
packages_i686=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386)
packages_x86_64=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64)

notes=() # said after the route line, which must come first
note() { notes+=("$*"); }

# The packages of the arguments that are not installed.
missing() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || echo "$p"
    done
}

mta_was_missing=$(missing exim4-daemon-light)

# 1 when the kernel runs a 32-bit program: a 96-byte static i386 ELF that
# exits with status 42. Debian's 32-bit Wine loader needs the same.
host_runs_32bit() {
    case "${KP_HOST_RUNS_32BIT:-}" in yes) return 0 ;; no) return 1 ;; esac
    local probe
    probe=$(mktemp)
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
    chmod +x "$probe"
    "$probe" >/dev/null 2>&1
    local rc=$?
    rm -f "$probe"
    [ "$rc" = 42 ]
}

# The package index, a few tries. A failed index (a mirror in sync, one
# architecture's list broken) is only a warning: the install that follows
# uses what was fetched and says what it could not get.
updated=
update_index() {
    [ -n "$updated" ] && return 0
    updated=1
    local try
    for try in 1 2 3; do
        if apt-get update -q >>"$log" 2>&1; then return 0; fi
        [ "$try" = 3 ] || sleep "${KP_APT_PAUSE:-5}"
    done
    note "warning: the package index could not be updated in full (see $log); installing from what was fetched."
}

# Installs the packages; 0 when all are in.
install() {
    [ $# -eq 0 ] && return 0
    update_index
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >>"$log" 2>&1
}

# apt's own reason for the last failure.
apt_reason() {
    grep -E '^E:|^ [^ ].* : Depends|Unable to locate|has no installation candidate' "$log" | awk '!seen[$0]++' | tail -8
}

# The 32-bit route: the i386 architecture and the 32-bit Wine. On failure the
# architecture is taken away again when nothing of it was installed, so that
# later apt-get runs on this machine do not fail on its broken index.
reason32=
failed32=$build_root/no-32bit # an earlier try's reason: not tried again in this tree
try_32bit() {
    if [ -s "$failed32" ] && [ -z "${KP_RETRY_32BIT:-}" ]; then
        reason32="$(cat "$failed32") (an earlier try; KP_RETRY_32BIT=1 tries again)"
        return 1
    fi
    if ! host_runs_32bit; then
        reason32="this host does not execute 32-bit programs"
        return 1
    fi
    local need
    need=$(missing "${common[@]}" "${packages_i686[@]}")
    [ -z "$need" ] && return 0
    local added=
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 && added=1
        updated=
    fi
    # shellcheck disable=SC2086
    if install $need; then return 0; fi
    reason32="the 32-bit Wine could not be installed ($(apt_reason | head -1 | sed 's/^ *//'))"
    echo "$reason32" >"$failed32"
    if [ -n "$added" ] && ! dpkg-query -W -f='${db:Status-Abbrev}${Architecture}\n' 2>/dev/null | grep -q '^.i.i386$'; then
        dpkg --remove-architecture i386 >>"$log" 2>&1
        updated=
    fi
    return 1
}

builds=
reason=
case "$arch" in
x86_64)
    builds=x86_64
    reason="KP_ARCH=x86_64"
    ;;
*)
    if try_32bit; then
        case "$arch" in
        "" | i686) builds=i686 ;;
        *) builds="i686 x86_64" ;;
        esac
        reason="this host executes 32-bit programs and has the 32-bit Wine"
        [ -n "$arch" ] && reason="KP_ARCH=$arch; $reason"
    else
        case "$arch" in
        i686 | both)
            echo "KEYPAD32: KP_ARCH=$arch asks for the 32-bit build, but $reason32." >&2
            apt_reason >&2
            echo "Run with KP_ARCH=x86_64 (or leave KP_ARCH unset) for the 64-bit build of the same sources." >&2
            exit 1
            ;;
        esac
        builds=x86_64
        reason="$reason32"
    fi
    ;;
esac
echo "KEYPAD32: building for $builds: $reason."
for n in "${notes[@]}"; do echo "$n"; done
notes=()

need=($(missing "${common[@]}"))
for b in $builds; do
    eval 'need+=($(missing "${packages_'"$b"'[@]}"))'
done
if [ ${#need[@]} -gt 0 ] && ! install "${need[@]}"; then
    for n in "${notes[@]}"; do echo "$n" >&2; done
    echo "KEYPAD32 set-up failed: these packages could not be installed:" >&2
    echo "  $(missing "${need[@]}" | tr '\n' ' ')" >&2
    echo "apt-get said:" >&2
    apt_reason | sed 's/^/  /' >&2
    echo "Check the machine's package sources (apt-get update), then run the command again; the whole log is $log." >&2
    exit 1
fi
# Debian starts the mail server it installs as the system's own, where
# services may start; the delivery tests run theirs on ports of their own, so
# one installed here is stopped and left off.
if [ -n "$mta_was_missing" ] && [ -x /etc/init.d/exim4 ]; then
    { /etc/init.d/exim4 stop; update-rc.d exim4 disable; } >>"$log" 2>&1
fi
for n in "${notes[@]}"; do echo "$n"; done
# The libraries the Windows builds take from Debian's source, built once.
libs=()
for b in $builds; do libs+=("$b" "$build_root/$b"); done
KP_LOG=$log bash "$root/scripts/cross_libs.sh" "${libs[@]}" || exit 1
printf '%s\n%s\n' "$builds" "$reason" >"$build_root/route"
