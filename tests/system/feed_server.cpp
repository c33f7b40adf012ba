#include "tests/system/feed_server.h"
#include <winsock2.h>
#include <windows.h>
#include <vector>

namespace {

struct ServerState {
    SOCKET listener = INVALID_SOCKET;
    std::vector<SOCKET> held; // stalled connections, kept silent until the server stops
    HANDLE thread = nullptr;
    volatile LONG stopping = 0;
    volatile LONG requests = 0;
    CRITICAL_SECTION lock;
    FeedBehaviour behaviour = answerFeed;
    std::string body;
    unsigned long delayMs = 0;
    std::string lastRequest;
};

const char head[] = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n";

// Reads the request head (bounded in time and size) into request; true when a whole head arrived.
bool readRequest(SOCKET client, std::string& request) {
    DWORD start = GetTickCount();
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
           GetTickCount() - start < 3000) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        timeval wait = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        char buffer[2048];
        int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        request.append(buffer, got);
    }
    return request.find("\r\n\r\n") != std::string::npos;
}

void sendAll(SOCKET client, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        int result = send(client, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (result <= 0)
            return;
        sent += static_cast<size_t>(result);
    }
}

void serve(ServerState* state, SOCKET client) {
    std::string request;
    if (!readRequest(client, request)) {
        closesocket(client);
        return;
    }
    EnterCriticalSection(&state->lock);
    state->lastRequest = request;
    LeaveCriticalSection(&state->lock);
    InterlockedIncrement(&state->requests);
    EnterCriticalSection(&state->lock);
    FeedBehaviour behaviour = state->behaviour;
    std::string body = state->body;
    unsigned long delayMs = state->delayMs;
    LeaveCriticalSection(&state->lock);
    if (behaviour == stallAfterHead) {
        sendAll(client, head);
        state->held.push_back(client);
        return;
    }
    if (behaviour == closeAtOnce) {
        closesocket(client);
        return;
    }
    if (behaviour == dribble) {
        sendAll(client, head);
        for (size_t i = 0; i < body.size() && !state->stopping; ++i) {
            sendAll(client, body.substr(i, 1));
            for (int wait = 0; wait < 50 && !state->stopping; ++wait)
                Sleep(20);
        }
        closesocket(client);
        return;
    }
    DWORD start = GetTickCount();
    while (GetTickCount() - start < delayMs && !state->stopping)
        Sleep(20);
    sendAll(client, behaviour == answerRaw ? body : head + body);
    shutdown(client, SD_SEND);
    // Let the client read to the end before the socket goes away (bounded).
    start = GetTickCount();
    char buffer[256];
    while (GetTickCount() - start < 1000) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        timeval wait = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) > 0 &&
            recv(client, buffer, sizeof buffer, 0) <= 0)
            break;
    }
    closesocket(client);
}

DWORD WINAPI serverThread(void* data) {
    ServerState* state = static_cast<ServerState*>(data);
    while (!state->stopping) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(state->listener, &readable);
        timeval wait = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        SOCKET client = accept(state->listener, nullptr, nullptr);
        if (client != INVALID_SOCKET) {
            SetHandleInformation(reinterpret_cast<HANDLE>(client), HANDLE_FLAG_INHERIT, 0);
            serve(state, client);
        }
    }
    return 0;
}

} // namespace

bool startFeedServer(FeedServer& server) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    ServerState* state = new ServerState;
    InitializeCriticalSection(&state->lock);
    server.state = state;
    state->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (state->listener == INVALID_SOCKET ||
        bind(state->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(state->listener, 8) != 0 ||
        getsockname(state->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    server.port = ntohs(address.sin_port);
    // The shell is started with inherited handles (its pipes); a listener it inherited would keep
    // the port open after the server stops, and connections would hang instead of being refused.
    SetHandleInformation(reinterpret_cast<HANDLE>(state->listener), HANDLE_FLAG_INHERIT, 0);
    state->thread = CreateThread(nullptr, 0, serverThread, state, 0, nullptr);
    return state->thread != nullptr;
}

void setFeedResponse(FeedServer& server, FeedBehaviour behaviour, const std::string& body,
                     unsigned long delayMs) {
    ServerState* state = static_cast<ServerState*>(server.state);
    if (!state)
        return;
    EnterCriticalSection(&state->lock);
    state->behaviour = behaviour;
    state->body = body;
    state->delayMs = delayMs;
    LeaveCriticalSection(&state->lock);
}

long feedRequests(FeedServer& server) {
    ServerState* state = static_cast<ServerState*>(server.state);
    return state ? state->requests : 0;
}

std::string lastFeedRequest(FeedServer& server) {
    ServerState* state = static_cast<ServerState*>(server.state);
    if (!state)
        return "";
    EnterCriticalSection(&state->lock);
    std::string request = state->lastRequest;
    LeaveCriticalSection(&state->lock);
    return request;
}

void stopFeedServer(FeedServer& server) {
    ServerState* state = static_cast<ServerState*>(server.state);
    if (!state)
        return;
    state->stopping = 1;
    if (state->thread) {
        WaitForSingleObject(state->thread, 5000);
        CloseHandle(state->thread);
    }
    if (state->listener != INVALID_SOCKET)
        closesocket(state->listener);
    for (SOCKET held : state->held)
        closesocket(held);
    DeleteCriticalSection(&state->lock);
    delete state;
    server.state = nullptr;
    WSACleanup();
}

std::string feedServerUrl(const FeedServer& server, const char* path) {
    return "http://127.0.0.1:" + std::to_string(server.port) + path;
}

std::string rssWithItems(const char* title, const std::vector<std::string>& items) {
    std::string body = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>";
    body += title;
    body += "</title>\n";
    for (const std::string& item : items) {
        size_t at = item.find('@');
        std::string name = item.substr(0, at);
        body += "<item><title>" + name + "</title><link>http://example.com/" + name + "</link>";
        if (at != std::string::npos)
            body += "<pubDate>" + item.substr(at + 1) + "</pubDate>";
        body += "</item>\n";
    }
    return body + "</channel></rss>\n";
}
