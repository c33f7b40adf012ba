// A small HTTP server for the fetch and worker tests: a thread of the test program, listening on
// 127.0.0.1 only, serving one scripted behaviour per connection and recording what it was sent.
// Every wait in it is bounded, so a broken client can't hang the test run.
#pragma once
#include <winsock.h>
#include <string>
#include <vector>

enum ServerBehaviour {
    serveWhole,        // the response in one go, then a graceful close
    serveSmallWrites,  // the response in writes of chunkSize bytes, then a graceful close
    serveCloseAtOnce,  // reads the request and closes without sending
    serveThenSilence,  // sends the response, then keeps the connection open and silent
    serveNeverAccept,  // listens but never accepts
    serveThenReset,    // sends the response, then resets the connection
    serveAfterRelease, // waits for releaseServer() before sending the response
    serveBacklogFull,  // a full accept queue: connection attempts get no answer at all
};

struct TestServer {
    ServerBehaviour behaviour;
    std::vector<std::string> responses; // one per connection, the last one repeated
    size_t chunkSize;
    unsigned short port;
    // Filled by the server thread; read them after waitForConnections() or stopServer().
    volatile long connections;
    std::vector<std::string> requests;
    // Private.
    SOCKET listener;
    std::vector<SOCKET> fillers;
    void* thread;
    void* stopEvent;
    void* releaseEvent;
    void* lock;
};

// Starts a server on an ephemeral port of 127.0.0.1; false when it could not listen.
bool startServer(TestServer& server, ServerBehaviour behaviour, const std::string& response,
                 size_t chunkSize = 0);
// Ends the server thread and closes every socket; safe on a server that failed to start.
void stopServer(TestServer& server);
// Lets a serveAfterRelease server answer.
void releaseServer(TestServer& server);
// Waits until the server has accepted count connections (at most timeoutMs); true when it has.
bool waitForConnections(TestServer& server, long count, unsigned long timeoutMs);
// A copy of the requests recorded so far.
std::vector<std::string> recordedRequests(TestServer& server);

// "http://127.0.0.1:<port>" followed by path.
std::string serverUrl(const TestServer& server, const char* path);
// A port on 127.0.0.1 that nothing listens on (bound, then released).
unsigned short unusedPort();

// Starts Winsock 1.1 for the test program (the DLL does it at process attach).
struct WinsockSession {
    WinsockSession();
    ~WinsockSession();
};
