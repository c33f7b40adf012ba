// The update worker: one background fetch-and-parse pass at a time, handed to the window with
// WM_FEED_UPDATED.
#pragma once
#include <windows.h>

// Posted to the plug-in window at the end of a pass: wParam 0, lParam the first FetchList entry.
const UINT WM_FEED_UPDATED = WM_USER + 100;

extern HANDLE workerSemaphore;      // non-null exactly while a pass runs
extern volatile LONG stopRequested; // set by endPlugin; a running pass discards its result
extern char lastUpdateTime[20];     // "%m/%d %H:%M" of the last parsed fetch, empty at first

extern const char* const connectingText; // "Connecting..."
extern const char* const failedText;     // "Couldn't connect!"

// Starts a pass unless one runs; true when the DisplayList is not empty (callers then repaint).
bool requestUpdate();
void startUpdate();
// The body of the worker thread.
void runUpdatePass(char* url);
// endPlugin's step: asks a running pass to stop and waits for it, at most 10000 ms.
void stopUpdate();
// The window's handling of WM_FEED_UPDATED (lParam as posted).
void finishUpdate(LPARAM firstEntry);
