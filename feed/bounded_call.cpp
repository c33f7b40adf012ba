// The thread and the waiting fetch share one small block; whichever lets go of it last frees it
// and the caller's record. The thread holds a reference to this module and ends with
// FreeLibraryAndExitThread, so code of this module never runs after its last reference is gone.
#include "feed/bounded_call.h"
#include <process.h>
#include <cstdlib>
#include "feed/http_fetch.h"
#include "feed/worker_stack.h"

namespace {

const DWORD waitSliceMs = 100;

struct BoundedCall {
    volatile LONG references;  // the waiter's and the thread's
    volatile LONG resultTaken; // the waiter saw the work end and keeps the record
    void (*work)(void*);
    void* record;
    HANDLE done;
    HMODULE module;
};

// The last one out frees the block, and the record too unless the waiter kept it.
void releaseBounded(BoundedCall* call) {
    if (InterlockedDecrement(&call->references) != 0)
        return;
    if (!call->resultTaken)
        std::free(call->record);
    CloseHandle(call->done);
    std::free(call);
}

unsigned __stdcall boundedThread(void* argument) {
    releaseUnusedStack();
    BoundedCall* call = static_cast<BoundedCall*>(argument);
    HMODULE module = call->module;
    call->work(call->record);
    SetEvent(call->done);
    releaseBounded(call);
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

} // namespace

BoundedEnd runBounded(void (*work)(void* record), void* record, const FetchRequest* request,
                      unsigned long passStarted) {
    BoundedCall* call = static_cast<BoundedCall*>(std::calloc(1, sizeof(BoundedCall)));
    HANDLE thread = nullptr;
    if (call && (call->done = CreateEventA(nullptr, TRUE, FALSE, nullptr)) != nullptr &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&boundedThread), &call->module)) {
        call->references = 2;
        call->work = work;
        call->record = record;
        thread = reinterpret_cast<HANDLE>(beginWorkerThread(boundedThread, call));
        if (thread == nullptr)
            FreeLibrary(call->module);
    }
    if (thread == nullptr) {
        // No thread to wait for: the call runs here, unbounded, rather than not at all.
        if (call) {
            if (call->done)
                CloseHandle(call->done);
            std::free(call);
        }
        work(record);
        return boundedDone;
    }
    CloseHandle(thread);
    unsigned long started = GetTickCount();
    BoundedEnd end = boundedDone;
    while (WaitForSingleObject(call->done, waitSliceMs) != WAIT_OBJECT_0) {
        if (request->stop && *request->stop) {
            end = boundedStopped;
            break;
        }
        if (passOver(request, passStarted) || GetTickCount() - started >= fetchStallLimitMs) {
            end = boundedTimedOut;
            break;
        }
    }
    // A finished record is the caller's; an abandoned one goes with the block.
    if (end == boundedDone)
        InterlockedExchange(&call->resultTaken, 1);
    releaseBounded(call);
    return end;
}
