// The https client. WinHTTP runs in its asynchronous mode: the worker starts each step (send,
// receive the headers, read) and waits for its completion in short slices, checking the pass's
// stop flag and overall bound between them. A pass that must end closes the request handle and
// returns at once, without waiting for a silent server; the record the callbacks write into is
// shared with WinHTTP and freed by whichever lets go of it last (the worker, or the callback that
// reports the request handle closing).
//
// Only the request handle has the status callback, so WinHTTP never calls into this module for
// the connection or the session. After closing the request the worker waits a moment for it to
// report closing; when it does not, the module is pinned, so that the late callback finds its
// code even after the plug-in was unloaded. No callback ever frees the module.
#include "feed/winhttp_fetch.h"
#include <windows.h>
#include <winhttp.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include "feed/bounded_call.h"
#include "feed/http_auth.h"
#include "feed/login_store.h"
#include "feed/winhttp_api.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

unsigned long winHttpCloseWaitMs = 500;

namespace {

const WinHttpApi* api; // set before the first step of the first https hop

const DWORD waitSliceMs = 100;
const DWORD readSize = 256 * 1024;

// One request's meeting point with WinHTTP's callbacks.
struct HopCall {
    volatile LONG references; // the worker's and the request handle's
    HANDLE completed;         // set when the step in flight has completed or failed
    HANDLE closed;            // set when the request handle reports closing
    volatile DWORD error;     // the failed step's error, 0 when it succeeded
    volatile DWORD certificateFlags;
    volatile DWORD bytesRead; // of the last read, or what the last query found available
    char buffer[readSize];    // the read in flight writes here, so it lives as long as the record
};

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                             DWORD length);

// Drops one reference; the last frees the record.
void releaseCall(HopCall* call) {
    if (InterlockedDecrement(&call->references) != 0)
        return;
    CloseHandle(call->completed);
    CloseHandle(call->closed);
    std::free(call);
}

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                             DWORD length) {
    HopCall* call = reinterpret_cast<HopCall*>(context);
    if (call == nullptr)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (information && length >= sizeof(DWORD))
            call->certificateFlags |= *static_cast<DWORD*>(information);
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        call->error = 0;
        SetEvent(call->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        call->error = 0;
        call->bytesRead =
            information && length >= sizeof(DWORD) ? *static_cast<DWORD*>(information) : 0;
        SetEvent(call->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        call->error = 0;
        call->bytesRead = length;
        SetEvent(call->completed);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const WINHTTP_ASYNC_RESULT* result = static_cast<WINHTTP_ASYNC_RESULT*>(information);
        call->error = result && result->dwError ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        SetEvent(call->completed);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        SetEvent(call->closed);
        releaseCall(call);
        break;
    default:
        break;
    }
}

void setReason(HopOutcome* outcome, const char* reason) {
    std::snprintf(outcome->reason, sizeof outcome->reason, "%s", reason);
}

// An ASCII text (addresses and headers are ASCII by now) as a new wide text; free() it.
wchar_t* widen(const char* text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return nullptr;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * length));
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length) != length) {
        std::free(wide);
        wide = nullptr;
    }
    return wide;
}

// Frees a wide text after overwriting it.
void freeWiped(wchar_t* text) {
    if (text != nullptr)
        SecureZeroMemory(text, std::wcslen(text) * sizeof(wchar_t));
    std::free(text);
}

// The proxy a session is opened with: the session's default unless the user has set one.
struct ProxyChoice {
    DWORD accessType;
    wchar_t* proxy; // malloc'd, null for none
    wchar_t* bypass;
};

wchar_t* copyWide(const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0')
        return nullptr;
    size_t size = (std::wcslen(text) + 1) * sizeof(wchar_t);
    wchar_t* copy = static_cast<wchar_t*>(std::malloc(size));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

// Takes the proxy named in the texts (GlobalFree'd here) when there is one.
void takeNamedProxy(wchar_t* proxy, wchar_t* bypass, ProxyChoice* choice) {
    if (choice->proxy == nullptr && proxy && proxy[0]) {
        choice->proxy = copyWide(proxy);
        choice->bypass = copyWide(bypass);
        if (choice->proxy)
            choice->accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    }
    if (proxy)
        GlobalFree(proxy);
    if (bypass)
        GlobalFree(bypass);
}

// WinHttpGetProxyForUrl on a session of its own (it is synchronous and knows no stop), with the
// stall limit as its time-outs. Runs on a thread of its own.
void systemDiscoverProxy(ProxyDiscovery* discovery) {
    HINTERNET session = api->open(L"FeedMarquee", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr)
        return;
    int stall = static_cast<int>(fetchStallLimitMs);
    api->setTimeouts(session, stall, stall, stall, stall);
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    if (discovery->autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (discovery->scriptUrl[0]) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = discovery->scriptUrl;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO found = {};
    if (api->getProxyForUrl(session, discovery->url, &options, &found)) {
        discovery->answered = true;
        bool named =
            found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && found.lpszProxy &&
            std::wcslen(found.lpszProxy) < 1024 &&
            (found.lpszProxyBypass == nullptr || std::wcslen(found.lpszProxyBypass) < 2048);
        if (named) {
            std::wcscpy(discovery->proxy, found.lpszProxy);
            if (found.lpszProxyBypass)
                std::wcscpy(discovery->bypass, found.lpszProxyBypass);
        }
    }
    if (found.lpszProxy)
        GlobalFree(found.lpszProxy);
    if (found.lpszProxyBypass)
        GlobalFree(found.lpszProxyBypass);
    api->closeHandle(session);
}

void runDiscovery(void* record) {
    discoverProxy(static_cast<ProxyDiscovery*>(record));
}

// The user's proxy settings for url: an automatic configuration (detection or a script) when one
// is set and answers, DIRECT included; else the named proxy; without either the session's
// default (WINHTTP_ACCESS_TYPE_DEFAULT_PROXY) stands. The choice is made before the session is
// opened, since a proxy set on a request handle is not honoured everywhere. Discovery is waited
// for no longer than the pass allows: null, or why the hop must end ("stopped", "timed out").
// Discovery that stalls without the pass ending counts as no answer.
const char* chooseProxy(const wchar_t* url, const FetchRequest* request, unsigned long passStarted,
                        ProxyChoice* choice) {
    choice->accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    choice->proxy = nullptr;
    choice->bypass = nullptr;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (!api->getIEProxyConfigForCurrentUser(&user))
        return nullptr;
    const char* ended = nullptr;
    bool automatic = false;
    size_t urlLength = std::wcslen(url);
    size_t scriptLength = user.lpszAutoConfigUrl ? std::wcslen(user.lpszAutoConfigUrl) : 0;
    ProxyDiscovery* discovery =
        (user.fAutoDetect || scriptLength > 0) && urlLength < fetchUrlSize && scriptLength < 2048
            ? static_cast<ProxyDiscovery*>(std::calloc(1, sizeof(ProxyDiscovery)))
            : nullptr;
    if (discovery) {
        std::wcscpy(discovery->url, url);
        if (user.lpszAutoConfigUrl)
            std::wcscpy(discovery->scriptUrl, user.lpszAutoConfigUrl);
        discovery->autoDetect = user.fAutoDetect != FALSE;
        BoundedEnd end = runBounded(runDiscovery, discovery, request, passStarted);
        if (end == boundedDone) {
            automatic = discovery->answered;
            if (discovery->proxy[0]) {
                choice->proxy = copyWide(discovery->proxy);
                choice->bypass = copyWide(discovery->bypass);
                choice->accessType = choice->proxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY
                                                   : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
            } else if (automatic) {
                // The script said DIRECT: that is the answer, whatever proxy is named by hand.
                choice->accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
            }
            std::free(discovery);
        } else if (end == boundedStopped) {
            ended = "stopped";
        } else if (passOver(request, passStarted)) {
            ended = "timed out";
        }
    }
    if (automatic || ended) {
        if (user.lpszProxy)
            GlobalFree(user.lpszProxy);
        if (user.lpszProxyBypass)
            GlobalFree(user.lpszProxyBypass);
    } else {
        takeNamedProxy(user.lpszProxy, user.lpszProxyBypass, choice);
    }
    if (user.lpszAutoConfigUrl)
        GlobalFree(user.lpszAutoConfigUrl);
    return ended;
}

bool isLoopback(const wchar_t* host) {
    return lstrcmpiW(host, L"localhost") == 0 || std::wcsncmp(host, L"127.", 4) == 0 ||
           lstrcmpiW(host, L"[::1]") == 0;
}

enum WaitEnd { stepDone, stepStopped, stepPassOver };

// Waits for the step in flight, in slices, until it completes, the pass ends, or it made no
// progress for fetchStallLimitMs (a server that accepts and never answers the handshake, a read
// that never returns): WinHTTP's own time-outs do not cover every one of these everywhere.
WaitEnd waitForStep(HopCall* call, const FetchRequest* request, unsigned long passStarted) {
    unsigned long started = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(call->completed, waitSliceMs) == WAIT_OBJECT_0)
            return stepDone;
        if (request->stop && *request->stop)
            return stepStopped;
        if (passOver(request, passStarted) || GetTickCount() - started >= fetchStallLimitMs)
            return stepPassOver;
    }
}

// Starts a step (its result as the API returned it) and waits for it; false with the outcome's
// reason set when it failed or the pass ended.
bool runStep(BOOL started, HopCall* call, const FetchRequest* request, unsigned long passStarted,
             HopOutcome* outcome) {
    if (!started) {
        setReason(outcome, winHttpReason(GetLastError(), call->certificateFlags));
        return false;
    }
    WaitEnd end = waitForStep(call, request, passStarted);
    if (end != stepDone) {
        setReason(outcome, end == stepStopped ? "stopped" : "timed out");
        return false;
    }
    if (call->error != 0) {
        setReason(outcome, winHttpReason(call->error, call->certificateFlags));
        return false;
    }
    return true;
}

// Some WinHTTPs (Wine's) cut a header line longer than this many bytes to this length without a
// word. A kept field whose line has exactly this length may be cut, so it is not trusted.
const size_t cutHeaderLineLength = 1459;

bool startsWithName(const char* line, size_t length, const char* name) {
    size_t nameLength = std::strlen(name);
    return length > nameLength && _strnicmp(line, name, nameLength) == 0;
}

// Drops the Location and validators that came on a line that may have been cut: a cut address
// leads elsewhere, a cut validator never matches.
void dropCutFields(const char* headers, size_t length, HttpResponse* response) {
    size_t at = 0;
    while (at < length) {
        const char* line = headers + at;
        const char* end = static_cast<const char*>(std::memchr(line, '\n', length - at));
        size_t lineLength = end ? size_t(end - line) : length - at;
        at += lineLength + 1;
        if (lineLength > 0 && line[lineLength - 1] == '\r')
            --lineLength;
        if (lineLength != cutHeaderLineLength)
            continue;
        if (startsWithName(line, lineLength, "location:")) {
            response->location[0] = '\0';
            response->locationTooLong = true;
        } else if (startsWithName(line, lineLength, "etag:")) {
            response->etag[0] = '\0';
        } else if (startsWithName(line, lineLength, "last-modified:")) {
            response->lastModified[0] = '\0';
        }
    }
}

// Hands the status line and headers to the stage; what the stage says next.
ResponseProgress passHeaders(HINTERNET request, HttpResponse* response) {
    DWORD size = 0;
    api->queryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return responseFailed;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(size + sizeof(wchar_t)));
    char* narrow = static_cast<char*>(std::malloc(size / sizeof(wchar_t) + 1));
    ResponseProgress progress = responseFailed;
    if (wide && narrow &&
        api->queryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                          wide, &size, WINHTTP_NO_HEADER_INDEX)) {
        // The headers arrived as bytes and WinHTTP widened each one; narrow them the same way.
        size_t count = size / sizeof(wchar_t);
        for (size_t i = 0; i < count; ++i)
            narrow[i] = wide[i] < 0x100 ? static_cast<char>(wide[i]) : '?';
        narrow[count] = '\0';
        progress = setResponseHeaders(response, narrow, count);
        dropCutFields(narrow, count, response);
    }
    std::free(wide);
    std::free(narrow);
    return progress;
}

// The key of a proxy's login ("proxy:http://host:port") for the proxy list a session uses: the
// entry for https when the list names one per scheme, else the first; empty when there is none.
void proxyLoginKey(const wchar_t* proxies, char* key, size_t size) {
    key[0] = '\0';
    if (proxies == nullptr)
        return;
    char list[1024];
    if (WideCharToMultiByte(CP_UTF8, 0, proxies, -1, list, sizeof list, nullptr, nullptr) <= 0)
        return;
    const char* entry = list;
    for (const char* at = list; *at; at += std::strcspn(at, "; ")) {
        at += std::strspn(at, "; ");
        if (_strnicmp(at, "https=", 6) == 0)
            entry = at;
    }
    size_t length = std::strcspn(entry, "; ");
    const char* equals = static_cast<const char*>(std::memchr(entry, '=', length));
    if (equals) {
        length -= static_cast<size_t>(equals + 1 - entry);
        entry = equals + 1;
    }
    const char* separator = std::strstr(entry, "://");
    if (separator && static_cast<size_t>(separator - entry) < length) {
        length -= static_cast<size_t>(separator + 3 - entry);
        entry = separator + 3;
    }
    char url[300];
    char origin[300];
    std::snprintf(url, sizeof url, "http://%.*s/", static_cast<int>(length), entry);
    if (loginOrigin(url, origin, sizeof origin))
        std::snprintf(key, size, "%s%s", proxyLoginPrefix, origin);
}

// Hands WinHTTP a login for target (server or proxy) in the strongest scheme it offers of those
// allowed; false when it offers none of them.
bool setSystemLogin(HINTERNET request, DWORD target, const char* user, const char* password,
                    DWORD allowed) {
    DWORD supported = 0, first = 0, askedTarget = 0;
    if (!api->queryAuthSchemes(request, &supported, &first, &askedTarget))
        return false;
    const DWORD order[] = {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM,
                           WINHTTP_AUTH_SCHEME_DIGEST, WINHTTP_AUTH_SCHEME_BASIC};
    DWORD scheme = 0;
    for (DWORD candidate : order) {
        if (scheme == 0 && (supported & candidate & allowed))
            scheme = candidate;
    }
    wchar_t wideUser[768], widePassword[768];
    bool set = scheme != 0 && MultiByteToWideChar(CP_UTF8, 0, user, -1, wideUser, 768) > 0 &&
               MultiByteToWideChar(CP_UTF8, 0, password, -1, widePassword, 768) > 0 &&
               api->setCredentials(request, target, scheme, wideUser, widePassword, nullptr);
    SecureZeroMemory(wideUser, sizeof wideUser);
    SecureZeroMemory(widePassword, sizeof widePassword);
    return set;
}

// After a response that asked for a login: true when WinHTTP now holds one for it and the request
// is to be sent again (once per target). A proxy that asks again refused its login.
bool setLoginFor(HINTERNET request, const HttpResponse* response, const FetchRequest* fetch,
                 const char* proxyKey, bool* serverSet, bool* proxySet, HopOutcome* outcome) {
    if (response->status == 401 && fetch->windowsLogin != nullptr && !*serverSet) {
        *serverSet = true;
        return setSystemLogin(request, WINHTTP_AUTH_TARGET_SERVER, fetch->windowsLogin->user,
                              fetch->windowsLogin->password,
                              WINHTTP_AUTH_SCHEME_NEGOTIATE | WINHTTP_AUTH_SCHEME_NTLM);
    }
    if (response->status != 407 || proxyKey[0] == '\0')
        return false;
    noteProxyWantsLogin(proxyKey);
    StoredLogin login;
    bool found = readLogin(proxyKey, &login);
    bool again = false;
    if (found && *proxySet) {
        holdRefusedLogin(proxyKey, &login);
        outcome->proxyLoginRefused = true;
    } else if (found && loginHeld(proxyKey, &login)) {
        outcome->proxyLoginRefused = true;
    } else if (found) {
        *proxySet = true;
        again = setSystemLogin(request, WINHTTP_AUTH_TARGET_PROXY, login.user, login.password, ~0u);
    }
    clearLogin(&login);
    return again;
}

// Sends the request and moves the response into the stage; the handles stay open.
void exchange(HINTERNET request, HopCall* call, const FetchRequest* fetch, const char* proxyKey,
              unsigned long passStarted, HttpResponse* response, HopOutcome* outcome) {
    char headers[fetchHeaderSize];
    formatRequestHeaders(fetch, headers, sizeof headers);
    wchar_t* wideHeaders = widen(headers);
    // The request may carry a login: nothing of it stays behind in memory.
    SecureZeroMemory(headers, sizeof headers);
    if (wideHeaders == nullptr) {
        setReason(outcome, "out of memory");
        return;
    }
    // Replacing rather than adding keeps one line per name where WinHTTP has its own.
    api->addRequestHeaders(request, wideHeaders, static_cast<DWORD>(-1L),
                           WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    freeWiped(wideHeaders); // WinHTTP keeps its own copy
    ResponseProgress progress = responseFailed;
    bool serverLoginSet = false, proxyLoginSet = false;
    for (;;) {
        BOOL sent =
            api->sendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                             0, reinterpret_cast<DWORD_PTR>(call));
        if (!runStep(sent, call, fetch, passStarted, outcome) ||
            !runStep(api->receiveResponse(request, nullptr), call, fetch, passStarted, outcome))
            return;
        progress = passHeaders(request, response);
        // NTLM and Negotiate take several exchanges on one connection: WinHTTP carries them out
        // once it holds the login, when the request is sent again.
        if (!setLoginFor(request, response, fetch, proxyKey, &serverLoginSet, &proxyLoginSet,
                         outcome))
            break;
        endResponse(response);
        if (!beginResponse(response, false)) {
            setReason(outcome, "out of memory");
            return;
        }
    }
    // A read asks for no more than has arrived, or is made when nothing has arrived: then every
    // wait for the server happens in a step the worker can walk away from. (A read for more than
    // is at hand, with some at hand, may block the calling thread until the receive time-out.)
    // Right after the bytes at hand were taken nothing is left, so a full-sized read follows.
    bool drained = false;
    while (progress == responseNeedMore) {
        DWORD wanted = readSize;
        if (!drained) {
            call->bytesRead = 0;
            if (!runStep(api->queryDataAvailable(request, nullptr), call, fetch, passStarted,
                         outcome))
                return;
            wanted = call->bytesRead < readSize ? call->bytesRead : readSize;
        }
        drained = !drained && wanted > 0;
        call->bytesRead = 0;
        if (wanted > 0 && !runStep(api->readData(request, call->buffer, wanted, nullptr), call,
                                   fetch, passStarted, outcome))
            return;
        DWORD count = call->bytesRead;
        progress =
            count == 0 ? finishResponse(response) : feedResponse(response, call->buffer, count);
        if (count == 0 && progress == responseNeedMore)
            progress = responseFailed;
        if (progress == responseNeedMore && passOver(fetch, passStarted)) {
            setReason(outcome, fetch->stop && *fetch->stop ? "stopped" : "timed out");
            return;
        }
    }
    if (progress == responseComplete)
        outcome->complete = true;
    else
        setReason(outcome,
                  response->failureReason[0] ? response->failureReason : "not an HTTP response");
}

} // namespace

void (*discoverProxy)(ProxyDiscovery* discovery) = systemDiscoverProxy;

const char* winHttpReason(unsigned long error, unsigned long certificateFlags) {
    // A generic failure with the certificate's fault reported beside it says which fault it was.
    if (certificateFlags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA)
        return "certificate not trusted";
    if (certificateFlags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID)
        return "certificate expired";
    if (certificateFlags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID)
        return "certificate for another host";
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "name not found";
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return "connection refused";
    case ERROR_WINHTTP_TIMEOUT:
        return "timed out";
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        return "certificate not trusted";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return "certificate expired";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return "certificate for another host";
    case ERROR_WINHTTP_CONNECTION_ERROR:
        return "connection closed early";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "out of memory";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
        return "secure connection failed";
    default:
        return "connection failed";
    }
}

void fetchHttpsHop(const char* url, const FetchRequest* request, unsigned long passStarted,
                   HttpResponse* response, HopOutcome* outcome) {
    outcome->complete = false;
    outcome->reason[0] = '\0';
    if (!beginResponse(response, false)) {
        setReason(outcome, "out of memory");
        return;
    }
    if (api == nullptr)
        api = winHttpApi();
    if (api == nullptr) {
        setReason(outcome, "secure connection failed");
        return;
    }
    wchar_t* wideUrl = widen(url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (wideUrl == nullptr || !api->crackUrl(wideUrl, 0, 0, &parts) ||
        parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0 ||
        parts.dwHostNameLength >= 256) {
        std::free(wideUrl);
        setReason(outcome, "invalid address");
        return;
    }
    wchar_t host[256];
    std::memcpy(host, parts.lpszHostName, parts.dwHostNameLength * sizeof(wchar_t));
    host[parts.dwHostNameLength] = L'\0';
    // The path and the query go to the server; a fragment never does.
    wchar_t* path = parts.lpszUrlPath;
    size_t pathLength = parts.dwUrlPathLength;
    if (parts.lpszExtraInfo) {
        for (DWORD i = 0; i < parts.dwExtraInfoLength && parts.lpszExtraInfo[i] != L'#'; ++i)
            ++pathLength;
    }
    wchar_t* object = static_cast<wchar_t*>(std::malloc((pathLength + 2) * sizeof(wchar_t)));
    HopCall* call = static_cast<HopCall*>(std::calloc(1, sizeof(HopCall)));
    if (object == nullptr || call == nullptr ||
        (call->completed = CreateEventA(nullptr, FALSE, FALSE, nullptr)) == nullptr ||
        (call->closed = CreateEventA(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
        if (call && call->completed)
            CloseHandle(call->completed);
        std::free(object);
        std::free(call);
        std::free(wideUrl);
        setReason(outcome, "out of memory");
        return;
    }
    size_t at = 0;
    if (pathLength == 0 || path[0] != L'/')
        object[at++] = L'/';
    std::memcpy(object + at, path, pathLength * sizeof(wchar_t));
    object[at + pathLength] = L'\0';
    call->references = 1;

    // The machine itself is never reached through a proxy.
    ProxyChoice proxy = {WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr};
    const char* ended = nullptr;
    if (isLoopback(host))
        proxy.accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    else
        ended = chooseProxy(wideUrl, request, passStarted, &proxy);
    // WinHTTP's own User-Agent line is replaced by the one in the shared headers.
    HINTERNET session = ended ? nullptr
                              : api->open(L"FeedMarquee", proxy.accessType,
                                          proxy.proxy ? proxy.proxy : WINHTTP_NO_PROXY_NAME,
                                          proxy.bypass ? proxy.bypass : WINHTTP_NO_PROXY_BYPASS,
                                          WINHTTP_FLAG_ASYNC);
    char proxyKey[320];
    proxyLoginKey(proxy.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? proxy.proxy : nullptr,
                  proxyKey, sizeof proxyKey);
    std::free(proxy.proxy);
    std::free(proxy.bypass);
    HINTERNET connection = nullptr;
    HINTERNET handle = nullptr;
    if (session) {
        int stall = static_cast<int>(fetchStallLimitMs);
        api->setTimeouts(session, stall, stall, stall, stall);
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        api->setOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        // TLS 1.2 and 1.3 where the system has them (older systems offer only TLS 1.0 unless
        // asked); a system that refuses the option keeps its own choice.
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
        if (!api->setOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                            sizeof protocols)) {
            protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
            api->setOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
        }
        connection = api->connect(session, host, parts.nPort, 0);
    }
    if (connection)
        handle = api->openRequest(connection, L"GET", object, nullptr, WINHTTP_NO_REFERER,
                                  WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    bool callbackSet = false;
    if (handle) {
        // From here the request handle holds a reference, dropped when it reports closing. Only
        // this handle calls back: without the callback no step would ever report.
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call);
        InterlockedIncrement(&call->references);
        callbackSet =
            api->setOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context) &&
            api->setStatusCallback(handle, statusCallback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                   0) != WINHTTP_INVALID_STATUS_CALLBACK;
        if (callbackSet) {
            // NTLM and Negotiate log in a connection, not a request: it stays open for them
            // (Windows does not carry them out without keep-alive).
            DWORD disabled = WINHTTP_DISABLE_REDIRECTS |
                             (request->windowsLogin ? 0 : WINHTTP_DISABLE_KEEP_ALIVE);
            api->setOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
            exchange(handle, call, request, proxyKey, passStarted, response, outcome);
        } else {
            // No callback can find the record: nothing was sent.
            InterlockedDecrement(&call->references);
            setReason(outcome, "connection failed");
        }
        api->closeHandle(handle);
    } else {
        setReason(outcome, ended ? ended : winHttpReason(GetLastError(), 0));
    }
    // The request reports closing on WinHTTP's thread, usually at once. One that stays open past
    // the wait may call back after this pass, and after the plug-in was unloaded: the module then
    // stays mapped for good.
    if (callbackSet && WaitForSingleObject(call->closed, winHttpCloseWaitMs) != WAIT_OBJECT_0) {
        HMODULE pinned = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&statusCallback), &pinned);
    }
    if (connection)
        api->closeHandle(connection);
    if (session)
        api->closeHandle(session);
    releaseCall(call);
    std::free(object);
    std::free(wideUrl);
}
