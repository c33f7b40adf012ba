// The update engine with 50 feeds of 100 items on 127.0.0.1, 10 of them slow (they answer only
// after the measurement): prints the time until every responsive feed has its headlines and what
// the 50 feeds cost the shipped build's heap (lists, engine state, seen keys). Prints figures;
// asserts nothing. Run under Wine: scripts/wine-run.sh build/win32/engine_bench.exe
#include <windows.h>
#include <malloc.h>
#include <cstdio>
#include <string>
#include <vector>

#include "feed/feed_engine.h"
#include "tests/feed/test_server.h"

namespace {

std::string feedOf(int salt) {
    std::string text = "HTTP/1.0 200 OK\r\nContent-Type: application/rss+xml\r\n\r\n"
                       "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Site " +
                       std::to_string(salt) + "</title><link>https://news.example.com/</link>\n";
    char item[1024];
    for (int i = 0; i < 100; ++i) {
        std::snprintf(item, sizeof item,
                      "<item><title>Council agrees on the harbour plan, story %d of feed %d</title>"
                      "<link>https://news.example.com/2026/12/08/harbour-plan-%d-%d.html</link>"
                      "<guid>https://news.example.com/?p=%d%d</guid>"
                      "<pubDate>Tue, 08 Dec 2026 14:%02d:00 GMT</pubDate><description>&lt;p&gt;"
                      "The council met on Tuesday to discuss the plan for the old harbour; a "
                      "decision is expected next week after a public hearing at the town "
                      "hall.&lt;/p&gt;</description></item>\n",
                      i, salt, i, salt, salt, i, i % 60);
        text += item;
    }
    return text + "</channel></rss>\n";
}

size_t heapInUse() {
    _HEAPINFO info = {};
    size_t used = 0;
    while (_heapwalk(&info) == _HEAPOK)
        if (info._useflag == _USEDENTRY)
            used += info._size;
    return used;
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

    size_t before = heapInUse();
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
    size_t after = heapInUse();
    std::printf("%d responsive feeds of 100 items shown in %.2f s beside %d slow ones\n",
                feeds - slow, seconds, slow);
    std::printf("50 feeds: %.1f KB of heap per 100-item feed (lists, state, seen keys)\n",
                (after - before) / 1024.0 / feeds);
    destroyFeedEngine(engine);
    for (TestServer& server : servers)
        stopServer(server);
    return 0;
}
