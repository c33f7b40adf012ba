// Fetching a feed: one pass over http (the Winsock client) or https (WinHTTP), following
// redirects, with the response stage decoding the body. Run on a pass's worker thread.
#pragma once
#include <windows.h>
#include <cstddef>
#include "feed/feed_address.h"
#include "feed/http_response.h"

// An address of a fetch (the feed's or a redirect's) is at most feedAddressLimit (8 KiB) long;
// this is its size with the terminator. A longer one is refused, never cut.
const size_t fetchUrlSize = feedAddressLimit + 1;
// A validator (ETag, Last-Modified) is kept whole up to 8 KiB, terminator not included; a longer
// one is not kept at all, and not sent.
const size_t fetchValidatorSize = responseWholeFieldLimit + 1;

struct FetchRequest {
    const char* url;          // "http://..." or "https://..."
    const char* etag;         // sent as If-None-Match when not null or empty
    const char* lastModified; // sent as If-Modified-Since when not null or empty
    volatile LONG* stop;      // the pass's own stop flag: non-zero ends the fetch promptly
    // The address the validators belong to: the finalUrl of the result that gave them. They are
    // sent only in the request to that address (a redirect elsewhere carries none); null stands
    // for url itself.
    const char* validatorsUrl;
    // The User-Agent text sent instead of the product's own; null or empty: the product's. A
    // text holding a control character or longer than fetchUserAgentLimit is not sent (the
    // product's goes instead).
    const char* userAgent = nullptr;
    // Basic sends the password in clear: over plain http only when the user allowed it for this
    // feed.
    bool allowBasicOverHttp = false;
    // Set by the pass for a single request, never by the caller: the Authorization line's value
    // (Basic or Digest), or the login WinHTTP answers NTLM or Negotiate with.
    const char* authorization = nullptr;
    const struct HopLogin* windowsLogin = nullptr;
};

// A login in UTF-8 for the system's own schemes.
struct HopLogin {
    const char* user;
    const char* password;
};
const size_t fetchUserAgentLimit = 512;

struct FetchResult {
    bool ok;          // a 2xx body arrived, or 304 (notModified)
    bool notModified; // the server answered 304: body is null
    int status;       // the last HTTP status, 0 when none arrived
    char* body;       // the decoded body, zero-terminated; free() it; null unless 2xx
    size_t bodyLength;
    char finalUrl[fetchUrlSize]; // the address that answered last (after redirects)
    bool movedPermanently;       // every redirect followed was 301 or 308
    // failure: why ("HTTP 404 Not Found", "certificate not trusted", "needs a login (\"realm\")",
    // "login refused")
    char reason[256];
    char contentType[256];       // the final response's headers, empty when absent
    char retryAfter[64];         // kept for any final status (a 503 or 429 says when to retry)
    // The validators of a 2xx or 304 answer, whole or empty. They belong to finalUrl, not to the
    // address asked for: store them with finalUrl and send them back with validatorsUrl set to it.
    char etag[fetchValidatorSize];
    char lastModified[fetchValidatorSize];
};

// Fetches request->url, following up to 5 redirects; result is filled in every case (zeroed
// first). Returns result->ok. A 401 is answered with the login kept for the answering address's
// origin (feed/login_store.h), only on the host of request->url and never before the server asks;
// a login the server refuses is held and not sent again until a new one is stored or the holds
// are released.
bool fetchFeed(const FetchRequest* request, FetchResult* result);
// Frees the result's body.
void freeFetchResult(FetchResult* result);
