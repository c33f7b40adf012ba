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

void autoHideCheck();                          // timer 3
void showFromAutoHide();                       // a mouse move while autoHidden
void endMoveOrResize();                        // WM_EXITSIZEMOVE
void trackPosition(const WINDOWPOS* position); // WM_WINDOWPOSCHANGED
void snapPosition(WINDOWPOS* position);        // WM_WINDOWPOSCHANGING
void displayChanged();                         // WM_DISPLAYCHANGE
// The "AutoHide" command's placement: autoHidden becomes the eligibility, and the window goes at
// once to its hidden position or to (x, y), without arming timer 3.
void placeAfterAutoHideChange();

// The two monitor functions of "USER32" as monitorBounds calls them. Tests may put their own in;
// a null function makes the lookup unavailable.
typedef HMONITOR(WINAPI* MonitorFromWindowFunction)(HWND window, DWORD flags);
typedef BOOL(WINAPI* GetMonitorInfoFunction)(HMONITOR monitor, MONITORINFO* info);
void setMonitorFunctions(MonitorFromWindowFunction monitorFromWindow,
                         GetMonitorInfoFunction getMonitorInfo);
