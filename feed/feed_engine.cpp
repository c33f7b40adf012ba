// The update engine. The owner thread keeps one FeedState per feed; each pass is a worker thread
// with its own record (addresses, validators, paths, its stop flag) that touches nothing of the
// engine but the shared hub: a small reference-counted record with a lock and the queue of
// finished results. A worker queues its results there and wakes the owner through the delivery
// callback; the owner drains the queue (engineTakeFinished) and matches each result to its feed by
// the pass's number, so a result of a pass that was abandoned, of a feed that is gone or of an
// engine that was destroyed is simply dropped. Nothing is ever waited for without a bound.
#include "feed/feed_engine.h"

#include <windows.h>
#include <process.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "content/feed_document.h"
#include "feed/feed_health.h"
#include "feed/fetch.h"
#include "feed/headline_cache.h"
#include "feed/seen_keys.h"
#include "feed/update_schedule.h"
#include "feed/worker_stack.h"

const char* const connectingText = "Connecting...";
const char* const failedText = "Couldn't connect!";
const char* const noItemsReason = "no items in the response";

namespace {

int64_t systemClock() {
    return static_cast<int64_t>(time(nullptr));
}

uint32_t systemRandom() {
    return static_cast<uint32_t>(rand()) * 2654435761u ^ static_cast<uint32_t>(GetTickCount());
}

char* copyOf(const char* text) {
    if (text == nullptr)
        text = "";
    size_t n = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

bool sameText(const char* a, const char* b) {
    return std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

// Replaces a heap text with a copy of text.
void setText(char** field, const char* text) {
    std::free(*field);
    *field = copyOf(text);
}

void copyField(char* field, size_t size, const char* text) {
    std::snprintf(field, size, "%s", text ? text : "");
}

// "%m/%d %H:%M" (or format) of a clock value in local time; empty when it cannot be shown.
void formatLocalTime(int64_t when, const char* format, char* out, size_t size) {
    time_t value = static_cast<time_t>(when);
    const tm* local = localtime(&value);
    if (local == nullptr || strftime(out, size, format, local) == 0)
        out[0] = '\0';
}

enum Outcome {
    outcomeFailed,      // nothing usable; reason says why
    outcomeParsed,      // a document with items is in list
    outcomeNotModified, // the server answered 304
};

} // namespace

int64_t (*engineClock)() = systemClock;
unsigned long engineSlowPassMs = 1000;
uint32_t (*engineRandom)() = systemRandom;

struct FeedPassResult {
    FeedPassResult* next; // in the hub's queue
    unsigned passId;
    bool saved;      // the saved copy and seen keys read by a feed's first pass (before its fetch)
    bool final;      // the pass ended with this result
    Outcome outcome; // fetch results
    FeedList* list;  // parsed headlines (outcomeParsed, or a saved copy's); the result's reference
    int status;
    bool movedPermanently;
    char* finalUrl;
    char* etag;
    char* lastModified;
    char* retryAfter;
    char reason[256];
    int64_t when;   // the end of the fetch, or the saved copy's time
    bool bodyKnown; // bodyCrc and bodyLength describe the saved copy's body now
    uint32_t bodyCrc;
    size_t bodyLength;
    SeenKeys seen;  // saved: the seen keys read from disk
    bool seenFound; // saved: the seen-keys file existed and was intact
};

namespace {

void freeResult(FeedPassResult* result) {
    releaseFeedList(result->list);
    std::free(result->finalUrl);
    std::free(result->etag);
    std::free(result->lastModified);
    std::free(result->retryAfter);
    freeSeenKeys(&result->seen);
    std::free(result);
}

// A seen-keys file waiting to be written.
struct SeenWrite {
    SeenWrite* next;
    char* path;
    char* data;
    size_t length;
};

void freeSeenWrite(SeenWrite* write) {
    std::free(write->path);
    std::free(write->data);
    std::free(write);
}

// Shared by the engine and its workers; freed by whichever lets go of it last.
struct Hub {
    CRITICAL_SECTION lock;
    volatile LONG references;
    bool closed; // the engine is gone: results are dropped
    FeedPassResult* first;
    FeedPassResult* last;
    PassDelivery deliver;
    void* context;
    SeenWrite* writes;    // seen-key files to write, in order
    bool writerRunning;   // a writer thread owns the queue (and a reference)
    HANDLE writerIdle;    // set while no writer runs (manual reset)
    HMODULE writerModule; // the writer thread's reference to this module
};

void releaseHub(Hub* hub) {
    if (InterlockedDecrement(&hub->references) != 0)
        return;
    for (FeedPassResult* r = hub->first; r != nullptr;) {
        FeedPassResult* next = r->next;
        freeResult(r);
        r = next;
    }
    for (SeenWrite* w = hub->writes; w != nullptr;) {
        SeenWrite* next = w->next;
        freeSeenWrite(w);
        w = next;
    }
    if (hub->writerIdle)
        CloseHandle(hub->writerIdle);
    DeleteCriticalSection(&hub->lock);
    std::free(hub);
}

// One pass: the worker's inputs and its link to the engine. Freed by whichever of the owner and
// the worker lets go last.
struct Pass {
    volatile LONG references;
    volatile LONG stop;      // FetchRequest.stop; also ends a cache write before its rename
    volatile LONG abandoned; // set under the hub's lock: the worker queues nothing more
    HANDLE done;             // set by the worker as it ends
    DWORD startedTick;       // owner thread: when the pass started
    bool slow;               // owner thread: ran past engineSlowPassMs; holds no slot
    HMODULE module;          // the worker's own reference to this module
    Hub* hub;
    unsigned id;
    char* url;
    char* etag; // validators sent (empty: an unconditional request)
    char* lastModified;
    char* validatorsUrl;  // the address they belong to (FetchRequest.validatorsUrl); empty: url
    char* userAgent;      // FetchRequest.userAgent; empty: the product's own
    char* cachePath;      // where a good response is saved; null: not saved
    struct LoadJob* jobs; // a loader: the saved copies and seen keys to read, in turn
    int jobCount;
    bool convertCharset;
    bool allowBasicOverHttp; // FetchRequest's
    bool bodyKnown; // the saved copy's body is bodyCrc/bodyLength: an identical body is not written
    uint32_t bodyCrc;
    size_t bodyLength;
};

// One feed's saved copy and seen keys, read by a loader off the owner thread.
struct LoadJob {
    unsigned id; // the feed's loadId
    char* url;
    char* cachePath;       // null: no saved copy to read
    char* seenPath;        // null: no seen keys to read
    char* formerCachePath; // FeedSpec's; null: none
    char* formerSeenPath;
};

void releasePass(Pass* pass) {
    if (InterlockedDecrement(&pass->references) != 0)
        return;
    for (int i = 0; i < pass->jobCount; ++i) {
        std::free(pass->jobs[i].url);
        std::free(pass->jobs[i].cachePath);
        std::free(pass->jobs[i].formerCachePath);
        std::free(pass->jobs[i].formerSeenPath);
        std::free(pass->jobs[i].seenPath);
    }
    std::free(pass->jobs);
    if (pass->done)
        CloseHandle(pass->done);
    releaseHub(pass->hub);
    std::free(pass->url);
    std::free(pass->etag);
    std::free(pass->lastModified);
    std::free(pass->validatorsUrl);
    std::free(pass->userAgent);
    std::free(pass->cachePath);
    std::free(pass);
}

struct FeedState {
    char* url;
    char* cachePath;
    char* seenPath;
    char* formerCachePath;
    char* formerSeenPath;
    bool allowBasicOverHttp;
    int ownIntervalMinutes; // FeedSpec's updateIntervalMinutes; 0: the options'
    char* userAgent;        // FeedSpec's; empty: the product's own
    FeedList* headlines;    // the last good list; null: none
    FeedList* shown;        // headlines, or a placeholder
    bool stale;
    char* etag; // validators of the last good response
    char* lastModified;
    char* validatorsUrl; // the address that gave them (after redirects): they go only there
    bool bodyKnown;      // the saved copy's body (to skip writing an identical one)
    uint32_t bodyCrc;
    size_t bodyLength;
    bool savedRead;  // its saved copy and seen keys were read (or there were none to read)
    unsigned loadId; // while a loader reads them: the number its result carries
    UpdateSchedule schedule;
    int64_t delaySeconds; // the delay in force after a failure; 0: the interval in force
    int ttlMinutes;
    int64_t dueAt;      // seconds since 1970; 0: due now
    int64_t lastPassAt; // the end of the last successful pass; 0: none yet
    Pass* running;
    int passes; // passes applied
    HealthFacts health;
    char* movedTo;    // health.movedTo's text; null: not moved
    char* healthLine; // null before the first line was composed
    char updated[20];
    // New items.
    SeenKeys seen;
    bool seenKnown;    // seen holds the feed's history (a file was read or a list was seen)
    uint8_t* newFlags; // by entryIndex of headlines
    int32_t newFlagsCount;
    int newCount;
};

void resetFeed(FeedState* feed) {
    std::free(feed->url);
    std::free(feed->cachePath);
    std::free(feed->seenPath);
    std::free(feed->formerCachePath);
    std::free(feed->formerSeenPath);
    std::free(feed->userAgent);
    releaseFeedList(feed->headlines);
    releaseFeedList(feed->shown);
    std::free(feed->etag);
    std::free(feed->lastModified);
    std::free(feed->validatorsUrl);
    std::free(feed->movedTo);
    std::free(feed->healthLine);
    freeSeenKeys(&feed->seen);
    std::free(feed->newFlags);
    std::memset(feed, 0, sizeof *feed);
}

void show(FeedState* feed, FeedList* list) {
    retainFeedList(list);
    releaseFeedList(feed->shown);
    feed->shown = list;
}

void showPlaceholder(FeedState* feed, const char* text) {
    FeedList* list = placeholderList(text);
    show(feed, list);
    releaseFeedList(list);
}

} // namespace

struct FeedEngine {
    Hub* hub;
    EngineOptions options;
    FeedState* feeds;
    int count;
    // Passes running that hold a slot: not slow, and either a feed's or abandoned but not yet
    // ended (an abandoned pass may keep its connection for a moment, and it still counts then).
    int active;
    Pass** abandoned; // abandoned passes that still hold a slot (a reference each)
    int abandonedCount;
    int abandonedCapacity;
    unsigned nextPassId;
    Pass* loader; // reads saved copies and seen keys; null when none runs
    int passes;   // passes applied, of feeds gone too
};

namespace {

int intervalOf(const FeedEngine* engine, const FeedState* feed) {
    int own = feed->ownIntervalMinutes;
    return intervalInForceMinutes(own > 0 ? own : engine->options.updateIntervalMinutes,
                                  feed->ttlMinutes);
}

// The seconds from a feed's pass to its next automatic one: the interval in force, or the longer
// delay of a back-off or Retry-After after a failure.
int64_t delayOf(const FeedEngine* engine, const FeedState* feed) {
    return feed->delaySeconds > 0 ? feed->delaySeconds
                                  : static_cast<int64_t>(intervalOf(engine, feed)) * 60;
}

void composeHealth(const FeedEngine* engine, FeedState* feed) {
    feed->health.intervalMinutes = intervalOf(engine, feed);
    feed->health.movedTo = feed->movedTo;
    // Room for the longest reason and times, and the whole of a moved address.
    size_t size = 640 + (feed->movedTo != nullptr ? std::strlen(feed->movedTo) : 0);
    char* line = static_cast<char*>(std::realloc(feed->healthLine, size));
    if (line == nullptr)
        return;
    feed->healthLine = line;
    composeHealthLine(&feed->health, line, size);
}

// The feed's next automatic pass one delay in force after now; after a failure the health line
// tells when.
void scheduleFrom(const FeedEngine* engine, FeedState* feed, int64_t now) {
    feed->dueAt = now + delayOf(engine, feed);
    if (feed->health.kind == healthFailed) {
        formatLocalTime(feed->dueAt, "%H:%M", feed->health.nextTry, sizeof feed->health.nextTry);
        composeHealth(engine, feed);
    }
}

// Starts the feed's health facts afresh for a new outcome.
void resetHealth(FeedState* feed, HealthKind kind) {
    std::memset(&feed->health, 0, sizeof feed->health);
    feed->health.kind = kind;
    std::free(feed->movedTo);
    feed->movedTo = nullptr;
}

// True for an item that can carry a new mark: the first engineSeenKeyLimit items of a list (the
// seen keys could not remember more, and a feed's newest items come first).
bool marked(const FeedItem* item) {
    return item != nullptr && item->entryIndex <= engineSeenKeyLimit;
}

// The hub's writer thread: writes the queued seen-key files in turn and ends when none is left.
// It holds a reference to the hub and to this module, so it may outlive the engine.
unsigned __stdcall seenWriterThread(void* argument) {
    releaseUnusedStack();
    Hub* hub = static_cast<Hub*>(argument);
    HMODULE module = hub->writerModule;
    for (;;) {
        EnterCriticalSection(&hub->lock);
        SeenWrite* write = hub->writes;
        if (write != nullptr) {
            hub->writes = write->next;
        } else {
            hub->writerRunning = false;
            SetEvent(hub->writerIdle);
        }
        LeaveCriticalSection(&hub->lock);
        if (write == nullptr)
            break;
        writeSeenBytes(write->path, write->data, write->length);
        freeSeenWrite(write);
    }
    releaseHub(hub);
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Saves the feed's seen keys off this thread (a hover must not wait for a slow folder): the bytes
// are queued, replacing an older queued state of the same file, for the hub's writer thread. When
// no thread can be started they are written here. A failure only loses the marks of this run.
void saveSeen(FeedEngine* engine, const FeedState* feed) {
    if (feed->seenPath == nullptr || !feed->seenPath[0])
        return;
    SeenWrite* write = static_cast<SeenWrite*>(std::calloc(1, sizeof(SeenWrite)));
    if (write == nullptr)
        return;
    write->path = copyOf(feed->seenPath);
    write->data = encodeSeenKeys(&feed->seen, feed->url, &write->length);
    if (write->path == nullptr || write->data == nullptr) {
        freeSeenWrite(write);
        return;
    }
    Hub* hub = engine->hub;
    EnterCriticalSection(&hub->lock);
    SeenWrite** at = &hub->writes;
    while (*at != nullptr && std::strcmp((*at)->path, write->path) != 0)
        at = &(*at)->next;
    if (*at != nullptr) {
        write->next = (*at)->next;
        freeSeenWrite(*at);
    }
    *at = write;
    bool start = !hub->writerRunning;
    if (start) {
        hub->writerRunning = true;
        ResetEvent(hub->writerIdle);
        InterlockedIncrement(&hub->references);
    }
    LeaveCriticalSection(&hub->lock);
    if (!start)
        return;
    bool started = false;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&seenWriterThread), &hub->writerModule)) {
        uintptr_t thread = beginWorkerThread(seenWriterThread, hub);
        if (thread != 0) {
            CloseHandle(reinterpret_cast<HANDLE>(thread));
            started = true;
        } else {
            FreeLibrary(hub->writerModule);
        }
    }
    if (started)
        return;
    // No thread: the queue is written here and now.
    for (;;) {
        EnterCriticalSection(&hub->lock);
        SeenWrite* next = hub->writes;
        if (next != nullptr) {
            hub->writes = next->next;
        } else {
            hub->writerRunning = false;
            SetEvent(hub->writerIdle);
        }
        LeaveCriticalSection(&hub->lock);
        if (next == nullptr)
            break;
        writeSeenBytes(next->path, next->data, next->length);
        freeSeenWrite(next);
    }
    releaseHub(hub);
}

// The new flags of the feed's headlines. A feed without a history sees its first list whole.
void markNewItems(FeedEngine* engine, FeedState* feed) {
    std::free(feed->newFlags);
    feed->newFlags = nullptr;
    feed->newFlagsCount = 0;
    feed->newCount = 0;
    FeedList* list = feed->headlines;
    if (list == nullptr)
        return;
    if (!feed->seenKnown || !engine->options.markNew) {
        bool changed = false;
        for (const FeedItem* item = firstItem(list); marked(item); item = item->next)
            changed = addSeenKey(&feed->seen, item->key) || changed;
        feed->seenKnown = true;
        if (changed)
            saveSeen(engine, feed);
        return;
    }
    feed->newFlags = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(list->count), 1));
    if (feed->newFlags == nullptr)
        return;
    feed->newFlagsCount = list->count;
    for (const FeedItem* item = firstItem(list); marked(item); item = item->next) {
        if (item->key != 0 && !hasSeenKey(&feed->seen, item->key) && item->entryIndex >= 0 &&
            item->entryIndex < list->count) {
            feed->newFlags[item->entryIndex] = 1;
            ++feed->newCount;
        }
    }
    // Keys of the list on show are never pushed out by older ones.
    keepSeenKeysOf(&feed->seen, list);
}

void takeHeadlines(FeedEngine* engine, FeedState* feed, FeedList* list) {
    retainFeedList(list);
    releaseFeedList(feed->headlines);
    feed->headlines = list;
    show(feed, list);
    feed->ttlMinutes = list->ttlMinutes;
    markNewItems(engine, feed);
}

void applySaved(FeedEngine* engine, FeedState* feed, FeedPassResult* r) {
    if (r->seenFound && !feed->seenKnown) {
        moveSeenKeys(&feed->seen, &r->seen);
        feed->seenKnown = true;
    }
    if (r->list == nullptr || feed->headlines != nullptr)
        return;
    takeHeadlines(engine, feed, r->list);
    feed->stale = false;
    setText(&feed->etag, r->etag);
    setText(&feed->lastModified, r->lastModified);
    setText(&feed->validatorsUrl, r->finalUrl);
    feed->bodyKnown = r->bodyKnown;
    feed->bodyCrc = r->bodyCrc;
    feed->bodyLength = r->bodyLength;
    formatLocalTime(r->when, "%m/%d %H:%M", feed->updated, sizeof feed->updated);
    resetHealth(feed, healthCached);
    copyField(feed->health.when, sizeof feed->health.when, feed->updated);
    feed->health.items = itemCount(r->list);
    composeHealth(engine, feed);
}

void recordSuccess(FeedEngine* engine, FeedState* feed, const FeedPassResult* r, HealthKind kind) {
    feed->stale = false;
    formatLocalTime(r->when, "%m/%d %H:%M", feed->updated, sizeof feed->updated);
    feed->delaySeconds = 0;
    recordUpdateOutcome(&feed->schedule, true, r->status, nullptr, r->when, 0, 0);
    resetHealth(feed, kind);
    copyField(feed->health.when, sizeof feed->health.when, feed->updated);
    if (kind == healthUpdated)
        feed->health.items = itemCount(feed->headlines);
    if (r->movedPermanently && r->finalUrl != nullptr)
        feed->movedTo = copyOf(r->finalUrl);
    composeHealth(engine, feed);
    feed->lastPassAt = r->when;
    feed->dueAt = r->when + static_cast<int64_t>(intervalOf(engine, feed)) * 60;
}

void recordFailure(FeedEngine* engine, FeedState* feed, const char* reason, int status,
                   const char* retryAfter, int64_t now) {
    if (engine->options.keepHeadlines && feed->headlines != nullptr) {
        show(feed, feed->headlines);
        feed->stale = true;
    } else {
        // Nothing kept: the headlines and their validators go, "Couldn't connect!" shows.
        releaseFeedList(feed->headlines);
        feed->headlines = nullptr;
        markNewItems(engine, feed);
        showPlaceholder(feed, failedText);
        feed->stale = false;
        setText(&feed->etag, "");
        setText(&feed->lastModified, "");
        setText(&feed->validatorsUrl, "");
        feed->bodyKnown = false;
    }
    feed->delaySeconds = recordUpdateOutcome(&feed->schedule, false, status, retryAfter, now,
                                             intervalOf(engine, feed), engineRandom());
    resetHealth(feed, healthFailed);
    formatLocalTime(now, "%m/%d %H:%M", feed->health.when, sizeof feed->health.when);
    copyField(feed->health.reason, sizeof feed->health.reason, reason);
    scheduleFrom(engine, feed, now);
}

void applyFetched(FeedEngine* engine, FeedState* feed, FeedPassResult* r) {
    if (r->bodyKnown) {
        feed->bodyKnown = true;
        feed->bodyCrc = r->bodyCrc;
        feed->bodyLength = r->bodyLength;
    }
    if (r->outcome == outcomeParsed) {
        takeHeadlines(engine, feed, r->list);
        setText(&feed->etag, r->etag);
        setText(&feed->lastModified, r->lastModified);
        setText(&feed->validatorsUrl, r->finalUrl);
        recordSuccess(engine, feed, r, healthUpdated);
    } else if (r->outcome == outcomeNotModified && feed->headlines != nullptr) {
        // The headlines on show are still the feed's: nothing is parsed, copied or laid out.
        show(feed, feed->headlines);
        // A server may send fresh validators with its 304 (of the address that answered).
        if (r->etag != nullptr && r->etag[0])
            setText(&feed->etag, r->etag);
        if (r->lastModified != nullptr && r->lastModified[0])
            setText(&feed->lastModified, r->lastModified);
        if ((r->etag != nullptr && r->etag[0]) ||
            (r->lastModified != nullptr && r->lastModified[0]))
            setText(&feed->validatorsUrl, r->finalUrl);
        recordSuccess(engine, feed, r, healthNotModified);
    } else {
        const char* reason = r->outcome == outcomeNotModified
                                 ? "not modified, but no headlines were kept"
                                 : r->reason;
        recordFailure(engine, feed, reason, r->status, r->retryAfter, r->when);
    }
}

// --- The worker. ---

FeedPassResult* newResult(const Pass* pass) {
    FeedPassResult* r = static_cast<FeedPassResult*>(std::calloc(1, sizeof(FeedPassResult)));
    if (r != nullptr)
        r->passId = pass->id;
    return r;
}

// Queues r (unless the pass was abandoned or the engine is gone) and wakes the owner.
void queueResult(Pass* pass, FeedPassResult* r) {
    Hub* hub = pass->hub;
    EnterCriticalSection(&hub->lock);
    bool wanted = !hub->closed && pass->abandoned == 0;
    if (wanted) {
        if (hub->last != nullptr)
            hub->last->next = r;
        else
            hub->first = r;
        hub->last = r;
        if (hub->deliver != nullptr)
            hub->deliver(hub->context);
    }
    LeaveCriticalSection(&hub->lock);
    if (!wanted)
        freeResult(r);
}

// A feed's seen keys and (with a cache path) its saved copy, queued as one result. The saved
// copy's header is checked before its body is read: a copy of another address costs one read.
void readSaved(Pass* loader, const LoadJob* job) {
    FeedPassResult* r = static_cast<FeedPassResult*>(std::calloc(1, sizeof(FeedPassResult)));
    if (r == nullptr)
        return;
    r->passId = job->id;
    r->saved = true;
    if (job->seenPath != nullptr)
        r->seenFound = readSeenKeys(job->seenPath, job->url, &r->seen);
    CachedFeed saved = {};
    bool own = job->cachePath != nullptr && loader->stop == 0 &&
               readHeadlineCacheFor(job->cachePath, job->url, &saved);
    // The former copy counts only when it was saved for this address; its seen keys with it.
    bool former = !own && job->cachePath != nullptr && job->formerCachePath != nullptr &&
                  loader->stop == 0 && readHeadlineCacheFor(job->formerCachePath, job->url, &saved);
    if (former && !r->seenFound && job->formerSeenPath != nullptr)
        r->seenFound = readSeenKeys(job->formerSeenPath, job->url, &r->seen);
    if (own || former) {
        // The feed's own file is written at its next good pass even when the body is the same.
        r->bodyKnown = own;
        r->bodyCrc = crcOf(saved.body, saved.bodyLength);
        r->bodyLength = saved.bodyLength;
        FeedList* list =
            parseFeedBody(saved.body, saved.bodyLength, saved.contentType,
                          saved.finalUrl[0] ? saved.finalUrl : saved.url, loader->convertCharset);
        if (list != nullptr && list->count >= 2) {
            r->list = list;
            r->etag = copyOf(saved.etag);
            r->lastModified = copyOf(saved.lastModified);
            r->finalUrl = copyOf(saved.finalUrl[0] ? saved.finalUrl : saved.url);
            r->when = saved.savedAt;
        } else {
            releaseFeedList(list);
        }
        freeCachedFeed(&saved);
    }
    queueResult(loader, r);
}

// The loader reads its feeds in turn and ends with a result of its own number.
void runLoader(Pass* loader) {
    for (int i = 0; i < loader->jobCount && loader->stop == 0; ++i)
        readSaved(loader, &loader->jobs[i]);
    FeedPassResult* r = newResult(loader);
    if (r != nullptr) {
        r->final = true;
        queueResult(loader, r);
    }
}

void runPass(Pass* pass) {
    FetchRequest request = {pass->url,
                            pass->etag,
                            pass->lastModified,
                            &pass->stop,
                            pass->validatorsUrl[0] ? pass->validatorsUrl : nullptr,
                            pass->userAgent};
    request.allowBasicOverHttp = pass->allowBasicOverHttp;
    FetchResult* fetched = static_cast<FetchResult*>(std::calloc(1, sizeof(FetchResult)));
    FeedPassResult* r = newResult(pass);
    if (fetched != nullptr && r != nullptr && pass->stop == 0)
        fetchFeed(&request, fetched);
    if (r == nullptr) {
        if (fetched != nullptr)
            freeFetchResult(fetched);
        std::free(fetched);
        return;
    }
    r->final = true;
    r->when = engineClock();
    r->outcome = outcomeFailed;
    if (fetched == nullptr) {
        copyField(r->reason, sizeof r->reason, "out of memory");
    } else {
        r->status = fetched->status;
        r->movedPermanently = fetched->movedPermanently;
        r->finalUrl = copyOf(fetched->finalUrl);
        r->etag = copyOf(fetched->etag);
        r->lastModified = copyOf(fetched->lastModified);
        r->retryAfter = copyOf(fetched->retryAfter);
        copyField(r->reason, sizeof r->reason, fetched->reason);
    }
    if (fetched != nullptr && fetched->ok && fetched->notModified) {
        r->outcome = outcomeNotModified;
    } else if (fetched != nullptr && fetched->ok && fetched->body) {
        // The body is saved before the parse cuts it up; the copy takes the cache's place only
        // when the parse finds items in it. An identical body is not written again.
        uint32_t crc = crcOf(fetched->body, fetched->bodyLength);
        bool same =
            pass->bodyKnown && pass->bodyCrc == crc && pass->bodyLength == fetched->bodyLength;
        bool saved = false;
        if (pass->cachePath != nullptr && !same && pass->stop == 0) {
            CachedFeed record = {};
            record.url = pass->url;
            record.finalUrl = fetched->finalUrl;
            record.etag = fetched->etag;
            record.lastModified = fetched->lastModified;
            record.contentType = fetched->contentType;
            record.savedAt = r->when;
            saved = writeCacheTemporary(pass->cachePath, &record, fetched->body,
                                        fetched->bodyLength, &pass->stop);
        }
        FeedList* list = parseFeedBody(fetched->body, fetched->bodyLength, fetched->contentType,
                                       fetched->finalUrl, pass->convertCharset);
        if (list != nullptr && list->count >= 2) {
            r->outcome = outcomeParsed;
            r->list = list;
            // A stopped pass never puts its copy in place: the next start may already read it.
            if (saved && pass->stop == 0 && commitCacheTemporary(pass->cachePath)) {
                r->bodyKnown = true;
                r->bodyCrc = crc;
                r->bodyLength = fetched->bodyLength;
            } else if (saved) {
                discardCacheTemporary(pass->cachePath);
            }
        } else {
            // An HTML page, an empty body: no headlines, and nothing to replace them with.
            releaseFeedList(list);
            copyField(r->reason, sizeof r->reason,
                      list == nullptr ? "out of memory" : noItemsReason);
            if (saved)
                discardCacheTemporary(pass->cachePath);
        }
    }
    if (fetched != nullptr) {
        freeFetchResult(fetched);
        std::free(fetched);
    }
    queueResult(pass, r);
}

unsigned __stdcall workerThread(void* argument) {
    releaseUnusedStack();
    Pass* pass = static_cast<Pass*>(argument);
    HMODULE module = pass->module;
    if (pass->jobs != nullptr)
        runLoader(pass);
    else
        runPass(pass);
    SetEvent(pass->done);
    // An abandoned pass held a slot until now: the owner may start a waiting feed.
    Hub* hub = pass->hub;
    EnterCriticalSection(&hub->lock);
    if (pass->abandoned != 0 && pass->jobs == nullptr && !hub->closed && hub->deliver != nullptr)
        hub->deliver(hub->context);
    LeaveCriticalSection(&hub->lock);
    releasePass(pass);
    // The module reference keeps this code mapped even when the plug-in was unloaded while the
    // pass still ran; the thread drops it only as it ends.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

// Marks a running pass abandoned (under the hub's lock, so it queues nothing more); the worker
// ends by itself. Until it has ended (or turns slow) it keeps its slot: its connection is still
// open meanwhile, and the feeds that replace it must not add to it.
void abandonPass(FeedEngine* engine, FeedState* feed) {
    Pass* pass = feed->running;
    if (pass == nullptr)
        return;
    InterlockedExchange(&pass->stop, 1);
    EnterCriticalSection(&engine->hub->lock);
    InterlockedExchange(&pass->abandoned, 1);
    LeaveCriticalSection(&engine->hub->lock);
    feed->running = nullptr;
    if (!pass->slow && engine->abandonedCount == engine->abandonedCapacity) {
        int capacity = engine->abandonedCapacity == 0 ? 8 : engine->abandonedCapacity * 2;
        Pass** grown = static_cast<Pass**>(
            std::realloc(engine->abandoned, sizeof(Pass*) * static_cast<size_t>(capacity)));
        if (grown != nullptr) {
            engine->abandoned = grown;
            engine->abandonedCapacity = capacity;
        }
    }
    if (!pass->slow && engine->abandonedCount < engine->abandonedCapacity) {
        engine->abandoned[engine->abandonedCount++] = pass;
        return;
    }
    if (!pass->slow)
        --engine->active;
    releasePass(pass);
}

// Abandoned passes that have ended or turned slow give their slots back.
void sweepAbandoned(FeedEngine* engine, bool all) {
    DWORD tick = GetTickCount();
    int kept = 0;
    for (int i = 0; i < engine->abandonedCount; ++i) {
        Pass* pass = engine->abandoned[i];
        if (!all && WaitForSingleObject(pass->done, 0) != WAIT_OBJECT_0 &&
            tick - pass->startedTick < engineSlowPassMs) {
            engine->abandoned[kept++] = pass;
            continue;
        }
        --engine->active;
        releasePass(pass);
    }
    engine->abandonedCount = kept;
}

// The same for the loader; its feeds read their saved copies again at the next start.
void abandonLoader(FeedEngine* engine) {
    Pass* loader = engine->loader;
    if (loader == nullptr)
        return;
    InterlockedExchange(&loader->stop, 1);
    EnterCriticalSection(&engine->hub->lock);
    InterlockedExchange(&loader->abandoned, 1);
    LeaveCriticalSection(&engine->hub->lock);
    engine->loader = nullptr;
    releasePass(loader);
    for (int i = 0; i < engine->count; ++i)
        engine->feeds[i].loadId = 0;
}

Pass* newPass(FeedEngine* engine) {
    Pass* pass = static_cast<Pass*>(std::calloc(1, sizeof(Pass)));
    if (pass == nullptr)
        return nullptr;
    pass->references = 2;
    pass->hub = engine->hub;
    InterlockedIncrement(&engine->hub->references);
    pass->id = ++engine->nextPassId;
    pass->convertCharset = engine->options.convertCharset;
    pass->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return pass;
}

// Starts pass's worker thread; on failure the pass is freed and the result false.
bool startThread(Pass* pass) {
    bool started = false;
    if (pass->done && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                         reinterpret_cast<LPCSTR>(&workerThread), &pass->module)) {
        uintptr_t thread = beginWorkerThread(workerThread, pass);
        if (thread != 0) {
            CloseHandle(reinterpret_cast<HANDLE>(thread));
            started = true;
        } else {
            FreeLibrary(pass->module);
        }
    }
    if (!started) {
        pass->references = 1;
        releasePass(pass);
    }
    return started;
}

// One loader for every feed whose saved copy and seen keys are still to be read.
void startLoader(FeedEngine* engine) {
    int wanted = 0;
    for (int i = 0; i < engine->count; ++i) {
        FeedState* feed = &engine->feeds[i];
        if (feed->savedRead || feed->loadId != 0)
            continue;
        bool cache =
            engine->options.keepHeadlines && feed->cachePath != nullptr && feed->cachePath[0];
        bool seen = feed->seenPath != nullptr && feed->seenPath[0];
        if (cache || seen)
            ++wanted;
        else
            feed->savedRead = true; // nothing on disk to wait for
    }
    if (wanted == 0 || engine->loader != nullptr)
        return;
    Pass* loader = newPass(engine);
    LoadJob* jobs =
        loader ? static_cast<LoadJob*>(std::calloc(static_cast<size_t>(wanted), sizeof(LoadJob)))
               : nullptr;
    if (jobs == nullptr) {
        if (loader != nullptr) {
            loader->references = 1;
            releasePass(loader);
        }
        for (int i = 0; i < engine->count; ++i)
            engine->feeds[i].savedRead = true;
        return;
    }
    loader->jobs = jobs;
    for (int i = 0; i < engine->count; ++i) {
        FeedState* feed = &engine->feeds[i];
        if (feed->savedRead || feed->loadId != 0)
            continue;
        LoadJob* job = &jobs[loader->jobCount++];
        job->id = ++engine->nextPassId;
        job->url = copyOf(feed->url);
        if (engine->options.keepHeadlines && feed->cachePath != nullptr && feed->cachePath[0])
            job->cachePath = copyOf(feed->cachePath);
        if (feed->seenPath != nullptr && feed->seenPath[0])
            job->seenPath = copyOf(feed->seenPath);
        if (feed->formerCachePath != nullptr && feed->formerCachePath[0])
            job->formerCachePath = copyOf(feed->formerCachePath);
        if (feed->formerSeenPath != nullptr && feed->formerSeenPath[0])
            job->formerSeenPath = copyOf(feed->formerSeenPath);
        feed->loadId = job->id;
    }
    if (startThread(loader)) {
        engine->loader = loader;
        return;
    }
    for (int i = 0; i < engine->count; ++i) {
        engine->feeds[i].loadId = 0;
        engine->feeds[i].savedRead = true;
    }
}

bool startPass(FeedEngine* engine, FeedState* feed) {
    Pass* pass = newPass(engine);
    if (pass == nullptr)
        return false;
    pass->url = copyOf(feed->url);
    pass->allowBasicOverHttp = feed->allowBasicOverHttp;
    pass->etag = copyOf(feed->headlines != nullptr ? feed->etag : "");
    pass->lastModified = copyOf(feed->headlines != nullptr ? feed->lastModified : "");
    pass->validatorsUrl = copyOf(feed->headlines != nullptr ? feed->validatorsUrl : "");
    pass->userAgent = copyOf(feed->userAgent);
    if (engine->options.keepHeadlines && feed->cachePath != nullptr && feed->cachePath[0])
        pass->cachePath = copyOf(feed->cachePath);
    pass->bodyKnown = feed->bodyKnown;
    pass->bodyCrc = feed->bodyCrc;
    pass->bodyLength = feed->bodyLength;
    if (pass->url == nullptr || pass->etag == nullptr || pass->lastModified == nullptr ||
        pass->validatorsUrl == nullptr || pass->userAgent == nullptr) {
        pass->references = 1;
        releasePass(pass);
        return false;
    }
    if (!startThread(pass))
        return false;
    feed->running = pass;
    pass->startedTick = GetTickCount();
    ++engine->active;
    if (!engine->options.keepHeadlines || feed->headlines == nullptr)
        showPlaceholder(feed, connectingText);
    return true;
}

FeedState* feedAt(const FeedEngine* engine, int feed) {
    return engine != nullptr && feed >= 0 && feed < engine->count ? &engine->feeds[feed] : nullptr;
}

// A new interval applies at once: the feed's next pass is one new interval after its last good
// one (it may be due now), and its health line names the new interval. A feed held back after a
// failure (back-off, Retry-After) keeps its hold.
void followNewInterval(const FeedEngine* engine, FeedState* feed) {
    if (feed->delaySeconds == 0 && feed->lastPassAt != 0 && feed->dueAt != 0)
        feed->dueAt = feed->lastPassAt + static_cast<int64_t>(intervalOf(engine, feed)) * 60;
    composeHealth(engine, feed);
}

void applyOptions(FeedEngine* engine, const EngineOptions* options) {
    bool intervalChanged = engine->options.updateIntervalMinutes != options->updateIntervalMinutes;
    engine->options = *options;
    for (int i = 0; intervalChanged && i < engine->count; ++i)
        followNewInterval(engine, &engine->feeds[i]);
}

} // namespace

FeedEngine* createFeedEngine(PassDelivery deliver, void* context) {
    FeedEngine* engine = static_cast<FeedEngine*>(std::calloc(1, sizeof(FeedEngine)));
    Hub* hub = static_cast<Hub*>(std::calloc(1, sizeof(Hub)));
    if (engine == nullptr || hub == nullptr) {
        std::free(engine);
        std::free(hub);
        return nullptr;
    }
    InitializeCriticalSection(&hub->lock);
    hub->writerIdle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    hub->references = 1;
    hub->deliver = deliver;
    hub->context = context;
    engine->hub = hub;
    engine->options.stopWaitMs = 10000;
    return engine;
}

void destroyFeedEngine(FeedEngine* engine) {
    if (engine == nullptr)
        return;
    DWORD started = GetTickCount();
    engineStop(engine);
    abandonLoader(engine);
    // The marks of this run reach the disk, within what is left of the stop's bound.
    DWORD spent = GetTickCount() - started;
    if (engine->hub->writerIdle && spent < engine->options.stopWaitMs)
        WaitForSingleObject(engine->hub->writerIdle, engine->options.stopWaitMs - spent);
    for (int i = 0; i < engine->count; ++i) {
        abandonPass(engine, &engine->feeds[i]);
        resetFeed(&engine->feeds[i]);
    }
    std::free(engine->feeds);
    sweepAbandoned(engine, true);
    std::free(engine->abandoned);
    EnterCriticalSection(&engine->hub->lock);
    engine->hub->closed = true;
    LeaveCriticalSection(&engine->hub->lock);
    releaseHub(engine->hub);
    std::free(engine);
}

void engineConfigure(FeedEngine* engine, const FeedSpec* feeds, int count,
                     const EngineOptions* options) {
    if (engine == nullptr)
        return;
    engineTakeFinished(engine);
    if (count < 0)
        count = 0;
    FeedState* fresh =
        count > 0
            ? static_cast<FeedState*>(std::calloc(static_cast<size_t>(count), sizeof(FeedState)))
            : nullptr;
    if (count > 0 && fresh == nullptr)
        return;
    bool headlinesOff =
        options != nullptr && engine->options.keepHeadlines && !options->keepHeadlines;
    for (int i = 0; i < count; ++i) {
        const char* url = feeds[i].url != nullptr ? feeds[i].url : "";
        // The same address keeps its state (the first such feed, should one be listed twice).
        for (int old = 0; old < engine->count; ++old) {
            FeedState* was = &engine->feeds[old];
            if (was->url != nullptr && std::strcmp(was->url, url) == 0) {
                fresh[i] = *was;
                std::memset(was, 0, sizeof *was);
                break;
            }
        }
        FeedState* feed = &fresh[i];
        if (feed->url == nullptr) {
            feed->url = copyOf(url);
            showPlaceholder(feed, connectingText);
        }
        // A saved copy or seen keys moved elsewhere are written there afresh: what was saved at
        // the old place says nothing of the new one.
        if (!sameText(feed->cachePath, feeds[i].cachePath))
            feed->bodyKnown = false;
        bool seenMoved = feed->seenKnown && !sameText(feed->seenPath, feeds[i].seenPath);
        setText(&feed->cachePath, feeds[i].cachePath);
        setText(&feed->seenPath, feeds[i].seenPath);
        setText(&feed->formerCachePath, feeds[i].formerCachePath);
        setText(&feed->formerSeenPath, feeds[i].formerSeenPath);
        feed->allowBasicOverHttp = feeds[i].allowBasicOverHttp;
        if (seenMoved)
            saveSeen(engine, feed);
        setText(&feed->userAgent, feeds[i].userAgent);
        int ownInterval = feeds[i].updateIntervalMinutes > 0 ? feeds[i].updateIntervalMinutes : 0;
        if (ownInterval != feed->ownIntervalMinutes) {
            feed->ownIntervalMinutes = ownInterval;
            followNewInterval(engine, feed);
        }
        if (headlinesOff && feed->running == nullptr && feed->headlines != nullptr)
            show(feed, feed->headlines);
    }
    for (int old = 0; old < engine->count; ++old) {
        abandonPass(engine, &engine->feeds[old]);
        resetFeed(&engine->feeds[old]);
    }
    std::free(engine->feeds);
    engine->feeds = fresh;
    engine->count = count;
    if (options != nullptr)
        applyOptions(engine, options);
    for (int i = 0; i < count; ++i)
        composeHealth(engine, &fresh[i]);
}

void engineSetOptions(FeedEngine* engine, const EngineOptions* options) {
    if (engine != nullptr && options != nullptr)
        applyOptions(engine, options);
}

long long engineRunDue(FeedEngine* engine, int64_t now) {
    if (engine == nullptr)
        return -1;
    engineTakeFinished(engine);
    startLoader(engine);
    sweepAbandoned(engine, false);
    // Passes that run long give up their slots.
    DWORD tick = GetTickCount();
    for (int i = 0; i < engine->count; ++i) {
        Pass* pass = engine->feeds[i].running;
        if (pass != nullptr && !pass->slow && tick - pass->startedTick >= engineSlowPassMs) {
            pass->slow = true;
            --engine->active;
        }
    }
    long long next = -1;
    bool waiting = false;
    for (int i = 0; i < engine->count; ++i) {
        FeedState* feed = &engine->feeds[i];
        // A feed waits for its saved copy: its validators make the first request conditional.
        if (feed->running != nullptr || !feed->savedRead)
            continue;
        // A clock set back would leave the next pass as far ahead as the clock went back: it is
        // never further ahead than the delay in force.
        if (feed->dueAt > now + delayOf(engine, feed))
            scheduleFrom(engine, feed, now);
        if (feed->dueAt <= now && engine->active < engineMaxPasses) {
            if (startPass(engine, feed))
                continue;
            recordFailure(engine, feed, "the update could not be started", 0, nullptr, now);
        }
        if (feed->dueAt <= now) {
            waiting = true; // started when a pass ends or turns slow
            continue;
        }
        long long ms = (feed->dueAt - now) * 1000LL;
        if (next < 0 || ms < next)
            next = ms;
    }
    // A feed waiting for a slot gets one when the youngest running pass turns slow, if no pass
    // ends before.
    for (int i = 0; waiting && i < engine->count + engine->abandonedCount; ++i) {
        Pass* pass =
            i < engine->count ? engine->feeds[i].running : engine->abandoned[i - engine->count];
        if (pass == nullptr || pass->slow)
            continue;
        DWORD ran = GetTickCount() - pass->startedTick;
        long long untilSlow = ran >= engineSlowPassMs ? 1 : engineSlowPassMs - ran;
        if (next < 0 || untilSlow < next)
            next = untilSlow;
    }
    return next;
}

void engineUpdateNow(FeedEngine* engine, int feed) {
    if (engine == nullptr)
        return;
    for (int i = 0; i < engine->count; ++i)
        if (feed < 0 || feed == i)
            engine->feeds[i].dueAt = 0;
}

int engineTakeFinished(FeedEngine* engine) {
    if (engine == nullptr)
        return 0;
    EnterCriticalSection(&engine->hub->lock);
    FeedPassResult* r = engine->hub->first;
    engine->hub->first = engine->hub->last = nullptr;
    LeaveCriticalSection(&engine->hub->lock);
    int changed = 0;
    while (r != nullptr) {
        FeedPassResult* next = r->next;
        if (engine->loader != nullptr && r->passId == engine->loader->id) {
            // The loader is done: a feed it did not answer for reads nothing more.
            for (int i = 0; i < engine->count; ++i) {
                if (engine->feeds[i].loadId != 0) {
                    engine->feeds[i].loadId = 0;
                    engine->feeds[i].savedRead = true;
                }
            }
            releasePass(engine->loader);
            engine->loader = nullptr;
        }
        FeedState* feed = nullptr;
        for (int i = 0; i < engine->count; ++i) {
            FeedState* f = &engine->feeds[i];
            if (r->saved ? f->loadId == r->passId
                         : f->running != nullptr && f->running->id == r->passId)
                feed = f;
        }
        if (feed != nullptr) {
            if (r->saved) {
                feed->loadId = 0;
                feed->savedRead = true;
                applySaved(engine, feed, r);
            } else {
                Pass* pass = feed->running;
                feed->running = nullptr;
                // A copy written to a place the feed no longer saves to is not its saved copy.
                if (!sameText(pass->cachePath, feed->cachePath))
                    r->bodyKnown = false;
                if (!pass->slow)
                    --engine->active;
                releasePass(pass);
                ++feed->passes;
                ++engine->passes;
                applyFetched(engine, feed, r);
            }
            ++changed;
        }
        freeResult(r);
        r = next;
    }
    return changed;
}

void engineStop(FeedEngine* engine) {
    if (engine == nullptr)
        return;
    HANDLE waits[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    if (engine->loader != nullptr) {
        InterlockedExchange(&engine->loader->stop, 1);
        waits[n++] = engine->loader->done;
    }
    for (int i = 0; i < engine->count; ++i) {
        Pass* pass = engine->feeds[i].running;
        if (pass != nullptr) {
            InterlockedExchange(&pass->stop, 1);
            if (n < sizeof waits / sizeof waits[0])
                waits[n++] = pass->done;
        }
    }
    // One wait for all of them, bounded as a whole; whatever still runs is abandoned.
    if (n > 0)
        WaitForMultipleObjects(n, waits, TRUE, engine->options.stopWaitMs);
    abandonLoader(engine);
    for (int i = 0; i < engine->count; ++i) {
        FeedState* feed = &engine->feeds[i];
        if (feed->running == nullptr)
            continue;
        abandonPass(engine, feed);
        // Its update is still to come at the next start.
        feed->dueAt = 0;
        if (feed->headlines != nullptr)
            show(feed, feed->headlines);
    }
    // Results queued before the stop are dropped with their passes.
    EnterCriticalSection(&engine->hub->lock);
    FeedPassResult* r = engine->hub->first;
    engine->hub->first = engine->hub->last = nullptr;
    LeaveCriticalSection(&engine->hub->lock);
    while (r != nullptr) {
        FeedPassResult* next = r->next;
        freeResult(r);
        r = next;
    }
}

int engineFeedCount(const FeedEngine* engine) {
    return engine != nullptr ? engine->count : 0;
}

const char* engineFeedUrl(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr ? f->url : nullptr;
}

FeedList* engineFeedList(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr ? f->shown : nullptr;
}

bool engineFeedHasHeadlines(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr && f->headlines != nullptr && f->shown == f->headlines;
}

const char* engineFeedTitle(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    if (f == nullptr || f->headlines == nullptr || f->headlines->first == nullptr)
        return nullptr;
    return f->headlines->first->title;
}

bool engineFeedStale(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr && f->stale && f->headlines != nullptr;
}

bool engineFeedRunning(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr && f->running != nullptr;
}

bool engineBusy(const FeedEngine* engine) {
    if (engine == nullptr)
        return false;
    for (int i = 0; i < engine->count; ++i)
        if (engine->feeds[i].running != nullptr)
            return true;
    return engine->loader != nullptr;
}

int engineFeedPasses(const FeedEngine* engine, int feed) {
    if (engine != nullptr && feed < 0)
        return engine->passes;
    int total = 0;
    for (int i = 0; engine != nullptr && i < engine->count; ++i)
        if (feed < 0 || feed == i)
            total += engine->feeds[i].passes;
    return total;
}

const char* engineFeedHealth(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr && f->healthLine != nullptr ? f->healthLine : "";
}

const char* engineFeedFailure(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr && f->health.kind == healthFailed ? f->health.reason : "";
}

const char* engineFeedUpdated(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr ? f->updated : "";
}

int engineFeedInterval(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr
               ? intervalOf(engine, f)
               : intervalInForceMinutes(engine ? engine->options.updateIntervalMinutes : 0, 0);
}

long long engineFeedWaitMs(const FeedEngine* engine, int feed, int64_t now) {
    const FeedState* f = feedAt(engine, feed);
    if (f == nullptr)
        return -1;
    int64_t delay = delayOf(engine, f);
    if (f->running != nullptr || f->dueAt > now + delay)
        return delay * 1000;
    return f->dueAt > now ? (f->dueAt - now) * 1000 : 0;
}

int64_t engineFeedDelaySeconds(const FeedEngine* engine, int feed) {
    const FeedState* f = feedAt(engine, feed);
    if (f != nullptr)
        return delayOf(engine, f);
    return static_cast<int64_t>(engineFeedInterval(engine, feed)) * 60;
}

bool engineItemIsNew(const FeedEngine* engine, int feed, const FeedItem* item) {
    const FeedState* f = feedAt(engine, feed);
    return f != nullptr && item != nullptr && engine->options.markNew && f->newFlags != nullptr &&
           f->shown == f->headlines && item->entryIndex >= 0 &&
           item->entryIndex < f->newFlagsCount && f->newFlags[item->entryIndex] != 0;
}

void engineMarkSeen(FeedEngine* engine, int feed, const FeedItem* item) {
    FeedState* f = feedAt(engine, feed);
    if (f == nullptr || item == nullptr || item->key == 0)
        return;
    if (engineItemIsNew(engine, feed, item)) {
        f->newFlags[item->entryIndex] = 0;
        --f->newCount;
    }
    if (addSeenKey(&f->seen, item->key))
        saveSeen(engine, f);
}

void engineMarkAllRead(FeedEngine* engine, int feed) {
    if (engine == nullptr)
        return;
    for (int i = 0; i < engine->count; ++i) {
        if (feed >= 0 && feed != i)
            continue;
        FeedState* f = &engine->feeds[i];
        bool changed = false;
        for (const FeedItem* item = firstItem(f->headlines); marked(item); item = item->next)
            changed = addSeenKey(&f->seen, item->key) || changed;
        if (f->newFlags != nullptr)
            std::memset(f->newFlags, 0, static_cast<size_t>(f->newFlagsCount));
        f->newCount = 0;
        if (changed)
            saveSeen(engine, f);
    }
}

int engineNewCount(const FeedEngine* engine, int feed) {
    if (engine == nullptr || !engine->options.markNew)
        return 0;
    int total = 0;
    for (int i = 0; i < engine->count; ++i)
        if ((feed < 0 || feed == i) && engine->feeds[i].shown == engine->feeds[i].headlines)
            total += engine->feeds[i].newCount;
    return total;
}
