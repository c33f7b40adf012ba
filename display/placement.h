// Placement: size, transparency, auto-hide, position tracking, snapping and display changes.
#pragma once
#include <windows.h>

bool applySize(int width, int height);
void applyTransparency();
RECT monitorBounds(HWND window);
bool autoHideTarget(POINT* position);

void autoHideCheck();      // timer 3
void showFromAutoHide();   // a mouse move while autoHidden
void endMoveOrResize();    // WM_EXITSIZEMOVE
void trackPosition(const WINDOWPOS* position); // WM_WINDOWPOSCHANGED
void snapPosition(WINDOWPOS* position);        // WM_WINDOWPOSCHANGING
void displayChanged();                         // WM_DISPLAYCHANGE
// Places the window at once by the auto-hide check's steps 4 and 5 (the "AutoHide" command).
void placeAfterAutoHideChange();
