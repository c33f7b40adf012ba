// Where the settings, the update engine and the window meet. The feeds are the settings' feedUrl
// ("one" mode) or every favourite ("together", "inTurn"); the engine's finished passes are posted
// to the plug-in window as WM_FEED_UPDATED and taken there; timer 1 is armed from the engine's
// next due time. Everything here runs on the window thread.
#pragma once
#include <windows.h>
#include <cstdint>

#include "content/feed_items.h"

// Posted to the plug-in window by a worker: wParam 0, lParam the finished pass (a
// FeedPassResult*), which finishUpdate gives back to the engine.
const UINT WM_FEED_UPDATED = WM_USER + 100;

// One feed as the window shows it. Pointers stay valid until the next call that changes the feeds
// (finishUpdate, reconfigureFeeds, stopUpdate); retain list to keep it longer.
struct ShownFeed {
    const char* url;     // the feed's address
    const char* title;   // the favourite's title, else the feed's own, else the address
    FeedList* list;      // its headlines, or a single placeholder entry; never null
    bool hasHeadlines;   // list holds headlines (not "Connecting..." / "Couldn't connect!")
    bool stale;          // the last pass failed: the headlines are older
    const char* health;  // the health line; empty before any pass
    const char* failure; // why the last pass failed ("HTTP 404 Not Found"); empty when it did not
    const char* updated; // "%m/%d %H:%M" of the last good pass; empty before one
    int items;           // items of its headlines (header not counted)
    int newItems;        // items not seen before (0 without markNew)
    int share;           // its own share of the "together" list; 0: the global one
};

// The settings' feeds into the engine and the first passes started (at the plug-in's start and
// whenever feedUrl, the favourites, show, keepHeadlines, encoding or the interval change). A feed
// that stays keeps its headlines and schedule; a feed dropped or whose address changed has its
// pass abandoned at once. With keepHeadlines each new feed's saved copy is read off this thread
// and shown when ready. Files of feeds that are no longer favourites are removed.
void reconfigureFeeds();
// "Update Now": every shown feed is due now (a running pass is that feed's update). True when
// there is something to repaint.
bool requestUpdate();
// Updates one feed now (index as in shownFeedAt).
void requestFeedUpdate(int feed);
// endPlugin's step: stops every pass within the stop bound (never waits longer) and frees the
// engine; the next reconfigureFeeds starts afresh and reads the saved copies again.
void stopUpdate();
// The handling of WM_FEED_UPDATED (lParam as posted): the results reach their feeds and timer 1
// is re-armed with the next due time; the caller shows them (repaints).
void finishUpdate(LPARAM pass);
// Timer 1: starts the passes that are due and re-arms the timer.
void runDueUpdates();
// The period timer 1 is armed with, in milliseconds: until the next feed falls due.
UINT updateTimerDelayMs();

// The feeds on show: 1 in "one" mode (feedUrl), else one per favourite; 0 before the start.
int shownFeedCount();
// Feed index (0 to shownFeedCount() - 1) into out; false for another index.
bool shownFeedAt(int index, ShownFeed* out);

// New items, per feed index.
bool itemIsNew(int feed, const FeedItem* item);
void markItemSeen(int feed, const FeedItem* item);
// Marks every item of every feed seen.
void markAllRead();
// New items of feed (-1: of every feed).
int newItemCount(int feed);

// "One" mode's feed (index 0), as the single-feed window and commands read it.
// The list on show: headlines or a placeholder; null before the start.
FeedList* shownList();
// Shows list instead of the engine's until the next requestUpdate (a reference is taken; null:
// the engine's again). For painting benchmarks and tests that lay out lists they build.
void showListDirectly(FeedList* list);
// Its first entry (the header), or null.
inline FeedItem* shownFirst() {
    FeedList* list = shownList();
    return list != nullptr ? list->first : nullptr;
}
// True when the shown list holds headlines parsed for url.
bool headlinesBelongTo(const char* url);
// True when the shown headlines are of an address other than url (the address changed).
bool headlinesOfAnotherAddress(const char* url);
// True when the last pass failed and older headlines are on show.
bool headlinesStale();
// The health line; empty before the first pass.
const char* feedHealthLine();
// The health of what is shown, for the health command: "one" mode's health line; in "together"
// and "inTurn" every feed's line, named, the failed ones first, within healthReportLimit bytes.
const char* healthReport();
// The interval in force in minutes.
int updateIntervalInForce();
// "%m/%d %H:%M" of the last good pass (or saved copy shown); empty at first.
extern char lastUpdateTime[20];

// The saved copy of "one" mode, "feedmarquee.cache" beside the settings file; false (path empty)
// when there is no settings path or it would not fit in MAX_PATH.
bool headlineCachePath(char* path);
// The folder of the other modes' saved copies, "feedmarquee.feeds" beside the settings file.
bool feedFolderPath(char* path);
// Where the engine saves url's copy in the mode in force (MAX_PATH bytes); false when nowhere.
bool savedCopyPath(const char* url, char* path);

// True while a pass, or the reading of saved copies, runs.
bool updatesRunning();
// Passes that ended and reached their feed since the start (every feed).
int completedPasses();

// How long stopUpdate waits for running passes (10000 ms; tests shorten it).
extern unsigned long updateStopWaitMs;
