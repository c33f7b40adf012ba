#include "tests/feed/test_server.h"
#include <windows.h>
#include <cstdio>
#include <cstring>

namespace {

const DWORD idleLimitMs = 60000; // no server waits longer than this for anything

bool stopping(TestServer& server, DWORD waitMs = 0) {
    return WaitForSingleObject(server.stopEvent, waitMs) == WAIT_OBJECT_0;
}

// Waits until socket is readable, in short slices so that a stop ends the wait; false on stop or
// after limitMs.
bool waitReadable(TestServer& server, SOCKET socket, DWORD limitMs) {
    DWORD started = GetTickCount();
    while (!stopping(server) && GetTickCount() - started < limitMs) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket, &readable);
        timeval slice = {0, 50 * 1000};
        if (select(0, &readable, nullptr, nullptr, &slice) > 0)
            return true;
    }
    return false;
}

std::string readRequest(TestServer& server, SOCKET client) {
    std::string request;
    char chunk[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (!waitReadable(server, client, 5000))
            break;
        int count = recv(client, chunk, sizeof chunk, 0);
        if (count <= 0)
            break;
        request.append(chunk, static_cast<size_t>(count));
    }
    return request;
}

void sendAll(SOCKET client, const std::string& data, size_t chunkSize) {
    size_t sent = 0;
    while (sent < data.size()) {
        size_t piece = data.size() - sent;
        if (chunkSize && piece > chunkSize)
            piece = chunkSize;
        if (piece > (1u << 20))
            piece = 1u << 20;
        int count = send(client, data.data() + sent, static_cast<int>(piece), 0);
        if (count <= 0)
            return;
        sent += static_cast<size_t>(count);
        // Pause now and then so that the pieces reach the client as separate reads.
        if (chunkSize && (sent / chunkSize) % 64 == 0)
            Sleep(1);
    }
}

void serveConnection(TestServer& server, SOCKET client, const std::string& response) {
    std::string request = readRequest(server, client);
    WaitForSingleObject(server.lock, INFINITE);
    server.requests.push_back(request);
    ReleaseMutex(server.lock);
    switch (server.behaviour) {
    case serveWhole:
        sendAll(client, response, 0);
        break;
    case serveSmallWrites: {
        BOOL noDelay = TRUE;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
        sendAll(client, response, server.chunkSize);
        break;
    }
    case serveCloseAtOnce:
        break;
    case serveThenSilence:
        sendAll(client, response, 0);
        stopping(server, idleLimitMs);
        break;
    case serveThenReset: {
        sendAll(client, response, 0);
        Sleep(200); // the bytes are in the client's buffer before the reset arrives
        linger abort = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
        closesocket(client);
        return;
    }
    case serveAfterRelease: {
        HANDLE events[2] = {server.stopEvent, server.releaseEvent};
        if (WaitForMultipleObjects(2, events, FALSE, idleLimitMs) == WAIT_OBJECT_0 + 1)
            sendAll(client, response, 0);
        break;
    }
    default:
        break;
    }
    shutdown(client, 1);
    closesocket(client);
}

DWORD WINAPI serverThread(void* argument) {
    TestServer& server = *static_cast<TestServer*>(argument);
    if (server.behaviour == serveNeverAccept || server.behaviour == serveBacklogFull) {
        stopping(server, idleLimitMs);
        return 0;
    }
    for (size_t index = 0;; ++index) {
        if (!waitReadable(server, server.listener, idleLimitMs))
            return 0;
        SOCKET client = accept(server.listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return 0;
        InterlockedIncrement(&server.connections);
        size_t pick = index < server.responses.size() ? index : server.responses.size() - 1;
        serveConnection(server, client, server.responses[pick]);
    }
}

SOCKET listenOnLoopback(int backlog, unsigned short* port) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return INVALID_SOCKET;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = 0;
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, backlog) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(listener);
        return INVALID_SOCKET;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

} // namespace

bool startServer(TestServer& server, ServerBehaviour behaviour, const std::string& response,
                 size_t chunkSize) {
    server.behaviour = behaviour;
    if (server.responses.empty())
        server.responses.push_back(response);
    server.chunkSize = chunkSize;
    server.connections = 0;
    server.requests.clear();
    server.thread = nullptr;
    server.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    server.releaseEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    server.lock = CreateMutexA(nullptr, FALSE, nullptr);
    server.listener = listenOnLoopback(behaviour == serveBacklogFull ? 1 : 8, &server.port);
    if (server.listener == INVALID_SOCKET)
        return false;
    if (behaviour == serveBacklogFull) {
        // Connections that are never accepted fill the queue; later attempts go unanswered.
        sockaddr_in address;
        std::memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        address.sin_port = htons(server.port);
        for (int i = 0; i < 6; ++i) {
            SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(filler, FIONBIO, &nonBlocking);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            server.fillers.push_back(filler);
        }
        Sleep(300);
    }
    server.thread = CreateThread(nullptr, 0, serverThread, &server, 0, nullptr);
    return server.thread != nullptr;
}

void stopServer(TestServer& server) {
    if (server.stopEvent)
        SetEvent(server.stopEvent);
    if (server.thread) {
        WaitForSingleObject(server.thread, 10000);
        CloseHandle(server.thread);
        server.thread = nullptr;
    }
    if (server.listener != INVALID_SOCKET)
        closesocket(server.listener);
    server.listener = INVALID_SOCKET;
    for (SOCKET filler : server.fillers)
        closesocket(filler);
    server.fillers.clear();
    for (void** handle : {&server.stopEvent, &server.releaseEvent, &server.lock}) {
        if (*handle)
            CloseHandle(*handle);
        *handle = nullptr;
    }
}

void releaseServer(TestServer& server) {
    SetEvent(server.releaseEvent);
}

bool waitForConnections(TestServer& server, long count, unsigned long timeoutMs) {
    DWORD started = GetTickCount();
    while (server.connections < count) {
        if (GetTickCount() - started >= timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

std::vector<std::string> recordedRequests(TestServer& server) {
    WaitForSingleObject(server.lock, INFINITE);
    std::vector<std::string> copy = server.requests;
    ReleaseMutex(server.lock);
    return copy;
}

std::string serverUrl(const TestServer& server, const char* path) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "http://127.0.0.1:%u", server.port);
    return std::string(prefix) + path;
}

unsigned short unusedPort() {
    unsigned short port = 0;
    SOCKET listener = listenOnLoopback(1, &port);
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    return port;
}

WinsockSession::WinsockSession() {
    WSADATA data;
    WSAStartup(0x0101, &data);
}

WinsockSession::~WinsockSession() {
    WSACleanup();
}
