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
#
# Every command that asks or changes the machine (apt-get, dpkg, dpkg-query,
# id, invoke-rc.d, update-rc.d) is called by its plain name, found on PATH,
# never by a path: the set-up test stands in for each of them.
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
    libjpeg-turbo-progs ghostscript xvfb xauth x11-utils mingw-w64-tools clang-format fp-utils nsis
    python3-aiosmtpd openssl exim4-daemon-light libchm-bin
    qpdf poppler-utils python3-pikepdf img2pdf icc-profiles-free
    nasm dpkg-dev gcc libtiff-dev libjpeg62-turbo-dev
    libz-mingw-w64-dev tesseract-ocr-eng tesseract-ocr fonts-dejavu-core)
# The 32-bit build's own packages; the 32-bit Wine (i386) comes after them.
packages_i686=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine)
packages_i386=(wine32:i386)
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
# exits with status 42. Debian's 32-bit Wine loader needs the same. It is
# written into the build tree: a temporary folder may forbid running programs.
host_runs_32bit() {
    case "${KP_HOST_RUNS_32BIT:-}" in yes) return 0 ;; no) return 1 ;; esac
    local probe=$build_root/probe-32bit
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
    chmod +x "$probe"
    "$probe" >/dev/null 2>&1
    local rc=$?
    rm -f "$probe"
    [ "$rc" = 42 ]
}

# apt-get, waiting a bounded time for the package lock that another apt-get
# or the system's own updates may hold. Its output goes to the log and stays
# in $last, where the reason of a failure is read.
last=$build_root/apt-last.log
apt() {
    DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout="${KP_APT_LOCK_WAIT:-600}" \
        "$@" >"$last" 2>&1
    local rc=$?
    cat "$last" >>"$log"
    return "$rc"
}

# The package index, a few tries. A failed index (a mirror in sync, one
# architecture's list broken) is only a warning: the install that follows
# uses what was fetched and says what it could not get.
updated=
index_complete=1
update_index() {
    [ -n "$updated" ] && return 0
    updated=1
    local try
    for try in 1 2 3; do
        if apt update; then return 0; fi
        [ "$try" = 3 ] || sleep "${KP_APT_PAUSE:-5}"
    done
    index_complete=
    note "warning: the package index could not be updated in full (see $log); installing from what was fetched."
}

# Installs the packages; 0 when all are in.
install() {
    [ $# -eq 0 ] && return 0
    update_index
    apt install -y --no-install-recommends "$@"
}

# apt's own reason for the last failure, one line each.
apt_reason() {
    grep -E '^E:|^ [^ ].* : Depends|Unable to locate|has no installation candidate' "$last" |
        awk '!seen[$0]++' | tail -8
}

# What kind of failure the last one was: "lock" (another program holds the
# package lock), "passing" (a download, or an index that was not complete),
# or "packages" (apt cannot install them from a complete index).
failure_kind() {
    if grep -qE 'Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock' "$last"; then
        echo lock
    elif [ -z "$index_complete" ] ||
        grep -qE 'Failed to fetch|Temporary failure resolving|Could not resolve|Unable to fetch|Could not connect' "$last"; then
        echo passing
    else
        echo packages
    fi
}

# What to do about a failure of that kind.
advice() {
    case "$1" in
    lock) echo "Another program holds the package lock (another apt-get, or the system's own updates): let it finish, then run the command again." ;;
    passing) echo "Check the network and the machine's package sources (apt-get update), then run the command again." ;;
    *) echo "Check the machine's package sources (apt-get update), then run the command again." ;;
    esac
}

# Ends set-up for packages that could not be installed.
give_up() {
    local kind
    kind=$(failure_kind)
    for n in "${notes[@]}"; do echo "$n" >&2; done
    echo "KEYPAD32 set-up failed: these packages could not be installed:" >&2
    echo "  $(missing "$@" | tr '\n' ' ')" >&2
    echo "apt-get said:" >&2
    apt_reason | sed 's/^/  /' >&2
    echo "$(advice "$kind") The whole log is $log." >&2
    exit 1
}

# Installing needs root; said before anything is tried.
need_root() {
    [ $# -eq 0 ] && return 0
    [ "$(id -u)" = 0 ] && return 0
    echo "KEYPAD32 set-up must install these packages: $*" >&2
    echo "Run it as root (for example: sudo bash scripts/setup.sh), then run the command again." >&2
    exit 1
}

# Whether the 32-bit route is open: empty reason32 when it is.
reason32=
failed32=$build_root/no-32bit # why the 32-bit Wine cannot install: not tried again in this tree
if [ "$arch" = x86_64 ]; then
    reason32="KP_ARCH=x86_64"
elif [ -s "$failed32" ] && [ -z "${KP_RETRY_32BIT:-}" ]; then
    reason32="$(cat "$failed32") (an earlier try; KP_RETRY_32BIT=1 tries again)"
elif ! host_runs_32bit; then
    reason32="this host does not execute 32-bit programs"
fi
if [ -n "$reason32" ] && { [ "$arch" = i686 ] || [ "$arch" = both ]; }; then
    echo "KEYPAD32: KP_ARCH=$arch asks for the 32-bit build, but $reason32." >&2
    echo "Run with KP_ARCH=x86_64 (or leave KP_ARCH unset) for the 64-bit build of the same sources." >&2
    exit 1
fi

# The common packages and the chosen builds' own come first, the 32-bit Wine
# after them: only its own failure closes the 32-bit route.
if [ -z "$reason32" ]; then
    case "$arch" in
    "" | i686) builds=i686 ;;
    *) builds="i686 x86_64" ;;
    esac
else
    builds=x86_64
fi
first=("${common[@]}")
for b in $builds; do
    eval 'first+=("${packages_'"$b"'[@]}")'
done
need_first=($(missing "${first[@]}"))
need32=()
[ -z "$reason32" ] && need32=($(missing "${packages_i386[@]}"))
need_root "${need_first[@]}" "${need32[@]}"
if [ ${#need_first[@]} -gt 0 ] && ! install "${need_first[@]}"; then
    give_up "${need_first[@]}"
fi

# The 32-bit Wine: the i386 architecture and its packages. On failure the
# architecture is taken away again when nothing of it was installed, so that
# later apt-get runs on this machine do not fail on its broken index.
if [ ${#need32[@]} -gt 0 ]; then
    added=
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 >>"$log" 2>&1 && added=1
        updated=
    fi
    if ! install "${need32[@]}"; then
        kind=$(failure_kind)
        why=$(apt_reason | head -1 | sed 's/^ *//')
        if [ "$kind" = packages ]; then
            reason32="the 32-bit Wine could not be installed ($why)"
            echo "$reason32" >"$failed32"
        else
            reason32="the 32-bit Wine could not be installed this time ($why); the next run tries again"
        fi
        if [ -n "$added" ] && ! dpkg-query -W -f='${db:Status-Abbrev}${Architecture}\n' 2>/dev/null | grep -q '^.i.i386$'; then
            dpkg --remove-architecture i386 >>"$log" 2>&1
            updated=
        fi
        if [ "$arch" = i686 ] || [ "$arch" = both ]; then
            echo "KEYPAD32: KP_ARCH=$arch asks for the 32-bit build, but $reason32." >&2
            apt_reason >&2
            echo "$(advice "$kind") Or run with KP_ARCH=x86_64 for the 64-bit build of the same sources; the whole log is $log." >&2
            exit 1
        fi
        builds=x86_64
        need64=($(missing "${packages_x86_64[@]}"))
        if [ ${#need64[@]} -gt 0 ] && ! install "${need64[@]}"; then
            give_up "${need64[@]}"
        fi
    fi
fi
[ "$builds" != x86_64 ] && rm -f "$failed32"

if [ -n "$reason32" ]; then
    reason=$reason32
else
    reason="this host executes 32-bit programs and has the 32-bit Wine"
    [ -n "$arch" ] && reason="KP_ARCH=$arch; $reason"
fi
echo "KEYPAD32: building for $builds: $reason."
for n in "${notes[@]}"; do echo "$n"; done

# Debian starts the mail server it installs as the system's own, where
# services may start; the delivery tests run theirs on ports of their own, so
# one installed here is stopped and left off. One that was there is left alone.
if [ -n "$mta_was_missing" ] && [ -z "$(missing exim4-daemon-light)" ]; then
    { invoke-rc.d exim4 stop; update-rc.d exim4 disable; } >>"$log" 2>&1
fi
# The libraries the Windows builds take from Debian's source, built once.
libs=()
for b in $builds; do libs+=("$b" "$build_root/$b"); done
KP_LOG=$log bash "$root/scripts/cross_libs.sh" "${libs[@]}" || exit 1
printf '%s\n%s\n' "$builds" "$reason" >"$build_root/route"
