// The update worker. Each pass has a small record shared by the window thread and the worker and
// freed by whichever lets go of it last; the record owns the pass's semaphore, so the handle is
// closed exactly once, and its own stop flag, so a stop reaches exactly the pass it was meant
// for. The pass's state moves through one interlocked field: the worker claims the FetchList only
// if no stop came first, and a stop that finds the worker still fetching abandons it, after which
// the worker touches nothing but its own record.
//
// While a pass runs, the headlines on show are set aside in keptList (the DisplayList shares
// their dates) and the worker parses into the emptied FetchList. When the pass ends the window
// thread keeps one of the two: the new list after a parse with items, the kept one after a "not
// modified" or (with keepHeadlines) a failure.
#include "feed/update_worker.h"
#include <process.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include "content/feed_items.h"
#include "content/feed_document.h"
#include "content/rss_parser.h"
#include "display/tooltip.h"
#include "plugin/window_proc.h"
#include "feed/feed_health.h"
#include "feed/fetch.h"
#include "feed/headline_cache.h"
#include "feed/update_schedule.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

HANDLE workerSemaphore;
volatile LONG stopRequested;
char lastUpdateTime[20];
const char* const connectingText = "Connecting...";
const char* const failedText = "Couldn't connect!";
const char* const noItemsReason = "no items in the response";
unsigned long updateStopWaitMs = 10000;

namespace {

int64_t systemClock() {
    return static_cast<int64_t>(time(nullptr));
}

uint32_t systemRandom() {
    return static_cast<uint32_t>(rand()) * 2654435761u ^ static_cast<uint32_t>(GetTickCount());
}

enum PassState : LONG {
    passFetching,    // in the network; touches no shared state
    passWriting,     // the worker owns the FetchList and is filling it
    passDelivered,   // WM_FEED_UPDATED posted; the window owns the FetchList again
    passUndelivered, // the message could not be posted; the window takes the result itself
    passAbandoned,   // a stop came while fetching; the worker discards everything
};

enum PassOutcome {
    outcomeFailed,      // nothing usable; reason says why
    outcomeParsed,      // a document with items is in the FetchList
    outcomeNotModified, // the server answered 304
};

} // namespace

int64_t (*updateClock)() = systemClock;
uint32_t (*updateRandom)() = systemRandom;

struct UpdatePass {
    HANDLE semaphore;         // taken for the pass at creation, released by the worker at its end
    volatile LONG references; // the window thread's and the worker's
    volatile LONG state;      // a PassState
    volatile LONG stop;       // the pass's own stop flag (FetchRequest.stop)
    HMODULE module;           // the worker's own reference to this module
    HWND window;              // where the result goes
    char url[sizeof settings.feedUrl];
    char etag[256]; // the validators sent (empty: an unconditional request)
    char lastModified[64];
    char cachePath[MAX_PATH]; // where a good response is saved; empty: not saved
    bool convertCharset;      // the body is read in its own character set (encoding not None)
    int keptEntryCount;       // entryCount before the pass, restored when the pass fails
    // Filled by the worker before it posts.
    PassOutcome outcome;
    int status;
    bool movedPermanently;
    char finalUrl[fetchUrlSize];
    char newEtag[256];
    char newLastModified[64];
    char retryAfter[64];
    char reason[256];
    int entries; // entryCount of the parse
    int ttlMinutes;
    int64_t finishedAt;
    FeedItem* first; // the FetchList's first entry as posted
};

namespace {

void endPass(UpdatePass* pass);

UpdatePass* currentPass; // window thread only; non-null exactly while workerSemaphore is

// The window thread's record of the feed between passes.
struct FeedState {
    ItemList keptList;  // the headlines set aside while a pass runs
    char shownUrl[256]; // the address the lists' headlines were parsed for; empty: none
    bool stale;         // the last pass for shownUrl failed; the headlines are older
    char etag[256];     // validators of shownUrl's last good response
    char lastModified[64];
    UpdateSchedule schedule;
    int64_t delaySeconds; // the delay in force after a failure; 0: the interval in force
    int ttlMinutes;       // the feed's own schedule from the last good parse
    bool cacheChecked;    // the saved copy was looked at (once per start)
    HealthFacts health;
    char healthLine[2400];
};

FeedState feed;

void releasePass(UpdatePass* pass) {
    if (InterlockedDecrement(&pass->references) == 0) {
        CloseHandle(pass->semaphore);
        std::free(pass);
    }
}

unsigned __stdcall workerThread(void* argument) {
    UpdatePass* pass = static_cast<UpdatePass*>(argument);
    HMODULE module = pass->module;
    runUpdatePass(pass);
    // The module reference keeps this code mapped even when the plug-in was unloaded while the
    // pass still ran; the thread drops it only as it ends.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

void copyText(char* field, size_t size, const char* text) {
    std::snprintf(field, size, "%s", text ? text : "");
}

// "%m/%d %H:%M" (or format) of a clock value in local time; empty when it cannot be shown.
void formatLocalTime(int64_t when, const char* format, char* out, size_t size) {
    time_t value = static_cast<time_t>(when);
    const tm* local = localtime(&value);
    if (local == nullptr || strftime(out, size, format, local) == 0)
        out[0] = '\0';
}

// Frees every entry of list (the FetchList's own texts with them) and empties it.
void freeList(ItemList* list) {
    ItemList saved = FetchList;
    FetchList = *list;
    freeFetchList();
    FetchList = saved;
    list->first = list->last = nullptr;
}

// Both lists become the single placeholder text; the headlines are gone.
void showPlaceholder(const char* text) {
    freeList(&feed.keptList);
    freeFetchList();
    sweepTools();
    setSingleEntry(text);
    freeDisplayList();
    copyToDisplayList(FetchList.first);
    feed.shownUrl[0] = '\0';
    feed.stale = false;
    feed.etag[0] = feed.lastModified[0] = '\0';
}

// The DisplayList shows text while the FetchList keeps what it holds: the placeholder's copy owns
// its title, and a placeholder has no date to share.
void showPlaceholderOnly(const char* text) {
    ItemList saved = FetchList;
    FetchList.first = FetchList.last = nullptr;
    sweepTools();
    setSingleEntry(text);
    freeDisplayList();
    copyToDisplayList(FetchList.first);
    freeFetchList();
    FetchList = saved;
}

void composeHealth() {
    feed.health.intervalMinutes = updateIntervalInForce();
    composeHealthLine(&feed.health, feed.healthLine, sizeof feed.healthLine);
}

// The saved copy, once per start: when it was fetched for feedUrl its headlines show now, and its
// validators make the first request conditional; a copy of another address is discarded.
void showSavedHeadlines() {
    feed.cacheChecked = true;
    char path[MAX_PATH];
    if (!headlineCachePath(path))
        return;
    CachedFeed saved = {};
    if (!readHeadlineCache(path, &saved))
        return;
    if (std::strcmp(saved.url, settings.feedUrl) != 0) {
        freeCachedFeed(&saved);
        DeleteFileA(path);
        return;
    }
    ItemList previous = FetchList;
    FetchList.first = FetchList.last = nullptr;
    int previousCount = entryCount;
    parseFeedBody(saved.body, saved.bodyLength, saved.contentType,
                  saved.finalUrl[0] ? saved.finalUrl : saved.url, settings.encoding != 0);
    freeCachedFeed(&saved);
    if (entryCount < 2) {
        freeFetchList();
        FetchList = previous;
        entryCount = previousCount;
        return;
    }
    freeList(&previous);
    sweepTools();
    freeDisplayList();
    copyToDisplayList(FetchList.first);
    copyText(feed.shownUrl, sizeof feed.shownUrl, settings.feedUrl);
    copyText(feed.etag, sizeof feed.etag, saved.etag);
    copyText(feed.lastModified, sizeof feed.lastModified, saved.lastModified);
    feed.stale = false;
    feed.ttlMinutes = feedTtlMinutes;
    formatLocalTime(saved.savedAt, "%m/%d %H:%M", lastUpdateTime, sizeof lastUpdateTime);
    std::memset(&feed.health, 0, sizeof feed.health);
    feed.health.kind = healthCached;
    copyText(feed.health.when, sizeof feed.health.when, lastUpdateTime);
    feed.health.items = entryCount - 1;
    composeHealth();
}

// The failure of a pass for the shown address: with keepHeadlines and headlines to keep they stay
// (stale), else "Couldn't connect!". The schedule stretches and the health line says why.
void recordFailure(const char* reason, int status, const char* retryAfter, int64_t now) {
    bool keep = settings.keepHeadlines && feed.keptList.first != nullptr &&
                headlinesBelongTo(settings.feedUrl);
    if (keep) {
        freeFetchList();
        FetchList = feed.keptList;
        feed.keptList.first = feed.keptList.last = nullptr;
        feed.stale = true;
    } else {
        showPlaceholder(failedText);
    }
    feed.delaySeconds = recordUpdateOutcome(&feed.schedule, false, status, retryAfter, now,
                                            updateIntervalInForce(), updateRandom());
    std::memset(&feed.health, 0, sizeof feed.health);
    feed.health.kind = healthFailed;
    formatLocalTime(now, "%m/%d %H:%M", feed.health.when, sizeof feed.health.when);
    copyText(feed.health.reason, sizeof feed.health.reason, reason);
    formatLocalTime(now + feed.delaySeconds, "%H:%M", feed.health.nextTry,
                    sizeof feed.health.nextTry);
    composeHealth();
}

// The window thread takes over a finished pass. Returns true when the address changed while the
// pass ran: its result was set aside and the new address is due at once.
// A pass that brought the feed's headlines, new (healthUpdated) or unchanged (healthNotModified):
// the update time, the normal schedule and the health line.
void recordSuccess(const UpdatePass* pass, int64_t now, HealthKind kind) {
    feed.stale = false;
    formatLocalTime(now, "%m/%d %H:%M", lastUpdateTime, sizeof lastUpdateTime);
    feed.delaySeconds = 0;
    recordUpdateOutcome(&feed.schedule, true, pass->status, nullptr, now, 0, 0);
    std::memset(&feed.health, 0, sizeof feed.health);
    feed.health.kind = kind;
    copyText(feed.health.when, sizeof feed.health.when, lastUpdateTime);
    if (kind == healthUpdated)
        feed.health.items = pass->entries - 1;
    if (pass->movedPermanently)
        copyText(feed.health.movedTo, sizeof feed.health.movedTo, pass->finalUrl);
    composeHealth();
}

bool completePass(UpdatePass* pass) {
    currentPass = nullptr;
    workerSemaphore = nullptr;
    bool addressChanged = std::strcmp(pass->url, settings.feedUrl) != 0;
    int64_t now = pass->finishedAt;
    if (addressChanged) {
        // Another feed's result is not shown under the new address.
        freeFetchList();
        FetchList = feed.keptList;
        feed.keptList.first = feed.keptList.last = nullptr;
        entryCount = pass->keptEntryCount;
    } else if (pass->outcome == outcomeParsed) {
        entryCount = pass->entries;
        freeList(&feed.keptList);
        sweepTools();
        freeDisplayList();
        copyToDisplayList(FetchList.first);
        copyText(feed.shownUrl, sizeof feed.shownUrl, pass->url);
        copyText(feed.etag, sizeof feed.etag, pass->newEtag);
        copyText(feed.lastModified, sizeof feed.lastModified, pass->newLastModified);
        feed.ttlMinutes = pass->ttlMinutes;
        recordSuccess(pass, now, healthUpdated);
    } else if (pass->outcome == outcomeNotModified && feed.keptList.first != nullptr) {
        // The headlines on show are still the feed's: nothing is parsed, copied or re-laid out.
        freeFetchList();
        FetchList = feed.keptList;
        feed.keptList.first = feed.keptList.last = nullptr;
        entryCount = pass->keptEntryCount;
        if (!settings.keepHeadlines) {
            freeDisplayList();
            copyToDisplayList(FetchList.first);
        }
        // A server may send fresh validators with its 304.
        if (pass->newEtag[0])
            copyText(feed.etag, sizeof feed.etag, pass->newEtag);
        if (pass->newLastModified[0])
            copyText(feed.lastModified, sizeof feed.lastModified, pass->newLastModified);
        recordSuccess(pass, now, healthNotModified);
    } else {
        entryCount = pass->keptEntryCount;
        const char* reason = pass->outcome == outcomeNotModified
                                 ? "not modified, but no headlines were kept"
                                 : pass->reason;
        recordFailure(reason, pass->status, pass->retryAfter, now);
    }
    releasePass(pass);
    if (!addressChanged)
        armUpdateTimer();
    return addressChanged;
}

} // namespace

void runUpdatePass(UpdatePass* pass) {
    FetchRequest request = {pass->url, pass->etag, pass->lastModified, &pass->stop};
    FetchResult* fetched = static_cast<FetchResult*>(std::calloc(1, sizeof(FetchResult)));
    if (fetched)
        fetchFeed(&request, fetched);
    bool claimed =
        InterlockedCompareExchange(&pass->state, passWriting, passFetching) == passFetching;
    if (claimed) {
        pass->finishedAt = updateClock();
        pass->outcome = outcomeFailed;
        if (fetched == nullptr) {
            copyText(pass->reason, sizeof pass->reason, "out of memory");
        } else {
            pass->status = fetched->status;
            pass->movedPermanently = fetched->movedPermanently;
            copyText(pass->finalUrl, sizeof pass->finalUrl, fetched->finalUrl);
            copyText(pass->newEtag, sizeof pass->newEtag, fetched->etag);
            copyText(pass->newLastModified, sizeof pass->newLastModified, fetched->lastModified);
            copyText(pass->retryAfter, sizeof pass->retryAfter, fetched->retryAfter);
            copyText(pass->reason, sizeof pass->reason, fetched->reason);
        }
        if (fetched && fetched->ok && fetched->notModified) {
            pass->outcome = outcomeNotModified;
        } else if (fetched && fetched->ok && fetched->body) {
            // The body is saved before the parse cuts it up; the copy takes the cache's place only
            // when the parse finds items in it.
            bool saved = false;
            if (pass->cachePath[0]) {
                CachedFeed record = {};
                copyText(record.url, sizeof record.url, pass->url);
                copyText(record.finalUrl, sizeof record.finalUrl, fetched->finalUrl);
                copyText(record.etag, sizeof record.etag, fetched->etag);
                copyText(record.lastModified, sizeof record.lastModified, fetched->lastModified);
                copyText(record.contentType, sizeof record.contentType, fetched->contentType);
                record.savedAt = pass->finishedAt;
                saved = writeCacheTemporary(pass->cachePath, &record, fetched->body,
                                            fetched->bodyLength);
            }
            parseFeedBody(fetched->body, fetched->bodyLength, fetched->contentType,
                          fetched->finalUrl, pass->convertCharset);
            pass->entries = entryCount;
            pass->ttlMinutes = feedTtlMinutes;
            // The header keeps counting the headlines on show until the window takes the result.
            entryCount = pass->keptEntryCount;
            if (pass->entries >= 2) {
                pass->outcome = outcomeParsed;
                if (saved)
                    commitCacheTemporary(pass->cachePath);
            } else {
                // An HTML page, an empty body: no headlines, and nothing to replace them with.
                freeFetchList();
                copyText(pass->reason, sizeof pass->reason, noItemsReason);
                if (saved)
                    discardCacheTemporary(pass->cachePath);
            }
        }
        pass->first = FetchList.first;
        // From here on the FetchList belongs to the window thread again.
        InterlockedExchange(&pass->state, passDelivered);
        // Without a window the message would go to this thread's own queue and be lost.
        if (pass->window == nullptr ||
            !PostMessageA(pass->window, WM_FEED_UPDATED, 0, reinterpret_cast<LPARAM>(pass->first)))
            InterlockedExchange(&pass->state, passUndelivered);
    }
    if (fetched) {
        freeFetchResult(fetched);
        std::free(fetched);
    }
    ReleaseSemaphore(pass->semaphore, 1, nullptr);
    releasePass(pass);
}

void startUpdate() {
    if (currentPass) {
        // A pass whose message could not be posted, or went to a window that is gone or no longer
        // the plug-in's, has finished all the same; otherwise the pass still runs, and its end
        // looks at feedUrl again.
        LONG state = currentPass->state;
        bool lost = state == passUndelivered ||
                    (state == passDelivered && (currentPass->window != runtime.pluginWindow ||
                                                !IsWindow(currentPass->window)));
        if (!lost)
            return;
        completePass(currentPass);
    }
    if (settings.keepHeadlines && !feed.cacheChecked)
        showSavedHeadlines();
    feed.cacheChecked = true;

    char cachePath[MAX_PATH];
    bool haveCachePath = headlineCachePath(cachePath);
    bool sameFeed = feed.shownUrl[0] && std::strcmp(feed.shownUrl, settings.feedUrl) == 0;
    if (!sameFeed) {
        // Another address: its headlines, validators, schedule and saved copy are not this feed's.
        if (feed.shownUrl[0] && haveCachePath)
            DeleteFileA(cachePath);
        showPlaceholder(connectingText);
        std::memset(&feed.schedule, 0, sizeof feed.schedule);
        feed.delaySeconds = 0;
        feed.ttlMinutes = 0;
    } else if (!settings.keepHeadlines) {
        showPlaceholderOnly(connectingText);
    }
    // The worker gets an empty FetchList; the headlines wait in keptList.
    freeList(&feed.keptList);
    feed.keptList = FetchList;
    FetchList.first = FetchList.last = nullptr;

    UpdatePass* pass = static_cast<UpdatePass*>(std::calloc(1, sizeof(UpdatePass)));
    if (pass == nullptr) {
        FetchList = feed.keptList;
        feed.keptList.first = feed.keptList.last = nullptr;
        recordFailure("out of memory", 0, nullptr, updateClock());
        return;
    }
    copyText(pass->url, sizeof pass->url, settings.feedUrl);
    pass->convertCharset = settings.encoding != 0;
    if (sameFeed) {
        copyText(pass->etag, sizeof pass->etag, feed.etag);
        copyText(pass->lastModified, sizeof pass->lastModified, feed.lastModified);
    }
    if (settings.keepHeadlines && haveCachePath)
        copyText(pass->cachePath, sizeof pass->cachePath, cachePath);
    pass->keptEntryCount = entryCount;
    pass->window = runtime.pluginWindow;
    pass->references = 2;
    pass->state = passFetching;
    // Created already taken on the pass's behalf, so a stop that comes before the worker runs
    // still waits for the worker's release.
    pass->semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    bool started = false;
    if (pass->semaphore &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&workerThread), &pass->module)) {
        uintptr_t thread = _beginthreadex(nullptr, 0, workerThread, pass, 0, nullptr);
        if (thread != 0) {
            CloseHandle(reinterpret_cast<HANDLE>(thread));
            started = true;
        } else {
            FreeLibrary(pass->module);
        }
    }
    if (!started) {
        if (pass->semaphore)
            CloseHandle(pass->semaphore);
        std::free(pass);
        FetchList = feed.keptList;
        feed.keptList.first = feed.keptList.last = nullptr;
        recordFailure("the update could not be started", 0, nullptr, updateClock());
        return;
    }
    currentPass = pass;
    workerSemaphore = pass->semaphore;
}

bool requestUpdate() {
    startUpdate();
    return DisplayList.first != nullptr && DisplayList.last != nullptr;
}

void finishUpdate(LPARAM firstEntry) {
    UpdatePass* pass = currentPass;
    // A message of a pass that stopUpdate ended, or of an earlier pass, names a list that may be
    // gone: only the current pass's own message is taken.
    if (pass && pass->state == passDelivered &&
        firstEntry == reinterpret_cast<LPARAM>(pass->first) && completePass(pass))
        startUpdate();
    if (runtime.pluginWindow)
        InvalidateRect(runtime.pluginWindow, nullptr, FALSE);
}

void stopUpdate() {
    UpdatePass* pass = currentPass;
    if (pass != nullptr)
        endPass(pass);
    // The next start begins afresh (and looks at the saved copy again); the lists are the
    // caller's to free.
    ItemList shown = FetchList;
    FetchList.first = FetchList.last = nullptr;
    resetFeedState();
    FetchList = shown;
}

namespace {

void endPass(UpdatePass* pass) {
    InterlockedExchange(&stopRequested, 1);
    InterlockedExchange(&pass->stop, 1);
    LONG before = InterlockedCompareExchange(&pass->state, passAbandoned, passFetching);
    DWORD waited = WaitForSingleObject(pass->semaphore, updateStopWaitMs);
    // A worker that is already filling the FetchList finishes that (it no longer waits for the
    // network); the lists must not be released under it.
    if (waited != WAIT_OBJECT_0 && before == passWriting)
        WaitForSingleObject(pass->semaphore, INFINITE);
    // A result that was never taken is dropped; an abandoned worker never wrote one. The FetchList
    // holds the shown headlines again.
    if (before != passFetching)
        freeFetchList();
    FetchList = feed.keptList;
    feed.keptList.first = feed.keptList.last = nullptr;
    entryCount = pass->keptEntryCount;
    currentPass = nullptr;
    workerSemaphore = nullptr;
    releasePass(pass);
}

} // namespace

bool headlinesBelongTo(const char* url) {
    return url != nullptr && feed.shownUrl[0] && std::strcmp(feed.shownUrl, url) == 0;
}

bool headlinesOfAnotherAddress(const char* url) {
    return feed.shownUrl[0] && (url == nullptr || std::strcmp(feed.shownUrl, url) != 0);
}

bool headlinesStale() {
    return feed.stale && feed.shownUrl[0];
}

char healthNote[160];

const char* feedHealthLine() {
    if (!healthNote[0])
        return feed.healthLine;
    static char withNote[sizeof feed.healthLine + sizeof healthNote + 2];
    std::snprintf(withNote, sizeof withNote, "%s%s%s", feed.healthLine,
                  feed.healthLine[0] ? "; " : "", healthNote);
    return withNote;
}

const HealthFacts& feedHealthFacts() {
    return feed.health;
}

int updateIntervalInForce() {
    return intervalInForceMinutes(settings.updateInterval, feed.ttlMinutes);
}

UINT updateTimerDelayMs() {
    if (feed.delaySeconds <= 0)
        return updateTimerPeriod(updateIntervalInForce());
    long long ms = feed.delaySeconds * 1000LL;
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(ms);
}

bool headlineCachePath(char* path) {
    path[0] = '\0';
    const char* slash = std::strrchr(settingsPath, '\\');
    const char* other = std::strrchr(settingsPath, '/');
    if (other > slash)
        slash = other;
    if (slash == nullptr)
        return false;
    size_t folder = static_cast<size_t>(slash - settingsPath) + 1;
    const char name[] = "feedmarquee.cache";
    if (folder + sizeof name > MAX_PATH)
        return false;
    std::memcpy(path, settingsPath, folder);
    std::memcpy(path + folder, name, sizeof name);
    return true;
}

void resetFeedState() {
    freeList(&feed.keptList);
    std::memset(&feed, 0, sizeof feed);
}
