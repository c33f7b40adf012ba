// Pointer tracking for the plug-in window. The system sends one leave message per request, so a
// request is made each time the pointer enters (the first move after a leave); the window's
// every point is a caption, so the request is for the non-client area.
//
// Some systems notice the leave by polling the pointer on a timer whose period is the request's
// hover time (the system's default hover time, 400 ms, when only the leave is asked for); each
// tick queries the cursor, the window under it and its hit test, a dozen round trips to the
// window server. The request therefore also asks for a hover after leaveCheckPeriodMs, which sets
// that period: the pointer resting over the window costs fewer wake-ups, at the price of a leave
// noticed up to that long after the fact there. The hover message itself is left to the default
// procedure; where the system watches the pointer itself, nothing changes.
#include "plugin/mouse_tracking.h"

#include "plugin/runtime_state.h"

namespace {

const DWORD leaveCheckPeriodMs = 750;

void requestLeave(HWND window, bool nonClient) {
    TRACKMOUSEEVENT request = {};
    request.cbSize = sizeof request;
    request.dwFlags = TME_LEAVE | TME_HOVER | (nonClient ? TME_NONCLIENT : 0);
    request.hwndTrack = window;
    request.dwHoverTime = leaveCheckPeriodMs;
    TrackMouseEvent(&request);
}

} // namespace

bool pointerMoved(HWND window, bool nonClient) {
    if (runtime.mouseInside)
        return false;
    runtime.mouseInside = true;
    requestLeave(window, nonClient);
    // Some systems track nothing when the pointer is already elsewhere (a quick pass over the
    // window, a synthetic move), and would never report the leave.
    POINT cursor;
    if (GetCursorPos(&cursor) && WindowFromPoint(cursor) != window)
        PostMessageA(window, nonClient ? WM_NCMOUSELEAVE : WM_MOUSELEAVE, 0, 0);
    return true;
}

void pointerLeft() {
    runtime.mouseInside = false;
}

bool pointerOverNow(HWND window) {
    POINT cursor;
    if (!GetCursorPos(&cursor) || WindowFromPoint(cursor) != window) {
        runtime.mouseInside = false;
        return false;
    }
    LRESULT hit = SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(cursor.x, cursor.y));
    runtime.mouseInside = true;
    requestLeave(window, hit != HTCLIENT);
    return true;
}
