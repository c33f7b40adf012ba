// The https client on WinHTTP: the system's proxy settings, the system's certificate validation
// (no option to ignore a certificate fault), and no redirects or decompression of its own, since
// fetch.cpp follows redirects and the response stage decodes. Run on the update worker thread.
#pragma once
#include "feed/fetch.h"
#include "feed/http_fetch.h"
#include "feed/http_response.h"

// How long a closed request may take to report closing before the module is pinned (500 ms;
// tests set 0 to force the late path).
extern unsigned long winHttpCloseWaitMs;

// What proxy auto-discovery or a proxy script says for an address.
struct ProxyDiscovery {
    wchar_t url[fetchUrlSize]; // the address asked about
    wchar_t scriptUrl[2048];   // the proxy script's address, empty for none
    bool autoDetect;           // detection (DHCP, DNS) was asked for
    // The answer.
    bool answered;       // detection or the script answered (a failure answers nothing)
    wchar_t proxy[1024]; // the proxy to use; empty with answered: a direct connection
    wchar_t bypass[2048];
};
// Fills in a discovery's answer (WinHttpGetProxyForUrl on a session of its own). It runs on a
// thread of its own, so that a stop or the pass's bound ends the wait for it; tests put a slow one
// in its place.
extern void (*discoverProxy)(ProxyDiscovery* discovery);

// One GET of url ("https://host[:port]/path") for request: begins response in header-block mode,
// hands it the raw headers and then the body bytes until the stage calls the response complete
// or failed, the body ends, WinHTTP reports an error, or the pass ends (stop flag or overall
// bound), or a step makes no progress for fetchStallLimitMs. A stop ends the hop within a few
// hundred milliseconds, even while the server or proxy discovery is silent. WinHTTP is loaded on
// the first call (feed/winhttp_api.h). The caller ends the response.
void fetchHttpsHop(const char* url, const FetchRequest* request, unsigned long passStarted,
                   HttpResponse* response, HopOutcome* outcome);

// The failure reason for a WinHTTP error (GetLastError or an asynchronous result) and the
// certificate fault flags WinHTTP reported with it (WINHTTP_CALLBACK_STATUS_FLAG_*, 0 when none).
const char* winHttpReason(unsigned long error, unsigned long certificateFlags);
