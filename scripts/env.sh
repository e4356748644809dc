# Sourced by the other scripts: the build folder, the private Wine prefix,
# a display and one wineserver that lives for the whole run.
KP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KP_BUILD=${KP_BUILD:-$KP_ROOT/build}
export WINEPREFIX=${KP_PREFIX:-$KP_BUILD/prefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the product needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

kp_display() {
    # Use the user's display when there is one, else a private Xvfb.
    if [ -n "${DISPLAY:-}" ] && [ -z "${KP_FORCE_XVFB:-}" ]; then return 0; fi
    local n=${KP_DISPLAY_NUMBER:-97}
    while [ -e "/tmp/.X${n}-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KP_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$n" ] && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

kp_wineserver() {
    # A persistent server saves Wine's start-up cost on every test process.
    # One left by an earlier step (the prefix set-up, an earlier run) must end first.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p
    # Start Wine's background services now: started by the first test they
    # would hold that test's output open and ctest would wait for it.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

kp_cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${KP_XVFB_PID:-}" ]; then kill "$KP_XVFB_PID" 2>/dev/null || true; fi
}

# Set-up, build, display, prefix and wine server: everything a run needs.
# The display and server are ended when the calling script exits.
kp_prepare() {
    bash "$KP_ROOT/scripts/setup.sh"
    bash "$KP_ROOT/scripts/build.sh"
    kp_display
    trap kp_cleanup EXIT
    bash "$KP_ROOT/scripts/prefix.sh"
    kp_wineserver
}
