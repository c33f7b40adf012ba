// The HTTP/1.0 client: splits the address, connects, sends one GET request and reads until the
// server closes. The socket is non-blocking while connecting and receiving, and every wait goes
// through select() in slices of at most 250 ms, so that a stop request or a silent server ends
// the fetch promptly instead of leaving the worker blocked in the network.
#include "feed/http_fetch.h"
#include <cstdlib>
#include <cstring>
#include "feed/update_worker.h"

unsigned long fetchStallLimitMs = 30000;

namespace {

const size_t minimumFreeRoom = 4096; // the buffer always keeps this much room beyond the data
const unsigned long waitSliceMs = 250;
const size_t lengthHintLimit = 256u << 20;  // larger announced lengths are not trusted for sizing
const size_t headerSearchLimit = 64u << 10; // headers are looked for in this many first bytes

// The pieces of an address, pointing into the caller's text except where noted.
struct UrlParts {
    const char* hostPart; // host as written, port suffix included: the Host line
    size_t hostPartLength;
    char hostName[256]; // the host without its port suffix, zero-terminated
    unsigned short port;
    const char* path; // from the '/' after the host to the end, query and fragment included
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

// Splits "http://host[:port]/path". False for another scheme, a missing "//" or path, an empty
// host, a malformed or out-of-range port, or a host name too long for any resolver.
bool splitUrl(const char* url, UrlParts* parts) {
    if (url == nullptr)
        return false;
    const char* colon = std::strchr(url, ':');
    if (colon == nullptr || !isHttpScheme(url, colon) || colon[1] != '/' || colon[2] != '/')
        return false;
    const char* hostStart = colon + 3;
    const char* slash = std::strchr(hostStart, '/');
    if (slash == nullptr || slash == hostStart)
        return false;
    parts->hostPart = hostStart;
    parts->hostPartLength = static_cast<size_t>(slash - hostStart);
    parts->path = slash;

    const char* portColon =
        static_cast<const char*>(std::memchr(hostStart, ':', parts->hostPartLength));
    const char* nameEnd = portColon ? portColon : slash;
    size_t nameLength = static_cast<size_t>(nameEnd - hostStart);
    if (nameLength == 0 || nameLength >= sizeof parts->hostName)
        return false;
    std::memcpy(parts->hostName, hostStart, nameLength);
    parts->hostName[nameLength] = '\0';

    parts->port = 80;
    if (portColon) {
        const char* digit = portColon + 1;
        if (digit == slash)
            return false;
        if (slash - digit > 5)
            return false;
        unsigned long port = 0;
        for (; digit < slash; ++digit) {
            if (*digit < '0' || *digit > '9')
                return false;
            port = port * 10 + static_cast<unsigned long>(*digit - '0');
            if (port > 65535)
                return false;
        }
        if (port == 0)
            return false;
        parts->port = static_cast<unsigned short>(port);
    }
    return true;
}

// The IPv4 address of name: a dotted address as it stands, anything else through the resolver.
bool resolveHost(const char* name, unsigned long* address) {
    unsigned long dotted = inet_addr(name);
    if (dotted != INADDR_NONE) {
        *address = dotted;
        return true;
    }
    hostent* entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(address, entry->h_addr_list[0], 4);
    return true;
}

enum WaitResult { socketReady, waitGaveUp, socketFailed };

// Waits until the socket is readable (or, while connecting, connected or failed). Gives up when
// stopRequested is set or nothing happened for fetchStallLimitMs since idleSince.
WaitResult waitForSocket(SOCKET socket, bool connecting, unsigned long idleSince) {
    for (;;) {
        if (stopRequested)
            return waitGaveUp;
        unsigned long idle = GetTickCount() - idleSince;
        if (idle >= fetchStallLimitMs)
            return waitGaveUp;
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

bool setBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// Connects a new socket to address:port; INVALID_SOCKET on failure, refusal, stop or stall.
SOCKET openConnection(unsigned long address, unsigned short port) {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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
        } else if (WSAGetLastError() == WSAEWOULDBLOCK &&
                   waitForSocket(socket, true, started) == socketReady) {
            int error = 0;
            int length = sizeof error;
            connected = getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                   &length) == 0 &&
                        error == 0;
        }
    }
    if (!connected) {
        closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

// The request as the server must see it: four lines, no header beyond Accept and Host.
void sendRequest(SOCKET socket, const UrlParts& parts) {
    // The host part is a name of under 256 characters and at most six more for the port.
    char host[sizeof parts.hostName + 8];
    std::memcpy(host, parts.hostPart, parts.hostPartLength);
    host[parts.hostPartLength] = '\0';
    // A few hundred bytes on a fresh connection never fill the send buffer, so blocking sends
    // return at once; receiving switches back to non-blocking.
    setBlocking(socket, true);
    sendText(socket, "GET ");
    sendText(socket, parts.path);
    sendText(socket, " HTTP/1.0\r\n");
    sendText(socket, "Accept: */*\r\n");
    sendText(socket, "Host: ");
    sendText(socket, host);
    sendText(socket, "\r\n");
    sendText(socket, "\r\n");
    setBlocking(socket, false);
}

// The whole response's length when its headers (which end at headerEnd, the blank line) announce
// one ("Content-Length"), so that the buffer can be sized once instead of growing step by step; 0
// when there is none. Only a hint: the download still runs until the server closes.
size_t announcedLength(const char* response, const char* headerEnd) {
    const char* key = "content-length:";
    const size_t keyLength = std::strlen(key);
    for (const char* line = response; line && line < headerEnd;) {
        const char* next = std::strstr(line, "\r\n");
        size_t i = 0;
        while (i < keyLength && line + i < headerEnd) {
            char c = line[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != key[i])
                break;
            ++i;
        }
        if (i == keyLength) {
            const char* digit = line + keyLength;
            while (*digit == ' ' || *digit == '\t')
                ++digit;
            size_t length = 0;
            for (; *digit >= '0' && *digit <= '9'; ++digit) {
                length = length * 10 + static_cast<size_t>(*digit - '0');
                if (length > lengthHintLimit)
                    return 0;
            }
            return static_cast<size_t>(headerEnd + 4 - response) + length;
        }
        line = next ? next + 2 : nullptr;
    }
    return 0;
}

// Writes one byte into every page of the area about to be received into. A fresh page that the
// receive itself has to map costs several times more under Wine than one mapped by this write.
void touchPages(char* area, size_t size) {
    for (size_t offset = 0; offset < size; offset += 4096)
        static_cast<volatile char*>(area)[offset] = 0;
}

// Makes the capacity at least wanted; false when memory runs out (the buffer stays as it was).
bool growBuffer(char** buffer, size_t* capacity, size_t wanted) {
    if (wanted <= *capacity)
        return true;
    char* larger = static_cast<char*>(std::realloc(*buffer, wanted));
    if (larger == nullptr)
        return false;
    *buffer = larger;
    *capacity = wanted;
    return true;
}

// Reads until the peer closes (or the connection breaks, a stop is requested, or the stall limit
// passes) into a buffer that grows geometrically, so that receiving n bytes costs O(n). Null when
// memory runs out, or when the stall limit ended a download in which nothing arrived.
char* receiveAll(SOCKET socket) {
    size_t capacity = minimumFreeRoom;
    size_t received = 0;
    char* buffer = static_cast<char*>(std::malloc(capacity));
    if (buffer == nullptr)
        return nullptr;
    buffer[0] = '\0';
    bool sized = false;  // the announced length was looked for
    size_t searched = 0; // bytes already searched for the end of the headers
    unsigned long idleSince = GetTickCount();
    while (!stopRequested) {
        // One byte of the free room stays for the terminator.
        size_t ask = capacity - received - 1;
        if (ask > static_cast<size_t>(fetchReadLimit))
            ask = static_cast<size_t>(fetchReadLimit);
        touchPages(buffer + received, ask);
        int count = recv(socket, buffer + received, static_cast<int>(ask), 0);
        if (count == 0)
            break;
        if (count == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                break; // a broken connection keeps what arrived
            WaitResult waited = waitForSocket(socket, false, idleSince);
            if (waited == socketReady)
                continue;
            if (waited == waitGaveUp && received == 0 && !stopRequested) {
                std::free(buffer);
                return nullptr;
            }
            break;
        }
        received += static_cast<size_t>(count);
        buffer[received] = '\0';
        idleSince = GetTickCount();
        if (!sized) {
            // Each search goes on where the last one stopped, so slow servers cost no rescans.
            const char* headerEnd =
                std::strstr(buffer + (searched > 3 ? searched - 3 : 0), "\r\n\r\n");
            searched = received;
            sized = headerEnd != nullptr || received >= headerSearchLimit;
            size_t announced = headerEnd ? announcedLength(buffer, headerEnd) : 0;
            // Sizing by the hint is optional: without the memory the buffer grows as usual.
            if (announced > received)
                growBuffer(&buffer, &capacity, announced + minimumFreeRoom);
        }
        if (capacity - received < minimumFreeRoom) {
            size_t grown = capacity * 2;
            if (grown < capacity || !growBuffer(&buffer, &capacity, grown)) {
                std::free(buffer);
                return nullptr;
            }
        }
    }
    return buffer;
}

} // namespace

int sendText(SOCKET socket, const char* text) {
    return send(socket, text, static_cast<int>(std::strlen(text)), 0);
}

char* fetchUrl(const char* url) {
    UrlParts parts;
    if (!splitUrl(url, &parts))
        return nullptr;
    unsigned long address = 0;
    if (stopRequested || !resolveHost(parts.hostName, &address))
        return nullptr;
    SOCKET socket = openConnection(address, parts.port);
    if (socket == INVALID_SOCKET)
        return nullptr;
    sendRequest(socket, parts);
    char* response = receiveAll(socket);
    closesocket(socket);
    return response;
}
