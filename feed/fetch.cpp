// One fetch pass: checks the address, hands each hop to the client of its scheme (the Winsock
// client for http, WinHTTP for https) and follows redirects here, so that both schemes obey the
// same rules: at most five hops, relative locations resolved against the address that answered,
// never from https down to http, never round a loop. Only a 2xx body leaves this unit.
#include "feed/fetch.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "content/url_resolve.h"
#include "feed/http_fetch.h"
#include "feed/http_response.h"
#include "feed/winhttp_fetch.h"

const char* const productVersion = "0.0.1a";
const char* const productHomepage = "https://feedmarquee.example.org/";

namespace {

const int redirectLimit = 5;

enum Scheme { schemeNone, schemeHttp, schemeHttps };

Scheme schemeOf(const char* url) {
    const char* names[] = {"http://", "https://"};
    for (int i = 0; i < 2; ++i) {
        size_t length = std::strlen(names[i]);
        size_t at = 0;
        while (at < length && url[at] != '\0') {
            char c = url[at];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != names[i][at])
                break;
            ++at;
        }
        if (at == length)
            return i == 0 ? schemeHttp : schemeHttps;
    }
    return schemeNone;
}

// Copies url into out as it goes on the wire: bytes beyond ASCII percent-encoded (as browsers
// send them). False for an address that is empty, too long, or holds a blank or a control
// character (CR and LF included): such an address could smuggle lines into the request.
bool prepareAddress(const char* url, char* out, size_t outSize) {
    const char* hex = "0123456789ABCDEF";
    size_t length = 0;
    if (url == nullptr || url[0] == '\0')
        return false;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(url); *c; ++c) {
        if (*c <= 0x20 || *c == 0x7f)
            return false;
        if (*c < 0x80) {
            if (length + 1 >= outSize)
                return false;
            out[length++] = static_cast<char>(*c);
        } else {
            if (length + 3 >= outSize)
                return false;
            out[length++] = '%';
            out[length++] = hex[*c >> 4];
            out[length++] = hex[*c & 15];
        }
    }
    out[length] = '\0';
    return true;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void setReason(FetchResult* result, const char* reason) {
    std::snprintf(result->reason, sizeof result->reason, "%s", reason);
}

void keepHeaders(const HttpResponse& response, FetchResult* result) {
    std::snprintf(result->contentType, sizeof result->contentType, "%s", response.contentType);
    std::snprintf(result->etag, sizeof result->etag, "%s", response.etag);
    std::snprintf(result->lastModified, sizeof result->lastModified, "%s", response.lastModified);
    std::snprintf(result->retryAfter, sizeof result->retryAfter, "%s", response.retryAfter);
}

// Works out where a redirect leads; false with result->reason set when it must not be followed.
bool nextAddress(const char* current, const HttpResponse& response, char visited[][fetchUrlSize],
                 int visitedCount, char* next, FetchResult* result) {
    char resolved[fetchUrlSize];
    if (response.location[0] == '\0') {
        setReason(result, "redirect without a location");
        return false;
    }
    if (!resolveUrl(current, response.location, resolved, sizeof resolved) ||
        !prepareAddress(resolved, next, fetchUrlSize)) {
        setReason(result, "invalid redirect address");
        return false;
    }
    Scheme scheme = schemeOf(next);
    if (scheme == schemeNone) {
        setReason(result, "invalid redirect address");
        return false;
    }
    if (schemeOf(current) == schemeHttps && scheme == schemeHttp) {
        setReason(result, "redirect to http refused");
        return false;
    }
    for (int i = 0; i < visitedCount; ++i) {
        if (std::strcmp(visited[i], next) == 0) {
            setReason(result, "redirect loop");
            return false;
        }
    }
    return true;
}

} // namespace

bool fetchFeed(const FetchRequest* request, FetchResult* result) {
    std::memset(result, 0, sizeof *result);
    // Every address of the pass, the first included, so that a loop is seen at once.
    char visited[redirectLimit + 1][fetchUrlSize];
    if (request == nullptr || !prepareAddress(request->url, visited[0], fetchUrlSize) ||
        schemeOf(visited[0]) == schemeNone) {
        if (request && request->url)
            std::snprintf(result->finalUrl, sizeof result->finalUrl, "%s", request->url);
        setReason(result, "invalid address");
        return false;
    }
    unsigned long passStarted = GetTickCount();
    bool allPermanent = true;
    for (int hop = 0;; ++hop) {
        const char* current = visited[hop];
        std::snprintf(result->finalUrl, sizeof result->finalUrl, "%s", current);
        HttpResponse response = {};
        HopOutcome outcome = {};
        if (schemeOf(current) == schemeHttps)
            fetchHttpsHop(current, request, passStarted, &response, &outcome);
        else
            fetchHttpHop(current, request, passStarted, &response, &outcome);
        result->status = response.status;
        if (!outcome.complete) {
            setReason(result, outcome.reason[0] ? outcome.reason : "connection failed");
            endResponse(&response);
            return false;
        }
        keepHeaders(response, result);
        int status = response.status;
        if (isRedirect(status)) {
            bool follow = hop < redirectLimit;
            if (!follow)
                setReason(result, "too many redirects");
            else
                follow = nextAddress(current, response, visited, hop + 1, visited[hop + 1], result);
            endResponse(&response);
            if (!follow)
                return false;
            allPermanent = allPermanent && (status == 301 || status == 308);
            result->movedPermanently = allPermanent;
            continue;
        }
        if (status >= 200 && status <= 299) {
            result->body = takeResponseBody(&response, &result->bodyLength);
            // An empty body is still a document: the caller gets an empty text, not nothing.
            if (result->body == nullptr)
                result->body = static_cast<char*>(std::calloc(1, 1));
            result->ok = result->body != nullptr;
            if (!result->ok)
                setReason(result, "out of memory");
        } else if (status == 304) {
            result->ok = true;
            result->notModified = true;
        } else {
            std::snprintf(result->reason, sizeof result->reason, "HTTP %d %s", status,
                          response.statusText);
            // A status without a reason phrase leaves no blank at the end.
            size_t length = std::strlen(result->reason);
            if (length > 0 && result->reason[length - 1] == ' ')
                result->reason[length - 1] = '\0';
        }
        endResponse(&response);
        return result->ok;
    }
}

void freeFetchResult(FetchResult* result) {
    if (result == nullptr)
        return;
    std::free(result->body);
    result->body = nullptr;
    result->bodyLength = 0;
}
