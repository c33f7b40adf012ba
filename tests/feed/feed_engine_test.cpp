// The engine for a set of feeds against loopback servers: several feeds at once within the limit
// of passes, a slow feed that delays nobody, a failing one that keeps its last good headlines,
// a prompt stop, and the saved copies and seen keys across a restart.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

#include "content/key_hash.h"
#include "feed/feed_engine.h"
#include "feed/headline_cache.h"
#include "feed/seen_keys.h"
#include "tests/feed/test_server.h"
#include "tests/support/check.h"
#include "tests/support/temp_folder.h"

namespace {

WinsockSession winsock;

std::string feedResponse(const char* channel, const std::vector<std::string>& items,
                         const std::string& headers = "") {
    std::string text = "HTTP/1.0 200 OK\r\nContent-Type: application/rss+xml\r\n" + headers +
                       "\r\n<rss version=\"2.0\"><channel><title>" + channel + "</title>\n";
    for (const std::string& item : items)
        text += "<item><title>" + item + "</title><guid>urn:" + item + "</guid></item>\n";
    return text + "</channel></rss>\n";
}

std::string shown(FeedEngine* engine, int feed) {
    std::string text;
    for (const FeedItem* e = engineFeedList(engine, feed)->first; e != nullptr; e = e->next)
        text += std::string("[") + (e->title ? e->title : "") + "]";
    return text;
}

int running(FeedEngine* engine) {
    int n = 0;
    for (int i = 0; i < engineFeedCount(engine); ++i)
        n += engineFeedRunning(engine, i);
    return n;
}

int mostRunning; // the most passes seen running at once by settle

// Runs the engine (as the window's timer and messages would) until done() holds; false after ms.
template <typename Done> bool settle(FeedEngine* engine, Done done, DWORD ms = 10000) {
    DWORD started = GetTickCount();
    while (GetTickCount() - started < ms) {
        engineRunDue(engine, engineClock());
        int now = running(engine);
        if (now > mostRunning)
            mostRunning = now;
        if (done())
            return true;
        Sleep(10);
    }
    return false;
}

const FeedItem* itemTitled(FeedEngine* engine, int feed, const char* title) {
    for (const FeedItem* e = firstItem(engineFeedList(engine, feed)); e != nullptr; e = e->next)
        if (std::string(e->title) == title)
            return e;
    return nullptr;
}

EngineOptions options() {
    EngineOptions o = {};
    o.updateIntervalMinutes = 15;
    o.keepHeadlines = true;
    o.convertCharset = true;
    o.markNew = true;
    o.stopWaitMs = 10000;
    return o;
}

} // namespace

TEST(feedsUpdateSideBySideWithinTheLimitAndASlowOrFailingOneHoldsUpNobody) {
    TestServer fine{}, failing{};
    REQUIRE(startServer(fine, serveWhole, feedResponse("Fine", {"f1", "f2"})));
    failing.responses = {feedResponse("Failing", {"b1"}),
                         "HTTP/1.0 500 Internal Server Error\r\n\r\n"};
    REQUIRE(startServer(failing, serveWhole, ""));
    TestServer held[4] = {};
    for (TestServer& server : held)
        REQUIRE(startServer(server, serveAfterRelease, feedResponse("Slow", {"s1"})));
    std::vector<std::string> urls = {serverUrl(held[0], "/"), serverUrl(held[1], "/"),
                                     serverUrl(held[2], "/"), serverUrl(fine, "/"),
                                     serverUrl(failing, "/"), serverUrl(held[3], "/")};
    std::vector<FeedSpec> specs;
    for (const std::string& url : urls)
        specs.push_back(FeedSpec{url.c_str(), nullptr, nullptr, nullptr, nullptr});
    EngineOptions o = options();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    REQUIRE(engine != nullptr);
    unsigned long slowAfter = engineSlowPassMs;
    engineSlowPassMs = 60000; // here no pass is slow, however loaded the machine
    engineConfigure(engine, specs.data(), 6, &o);
    CHECK_EQ(shown(engine, 3), "[Connecting...]");
    mostRunning = 0;

    // Three slow feeds take three of the four slots; the fine and the failing one pass through
    // the fourth, and the last slow one gets it after them.
    REQUIRE(
        settle(engine, [&] { return engineFeedPasses(engine, 4) == 1 && running(engine) == 4; }));
    CHECK_EQ(mostRunning, engineMaxPasses);
    CHECK_EQ(shown(engine, 3), "[Fine][f1][f2]");
    CHECK_EQ(shown(engine, 4), "[Failing][b1]");
    CHECK(std::string(engineFeedHealth(engine, 3)).find("Updated ") == 0);
    CHECK_EQ(shown(engine, 0), "[Connecting...]");
    REQUIRE(waitForConnections(held[3], 1, 5000));
    CHECK(engineFeedRunning(engine, 5));

    // "Update Now" for a feed whose pass runs starts no second pass for it.
    engineUpdateNow(engine, 0);
    settle(
        engine, [] { return false; }, 300);
    CHECK_EQ(held[0].connections, 1L);

    // When a slow feed answers, its slot goes to the next due feed. A failure keeps the last good
    // headlines, marked stale, with the reason in the health line.
    engineUpdateNow(engine, 4);
    releaseServer(held[0]);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 4) == 2; }));
    CHECK_EQ(shown(engine, 0), "[Slow][s1]");
    CHECK_EQ(shown(engine, 4), "[Failing][b1]");
    CHECK(engineFeedStale(engine, 4) && !engineFeedStale(engine, 3));
    CHECK(std::string(engineFeedHealth(engine, 4)).find("HTTP 500 Internal Server Error") !=
          std::string::npos);
    CHECK_EQ(held[0].connections, 1L);
    CHECK_EQ(mostRunning, engineMaxPasses);

    // The stop does not wait for the three silent servers, and nothing comes back afterwards.
    DWORD started = GetTickCount();
    engineStop(engine);
    DWORD took = GetTickCount() - started;
    std::printf("engineStop with three silent servers: %lu ms\n", took);
    CHECK(took < 5000);
    CHECK_EQ(running(engine), 0);
    for (TestServer& server : held)
        releaseServer(server);
    Sleep(300);
    CHECK_EQ(engineTakeFinished(engine), 0);
    CHECK_EQ(shown(engine, 1), "[Connecting...]");
    CHECK_EQ(shown(engine, 3), "[Fine][f1][f2]");
    destroyFeedEngine(engine);
    engineSlowPassMs = slowAfter;
    for (TestServer& server : held)
        stopServer(server);
    stopServer(fine);
    stopServer(failing);
}

TEST(savedCopiesAndSeenKeysCarryEachFeedAcrossARestart) {
    TempFolder folder("engine");
    std::string cacheX = folder.file("x.cache"), seenX = folder.file("x.seen");
    std::string cacheY = folder.file("y.cache"), seenY = folder.file("y.seen");
    TestServer x{}, y{};
    x.responses = {feedResponse("X", {"x1", "x2"}),
                   feedResponse("X", {"x3", "x1", "x2"}, "ETag: \"x2\"\r\n"),
                   "HTTP/1.0 304 Not Modified\r\n\r\n"};
    REQUIRE(startServer(x, serveWhole, ""));
    REQUIRE(startServer(y, serveWhole, feedResponse("Y", {"y1", "y2"})));
    std::string urlX = serverUrl(x, "/x"), urlY = serverUrl(y, "/y");
    FeedSpec specs[] = {{urlX.c_str(), cacheX.c_str(), seenX.c_str(), nullptr, nullptr},
                        {urlY.c_str(), cacheY.c_str(), seenY.c_str(), nullptr, nullptr}};
    EngineOptions o = options();

    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs, 2, &o);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, -1) == 2; }));
    // The first fetch of a new feed marks nothing new; each feed has its own saved copy.
    CHECK_EQ(engineNewCount(engine, -1), 0);
    CHECK(fileExists(cacheX) && fileExists(cacheY));
    engineUpdateNow(engine, 0);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 2; }));
    CHECK_EQ(shown(engine, 0), "[X][x3][x1][x2]");
    CHECK_EQ(engineNewCount(engine, 0), 1);
    CHECK(engineItemIsNew(engine, 0, itemTitled(engine, 0, "x3")));
    CHECK(!engineItemIsNew(engine, 0, itemTitled(engine, 0, "x1")));
    // An identical body writes nothing (the marker stays in place of the saved copy).
    REQUIRE(writeFileText(cacheY, "marker"));
    engineUpdateNow(engine, 1);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 1) == 2; }));
    CHECK_EQ(readFileText(cacheY), "marker");
    destroyFeedEngine(engine);

    // Y's copy is now damaged: it costs only Y. X's saved headlines come back with their mark,
    // and X's first request is conditional; its 304 writes nothing either.
    std::string savedX = readFileText(cacheX);
    engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs, 2, &o);
    REQUIRE(settle(
        engine, [&] { return shown(engine, 0) == "[X][x3][x1][x2]"; }, 5000));
    CHECK(std::string(engineFeedHealth(engine, 0)).find("Saved headlines from ") == 0);
    CHECK_EQ(engineNewCount(engine, 0), 1);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, -1) == 2; }));
    CHECK(recordedRequests(x).back().find("If-None-Match: \"x2\"") != std::string::npos);
    CHECK(std::string(engineFeedHealth(engine, 0)).find("Not modified") == 0);
    CHECK_EQ(readFileText(cacheX), savedX);
    CHECK_EQ(shown(engine, 1), "[Y][y1][y2]");
    CHECK_EQ(engineNewCount(engine, 1), 0);

    // Marks: one item seen, then all read; both survive the next restart.
    engineMarkSeen(engine, 0, itemTitled(engine, 0, "x3"));
    CHECK_EQ(engineNewCount(engine, -1), 0);
    destroyFeedEngine(engine);
    engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs, 2, &o);
    REQUIRE(settle(
        engine, [&] { return engineFeedHasHeadlines(engine, 0); }, 5000));
    CHECK_EQ(engineNewCount(engine, -1), 0);
    destroyFeedEngine(engine);
    stopServer(x);
    stopServer(y);
}

namespace {
void slowFolder() {
    Sleep(1500);
}
} // namespace

TEST(aStopNeverWaitsForACacheWriteToASlowFolderNorPutsItInPlace) {
    TempFolder folder("slowcache");
    std::string cache = folder.file("feed.cache");
    std::vector<std::string> items;
    for (int i = 0; i < 4000; ++i)
        items.push_back("item " + std::to_string(i) + std::string(500, 'x'));
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feedResponse("Big", items))); // about 2 MB
    std::string url = serverUrl(server, "/");
    FeedSpec spec = {url.c_str(), cache.c_str(), nullptr, nullptr, nullptr};
    EngineOptions o = options();
    o.stopWaitMs = 500;
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, &spec, 1, &o);
    cacheWritePieceHook = slowFolder;
    // The first run reads the (absent) saved copy; the pass starts once that is taken.
    REQUIRE(settle(
        engine, [&] { return server.connections >= 1; }, 5000));
    // The body has arrived and the write is under way once its temporary file exists.
    for (int i = 0; i < 500 && !fileExists(cache + ".tmp"); ++i)
        Sleep(10);
    REQUIRE(fileExists(cache + ".tmp"));
    DWORD started = GetTickCount();
    engineStop(engine);
    DWORD took = GetTickCount() - started;
    std::printf("engineStop during a slow cache write: %lu ms\n", took);
    CHECK(took < 1400);
    // The abandoned write ends by itself and leaves no copy, temporary or final.
    Sleep(3500);
    CHECK(!fileExists(cache) && !fileExists(cache + ".tmp"));
    cacheWritePieceHook = nullptr;
    destroyFeedEngine(engine);
    stopServer(server);
}

TEST(aFeedWithoutItsOwnCopyTakesTheFormerOneOnlyOfItsAddress) {
    TempFolder folder("former");
    TestServer held{}, other{};
    REQUIRE(startServer(held, serveAfterRelease, feedResponse("Fresh", {"n1"})));
    REQUIRE(startServer(other, serveAfterRelease, feedResponse("Other", {"o1"})));
    std::string url = serverUrl(held, "/"), otherUrl = serverUrl(other, "/");
    std::string body = feedResponse("Former", {"f1", "f2"});
    body = body.substr(body.find("<rss"));
    CachedFeed record = {};
    record.url = url.c_str();
    record.etag = "\"f\"";
    record.savedAt = engineClock() - 60;
    std::string former = folder.file("one.cache"), formerSeen = folder.file("one.seen");
    REQUIRE(writeCacheTemporary(former.c_str(), &record, body.data(), body.size()));
    REQUIRE(commitCacheTemporary(former.c_str()));
    SeenKeys seen = {};
    addSeenKey(&seen, keyHashOf("urn:f1"));
    REQUIRE(writeSeenKeys(formerSeen.c_str(), url.c_str(), &seen));
    freeSeenKeys(&seen);
    std::string own = folder.file("own.cache"), ownSeen = folder.file("own.seen");
    std::string otherOwn = folder.file("other.cache");
    FeedSpec specs[] = {
        {url.c_str(), own.c_str(), ownSeen.c_str(), former.c_str(), formerSeen.c_str()},
        {otherUrl.c_str(), otherOwn.c_str(), nullptr, former.c_str(), formerSeen.c_str()}};
    EngineOptions o = options();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs, 2, &o);
    // The former copy shows, with its marks, before the server answers; its validators go out.
    REQUIRE(settle(
        engine, [&] { return shown(engine, 0) == "[Former][f1][f2]"; }, 5000));
    CHECK_EQ(engineNewCount(engine, 0), 1);
    REQUIRE(waitForConnections(held, 1, 5000));
    CHECK(recordedRequests(held).back().find("If-None-Match: \"f\"") != std::string::npos);
    // Another address's former copy is not taken.
    CHECK_EQ(shown(engine, 1), "[Connecting...]");
    releaseServer(held);
    releaseServer(other);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, -1) == 2; }));
    CHECK(fileExists(own) && fileExists(otherOwn));
    destroyFeedEngine(engine);
    stopServer(held);
    stopServer(other);
}

TEST(passesThatRunLongGiveTheirSlotsToTheNextFeeds) {
    TestServer held[engineMaxPasses] = {};
    for (TestServer& server : held)
        REQUIRE(startServer(server, serveAfterRelease, feedResponse("Silent", {"s"})));
    TestServer fine{};
    REQUIRE(startServer(fine, serveWhole, feedResponse("Fine", {"f"})));
    std::vector<std::string> urls;
    for (TestServer& server : held)
        urls.push_back(serverUrl(server, "/"));
    urls.push_back(serverUrl(fine, "/"));
    std::vector<FeedSpec> specs;
    for (const std::string& url : urls)
        specs.push_back(FeedSpec{url.c_str(), nullptr, nullptr, nullptr, nullptr});
    EngineOptions o = options();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs.data(), engineMaxPasses + 1, &o);
    // While the silent servers' passes are young, they hold every slot.
    DWORD started = GetTickCount();
    long long wait = engineRunDue(engine, engineClock());
    CHECK(wait > 0 && wait <= long(engineSlowPassMs));
    settle(
        engine, [] { return false; }, engineSlowPassMs / 2);
    CHECK_EQ(fine.connections, 0L);
    // Once they are slow, the last feed gets a slot while they go on.
    REQUIRE(settle(engine, [&] { return engineFeedHasHeadlines(engine, engineMaxPasses); }));
    CHECK(GetTickCount() - started >= engineSlowPassMs - 100);
    CHECK_EQ(running(engine), engineMaxPasses);
    destroyFeedEngine(engine);
    for (TestServer& server : held) {
        releaseServer(server);
        stopServer(server);
    }
    stopServer(fine);
}

TEST(aFeedLongerThanTheSeenKeysMarksOnlyWhatIsNew) {
    std::vector<std::string> items;
    for (int i = 0; i < engineSeenKeyLimit + 500; ++i)
        items.push_back("i" + std::to_string(i));
    std::vector<std::string> more = items;
    more.insert(more.begin(), "fresh");
    TestServer server{};
    server.responses = {feedResponse("Long", items), feedResponse("Long", more)};
    REQUIRE(startServer(server, serveWhole, ""));
    std::string url = serverUrl(server, "/");
    FeedSpec spec = {url.c_str(), nullptr, nullptr, nullptr, nullptr};
    EngineOptions o = options();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, &spec, 1, &o);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 1; }));
    CHECK_EQ(engineNewCount(engine, 0), 0);
    engineUpdateNow(engine, 0);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 2; }));
    CHECK_EQ(engineNewCount(engine, 0), 1);
    CHECK(engineItemIsNew(engine, 0, itemTitled(engine, 0, "fresh")));
    engineMarkAllRead(engine, 0);
    CHECK_EQ(engineNewCount(engine, 0), 0);
    destroyFeedEngine(engine);
    stopServer(server);
}

namespace {
int64_t volatile fakeNow;
int64_t fakeClock() {
    return fakeNow;
}
} // namespace

TEST(theScheduleFollowsAClockSetBackAndANewIntervalAtOnce) {
    TestServer fine{}, held{};
    REQUIRE(startServer(fine, serveWhole, feedResponse("Fine", {"f1"})));
    REQUIRE(startServer(held, serveWhole,
                        "HTTP/1.0 503 Service Unavailable\r\nRetry-After: 7200\r\n\r\n"));
    std::string url = serverUrl(fine, "/"), heldUrl = serverUrl(held, "/");
    FeedSpec specs[] = {{url.c_str(), nullptr, nullptr, nullptr, nullptr},
                        {heldUrl.c_str(), nullptr, nullptr, nullptr, nullptr}};
    int64_t (*realClock)() = engineClock;
    fakeNow = realClock();
    engineClock = fakeClock;
    EngineOptions o = options();
    o.updateIntervalMinutes = 1;
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs, 2, &o);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, -1) == 2; }));

    // The clock goes back an hour: the next pass is still one minute away, not an hour and one.
    fakeNow -= 3600;
    long long wait = engineRunDue(engine, fakeNow);
    CHECK(wait > 0 && wait <= 60000);
    CHECK(engineFeedWaitMs(engine, 0, fakeNow) <= 60000);
    fakeNow += 60;
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 2; }));

    // From one minute to an hour and back to one after five minutes: the feed is due at once,
    // and its health line names the interval in force; the server's Retry-After still holds the
    // other feed back.
    o.updateIntervalMinutes = 60;
    engineSetOptions(engine, &o);
    CHECK(std::string(engineFeedHealth(engine, 0)).find("(every 60 min)") != std::string::npos);
    CHECK(engineFeedWaitMs(engine, 0, fakeNow) > 59 * 60000LL);
    fakeNow += 5 * 60;
    engineRunDue(engine, fakeNow);
    CHECK_EQ(engineFeedPasses(engine, 0), 2);
    o.updateIntervalMinutes = 1;
    engineSetOptions(engine, &o);
    CHECK(std::string(engineFeedHealth(engine, 0)).find("(every 1 min)") != std::string::npos);
    CHECK_EQ(engineFeedWaitMs(engine, 0, fakeNow), 0LL);
    CHECK(engineFeedWaitMs(engine, 1, fakeNow) > 60 * 60000LL);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 3; }));
    CHECK_EQ(engineFeedPasses(engine, 1), 1);
    destroyFeedEngine(engine);
    engineClock = realClock;
    stopServer(fine);
    stopServer(held);
}

TEST(movedFilesAreWrittenAtTheirNewPlaceAndALongNewAddressIsNamedWhole) {
    TempFolder folder("moved");
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, ""));
    std::string target = serverUrl(server, ("/" + std::string(5000, 'n')).c_str());
    server.responses = {"HTTP/1.0 301 Moved Permanently\r\nLocation: " + target + "\r\n\r\n",
                        feedResponse("Moved", {"m1", "m2"})};
    std::string url = serverUrl(server, "/old");
    std::string cacheA = folder.file("a.cache"), seenA = folder.file("a.seen");
    std::string cacheB = folder.file("b.cache"), seenB = folder.file("b.seen");
    FeedSpec spec = {url.c_str(), cacheA.c_str(), seenA.c_str(), nullptr, nullptr};
    EngineOptions o = options();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, &spec, 1, &o);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 1; }));
    CHECK_EQ(std::string(engineFeedHealth(engine, 0)),
             "Moved permanently to " + target + " (update the feed address to keep it)");
    CHECK(fileExists(cacheA));

    // The same feed's files move: the next pass writes its copy there though the body is the
    // same, and its seen keys follow.
    spec = FeedSpec{url.c_str(), cacheB.c_str(), seenB.c_str(), nullptr, nullptr};
    engineConfigure(engine, &spec, 1, &o);
    engineUpdateNow(engine, 0);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 2; }));
    destroyFeedEngine(engine);
    CHECK(fileExists(cacheB) && fileExists(seenB));
    stopServer(server);
}

namespace {

// A listener on 127.0.0.1 that accepts every connection, never answers, and records the most
// connections open at once (a connection the client closed is dropped before new ones count).
struct OpenCounter {
    SOCKET listener = INVALID_SOCKET;
    unsigned short port = 0;
    HANDLE thread = nullptr;
    volatile LONG stop = 0;
    volatile LONG most = 0;
};

DWORD WINAPI countOpenConnections(void* argument) {
    OpenCounter* counter = static_cast<OpenCounter*>(argument);
    std::vector<SOCKET> open;
    DWORD started = GetTickCount();
    while (counter->stop == 0 && GetTickCount() - started < 60000) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(counter->listener, &readable);
        for (SOCKET client : open)
            FD_SET(client, &readable);
        timeval slice = {0, 10 * 1000};
        if (select(0, &readable, nullptr, nullptr, &slice) <= 0)
            continue;
        for (size_t i = open.size(); i-- > 0;) {
            char request[1024];
            if (FD_ISSET(open[i], &readable) && recv(open[i], request, sizeof request, 0) <= 0) {
                closesocket(open[i]);
                open.erase(open.begin() + static_cast<long>(i));
            }
        }
        if (FD_ISSET(counter->listener, &readable) && open.size() < 60) {
            SOCKET client = accept(counter->listener, nullptr, nullptr);
            if (client != INVALID_SOCKET)
                open.push_back(client);
            if (static_cast<LONG>(open.size()) > counter->most)
                counter->most = static_cast<LONG>(open.size());
        }
    }
    for (SOCKET client : open)
        closesocket(client);
    return 0;
}

bool startOpenCounter(OpenCounter& counter) {
    counter.listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (counter.listener == INVALID_SOCKET ||
        bind(counter.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(counter.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        listen(counter.listener, 64) != 0)
        return false;
    counter.port = ntohs(address.sin_port);
    counter.thread = CreateThread(nullptr, 0, countOpenConnections, &counter, 0, nullptr);
    return counter.thread != nullptr;
}

void stopOpenCounter(OpenCounter& counter) {
    InterlockedExchange(&counter.stop, 1);
    if (counter.thread != nullptr) {
        WaitForSingleObject(counter.thread, 10000);
        CloseHandle(counter.thread);
    }
    closesocket(counter.listener);
}

} // namespace

TEST(passesOfDroppedFeedsHoldTheirSlotsUntilTheirConnectionsClose) {
    OpenCounter counter;
    REQUIRE(startOpenCounter(counter));
    const int cycles = 10, perCycle = 8;
    std::vector<std::string> urls;
    for (int i = 0; i < cycles * perCycle; ++i)
        urls.push_back("http://127.0.0.1:" + std::to_string(counter.port) + "/feed" +
                       std::to_string(i));
    EngineOptions o = options();
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    // Eight silent feeds added and dropped again and again.
    std::vector<FeedSpec> specs(perCycle);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        for (int i = 0; i < perCycle; ++i)
            specs[i] =
                FeedSpec{urls[cycle * perCycle + i].c_str(), nullptr, nullptr, nullptr, nullptr};
        engineConfigure(engine, specs.data(), perCycle, &o);
        engineRunDue(engine, engineClock());
        Sleep(5);
    }
    // Once the dropped passes have closed their connections, the last feeds get the slots.
    REQUIRE(settle(engine, [&] { return running(engine) == engineMaxPasses; }));
    Sleep(300);
    std::printf("most connections open at once: %ld\n", static_cast<long>(counter.most));
    // A connection closing and the next one opening may be seen in one look.
    CHECK(counter.most <= engineMaxPasses + 1);
    destroyFeedEngine(engine);
    stopOpenCounter(counter);
}

TEST(aFeedsOwnIntervalAndUserAgentGoIntoItsRequests) {
    TestServer own{}, global{}, longer{};
    REQUIRE(startServer(own, serveWhole, feedResponse("Own", {"o1"})));
    REQUIRE(startServer(global, serveWhole, feedResponse("Global", {"g1"})));
    // A feed asking for an hour (ttl) is not polled more often for its own shorter interval.
    std::string withTtl = feedResponse("Ttl", {"t1"});
    withTtl.insert(withTtl.find("<title>"), "<ttl>60</ttl>");
    REQUIRE(startServer(longer, serveWhole, withTtl));
    std::string ownUrl = serverUrl(own, "/"), globalUrl = serverUrl(global, "/"),
                longerUrl = serverUrl(longer, "/");
    FeedSpec specs[] = {
        {ownUrl.c_str(), nullptr, nullptr, nullptr, nullptr, 5, "Reader/2.0 (like a browser)"},
        {globalUrl.c_str(), nullptr, nullptr, nullptr, nullptr, 0, "Bad\r\nX-Injected: 1"},
        {longerUrl.c_str(), nullptr, nullptr, nullptr, nullptr, 5, ""}};
    int64_t (*realClock)() = engineClock;
    fakeNow = realClock();
    engineClock = fakeClock;
    EngineOptions o = options(); // every 15 minutes
    FeedEngine* engine = createFeedEngine(nullptr, nullptr);
    engineConfigure(engine, specs, 3, &o);
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, -1) == 3; }));
    CHECK(recordedRequests(own)[0].find("\r\nUser-Agent: Reader/2.0 (like a browser)\r\n") !=
          std::string::npos);
    // A text that would add header lines is not sent; the product's own goes instead.
    std::string request = recordedRequests(global)[0];
    CHECK(request.find("X-Injected") == std::string::npos);
    CHECK(request.find("\r\nUser-Agent: FeedMarquee/") != std::string::npos);
    CHECK(recordedRequests(longer)[0].find("\r\nUser-Agent: FeedMarquee/") != std::string::npos);
    CHECK(std::string(engineFeedHealth(engine, 0)).find("(every 5 min)") != std::string::npos);

    // Five minutes on, only the feed with its own five-minute interval is asked again.
    fakeNow += 5 * 60;
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 2; }));
    settle(
        engine, [] { return false; }, 200);
    CHECK_EQ(global.connections, 1L);
    CHECK_EQ(longer.connections, 1L);
    // Its interval taken away: it follows the global fifteen minutes, counted from its last pass.
    specs[0].updateIntervalMinutes = 0;
    engineConfigure(engine, specs, 3, &o);
    CHECK(std::string(engineFeedHealth(engine, 0)).find("(every 15 min)") != std::string::npos);
    fakeNow += 10 * 60;
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 1) == 2; }));
    CHECK_EQ(engineFeedPasses(engine, 0), 2);
    CHECK_EQ(longer.connections, 1L);
    fakeNow += 5 * 60;
    REQUIRE(settle(engine, [&] { return engineFeedPasses(engine, 0) == 3; }));
    destroyFeedEngine(engine);
    engineClock = realClock;
    stopServer(own);
    stopServer(global);
    stopServer(longer);
}
