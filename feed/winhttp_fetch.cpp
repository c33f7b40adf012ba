// The https client. WinHTTP runs in its asynchronous mode: the worker starts each step (send,
// receive the headers, read) and waits for its completion in short slices, checking the pass's
// stop flag and overall bound between them. A pass that must end closes the request handle and
// returns at once, without waiting for a silent server; the record the callbacks write into is
// shared with WinHTTP and freed by whichever lets go of it last (the worker, or the callback that
// reports the request handle closing).
#include "feed/winhttp_fetch.h"
#include <windows.h>
#include <winhttp.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const DWORD waitSliceMs = 100;
const DWORD readSize = 256 * 1024;

// One request's meeting point with WinHTTP's callbacks.
struct HopCall {
    volatile LONG references; // the worker's and the request handle's
    HANDLE completed;         // set when the step in flight has completed or failed
    volatile DWORD error;     // the failed step's error, 0 when it succeeded
    volatile DWORD certificateFlags;
    volatile DWORD bytesRead; // of the last read, or what the last query found available
    char buffer[readSize];    // the read in flight writes here, so it lives as long as the record
    // A reference to this module while WinHTTP may still call statusCallback: after a stop the
    // request can report closing long after the pass ended and the plug-in was unloaded.
    HMODULE module;
};

void CALLBACK statusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                             DWORD length);

// Drops one reference; the last frees the record and lets go of the module. On WinHTTP's thread
// the module is let go of by a thread of its own that runs FreeLibrary itself, so that no code of
// this module has to run once the module may be gone.
void releaseCall(HopCall* call, bool onCallbackThread) {
    if (InterlockedDecrement(&call->references) != 0)
        return;
    HMODULE module = call->module;
    CloseHandle(call->completed);
    std::free(call);
    if (module == nullptr)
        return;
    if (!onCallbackThread) {
        FreeLibrary(module);
        return;
    }
    // FreeLibrary takes one pointer-sized argument and returns a 32-bit value with the same
    // calling convention as a thread routine. Should the thread not start, the module stays.
    HANDLE thread = CreateThread(
        nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(&FreeLibrary)),
        module, 0, nullptr);
    if (thread)
        CloseHandle(thread);
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
        releaseCall(call, true);
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

// The user's proxy settings for url: an automatic configuration (detection or a script) when
// one is set and finds a proxy, else the named proxy; without either the session's default
// (WINHTTP_ACCESS_TYPE_DEFAULT_PROXY) stands. The choice is made before the session is opened,
// since a proxy set on a request handle is not honoured everywhere.
void chooseProxy(const wchar_t* url, ProxyChoice* choice) {
    choice->accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    choice->proxy = nullptr;
    choice->bypass = nullptr;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user))
        return;
    if (user.fAutoDetect || user.lpszAutoConfigUrl) {
        // Proxy discovery is synchronous, so it gets a session of its own.
        HINTERNET discovery = WinHttpOpen(L"FeedMarquee", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        if (user.fAutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags =
                WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (user.lpszAutoConfigUrl) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = user.lpszAutoConfigUrl;
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO found = {};
        if (discovery && WinHttpGetProxyForUrl(discovery, url, &options, &found))
            takeNamedProxy(found.lpszProxy, found.lpszProxyBypass, choice);
        if (discovery)
            WinHttpCloseHandle(discovery);
    }
    takeNamedProxy(user.lpszProxy, user.lpszProxyBypass, choice);
    if (user.lpszAutoConfigUrl)
        GlobalFree(user.lpszAutoConfigUrl);
}

bool isLoopback(const wchar_t* host) {
    return lstrcmpiW(host, L"localhost") == 0 || std::wcsncmp(host, L"127.", 4) == 0 ||
           lstrcmpiW(host, L"[::1]") == 0;
}

enum WaitEnd { stepDone, stepStopped, stepPassOver };

// Waits for the step in flight, in slices, until it completes or the pass ends.
WaitEnd waitForStep(HopCall* call, const FetchRequest* request, unsigned long passStarted) {
    for (;;) {
        if (WaitForSingleObject(call->completed, waitSliceMs) == WAIT_OBJECT_0)
            return stepDone;
        if (request->stop && *request->stop)
            return stepStopped;
        if (passOver(request, passStarted))
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

// Hands the status line and headers to the stage; what the stage says next.
ResponseProgress passHeaders(HINTERNET request, HttpResponse* response) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return responseFailed;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(size + sizeof(wchar_t)));
    char* narrow = static_cast<char*>(std::malloc(size / sizeof(wchar_t) + 1));
    ResponseProgress progress = responseFailed;
    if (wide && narrow &&
        WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                            wide, &size, WINHTTP_NO_HEADER_INDEX)) {
        // The headers arrived as bytes and WinHTTP widened each one; narrow them the same way.
        size_t count = size / sizeof(wchar_t);
        for (size_t i = 0; i < count; ++i)
            narrow[i] = wide[i] < 0x100 ? static_cast<char>(wide[i]) : '?';
        narrow[count] = '\0';
        progress = setResponseHeaders(response, narrow, count);
    }
    std::free(wide);
    std::free(narrow);
    return progress;
}

// Sends the request and moves the response into the stage; the handles stay open.
void exchange(HINTERNET request, HopCall* call, const FetchRequest* fetch,
              unsigned long passStarted, HttpResponse* response, HopOutcome* outcome) {
    char headers[fetchHeaderSize];
    formatRequestHeaders(fetch, headers, sizeof headers);
    wchar_t* wideHeaders = widen(headers);
    if (wideHeaders == nullptr) {
        setReason(outcome, "out of memory");
        return;
    }
    // Replacing rather than adding keeps one line per name where WinHTTP has its own.
    WinHttpAddRequestHeaders(request, wideHeaders, static_cast<DWORD>(-1L),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    BOOL sent =
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           reinterpret_cast<DWORD_PTR>(call));
    bool ok = runStep(sent, call, fetch, passStarted, outcome);
    std::free(wideHeaders);
    if (!ok ||
        !runStep(WinHttpReceiveResponse(request, nullptr), call, fetch, passStarted, outcome))
        return;
    ResponseProgress progress = passHeaders(request, response);
    // A read asks for no more than has arrived, or is made when nothing has arrived: then every
    // wait for the server happens in a step the worker can walk away from. (A read for more than
    // is at hand, with some at hand, may block the calling thread until the receive time-out.)
    // Right after the bytes at hand were taken nothing is left, so a full-sized read follows.
    bool drained = false;
    while (progress == responseNeedMore) {
        DWORD wanted = readSize;
        if (!drained) {
            call->bytesRead = 0;
            if (!runStep(WinHttpQueryDataAvailable(request, nullptr), call, fetch, passStarted,
                         outcome))
                return;
            wanted = call->bytesRead < readSize ? call->bytesRead : readSize;
        }
        drained = !drained && wanted > 0;
        call->bytesRead = 0;
        if (wanted > 0 && !runStep(WinHttpReadData(request, call->buffer, wanted, nullptr), call,
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
    wchar_t* wideUrl = widen(url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (wideUrl == nullptr || !WinHttpCrackUrl(wideUrl, 0, 0, &parts) ||
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
        (call->completed = CreateEventA(nullptr, FALSE, FALSE, nullptr)) == nullptr) {
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
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(&statusCallback), &call->module);

    // The machine itself is never reached through a proxy.
    ProxyChoice proxy = {WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr};
    if (isLoopback(host))
        proxy.accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    else
        chooseProxy(wideUrl, &proxy);
    // WinHTTP's own User-Agent line is replaced by the one in the shared headers.
    HINTERNET session = WinHttpOpen(
        L"FeedMarquee", proxy.accessType, proxy.proxy ? proxy.proxy : WINHTTP_NO_PROXY_NAME,
        proxy.bypass ? proxy.bypass : WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    std::free(proxy.proxy);
    std::free(proxy.bypass);
    HINTERNET connection = nullptr;
    HINTERNET handle = nullptr;
    if (session) {
        int stall = static_cast<int>(fetchStallLimitMs);
        WinHttpSetTimeouts(session, stall, stall, stall, stall);
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        // Without the callback no step would ever report back.
        if (WinHttpSetStatusCallback(session, statusCallback,
                                     WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                     0) != WINHTTP_INVALID_STATUS_CALLBACK)
            connection = WinHttpConnect(session, host, parts.nPort, 0);
    }
    if (connection)
        handle = WinHttpOpenRequest(connection, L"GET", object, nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (handle) {
        // From here the request handle holds a reference, dropped when it reports closing.
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call);
        InterlockedIncrement(&call->references);
        if (WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;
            WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
            exchange(handle, call, request, passStarted, response, outcome);
        } else {
            // No callback could find the record: nothing was sent.
            InterlockedDecrement(&call->references);
            setReason(outcome, "connection failed");
        }
        WinHttpCloseHandle(handle);
    } else {
        setReason(outcome, winHttpReason(GetLastError(), 0));
    }
    if (connection)
        WinHttpCloseHandle(connection);
    if (session)
        WinHttpCloseHandle(session);
    releaseCall(call, false);
    std::free(object);
    std::free(wideUrl);
}
