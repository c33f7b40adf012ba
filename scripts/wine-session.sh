# Sourced by the test and demo scripts: starts Xvfb (when no display is given) and a persistent
# wineserver whose stdio is /dev/null, so that Wine's background services never hold the pipes of
# ctest or of the caller. Stops both on exit.
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
fm_started_xvfb=""
if [ -z "${FM_KEEP_DISPLAY:-}" ] && ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    fm_started_xvfb=$!
    for _ in $(seq 50); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
fi
wineserver -p </dev/null >/dev/null 2>&1
# Xvfb runs no window manager; with windows managed Wine waits up to two seconds for one at every
# window destruction. Plug-in windows are unmanaged popups on a real desktop too.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
fi
# The first Wine program of a session starts Wine's background services (services.exe,
# explorer.exe, ...), which inherit its standard streams; start them here on /dev/null so that
# they never hold a test's output pipe open after the test has ended.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
fm_wine_session_end() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$fm_started_xvfb" ] && kill "$fm_started_xvfb" 2>/dev/null || true
}
trap fm_wine_session_end EXIT
