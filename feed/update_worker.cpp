// The update worker. Each pass has a small record shared by the window thread and the worker and
// freed by whichever lets go of it last; the record owns the pass's semaphore, so the handle is
// closed exactly once. The pass's state moves through one interlocked field: the worker claims
// the lists only if no stop came first, and a stop that finds the worker still fetching abandons
// it, after which the worker touches nothing but its own record.
#include "feed/update_worker.h"
#include <process.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include "content/feed_items.h"
#include "content/rss_parser.h"
#include "display/tooltip.h"
#include "feed/fetch.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

HANDLE workerSemaphore;
volatile LONG stopRequested;
char lastUpdateTime[20];
const char* const connectingText = "Connecting...";
const char* const failedText = "Couldn't connect!";
unsigned long updateStopWaitMs = 10000;

namespace {

enum PassState : LONG {
    passFetching,    // in the network; touches no shared state
    passWriting,     // the worker owns the FetchList and is filling it
    passDelivered,   // WM_FEED_UPDATED posted; the window owns the FetchList again
    passUndelivered, // the message could not be posted; the window takes the result itself
    passAbandoned,   // a stop came while fetching; the worker discards everything
};

} // namespace

struct UpdatePass {
    HANDLE semaphore;         // taken for the pass at creation, released by the worker at its end
    volatile LONG references; // the window thread's and the worker's
    volatile LONG state;      // a PassState
    HMODULE module;           // the worker's own reference to this module
    HWND window;              // where the result goes
    char url[sizeof settings.feedUrl];
    bool parsed; // a document arrived and was parsed
    char stamp[sizeof lastUpdateTime];
    FeedItem* first; // the FetchList's first entry as posted
};

namespace {

UpdatePass* currentPass; // window thread only; non-null exactly while workerSemaphore is

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

// The window thread takes over a finished pass: the update time, the tooltip sweep and the
// DisplayList copy of the FetchList.
void completePass(UpdatePass* pass) {
    currentPass = nullptr;
    workerSemaphore = nullptr;
    if (pass->parsed) {
        std::memcpy(lastUpdateTime, pass->stamp, sizeof lastUpdateTime);
        sweepTools();
    }
    if (pass->first) {
        freeDisplayList();
        copyToDisplayList(pass->first);
    }
    releasePass(pass);
}

void showPlaceholder(const char* text) {
    freeFetchList();
    setSingleEntry(text);
    freeDisplayList();
    copyToDisplayList(FetchList.first);
}

} // namespace

void runUpdatePass(UpdatePass* pass) {
    FetchRequest request = {pass->url, nullptr, nullptr, &stopRequested};
    FetchResult fetched;
    fetchFeed(&request, &fetched);
    bool claimed =
        InterlockedCompareExchange(&pass->state, passWriting, passFetching) == passFetching;
    if (claimed && !stopRequested) {
        freeFetchList();
        if (fetched.ok && fetched.body) {
            parseFeed(fetched.body, fetched.finalUrl);
            time_t now = time(nullptr);
            const tm* local = localtime(&now);
            if (local == nullptr ||
                strftime(pass->stamp, sizeof pass->stamp, "%m/%d %H:%M", local) == 0)
                pass->stamp[0] = '\0';
            pass->parsed = true;
        } else {
            setSingleEntry(failedText);
        }
        pass->first = FetchList.first;
        // From here on the FetchList belongs to the window thread again.
        InterlockedExchange(&pass->state, passDelivered);
        // Without a window the message would go to this thread's own queue and be lost.
        if (pass->window == nullptr ||
            !PostMessageA(pass->window, WM_FEED_UPDATED, 0, reinterpret_cast<LPARAM>(pass->first)))
            InterlockedExchange(&pass->state, passUndelivered);
    }
    freeFetchResult(&fetched);
    ReleaseSemaphore(pass->semaphore, 1, nullptr);
    releasePass(pass);
}

void startUpdate() {
    if (currentPass) {
        // A pass whose message could not be posted, or went to a window that is gone or no longer
        // the plug-in's, has finished all the same; otherwise the pass still runs.
        LONG state = currentPass->state;
        bool lost = state == passUndelivered ||
                    (state == passDelivered && (currentPass->window != runtime.pluginWindow ||
                                                !IsWindow(currentPass->window)));
        if (!lost)
            return;
        completePass(currentPass);
    }
    freeFetchList();
    sweepTools();
    setSingleEntry(connectingText);
    freeDisplayList();
    copyToDisplayList(FetchList.first);

    UpdatePass* pass = static_cast<UpdatePass*>(std::calloc(1, sizeof(UpdatePass)));
    if (pass == nullptr) {
        showPlaceholder(failedText);
        return;
    }
    std::memcpy(pass->url, settings.feedUrl, sizeof pass->url);
    pass->url[sizeof pass->url - 1] = '\0';
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
        stopRequested = 0;
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
        showPlaceholder(failedText);
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
    if (pass && pass->state == passDelivered && firstEntry == reinterpret_cast<LPARAM>(pass->first))
        completePass(pass);
    if (runtime.pluginWindow)
        InvalidateRect(runtime.pluginWindow, nullptr, FALSE);
}

void stopUpdate() {
    UpdatePass* pass = currentPass;
    if (pass == nullptr)
        return;
    InterlockedExchange(&stopRequested, 1);
    LONG before = InterlockedCompareExchange(&pass->state, passAbandoned, passFetching);
    DWORD waited = WaitForSingleObject(pass->semaphore, updateStopWaitMs);
    // A worker that is already filling the FetchList finishes that (it no longer waits for the
    // network); the lists must not be released under it.
    if (waited != WAIT_OBJECT_0 && before == passWriting)
        WaitForSingleObject(pass->semaphore, INFINITE);
    currentPass = nullptr;
    workerSemaphore = nullptr;
    releasePass(pass);
}
