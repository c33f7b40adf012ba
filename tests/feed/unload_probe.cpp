// A DLL holding the fetch code, so that a test can stop an https fetch and unload the code at once,
// as quitting the shell does to the plug-in.
#include <windows.h>
#include <cstdlib>
#include "feed/fetch.h"
#include "feed/http_fetch.h"
#include "feed/winhttp_fetch.h"

// Fetches url (1: a 2xx body, 0: not) with the given stall limit (WinHTTP's own time-outs too)
// and wait for a closed request to report closing.
extern "C" __declspec(dllexport) int probeFetch(const char* url, volatile LONG* stop,
                                                unsigned long stallMs, unsigned long closeWaitMs) {
    fetchStallLimitMs = stallMs;
    winHttpCloseWaitMs = closeWaitMs;
    FetchRequest request = {url, nullptr, nullptr, stop, nullptr};
    FetchResult* result = static_cast<FetchResult*>(std::calloc(1, sizeof(FetchResult)));
    if (result == nullptr)
        return -1;
    int ok = fetchFeed(&request, result) ? 1 : 0;
    freeFetchResult(result);
    std::free(result);
    return ok;
}
