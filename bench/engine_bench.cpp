// The update engine with 50 feeds of 100 items on 127.0.0.1, 10 of them slow (they answer only
// after the measurement): prints the time until every responsive feed has its headlines and what
// the 50 feeds cost the shipped build's heap (lists, engine state, seen keys). Prints figures;
// asserts nothing. Run under Wine: scripts/wine-run.sh build/win32/engine_bench.exe
#include <windows.h>
#include <malloc.h>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_feed.h"
#include "feed/feed_engine.h"
#include "tests/feed/test_server.h"

namespace {

// The feed document behind an HTTP/1.0 answer, as a server sends it.
std::string feedOf(int salt) {
    return "HTTP/1.0 200 OK\r\nContent-Type: application/rss+xml\r\n\r\n" + benchFeedOf(100, salt);
}

} // namespace

int main() {
    WinsockSession winsock;
    const int feeds = 50, slow = 10;
    std::vector<TestServer> servers(feeds);
    std::vector<std::string> urls;
    for (int i = 0; i < feeds; ++i) {
        if (!startServer(servers[i], i % 5 == 4 ? serveAfterRelease : serveWhole, feedOf(i))) {
            std::printf("no server\n");
            return 1;
        }
        urls.push_back(serverUrl(servers[i], "/feed"));
    }
    std::vector<FeedSpec> specs;
    for (const std::string& url : urls)
        specs.push_back(FeedSpec{url.c_str(), nullptr, nullptr, nullptr, nullptr});
    EngineOptions options = {15, true, true, true, 10000};

    size_t before = benchHeapInUse();
    DWORD started = GetTickCount();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs.data(), feeds, &options);
    int shown = 0;
    while (GetTickCount() - started < 60000) {
        engineRunDue(engine, engineClock());
        shown = 0;
        for (int i = 0; i < feeds; ++i)
            shown += engineFeedHasHeadlines(engine, i);
        if (shown == feeds - slow)
            break;
        Sleep(5);
    }
    double seconds = (GetTickCount() - started) / 1000.0;
    // The slow feeds answer now, so that every feed holds its list when the heap is counted.
    for (int i = 0; i < feeds; ++i)
        if (i % 5 == 4)
            releaseServer(servers[i]);
    while (GetTickCount() - started < 60000 && engineFeedPasses(engine, -1) < feeds) {
        engineRunDue(engine, engineClock());
        Sleep(5);
    }
    size_t after = benchHeapInUse();
    std::printf("%d responsive feeds of 100 items shown in %.2f s beside %d slow ones\n",
                feeds - slow, seconds, slow);
    std::printf("50 feeds: %.1f KB of heap per 100-item feed (lists, state, seen keys)\n",
                (after - before) / 1024.0 / feeds);
    destroyFeedEngine(engine);
    for (TestServer& server : servers)
        stopServer(server);
    return 0;
}
