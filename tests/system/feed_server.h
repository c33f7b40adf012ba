// A feed server for the system tests: a thread of the test program listening on 127.0.0.1 only.
// It answers every request with the behaviour set last (the feed at once or after a delay, or the
// headers followed by silence), counts the requests it has read, and once stopped refuses
// connections. Every wait in it is bounded.
#pragma once
#include <string>
#include <vector>

enum FeedBehaviour {
    answerFeed,     // the status line, headers and body, after delayMs, then a graceful close
    stallAfterHead, // the status line and headers, then silence until the server stops
    answerRaw,      // body is the whole response (status line, headers, body), then a close
    closeAtOnce,    // reads the request and closes without a byte
    dribble,        // the status line and headers, then the body one byte a second
};

struct FeedServer {
    unsigned short port = 0;
    // Private to feed_server.cpp.
    void* state = nullptr;
};

// Starts the server on an ephemeral port of 127.0.0.1; false when it could not listen.
bool startFeedServer(FeedServer& server);
// What the following requests get: behaviour with body (the document) after delayMs.
void setFeedResponse(FeedServer& server, FeedBehaviour behaviour, const std::string& body,
                     unsigned long delayMs = 0);
// The number of requests read so far.
long feedRequests(FeedServer& server);
// The head of the last request read (empty before the first).
std::string lastFeedRequest(FeedServer& server);
// Closes the listener and every held connection and ends the thread; later connection attempts
// are refused. Safe to call twice and on a server that failed to start.
void stopFeedServer(FeedServer& server);
// "http://127.0.0.1:<port>" followed by path.
std::string feedServerUrl(const FeedServer& server, const char* path);
// An RSS 2.0 document titled title with one item per entry of items: "name" or "name@date", the
// item titled name, linked to http://example.com/name, with date as its pubDate.
std::string rssWithItems(const char* title, const std::vector<std::string>& items);
