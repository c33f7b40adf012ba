# Sourced by the test and demo scripts: starts Xvfb (when no display is given) and a persistent
# wineserver whose stdio is /dev/null, so that Wine's background services never hold the pipes of
# ctest or of the caller. Creates the Wine prefix when it does not exist yet. Stops what it
# started on exit, whatever the way out; a caller that sets an EXIT trap of its own afterwards
# calls fm_wine_session_end from it. Returns non-zero, after saying why, when Wine cannot start.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
fm_started_xvfb=""
fm_wine_session_end() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$fm_started_xvfb" ]; then
        kill "$fm_started_xvfb" 2>/dev/null || true
        wait "$fm_started_xvfb" 2>/dev/null || true
    fi
    fm_started_xvfb=""
}
# Armed before anything starts, so that a failure on the way still stops what was started; the
# caller's own exit trap, if it set one already, still runs after it.
fm_caller_exit_trap=""
if [ -n "$(trap -p EXIT)" ]; then
    eval "fm_trap_words=( $(trap -p EXIT) )"
    fm_caller_exit_trap=${fm_trap_words[2]}
fi
trap "fm_wine_session_end; $fm_caller_exit_trap" EXIT
if [ -z "${FM_KEEP_DISPLAY:-}" ] && ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    fm_started_xvfb=$!
    for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
fi
# The server needs the prefix's folder; wineboot then fills a new prefix through that server.
if ! mkdir -p "$WINEPREFIX" 2>/dev/null; then
    echo "wine-session: cannot create the Wine prefix folder $WINEPREFIX" >&2
    return 1
fi
fm_server_status=0
wineserver -p </dev/null >/dev/null 2>&1 || fm_server_status=$?
if [ "$fm_server_status" -ne 0 ] && [ "$fm_server_status" -ne 2 ]; then # 2: one runs already
    echo "wine-session: cannot start a wineserver for $WINEPREFIX" >&2
    return 1
fi
# The persistent server writes the registry files only later, so the new prefix shows by its drive.
if [ ! -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "wine-session: creating the Wine prefix $WINEPREFIX (the first time takes a while)" >&2
    wineboot -i </dev/null >/dev/null 2>&1 || true
    if [ ! -d "$WINEPREFIX/drive_c" ]; then
        echo "wine-session: could not create the Wine prefix $WINEPREFIX (run scripts/setup.sh)" >&2
        return 1
    fi
fi
# Xvfb runs no window manager; with windows managed Wine waits up to two seconds for one at every
# window destruction. Plug-in windows are unmanaged popups on a real desktop too.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
fi
# The first Wine program of a session starts Wine's background services (services.exe,
# explorer.exe, ...), which inherit its standard streams; start them here on /dev/null so that
# they never hold a test's output pipe open after the test has ended.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
