// The update worker: one background fetch-and-parse pass at a time, handed to the window with
// WM_FEED_UPDATED; and what the window thread keeps between passes: the last good headlines, the
// validators for the next conditional request, the schedule of automatic updates and the health
// line.
#pragma once
#include <windows.h>
#include <cstdint>

// Posted to the plug-in window at the end of a pass: wParam 0, lParam the first FetchList entry
// (null when the pass created none).
const UINT WM_FEED_UPDATED = WM_USER + 100;

// Non-null from the start of a pass until the window has taken its result (finishUpdate) or
// stopUpdate ended it; window thread only. While it is set no other pass starts.
extern HANDLE workerSemaphore;
// Set by stopUpdate, cleared when the plug-in starts. Each pass stops through its own flag, so a
// pass abandoned by one run can never be revived by the next.
extern volatile LONG stopRequested;
// "%m/%d %H:%M" of the last successful pass (new headlines or not modified), or of the saved copy
// shown at start; empty at first. Written only on the window thread.
extern char lastUpdateTime[20];

extern const char* const connectingText; // "Connecting..."
extern const char* const failedText;     // "Couldn't connect!"
extern const char* const noItemsReason;  // "no items in the response"

// Window thread. Starts a pass unless one runs (a pass for an address that changed meanwhile is
// followed by one for the new address when it ends); true when the DisplayList is not empty
// (callers then repaint).
bool requestUpdate();
// Window thread. Starts a pass with a copy of feedUrl, conditional when the lists hold its
// headlines. With keepHeadlines the headlines stay on show meanwhile (at the first start those
// of the saved copy, when it is of feedUrl); otherwise, or with nothing to show, both lists show
// "Connecting...". When no pass can be started the failure is handled as a failed pass.
void startUpdate();
// The body of the worker thread for one pass (its record is private to this unit).
struct UpdatePass;
void runUpdatePass(UpdatePass* pass);
// Window thread, endPlugin's step: asks a running pass to stop and waits until it has stopped,
// at most updateStopWaitMs (10000). A pass still running afterwards touches no plug-in state.
// The FetchList holds the shown headlines again afterwards.
void stopUpdate();
// Window thread: the handling of WM_FEED_UPDATED (lParam as posted). Takes the current pass's
// result, ignores a stale message, re-arms timer 1 with the delay in force and repaints.
void finishUpdate(LPARAM firstEntry);

// How long stopUpdate waits for a running pass (10000 ms; tests shorten it).
extern unsigned long updateStopWaitMs;

// Window thread. True when the lists hold headlines parsed for url (not a placeholder, and not a
// feed shown before the address changed).
bool headlinesBelongTo(const char* url);
// Window thread. True when the lists hold headlines parsed for an address other than url (the
// address changed while a pass ran).
bool headlinesOfAnotherAddress(const char* url);
// Window thread. True when the last pass failed and the lists still show the headlines before it.
bool headlinesStale();
// Window thread. The health line ("Updated 12/08 14:21, 25 items (every 15 min)"); empty before
// the first pass. A healthNote is added at its end.
const char* feedHealthLine();
// Window thread. A note the plug-in adds to the health line (a setting it could not apply, such as
// a refused hot key); empty: none.
extern char healthNote[160];
// Window thread. What the health line of the last pass was made from.
struct HealthFacts;
const HealthFacts& feedHealthFacts();
// Window thread. The automatic interval in force in minutes: the larger of updateInterval and the
// feed's own ttl, at most a day.
int updateIntervalInForce();
// Window thread. The period timer 1 is armed with, in milliseconds: the interval in force, or the
// longer delay of a back-off or a server's Retry-After.
UINT updateTimerDelayMs();
// Window thread. The path of the saved copy, "feedmarquee.cache" beside the settings file; false
// (path empty) when there is no settings path or it would not fit in MAX_PATH.
bool headlineCachePath(char* path);
// Window thread. Forgets the kept headlines, validators, schedule and health (a fresh start).
void resetFeedState();

// Seams for the tests: the clock (seconds since 1970, UTC; time() by default) and the random
// source of the back-off's spread (rand() by default).
extern int64_t (*updateClock)();
extern uint32_t (*updateRandom)();
