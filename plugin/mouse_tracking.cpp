// Pointer tracking for the plug-in window. The system sends one leave message per request, so a
// request is made each time the pointer enters (the first move after a leave); the window's
// every point is a caption, so the request is for the non-client area.
#include "plugin/mouse_tracking.h"

#include "plugin/runtime_state.h"

namespace {

void requestLeave(HWND window, bool nonClient) {
    TRACKMOUSEEVENT request = {};
    request.cbSize = sizeof request;
    request.dwFlags = TME_LEAVE | (nonClient ? TME_NONCLIENT : 0);
    request.hwndTrack = window;
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
