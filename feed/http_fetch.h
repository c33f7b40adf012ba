// The http client on Winsock 1.1 and what both clients share: the request headers and the bounds
// of a pass. Run on the update worker thread.
#pragma once
#include <winsock.h>
#include <cstddef>
#include "feed/fetch.h"
#include "feed/http_response.h"

// Most bytes one recv asks for.
const int fetchReadLimit = 16 * 1024;
// A connection attempt or a download that makes no progress for this many milliseconds ends the
// fetch (30000; tests shorten it).
extern unsigned long fetchStallLimitMs;
// A whole pass, redirects included, ends after this many milliseconds however slowly bytes keep
// arriving (120000; tests shorten it).
extern unsigned long fetchPassLimitMs;

// How a single request (one hop of a pass) ended.
struct HopOutcome {
    bool complete;    // the response stage has a whole response (any status)
    char reason[128]; // otherwise why not: "connection refused", "timed out", "feed too large"
    bool proxyLoginRefused; // a 407 came again after the proxy's own login was sent
};

// The header lines both clients send after the request line and Host: Accept, User-Agent,
// Accept-Encoding, the request's validators and its Authorization, each ending in CRLF. A validator
// holding a control character, or longer than fetchValidatorSize - 1, is left out rather than sent,
// and so is an Authorization holding a control character. Returns the length written (out is always
// zero-terminated); the lines fit in fetchHeaderSize.
const size_t fetchHeaderSize = 4096 + 2 * fetchValidatorSize;
size_t formatRequestHeaders(const FetchRequest* request, char* out, size_t outSize);

// True when the pass should end now: its stop flag is set or passStarted (GetTickCount) lies
// fetchPassLimitMs or more in the past.
bool passOver(const FetchRequest* request, unsigned long passStarted);

// The name lookup of the http client: the IPv4 address of a host name through the system's
// resolver, false when it has none. It runs on a thread of its own (feed/bounded_call.h), so that
// a stop or the stall limit ends the wait for it; tests put a slow one in its place.
extern bool (*lookUpHostName)(const char* name, unsigned long* address);

// One GET of url ("http://host[:port]/path", scheme in any letter case) for request: begins
// response in raw mode and feeds it what arrives until the stage calls the response complete or
// failed, the peer closes, the connection breaks, the stall limit passes, the pass ends or
// request->stop is set. The caller ends the response.
void fetchHttpHop(const char* url, const FetchRequest* request, unsigned long passStarted,
                  HttpResponse* response, HopOutcome* outcome);
