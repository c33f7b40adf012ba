// The https client on WinHTTP: the system's proxy settings, the system's certificate validation
// (no option to ignore a certificate fault), and no redirects or decompression of its own, since
// fetch.cpp follows redirects and the response stage decodes. Run on the update worker thread.
#pragma once
#include "feed/fetch.h"
#include "feed/http_fetch.h"
#include "feed/http_response.h"

// One GET of url ("https://host[:port]/path") for request: begins response in header-block mode,
// hands it the raw headers and then the body bytes until the stage calls the response complete
// or failed, the body ends, WinHTTP reports an error, or the pass ends (stop flag or overall
// bound). A stop ends the hop within a few hundred milliseconds, outside name resolution, even
// while the server is silent. The caller ends the response.
void fetchHttpsHop(const char* url, const FetchRequest* request, unsigned long passStarted,
                   HttpResponse* response, HopOutcome* outcome);

// The failure reason for a WinHTTP error (GetLastError or an asynchronous result) and the
// certificate fault flags WinHTTP reported with it (WINHTTP_CALLBACK_STATUS_FLAG_*, 0 when none).
const char* winHttpReason(unsigned long error, unsigned long certificateFlags);
