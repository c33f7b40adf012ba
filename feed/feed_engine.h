// The update engine for a set of feeds. Each feed has its own schedule (interval in force, ttl,
// back-off, Retry-After), validators for conditional requests, last good headlines, failure
// reason, health line, saved copy and seen keys. Passes run on worker threads, at most
// engineMaxPasses at once, never two for one feed; each finished pass is handed back as a value
// through the delivery callback and applied on the owner thread (the thread that created the
// engine; every function here except the callback's work runs there).
//
// The engine knows no window, no settings and no tooltip: it is given the feeds and options as
// values. Lists it hands out are shared (FeedList, reference counted) and read-only.
#pragma once
#include <cstddef>
#include <cstdint>

#include "content/feed_items.h"

// The most passes that run at once; further due feeds wait for a free slot. A pass still running
// after engineSlowPassMs (1000; tests change it) is slow: it goes on within its own bounds but
// gives its slot to the next due feed, so slow or silent servers never hold up the others.
const int engineMaxPasses = 4;
extern unsigned long engineSlowPassMs;
// The most seen keys kept per feed (the newest).
const int engineSeenKeyLimit = 2000;

extern const char* const connectingText; // "Connecting...": nothing to show yet
extern const char* const failedText;     // "Couldn't connect!": the pass failed, nothing kept
extern const char* const noItemsReason;  // "no items in the response"

// One feed as the engine is given it. Strings are copied.
struct FeedSpec {
    const char* url;       // the feed's address (any length the transport accepts)
    const char* cachePath; // its saved copy (written, read at start); null or empty: none
    const char* seenPath;  // its seen keys; null or empty: kept in memory only
    // Another place this address's saved copy and seen keys may be (the files of another display
    // mode, or of an older version), read only when the feed's own copy is missing and only when
    // that copy was saved for this address; null: none. The next good pass writes the feed's own.
    const char* formerCachePath;
    const char* formerSeenPath;
    // The feed's own update interval in minutes, in place of the options' (bounded alike; the
    // feed's ttl, a Retry-After and the back-off still lengthen it); 0: the options'.
    int updateIntervalMinutes = 0;
    // The User-Agent text its requests send; null or empty: the product's own.
    const char* userAgent = nullptr;
    // A login asked for over plain http may go as Basic, the password in clear.
    bool allowBasicOverHttp = false;
};

struct EngineOptions {
    int updateIntervalMinutes; // the user's interval (the feed's ttl may lengthen it)
    bool keepHeadlines;        // a failure keeps the last good headlines (stale); saved copies used
    bool convertCharset;       // bodies are read in their own character set
    bool markNew;              // items not seen before are reported new
    unsigned long stopWaitMs;  // how long a stop waits for running passes (10000)
};

// A finished pass, or a saved copy read at a feed's first pass, as a value. Created on a worker
// thread and queued in the engine; engineTakeFinished applies (and frees) the queued ones.
struct FeedPassResult;

// Called on a worker thread when a result was queued; must wake the owner thread (e.g. post a
// message to its window), which then calls engineTakeFinished. Returns false when it could not:
// the result stays queued and the owner's next engine call takes it. Never called after
// destroyFeedEngine. Holds the engine's lock: it must not call the engine.
typedef bool (*PassDelivery)(void* context);

struct FeedEngine;

// A new engine without feeds, or null when memory runs out. deliver may be null (results are then
// taken at the next engine call).
FeedEngine* createFeedEngine(PassDelivery deliver, void* context);
// Stops (engineStop), lets the seen keys still being saved reach the disk, both within stopWaitMs
// in all, and frees the engine.
void destroyFeedEngine(FeedEngine* engine);

// Sets the feeds and options. A feed whose address stays keeps its state; a feed dropped (or whose
// address changed) has its running pass abandoned at once (never waited for) and its state freed;
// a new feed shows "Connecting..." and is due at once (with keepHeadlines its saved copy is read
// first by its first pass, off this thread). Starts nothing by itself: call engineRunDue.
void engineConfigure(FeedEngine* engine, const FeedSpec* feeds, int count,
                     const EngineOptions* options);
// Replaces the options alone (the interval, marks); the feeds stay as they are. A new interval
// applies at once: each feed falls due one new interval after its last good pass, and its health
// line names the new interval; a feed held back after a failure keeps its hold.
void engineSetOptions(FeedEngine* engine, const EngineOptions* options);
// Starts the passes of due feeds (within engineMaxPasses) and returns the milliseconds until the
// next feed falls due, or, when a due feed waits for a slot, until a running pass turns slow if
// that is sooner (at least 1); -1 when nothing is scheduled.
long long engineRunDue(FeedEngine* engine, int64_t now);
// Makes feed (index; -1: every feed) due now. A feed whose pass runs is not started twice: that
// pass is its update.
void engineUpdateNow(FeedEngine* engine, int feed);
// Applies every queued result (the owner thread); a result of a feed that is gone, whose address
// changed or that engineStop abandoned is dropped. Returns how many changed a feed.
int engineTakeFinished(FeedEngine* engine);
// Asks every running pass to stop and waits for them at most stopWaitMs in all (never longer,
// even for a cache write to a slow folder); passes still running afterwards are abandoned and
// touch nothing of the engine. The feeds' state stays; engineRunDue starts again.
void engineStop(FeedEngine* engine);

// Seams for the tests: the clock (seconds since 1970, UTC) and the back-off's random source.
extern int64_t (*engineClock)();
extern uint32_t (*engineRandom)();

// --- Per feed, on the owner thread; index from 0 to engineFeedCount() - 1. ---
int engineFeedCount(const FeedEngine* engine);
const char* engineFeedUrl(const FeedEngine* engine, int feed);
// What the feed shows: its headlines (the last good list) or a single placeholder entry
// ("Connecting...", "Couldn't connect!"). Never null for a valid index. Shared: retain it to keep
// it past the next engine call.
FeedList* engineFeedList(const FeedEngine* engine, int feed);
// True when engineFeedList holds the feed's headlines, not a placeholder.
bool engineFeedHasHeadlines(const FeedEngine* engine, int feed);
// The feed's own title from its headlines (the header entry's), or null.
const char* engineFeedTitle(const FeedEngine* engine, int feed);
// True when the last pass failed and the headlines shown are older ones.
bool engineFeedStale(const FeedEngine* engine, int feed);
// True while a pass for the feed runs.
bool engineFeedRunning(const FeedEngine* engine, int feed);
// True while any pass, or the reading of saved copies, runs.
bool engineBusy(const FeedEngine* engine);
// Passes of feed that ended and were applied since the feed was added (-1: of every feed the
// engine had).
int engineFeedPasses(const FeedEngine* engine, int feed);
// The health line ("Updated 12/08 14:21, 25 items (every 15 min)"); empty before any pass.
const char* engineFeedHealth(const FeedEngine* engine, int feed);
// Why the feed's last pass failed ("HTTP 404 Not Found", "certificate not trusted"); empty when it
// did not fail.
const char* engineFeedFailure(const FeedEngine* engine, int feed);
// "%m/%d %H:%M" of the last good pass or of the saved copy shown; empty before either.
const char* engineFeedUpdated(const FeedEngine* engine, int feed);
// The interval in force in minutes (the feed's own interval or else the user's, or the feed's ttl
// when longer; at most a day).
int engineFeedInterval(const FeedEngine* engine, int feed);
// The delay before the feed's next automatic pass after its last one, in seconds: the interval in
// force, or the longer delay of a back-off or Retry-After.
int64_t engineFeedDelaySeconds(const FeedEngine* engine, int feed);

// The milliseconds until the feed's next automatic pass from now: 0 when it is due, never more
// than its delay in force (a clock set back does not stretch it), the whole delay while its pass
// runs; -1 for another index.
long long engineFeedWaitMs(const FeedEngine* engine, int feed, int64_t now);

// --- New items (markNew). An item is new when its key was not seen: the first list of a feed
// (without saved seen keys) is seen whole. Seen keys are saved to the feed's seenPath. Only a
// list's first engineSeenKeyLimit items carry marks. ---
bool engineItemIsNew(const FeedEngine* engine, int feed, const FeedItem* item);
void engineMarkSeen(FeedEngine* engine, int feed, const FeedItem* item);
// Marks every item of feed seen (-1: of every feed).
void engineMarkAllRead(FeedEngine* engine, int feed);
// New items of feed's headlines (-1: of every feed); 0 without markNew.
int engineNewCount(const FeedEngine* engine, int feed);
