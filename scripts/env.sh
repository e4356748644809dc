# Sourced by the other scripts: the build folder and private Wine prefix of
# each build (i686, the product, and x86_64), a display and one wineserver
# that lives for the whole run.
KP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KP_BUILD_ROOT=${KP_BUILD_ROOT:-$KP_ROOT/build}
export KP_BUILD_ROOT
KP_BUILD_OWN=${KP_BUILD_OWN-${KP_BUILD:-}} # a build folder of the caller's own, for one build
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the product needs neither. No debugger on a
# crash either: the crash and its address go to the program's output and
# the program ends, so a test fails at once instead of waiting in winedbg.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"

kp_fail() {
    echo "KEYPAD32: $1" >&2
    [ -n "${2:-}" ] && echo "  What to do: $2" >&2
    exit 1
}

# The builds that set-up chose for this host, one per line.
kp_builds() {
    [ -f "$KP_BUILD_ROOT/route" ] || kp_fail "no build chosen yet" "run bash scripts/setup.sh"
    head -1 "$KP_BUILD_ROOT/route" | tr ' ' '\n'
}

# Points the environment at one build: its folder, toolchain, prefix and Wine.
kp_use() {
    export KP_ARCH_NOW=$1
    KP_BUILD=${KP_BUILD_OWN:-$KP_BUILD_ROOT/$1}
    export WINEPREFIX=${KP_PREFIX:-$KP_BUILD/prefix}
    local bin=$KP_BUILD_ROOT/wine-$1
    mkdir -p "$bin"
    if [ "$1" = i686 ]; then
        export WINEARCH=win32
        printf '#!/bin/sh\nexec /usr/lib/wine/wine "$@"\n' >"$bin/wine"
    else
        # Debian's 64-bit loader runs itself again by the name it was called
        # by, so it needs a script, not a link, to be called "wine".
        export WINEARCH=win64
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/wine"
    fi
    chmod +x "$bin/wine"
    export WINELOADER=$bin/wine
    case ":$PATH:" in *":$bin:"*) ;; *) PATH=$bin:$(echo "$PATH" | sed "s#$KP_BUILD_ROOT/wine-[a-z0-9_]*:##g") ;; esac
    export PATH KP_BUILD
}

# 0 when the display has a window manager that says so (EWMH): the root
# window names a check window, which names itself. Without xprop nothing can
# be told, and the display counts as managed.
kp_window_manager() {
    command -v xprop >/dev/null || return 0
    local id
    id=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
    [ -n "$id" ] && xprop -id "$id" _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id # $id\$"
}

kp_display() {
    # Use the user's display when there is one, else a private Xvfb. On a
    # user's display without a window manager Wine keeps its windows itself,
    # as on the private one (scripts/prefix.sh).
    if [ -n "${DISPLAY:-}" ] && [ -z "${KP_FORCE_XVFB:-}" ]; then
        if ! kp_window_manager; then export KP_NO_WINDOW_MANAGER=1; fi
        return 0
    fi
    local n=${KP_DISPLAY_NUMBER:-97}
    while [ -e "/tmp/.X${n}-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KP_XVFB_PID=$!
    export DISPLAY=":$n" KP_PRIVATE_DISPLAY=1
    for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    kp_fail "Xvfb did not start on display :$n" "check that the xvfb package is installed (bash scripts/setup.sh)"
}

kp_wineserver() {
    # A persistent server saves Wine's start-up cost on every test process.
    # One left by an earlier step (the prefix set-up, an earlier run) must end first.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p || kp_fail "the Wine server did not start for $WINEPREFIX" "remove $WINEPREFIX and run again"
    # Start Wine's background services now: started by the first test they
    # would hold that test's output open and ctest would wait for it.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

kp_cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${KP_XVFB_PID:-}" ]; then kill "$KP_XVFB_PID" 2>/dev/null || true; fi
}

# The build of a script run on its own: the one its caller chose, else the
# first that set-up chose for this host.
kp_use_default() {
    if [ -n "${KP_ARCH_NOW:-}" ]; then return 0; fi
    case "${KP_ARCH:-}" in i686 | x86_64)
        echo "KEYPAD32: building for $KP_ARCH: KP_ARCH=$KP_ARCH."
        kp_use "$KP_ARCH"
        return 0
        ;;
    esac
    if [ -f "$KP_BUILD_ROOT/route" ]; then
        echo "KEYPAD32: building for $(kp_builds | head -1): $(sed -n 2p "$KP_BUILD_ROOT/route")."
    else
        bash "$KP_ROOT/scripts/setup.sh" || exit 1
    fi
    kp_use "$(kp_builds | head -1)"
}

# Set-up once, and the display: ended when the calling script exits. A
# display without a window manager is said first, before set-up's lines.
kp_setup() {
    local said
    said=$(bash "$KP_ROOT/scripts/setup.sh") || {
        [ -n "$said" ] && echo "$said"
        exit 1
    }
    kp_display
    trap kp_cleanup EXIT
    if [ -n "${KP_NO_WINDOW_MANAGER:-}" ]; then
        echo "KEYPAD32: the display $DISPLAY has no window manager: Wine keeps the program's windows itself there."
    fi
    echo "$said"
}

# Build, prefix and wine server of one build, after kp_setup.
kp_prepare() {
    kp_use "$1"
    bash "$KP_ROOT/scripts/build.sh" || kp_fail "the $1 build failed (the compiler's messages are above)" \
        "fix the error; bash scripts/build.sh rebuilds only what changed"
    bash "$KP_ROOT/scripts/prefix.sh" || kp_fail "the $1 Wine prefix could not be made in $WINEPREFIX" \
        "remove that folder and run again; Wine's messages are in $KP_BUILD/prefix.log"
    kp_wineserver
}
