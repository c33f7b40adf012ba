// Fetching a feed: one pass over http (the Winsock client) or https (WinHTTP), following
// redirects, with the response stage decoding the body. Run on the update worker thread.
#pragma once
#include <windows.h>
#include <cstddef>

// The product's version and home page, sent in the User-Agent line; the plug-in's info answers
// the same.
extern const char* const productVersion;  // "0.0.1a"
extern const char* const productHomepage; // "https://feedmarquee.example.org/"

// The address of a fetch is at most this long, terminator included.
const size_t fetchUrlSize = 2048;

struct FetchRequest {
    const char* url;            // "http://..." or "https://..."
    const char* etag;           // sent as If-None-Match when not null or empty
    const char* lastModified;   // sent as If-Modified-Since when not null or empty
    volatile LONG* stop;        // the pass's own stop flag: non-zero ends the fetch promptly
};

struct FetchResult {
    bool ok;                     // a 2xx body arrived, or 304 (notModified)
    bool notModified;            // the server answered 304: body is null
    int status;                  // the last HTTP status, 0 when none arrived
    char* body;                  // the decoded body, zero-terminated; free() it; null unless 2xx
    size_t bodyLength;
    char finalUrl[fetchUrlSize]; // the address that answered last (after redirects)
    bool movedPermanently;       // every redirect followed was 301 or 308
    char reason[256];            // failure: why ("HTTP 404 Not Found", "certificate not trusted")
    char contentType[256];       // the final response's headers, empty when absent
    char etag[256];
    char lastModified[64];
    char retryAfter[64];
};

// Fetches request->url, following up to 5 redirects; result is filled in every case (zeroed
// first). Returns result->ok.
bool fetchFeed(const FetchRequest* request, FetchResult* result);
// Frees the result's body.
void freeFetchResult(FetchResult* result);
