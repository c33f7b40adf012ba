// Where the pointer is relative to the plug-in window, learnt from the system's leave messages
// (TrackMouseEvent) rather than by polling the cursor: while the pointer rests, nothing runs.
#pragma once
#include <windows.h>

// A mouse move over window (nonClient: a WM_NCMOUSEMOVE, which is what the window gets, since it
// answers every point as a caption). On the move that enters, marks the pointer inside and asks
// the system for one leave message (WM_NCMOUSELEAVE or WM_MOUSELEAVE). True on that entering move.
bool pointerMoved(HWND window, bool nonClient);
// The leave message arrived: the pointer is outside until the next move.
void pointerLeft();
// True when the cursor is over window now. When it is, leave tracking is armed as on an entering
// move, so that a leave is reported later without any polling.
bool pointerOverNow(HWND window);
