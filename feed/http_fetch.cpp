// The http client: splits the address, connects, sends one GET request and feeds what arrives to
// the response stage until the stage has a whole response. The socket is non-blocking while
// connecting and receiving, and every wait goes through select() in slices of at most 250 ms, so
// that a stop request, a silent server or the end of the pass ends the fetch promptly instead of
// leaving the worker blocked in the network.
#include "feed/http_fetch.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "feed/bounded_call.h"
#include "release/version.h"

unsigned long fetchStallLimitMs = 30000;
unsigned long fetchPassLimitMs = 120000;

namespace {

const unsigned long waitSliceMs = 250;

// The pieces of an address, pointing into the caller's text except where noted.
struct UrlParts {
    const char* hostPart; // host as written, port suffix included: the Host line
    size_t hostPartLength;
    char hostName[256]; // the host without its port suffix, zero-terminated
    unsigned short port;
    const char* path;  // from the end of the host part: "/path?query", "?query" or ""
    size_t pathLength; // up to the fragment, which is never sent
};

bool isHttpScheme(const char* url, const char* colon) {
    if (colon - url != 4)
        return false;
    const char* http = "http";
    for (int i = 0; i < 4; ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != http[i])
            return false;
    }
    return true;
}

// Splits "http://host[:port][/path]". False for another scheme, a missing "//", an empty host, a
// malformed or out-of-range port, or a host name too long for any resolver. An address without a
// path asks for "/"; a fragment is never sent.
bool splitUrl(const char* url, UrlParts* parts) {
    if (url == nullptr)
        return false;
    const char* colon = std::strchr(url, ':');
    if (colon == nullptr || !isHttpScheme(url, colon) || colon[1] != '/' || colon[2] != '/')
        return false;
    const char* hostStart = colon + 3;
    const char* hostEnd = hostStart + std::strcspn(hostStart, "/?#");
    if (hostEnd == hostStart)
        return false;
    parts->hostPart = hostStart;
    parts->hostPartLength = static_cast<size_t>(hostEnd - hostStart);
    parts->path = hostEnd;
    parts->pathLength = std::strcspn(hostEnd, "#");

    const char* portColon =
        static_cast<const char*>(std::memchr(hostStart, ':', parts->hostPartLength));
    const char* nameEnd = portColon ? portColon : hostEnd;
    size_t nameLength = static_cast<size_t>(nameEnd - hostStart);
    if (nameLength == 0 || nameLength >= sizeof parts->hostName)
        return false;
    std::memcpy(parts->hostName, hostStart, nameLength);
    parts->hostName[nameLength] = '\0';

    parts->port = 80;
    if (portColon) {
        const char* digit = portColon + 1;
        if (digit == hostEnd || hostEnd - digit > 5)
            return false;
        unsigned long port = 0;
        for (; digit < hostEnd; ++digit) {
            if (*digit < '0' || *digit > '9')
                return false;
            port = port * 10 + static_cast<unsigned long>(*digit - '0');
        }
        if (port == 0 || port > 65535)
            return false;
        parts->port = static_cast<unsigned short>(port);
    }
    return true;
}

bool systemLookUp(const char* name, unsigned long* address) {
    hostent* entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(address, entry->h_addr_list[0], 4);
    return true;
}

// A name lookup's record, shared with the thread that runs it.
struct Lookup {
    char name[256];
    unsigned long address;
    bool found;
};

void runLookup(void* record) {
    Lookup* lookup = static_cast<Lookup*>(record);
    lookup->found = lookUpHostName(lookup->name, &lookup->address);
}

// The IPv4 address of name: a dotted address as it stands, anything else through the resolver,
// waited for no longer than the pass allows. Null, or the reason it failed.
const char* resolveHost(const char* name, unsigned long* address, const FetchRequest* request,
                        unsigned long passStarted) {
    unsigned long dotted = inet_addr(name);
    if (dotted != INADDR_NONE) {
        *address = dotted;
        return nullptr;
    }
    Lookup* lookup = static_cast<Lookup*>(std::calloc(1, sizeof(Lookup)));
    if (lookup == nullptr)
        return "out of memory";
    std::snprintf(lookup->name, sizeof lookup->name, "%s", name);
    BoundedEnd end = runBounded(runLookup, lookup, request, passStarted);
    if (end == boundedStopped)
        return "stopped";
    if (end == boundedTimedOut)
        return "timed out";
    bool found = lookup->found;
    *address = lookup->address;
    std::free(lookup);
    return found ? nullptr : "name not found";
}

enum WaitResult { socketReady, waitStopped, waitStalled, waitPassOver, socketFailed };

// Waits until the socket is readable (or, while connecting, connected or failed). Gives up when
// the pass ends or nothing happened for fetchStallLimitMs since idleSince.
WaitResult waitForSocket(SOCKET socket, bool connecting, unsigned long idleSince,
                         const FetchRequest* request, unsigned long passStarted) {
    for (;;) {
        if (request->stop && *request->stop)
            return waitStopped;
        if (passOver(request, passStarted))
            return waitPassOver;
        unsigned long idle = GetTickCount() - idleSince;
        if (idle >= fetchStallLimitMs)
            return waitStalled;
        unsigned long slice = fetchStallLimitMs - idle;
        if (slice > waitSliceMs)
            slice = waitSliceMs;
        timeval timeout;
        timeout.tv_sec = 0;
        timeout.tv_usec = static_cast<long>(slice * 1000);
        fd_set watched, failed;
        FD_ZERO(&watched);
        FD_ZERO(&failed);
        FD_SET(socket, &watched);
        FD_SET(socket, &failed);
        int ready = connecting ? select(0, nullptr, &watched, &failed, &timeout)
                               : select(0, &watched, nullptr, nullptr, &timeout);
        if (ready == SOCKET_ERROR)
            return socketFailed;
        if (ready > 0)
            return connecting && FD_ISSET(socket, &failed) ? socketFailed : socketReady;
    }
}

const char* waitReason(WaitResult waited) {
    switch (waited) {
    case waitStopped:
        return "stopped";
    case waitStalled:
    case waitPassOver:
        return "timed out";
    default:
        return "connection failed";
    }
}

bool setBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// Connects a new socket to address:port; INVALID_SOCKET with reason set on failure, refusal,
// stop or stall.
SOCKET openConnection(unsigned long address, unsigned short port, const FetchRequest* request,
                      unsigned long passStarted, const char** reason) {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    *reason = "connection failed";
    if (socket == INVALID_SOCKET)
        return INVALID_SOCKET;
    sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    unsigned long started = GetTickCount();
    bool connected = false;
    if (setBlocking(socket, false)) {
        if (connect(socket, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) {
            connected = true;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            WaitResult waited = waitForSocket(socket, true, started, request, passStarted);
            int error = 0;
            int length = sizeof error;
            if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                           &length) != 0)
                error = -1;
            connected = waited == socketReady && error == 0;
            if (error == WSAECONNREFUSED)
                *reason = "connection refused";
            else if (waited != socketReady && waited != socketFailed)
                *reason = waitReason(waited);
        } else if (WSAGetLastError() == WSAECONNREFUSED) {
            *reason = "connection refused";
        }
    }
    if (!connected) {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

// Sends all of data; false when the connection broke. The request is a few hundred bytes on a
// fresh connection, so the loop rarely goes round more than once.
bool sendAll(SOCKET socket, const char* data, size_t length, const FetchRequest* request,
             unsigned long passStarted) {
    unsigned long idleSince = GetTickCount();
    while (length > 0) {
        int sent = send(socket, data, static_cast<int>(length), 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                return false;
            if (passOver(request, passStarted) || GetTickCount() - idleSince >= fetchStallLimitMs)
                return false;
            Sleep(10);
            continue;
        }
        data += sent;
        length -= static_cast<size_t>(sent);
        idleSince = GetTickCount();
    }
    return true;
}

// The request as the server sees it: the GET line, Host, then the shared header lines.
bool sendRequest(SOCKET socket, const UrlParts& parts, const FetchRequest* request,
                 unsigned long passStarted) {
    char headers[fetchHeaderSize];
    formatRequestHeaders(request, headers, sizeof headers);
    size_t pathLength = parts.pathLength;
    bool rootPath = pathLength == 0 || parts.path[0] == '?';
    // The path is at most fetchUrlSize long, the host part under 300 characters.
    static_assert(fetchUrlSize + 300 + fetchHeaderSize + 64 < 64 * 1024, "the request fits");
    char text[fetchUrlSize + 300 + fetchHeaderSize + 64];
    // HTTP/1.1, so that servers compress and chunk as they do for browsers; one request per
    // connection.
    int written = std::snprintf(text, sizeof text,
                                "GET %s%.*s HTTP/1.1\r\nHost: %.*s\r\nConnection: close\r\n%s\r\n",
                                rootPath ? "/" : "", static_cast<int>(pathLength), parts.path,
                                static_cast<int>(parts.hostPartLength), parts.hostPart, headers);
    bool sent = written >= 0 && static_cast<size_t>(written) < sizeof text &&
                sendAll(socket, text, static_cast<size_t>(written), request, passStarted);
    // The request may carry a login: nothing of it stays behind on the stack.
    SecureZeroMemory(headers, sizeof headers);
    SecureZeroMemory(text, sizeof text);
    return sent;
}

void setReason(HopOutcome* outcome, const char* reason) {
    std::snprintf(outcome->reason, sizeof outcome->reason, "%s", reason);
}

// Feeds the response stage until it is complete or failed, the peer closes or the connection
// breaks, the stall limit passes, or the pass ends.
void receiveResponse(SOCKET socket, const FetchRequest* request, unsigned long passStarted,
                     HttpResponse* response, HopOutcome* outcome) {
    char* buffer = static_cast<char*>(std::malloc(fetchReadLimit));
    if (buffer == nullptr) {
        setReason(outcome, "out of memory");
        return;
    }
    unsigned long idleSince = GetTickCount();
    ResponseProgress progress = responseNeedMore;
    while (progress == responseNeedMore) {
        int count = recv(socket, buffer, fetchReadLimit, 0);
        if (count > 0) {
            idleSince = GetTickCount();
            progress = feedResponse(response, buffer, static_cast<size_t>(count));
            // However fast the bytes come, the pass keeps its overall bound and stop promptness.
            if (progress == responseNeedMore && passOver(request, passStarted)) {
                setReason(outcome, request->stop && *request->stop ? "stopped" : "timed out");
                break;
            }
            continue;
        }
        if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            WaitResult waited = waitForSocket(socket, false, idleSince, request, passStarted);
            if (waited == socketReady)
                continue;
            if (waited != socketFailed) {
                setReason(outcome, waitReason(waited));
                break;
            }
        }
        if (count == SOCKET_ERROR) {
            // A broken connection never passes for the end of a body without a length.
            setReason(outcome, "connection reset");
            break;
        }
        // The peer closed: the stage decides whether what arrived is a whole response.
        progress = finishResponse(response);
        if (progress == responseNeedMore) {
            setReason(outcome, "connection closed early");
            break;
        }
    }
    if (progress == responseComplete)
        outcome->complete = true;
    else if (progress == responseFailed)
        setReason(outcome,
                  response->failureReason[0] ? response->failureReason : "not an HTTP response");
    std::free(buffer);
}

} // namespace

bool (*lookUpHostName)(const char* name, unsigned long* address) = systemLookUp;

size_t formatRequestHeaders(const FetchRequest* request, char* out, size_t outSize) {
    const char* ownAgent = "FeedMarquee/" FM_VERSION;
    // A feed's own User-Agent text goes out only as one clean header line.
    const char* agent = request != nullptr ? request->userAgent : nullptr;
    size_t agentLength = agent != nullptr ? std::strlen(agent) : 0;
    for (size_t i = 0; i < agentLength && agent != nullptr; ++i)
        if (static_cast<unsigned char>(agent[i]) < 0x20 || agent[i] == 0x7F)
            agent = nullptr;
    if (agent == nullptr || agentLength == 0 || agentLength > fetchUserAgentLimit)
        agent = ownAgent;
    int written = std::snprintf(out, outSize,
                                "Accept: application/rss+xml, application/rdf+xml, "
                                "application/atom+xml, application/xml;q=0.9, text/xml;q=0.9, "
                                "*/*;q=0.8\r\n"
                                "User-Agent: %s\r\n"
                                "Accept-Encoding: gzip, deflate\r\n",
                                agent);
    if (written < 0 || static_cast<size_t>(written) >= outSize) {
        if (outSize > 0)
            out[0] = '\0';
        return 0;
    }
    size_t length = static_cast<size_t>(written);
    const struct {
        const char* name;
        const char* value;
    } validators[] = {{"If-None-Match", request ? request->etag : nullptr},
                      {"If-Modified-Since", request ? request->lastModified : nullptr},
                      {"Authorization", request ? request->authorization : nullptr}};
    for (const auto& validator : validators) {
        const char* value = validator.value;
        if (value == nullptr || value[0] == '\0' || std::strlen(value) >= fetchValidatorSize)
            continue;
        bool clean = true;
        for (const unsigned char* c = reinterpret_cast<const unsigned char*>(value); *c; ++c)
            clean = clean && *c >= 0x20 && *c != 0x7f;
        if (!clean)
            continue;
        written =
            std::snprintf(out + length, outSize - length, "%s: %s\r\n", validator.name, value);
        if (written < 0 || static_cast<size_t>(written) >= outSize - length) {
            out[length] = '\0';
            break;
        }
        length += static_cast<size_t>(written);
    }
    return length;
}

bool passOver(const FetchRequest* request, unsigned long passStarted) {
    return (request->stop && *request->stop) || GetTickCount() - passStarted >= fetchPassLimitMs;
}

void fetchHttpHop(const char* url, const FetchRequest* request, unsigned long passStarted,
                  HttpResponse* response, HopOutcome* outcome) {
    outcome->complete = false;
    outcome->reason[0] = '\0';
    if (!beginResponse(response, true)) {
        setReason(outcome, "out of memory");
        return;
    }
    UrlParts parts;
    if (!splitUrl(url, &parts)) {
        setReason(outcome, "invalid address");
        return;
    }
    unsigned long address = 0;
    if (passOver(request, passStarted)) {
        setReason(outcome, request->stop && *request->stop ? "stopped" : "timed out");
        return;
    }
    const char* failed = resolveHost(parts.hostName, &address, request, passStarted);
    if (failed) {
        setReason(outcome, failed);
        return;
    }
    const char* reason = nullptr;
    SOCKET socket = openConnection(address, parts.port, request, passStarted, &reason);
    if (socket == INVALID_SOCKET) {
        setReason(outcome, reason);
        return;
    }
    if (sendRequest(socket, parts, request, passStarted))
        receiveResponse(socket, request, passStarted, response, outcome);
    else
        setReason(outcome, "connection failed");
    closesocket(socket);
}
