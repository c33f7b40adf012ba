// The update worker: one background fetch-and-parse pass at a time, handed to the window with
// WM_FEED_UPDATED.
#pragma once
#include <windows.h>

// Posted to the plug-in window at the end of a pass: wParam 0, lParam the first FetchList entry
// (null when the pass created none).
const UINT WM_FEED_UPDATED = WM_USER + 100;

// Non-null from the start of a pass until the window has taken its result (finishUpdate) or
// stopUpdate ended it; window thread only. While it is set no other pass starts.
extern HANDLE workerSemaphore;
// Set by stopUpdate: a running pass stops receiving and discards its result. startUpdate clears it
// when it starts a new pass.
extern volatile LONG stopRequested;
// "%m/%d %H:%M" of the last pass that parsed a document, empty at first. Written only on the
// window thread (by finishUpdate), so painting reads it directly and always sees a whole text.
extern char lastUpdateTime[20];

extern const char* const connectingText; // "Connecting..."
extern const char* const failedText;     // "Couldn't connect!"

// Window thread. Starts a pass unless one runs; true when the DisplayList is not empty (callers
// then repaint).
bool requestUpdate();
// Window thread. Puts "Connecting..." into both lists and starts a pass with a copy of feedUrl;
// does nothing while a pass runs. When no pass can be started both lists show "Couldn't connect!".
void startUpdate();
// The body of the worker thread for one pass (its record is private to this unit).
struct UpdatePass;
void runUpdatePass(UpdatePass* pass);
// Window thread, endPlugin's step: asks a running pass to stop and waits until it has stopped,
// at most updateStopWaitMs (10000). A pass still running afterwards touches no plug-in state.
void stopUpdate();
// Window thread: the handling of WM_FEED_UPDATED (lParam as posted). Takes the finished pass's
// result (tooltip sweep, update time, DisplayList copy) when the message belongs to the current
// pass, ignores a stale one, and repaints in every case.
void finishUpdate(LPARAM firstEntry);

// How long stopUpdate waits for a running pass (10000 ms; tests shorten it).
extern unsigned long updateStopWaitMs;
