// Fetching a feed: one pass over http (the Winsock client) or https (WinHTTP), following
// redirects, with the response stage decoding the body. Run on a pass's worker thread.
#pragma once
#include <windows.h>
#include <cstddef>
#include "feed/feed_address.h"
#include "feed/http_response.h"

// The product's version and home page, sent in the User-Agent line; the plug-in's info answers
// the same.
extern const char* const productVersion;  // "0.0.1a"
extern const char* const productHomepage; // "https://feedmarquee.example.org/"

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
    char reason[256];            // failure: why ("HTTP 404 Not Found", "certificate not trusted")
    char contentType[256];       // the final response's headers, empty when absent
    char retryAfter[64];         // kept for any final status (a 503 or 429 says when to retry)
    // The validators of a 2xx or 304 answer, whole or empty. They belong to finalUrl, not to the
    // address asked for: store them with finalUrl and send them back with validatorsUrl set to it.
    char etag[fetchValidatorSize];
    char lastModified[fetchValidatorSize];
};

// Fetches request->url, following up to 5 redirects; result is filled in every case (zeroed
// first). Returns result->ok.
bool fetchFeed(const FetchRequest* request, FetchResult* result);
// Frees the result's body.
void freeFetchResult(FetchResult* result);
