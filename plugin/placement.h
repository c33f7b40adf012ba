// Placement: size, transparency, auto-hide, position tracking, snapping and display changes.
// Everything here runs on the GUI thread and works on runtime.pluginWindow.
#pragma once
#include <windows.h>

// Stores width and height (each within 10 and the virtual screen's extent) and resizes the window;
// false, with nothing done, when both equal the stored size already.
bool applySize(int width, int height);
// Layered style and opacity (low 8 bits of alpha, at least 16; or opaque), then repaint and menu
// refresh.
void applyTransparency();
// The full rectangle of the monitor that window is on (the primary one when none), or the primary
// screen's size when the monitor functions are unavailable.
RECT monitorBounds(HWND window);
// True when the window is eligible to hide (autoHide on, not in the slit, flush with an edge of
// its monitor). When position is given and autoHidden is set, it receives the hidden position.
bool autoHideTarget(POINT* position);

// Timer 3: hides an eligible window unless the pointer is over it (then the timer stops and the
// pointer's leave starts it again) or the left button is down (then it checks again).
void autoHideCheck();
void showFromAutoHide();     // a mouse move while autoHidden; the leave arms timer 3
void pointerEnteredWindow(); // stops a pending timer 3
void pointerLeftWindow();    // arms timer 3 when the shown window is eligible to hide
void endMoveOrResize();      // WM_EXITSIZEMOVE: arms timer 3, or the leave does
void trackPosition(const WINDOWPOS* position); // WM_WINDOWPOSCHANGED
void snapPosition(WINDOWPOS* position);        // WM_WINDOWPOSCHANGING
void displayChanged();                         // WM_DISPLAYCHANGE, then bringBackOnScreen
// The "AutoHide" command's placement: autoHidden becomes the eligibility, and the window goes at
// once to its hidden position or to (x, y), without arming timer 3.
void placeAfterAutoHideChange();

// Where a window at window (screen coordinates) can be reached: window itself when any part of it
// lies on virtualScreen; otherwise the same size moved into workArea (the work area of the monitor
// nearest to it) by the shortest way, its top-left corner first when it is larger than the area.
RECT reachablePlace(const RECT& window, const RECT& virtualScreen, const RECT& workArea);
// The work area of the monitor nearest to rect, or the primary one's without the monitor
// functions.
RECT nearestWorkArea(const RECT& rect);
// Outside the slit, when no part of the window at (x, y) lies on the virtual screen (a place saved
// on a monitor since unplugged), moves x and y onto the nearest monitor's work area and, when the
// window exists, the window there. True when it moved them.
bool bringBackOnScreen();

// The two monitor functions of "USER32" as monitorBounds calls them. Tests may put their own in;
// a null function makes the lookup unavailable.
typedef HMONITOR(WINAPI* MonitorFromWindowFunction)(HWND window, DWORD flags);
typedef BOOL(WINAPI* GetMonitorInfoFunction)(HMONITOR monitor, MONITORINFO* info);
void setMonitorFunctions(MonitorFromWindowFunction monitorFromWindow,
                         GetMonitorInfoFunction getMonitorInfo);
