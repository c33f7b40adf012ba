// Update passes of "one" mode end to end: a real message-only window as the plug-in window, pumping
// messages, and loopback servers that answer, stall, reset or never answer. Asserts what the window
// shows, and that stopping does not wait for a silent server.
#include <windows.h>
#include <tlhelp32.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
#include "content/feed_items.h"
#include "content/stored_link.h"
#include "feed/http_fetch.h"
#include "feed/feed_engine.h"
#include "plugin/feed_updates.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "tests/feed/test_server.h"
#include "feed/headline_cache.h"
#include "tests/support/check.h"
#include "tests/support/temp_folder.h"

namespace {

WinsockSession winsock;

int messagesHandled;
LPARAM lastPosted;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_FEED_UPDATED) {
        ++messagesHandled;
        lastPosted = lParam;
        finishUpdate(lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void pump(DWORD ms) {
    DWORD started = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - started < ms);
}

// Pumps until count passes in all have ended and reached the window; false after ms.
bool pumpUntilHandled(int count, DWORD ms) {
    DWORD started = GetTickCount();
    while (completedPasses() < count) {
        if (GetTickCount() - started >= ms)
            return false;
        pump(10);
    }
    return true;
}

// The plug-in window for one test; shuts any pass down and empties both lists at the end.
struct PluginWindow {
    HWND window;
    PluginWindow() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = testWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "FeedWorkerTest";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "FeedWorkerTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
        runtime.pluginWindow = window;
        messagesHandled = 0;
        lastPosted = 0;
    }
    ~PluginWindow() {
        stopUpdate();
        pump(50);
        DestroyWindow(window);
        runtime.pluginWindow = nullptr;
    }
};

void setFeedUrl(const std::string& url) {
    copySettingUrl(settings.feedUrl, url.c_str());
}

// The titles the window shows.
std::vector<std::string> titles() {
    std::vector<std::string> result;
    for (const FeedItem* entry = shownFirst(); entry; entry = entry->next)
        result.push_back(entry->title ? entry->title : "");
    return result;
}

// Entries of the list on show, header included.
int entryCount() {
    return shownList() != nullptr ? shownList()->count : 0;
}

// Pumps until the window shows text (the saved copy is read off the window thread); false
// after ms.
bool pumpUntilShown(const std::string& text, DWORD ms) {
    DWORD started = GetTickCount();
    while (GetTickCount() - started < ms) {
        pump(10);
        std::string shown;
        for (const std::string& title : titles())
            shown += "[" + title + "]";
        if (shown == text)
            return true;
    }
    return false;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string result;
    for (const std::string& text : texts)
        result += "[" + text + "]";
    return result;
}

bool looksLikeUpdateTime(const char* text) {
    // "%m/%d %H:%M", e.g. "12/06 18:42"
    const char* shape = "00/00 00:00";
    if (std::strlen(text) != std::strlen(shape))
        return false;
    for (size_t i = 0; shape[i]; ++i) {
        if (shape[i] == '0' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i])
            return false;
    }
    return true;
}

int threadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// True once the process is back to at most baseline threads (within ms).
bool threadsBackTo(int baseline, DWORD ms) {
    DWORD started = GetTickCount();
    while (threadsOfThisProcess() > baseline) {
        if (GetTickCount() - started >= ms)
            return false;
        Sleep(20);
    }
    return true;
}

std::string feedResponse(const char* channel, const std::vector<std::string>& items) {
    std::string text = "HTTP/1.0 200 OK\r\nContent-Type: application/rss+xml\r\n\r\n"
                       "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>";
    text += channel;
    text += "</title><link>http://example.invalid/</link>\n";
    int n = 0;
    for (const std::string& item : items) {
        ++n;
        text += "<item><title>" + item + "</title><link>http://example.invalid/" +
                std::to_string(n) + "</link><description>About " + item +
                "</description><pubDate>Mon, 07 Dec 2026 10:0" + std::to_string(n) +
                ":00 GMT</pubDate></item>\n";
    }
    return text + "</channel></rss>\n";
}

const std::string connecting = "[Connecting...]";
const std::string failed = "[Couldn't connect!]";

// keepHeadlines on, a settings folder for the saved copy, and the clock and random seams of the
// schedule, for one test.
int64_t fakeNow = 1796739660; // 2026-12-08 14:21:00 UTC
int64_t fakeClock() {
    return fakeNow;
}
uint32_t lowestSpread() {
    return 0;
}

struct PoliteSettings {
    TempFolder folder{"worker"};
    explicit PoliteSettings(bool keep = true) {
        settings.keepHeadlines = keep;
        settings.updateInterval = 15;
        std::snprintf(settingsPath, sizeof settingsPath, "%sfeedmarquee.rc", folder.path.c_str());
        engineClock = fakeClock;
        engineRandom = lowestSpread;
    }
    ~PoliteSettings() {
        settings.keepHeadlines = false;
        settingsPath[0] = '\0';
    }
    std::string cacheFile() const { return folder.file("feedmarquee.cache"); }
};

// response with extra header lines (each ending in CRLF) after its status line.
std::string withHeaders(const std::string& response, const std::string& lines) {
    size_t end = response.find("\r\n") + 2;
    return response.substr(0, end) + lines + response.substr(end);
}

// "%H:%M" of a clock value in local time, as the health line shows the next try.
std::string clockTime(int64_t when) {
    time_t value = static_cast<time_t>(when);
    char text[16] = "";
    strftime(text, sizeof text, "%H:%M", localtime(&value));
    return text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The request the server read for connection index (waits for it a little).
std::string requestNumber(TestServer& server, size_t index) {
    for (int i = 0; i < 200; ++i) {
        std::vector<std::string> requests = recordedRequests(server);
        if (requests.size() > index)
            return requests[index];
        Sleep(20);
    }
    return "";
}

struct StallLimit {
    unsigned long saved;
    explicit StallLimit(unsigned long ms) : saved(fetchStallLimitMs) { fetchStallLimitMs = ms; }
    ~StallLimit() { fetchStallLimitMs = saved; }
};

} // namespace

TEST(passShowsPlaceholderThenFeedAndANewAddressStopsTheRunningPassAtOnce) {
    PluginWindow plugin;
    REQUIRE(plugin.window != nullptr);
    std::string response = feedResponse("Loopback News", {"First", "Second"});
    TestServer server{};
    REQUIRE(startServer(server, serveAfterRelease, response));
    TestServer other{};
    REQUIRE(startServer(other, serveWhole, feedResponse("Other", {"X"})));
    lastUpdateTime[0] = '\0';

    setFeedUrl(serverUrl(server, "/news.rss"));
    CHECK(requestUpdate());
    CHECK(updatesRunning());
    CHECK_EQ(joined(titles()), connecting);
    CHECK_EQ(shownFirst()->titleLength, 13);
    REQUIRE(waitForConnections(server, 1, 5000));

    // Timer ticks and "Update Now" while the pass runs start no second pass for the same address.
    const FeedItem* shown = shownFirst();
    for (int i = 0; i < 3; ++i) {
        CHECK(requestUpdate());
        pump(100);
    }
    CHECK(shownFirst() == shown);
    CHECK_EQ(server.connections, 1L);
    CHECK_EQ(completedPasses(), 0);
    CHECK_EQ(lastUpdateTime, std::string());

    // A new address does not wait for the stalled pass: it is fetched at once, and the old
    // address's late result is never shown under it.
    DWORD changed = GetTickCount();
    setFeedUrl(serverUrl(other, "/other.rss"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK(GetTickCount() - changed < 5000);
    CHECK_EQ(joined(titles()), std::string("[Other][X]"));
    CHECK(headlinesBelongTo(settings.feedUrl));
    CHECK_EQ(entryCount(), 2);
    CHECK(looksLikeUpdateTime(lastUpdateTime));
    REQUIRE(shownFirst() && shownFirst()->next);
    LinkText whole;
    CHECK_EQ(std::string(itemLink(shownFirst()->next, &whole)), "http://example.invalid/1");
    CHECK_EQ(shownFirst()->next->description, "About X");
    CHECK_EQ(other.connections, 1L);
    releaseServer(server);
    pump(300);
    CHECK_EQ(joined(titles()), std::string("[Other][X]"));
    CHECK(!updatesRunning());
    stopServer(server);
    stopServer(other);
}

TEST(twoPassesInARowLeaveOnlyTheSecondsEntries) {
    PluginWindow plugin;
    TestServer server{};
    server.responses = {feedResponse("Morning", {"A1", "A2", "A3"}),
                        feedResponse("Evening", {"B1"})};
    REQUIRE(startServer(server, serveWhole, ""));
    setFeedUrl(serverUrl(server, "/"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(joined(titles()), std::string("[Morning][A1][A2][A3]"));
    CHECK_EQ(entryCount(), 4);
    requestUpdate();
    CHECK_EQ(joined(titles()), connecting);
    REQUIRE(pumpUntilHandled(2, 10000));
    CHECK_EQ(joined(titles()), std::string("[Evening][B1]"));
    CHECK_EQ(joined(titles()), std::string("[Evening][B1]"));
    CHECK_EQ(entryCount(), 2);
    stopServer(server);
    CHECK_EQ(server.connections, 2L);
}

TEST(whatEachServerLeavesInTheLists) {
    StallLimit limit(1000);
    std::string feed = feedResponse("Loopback", {"Only"});
    std::string big = feedResponse("Big", {"Huge"});
    big.append(20u << 20, ' ');
    std::string cut = "HTTP/1.0 200 OK\r\n\r\n<rss><channel><title>Partial</title>"
                      "<item><title>Whole item</title></item>";
    std::string garbage;
    for (int i = 0; i < 3000; ++i)
        garbage += static_cast<char>(1 + (i * 97) % 255);
    std::string notFound = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n"
                           "<html><head><title>404 Not Found</title></head>"
                           "<body><h1>Not Found</h1></body></html>";
    std::string page = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                       "<html><head><title>Welcome</title></head><body>Hello</body></html>";
    std::string empty = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
    std::string json = "HTTP/1.0 200 OK\r\nContent-Type: application/feed+json\r\n\r\n"
                       "{\"version\": \"https://jsonfeed.org/version/1.1\", \"title\": \"JSON\","
                       " \"items\": [{\"id\": \"1\", \"title\": \"Item\"}]}";
    std::string badJson =
        "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + std::string(100000, '[');
    // At the first start nothing is kept: every failure shows "Couldn't connect!" (never the
    // placeholder of a pass that ended, nor an error page's title as a feed) and names its reason.
    struct Case {
        const char* name;
        ServerBehaviour behaviour;
        std::string response;
        std::string shown;  // what the window shows after the pass
        const char* reason; // in the health line; null: a success
    } cases[] = {
        {"normal", serveWhole, feed, "[Loopback][Only]", nullptr},
        {"small writes", serveSmallWrites, feed, "[Loopback][Only]", nullptr},
        {"20 MB", serveWhole, big, "[Big][Huge]", nullptr},
        {"closes at once", serveCloseAtOnce, "", failed, ""},
        {"headers then silence", serveThenSilence, "HTTP/1.0 200 OK\r\n\r\n", failed, ""},
        {"never accepts", serveNeverAccept, "", failed, ""},
        {"resets mid-way", serveThenReset, cut, "[Partial][Whole item]", nullptr},
        {"garbage", serveWhole, garbage, failed, ""},
        {"404 page", serveWhole, notFound, failed, ": HTTP 404 Not Found"},
        {"HTML page", serveWhole, page, failed, ": no items in the response"},
        {"empty body", serveWhole, empty, failed, ": no items in the response"},
        {"JSON Feed", serveWhole, json, "[JSON][Item]", nullptr},
        {"brackets as JSON", serveWhole, badJson, failed, ": no items in the response"},
    };
    for (const Case& c : cases) {
        PluginWindow plugin;
        TestServer server{};
        REQUIRE(startServer(server, c.behaviour, c.response, 5));
        setFeedUrl(serverUrl(server, "/feed"));
        requestUpdate();
        bool handled = pumpUntilHandled(1, 15000);
        stopServer(server);
        if (!handled) {
            check::fail(__FILE__, __LINE__, std::string("no message: ") + c.name);
            continue;
        }
        std::string shown = joined(titles());
        std::string health = feedHealthLine();
        if (shown != c.shown)
            check::fail(__FILE__, __LINE__, std::string(c.name) + ": shows " + shown);
        bool stamped = lastUpdateTime[0] != '\0';
        bool fine = c.reason ? !stamped && health.compare(0, 7, "Failed ") == 0 &&
                                   health.find(c.reason) != std::string::npos &&
                                   health.find(". Next try ") != std::string::npos
                             : stamped && looksLikeUpdateTime(lastUpdateTime) &&
                                   health.compare(0, 8, "Updated ") == 0;
        if (!fine)
            check::fail(__FILE__, __LINE__,
                        std::string(c.name) + ": " + lastUpdateTime + ", " + health);
        // The item count is the parse's, and a failure leaves it as it was.
        CHECK_EQ(entryCount(), c.reason ? 1 : 2);
        CHECK(!updatesRunning());
    }
}

TEST(wrongAddressesShowCouldntConnectWithoutTraffic) {
    // Nothing was ever shown, so nothing is kept, also with keepHeadlines.
    PoliteSettings polite;
    PluginWindow plugin;
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feedResponse("Never", {"seen"})));
    std::string hostPort = "127.0.0.1:" + std::to_string(server.port);
    lastUpdateTime[0] = '\0';
    const std::string addresses[] = {"",
                                     "http://" + hostPort + "/fe ed",
                                     "ftp://" + hostPort + "/",
                                     "http:" + hostPort + "/",
                                     "http:///feed",
                                     "http://127.0.0.1:" + std::to_string(unusedPort()) + "/"};
    int handled = 0;
    for (const std::string& url : addresses) {
        setFeedUrl(url);
        requestUpdate();
        CHECK_EQ(joined(titles()), connecting);
        REQUIRE(pumpUntilHandled(++handled, 10000));
        CHECK_EQ(joined(titles()), failed);
        CHECK_EQ(shownFirst()->entryIndex, 0);
    }
    // A failed pass keeps the count and time of the last success.
    CHECK_EQ(entryCount(), 1);
    CHECK_EQ(lastUpdateTime, std::string());
    stopServer(server);
    CHECK_EQ(server.connections, 0L);
}

TEST(stopDoesNotWaitForASilentServer) {
    struct Stall {
        const char* name;
        ServerBehaviour behaviour;
        DWORD settle; // how long the pass runs before the stop
    } stalls[] = {
        {"download stalled after the headers", serveThenSilence, 620},
        {"connection never answered", serveBacklogFull, 660},
        {"stop right after the start", serveThenSilence, 0},
    };
    for (const Stall& stall : stalls) {
        TestServer server{};
        REQUIRE(startServer(server, stall.behaviour, "HTTP/1.0 200 OK\r\n\r\n<rss>"));
        int baseline = threadsOfThisProcess();
        {
            PluginWindow plugin;
            setFeedUrl(serverUrl(server, "/slow"));
            requestUpdate();
            REQUIRE(updatesRunning());
            Sleep(stall.settle);
            DWORD started = GetTickCount();
            stopUpdate();
            DWORD took = GetTickCount() - started;
            std::printf("stopUpdate, %s: %lu ms\n", stall.name, took);
            CHECK(took < 5000);
            CHECK(!updatesRunning());
            // The stopped pass posts nothing; the window has nothing to show until a start.
            pump(400);
            CHECK_EQ(messagesHandled, 0);
            CHECK(shownFirst() == nullptr);
            // Its thread has ended (and the process goes on).
            CHECK(threadsBackTo(baseline, 3000));
        }
        stopServer(server);
    }

    // A start after a stop fetches normally.
    PluginWindow plugin;
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feedResponse("Back", {"again"})));
    setFeedUrl(serverUrl(server, "/"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(joined(titles()), std::string("[Back][again]"));
    stopServer(server);
}

TEST(aPassThatOutlivesTheWaitTouchesNothing) {
    TestServer server{};
    REQUIRE(startServer(server, serveAfterRelease, feedResponse("Late", {"too late"})));
    int baseline = threadsOfThisProcess();
    unsigned long savedWait = updateStopWaitMs;
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(server, "/"));
        requestUpdate();
        REQUIRE(waitForConnections(server, 1, 5000));
        updateStopWaitMs = 0;
        releaseServer(server);
        stopUpdate();
        updateStopWaitMs = savedWait;
        CHECK(!updatesRunning());
        CHECK(threadsBackTo(baseline, 3000));
        pump(200);
        CHECK_EQ(messagesHandled, 0);
        CHECK(shownFirst() == nullptr);
    }
    updateStopWaitMs = savedWait;
    stopServer(server);
}

TEST(aResultPostedBeforeAStopIsIgnoredByTheNextRun) {
    TestServer fast{};
    REQUIRE(startServer(fast, serveWhole, feedResponse("Stale", {"old"})));
    TestServer held{};
    REQUIRE(startServer(held, serveAfterRelease, feedResponse("Fresh", {"new"})));
    PluginWindow plugin;
    setFeedUrl(serverUrl(fast, "/"));
    requestUpdate();
    // The pass ends and posts, but the stop comes before the window takes its message.
    MSG posted;
    DWORD waited = GetTickCount();
    while (!PeekMessageA(&posted, plugin.window, WM_FEED_UPDATED, WM_FEED_UPDATED, PM_NOREMOVE) &&
           GetTickCount() - waited < 10000)
        Sleep(10);
    stopUpdate();
    CHECK(shownFirst() == nullptr);

    setFeedUrl(serverUrl(held, "/"));
    requestUpdate();
    pump(300);
    CHECK(messagesHandled >= 1);
    CHECK_EQ(joined(titles()), connecting);
    CHECK(updatesRunning());
    releaseServer(held);
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(joined(titles()), std::string("[Fresh][new]"));
    CHECK(!updatesRunning());
    stopServer(fast);
    stopServer(held);
}

TEST(aMessageLostWithItsWindowHoldsUpNoLaterResult) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feedResponse("Again", {"shown"})));
    setFeedUrl(serverUrl(server, "/"));
    {
        // The plug-in ends while a finished pass's message waits: the window goes with it.
        PluginWindow plugin;
        requestUpdate();
        MSG posted;
        DWORD waited = GetTickCount();
        while (
            !PeekMessageA(&posted, plugin.window, WM_FEED_UPDATED, WM_FEED_UPDATED, PM_NOREMOVE) &&
            GetTickCount() - waited < 10000)
            Sleep(10);
        stopUpdate();
        DestroyWindow(plugin.window);
    }
    PluginWindow plugin;
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(joined(titles()), std::string("[Again][shown]"));
    stopServer(server);
}

TEST(aResultThatCouldNotBePostedDoesNotBlockLaterPasses) {
    TestServer server{};
    server.responses = {feedResponse("Unseen", {"lost"}), feedResponse("Seen", {"shown"})};
    REQUIRE(startServer(server, serveWhole, ""));
    PluginWindow plugin;
    setFeedUrl(serverUrl(server, "/"));
    runtime.pluginWindow = nullptr;
    requestUpdate();
    REQUIRE(waitForConnections(server, 1, 5000));
    Sleep(2000); // the pass ends meanwhile; its result waits, unposted
    pump(100);
    CHECK_EQ(messagesHandled, 0);
    // The next call takes the result that found no window, then updates again.
    runtime.pluginWindow = plugin.window;
    requestUpdate();
    CHECK_EQ(completedPasses(), 1);
    CHECK_EQ(joined(titles()), connecting);
    REQUIRE(pumpUntilHandled(2, 10000));
    CHECK_EQ(joined(titles()), std::string("[Seen][shown]"));
    CHECK(!updatesRunning());
    stopServer(server);
    CHECK_EQ(server.connections, 2L);
}

TEST(conditionalRequestsAndNotModifiedKeepTheListsAsTheyAre) {
    PoliteSettings polite;
    TestServer server{};
    server.responses = {
        withHeaders(feedResponse("Validated", {"A", "B"}),
                    "ETag: \"v1\"\r\nLast-Modified: Tue, 08 Dec 2026 14:00:00 GMT\r\n"),
        "HTTP/1.0 304 Not Modified\r\nETag: \"v1\"\r\n\r\n"};
    REQUIRE(startServer(server, serveWhole, ""));
    PluginWindow plugin;
    setFeedUrl(serverUrl(server, "/"));
    fakeNow = 1796739660;
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK(requestNumber(server, 0).find("If-None-Match") == std::string::npos);
    CHECK_EQ(joined(titles()), std::string("[Validated][A][B]"));
    std::string firstTime = lastUpdateTime;
    FeedItem* firstShown = shownFirst();

    // The next pass is conditional; the headlines stay on show while it runs.
    fakeNow += 3600;
    requestUpdate();
    CHECK(shownFirst() == firstShown);
    REQUIRE(pumpUntilHandled(2, 10000));
    std::string second = requestNumber(server, 1);
    CHECK(second.find("If-None-Match: \"v1\"\r\n") != std::string::npos);
    CHECK(second.find("If-Modified-Since: Tue, 08 Dec 2026 14:00:00 GMT\r\n") != std::string::npos);
    // Not modified: the very same entries, nothing parsed or laid out anew; a success that moves
    // the update time.
    CHECK(shownFirst() == firstShown);
    CHECK_EQ(joined(titles()), std::string("[Validated][A][B]"));
    CHECK_EQ(joined(titles()), std::string("[Validated][A][B]"));
    CHECK_EQ(entryCount(), 3);
    CHECK(looksLikeUpdateTime(lastUpdateTime));
    CHECK(firstTime != lastUpdateTime);
    CHECK(!headlinesStale());
    CHECK(startsWith(feedHealthLine(), "Not modified, checked " + std::string(lastUpdateTime)));
    CHECK_EQ(updateTimerDelayMs(), UINT(15 * 60000));

    // Without keepHeadlines the request is conditional too; "Connecting..." shows while it runs
    // and the headlines come back with the 304.
    settings.keepHeadlines = false;
    requestUpdate();
    CHECK_EQ(joined(titles()), connecting);
    REQUIRE(pumpUntilHandled(3, 10000));
    CHECK(requestNumber(server, 2).find("If-None-Match: \"v1\"") != std::string::npos);
    CHECK_EQ(joined(titles()), std::string("[Validated][A][B]"));
    // Once the address changes, the headlines on show are another feed's (so "Add Favorites"
    // stores no title for the new address).
    CHECK(!headlinesOfAnotherAddress(settings.feedUrl));
    setFeedUrl(serverUrl(server, "/elsewhere"));
    CHECK(headlinesOfAnotherAddress(settings.feedUrl));
    stopServer(server);
}

TEST(failuresKeepTheHeadlinesAndStretchTheSchedule) {
    PoliteSettings polite;
    fakeNow = 1796739660;
    char retryDate[64];
    time_t later = static_cast<time_t>(fakeNow + 7200);
    strftime(retryDate, sizeof retryDate, "%a, %d %b %Y %H:%M:%S GMT", gmtime(&later));
    std::string html = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
                       "<html><head><title>Maintenance</title></head></html>";
    std::string error500 = "HTTP/1.0 500 Internal Server Error\r\n\r\n";
    TestServer server{};
    server.responses = {
        feedResponse("Kept", {"Old news"}),
        "HTTP/1.0 503 Service Unavailable\r\nRetry-After: 3600\r\n\r\n",
        std::string("HTTP/1.0 429 Too Many Requests\r\nRetry-After: ") + retryDate + "\r\n\r\n",
        html,
        error500,
        error500,
        feedResponse("Kept", {"New news"}),
    };
    REQUIRE(startServer(server, serveWhole, ""));
    PluginWindow plugin;
    setFeedUrl(serverUrl(server, "/"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(updateTimerDelayMs(), UINT(900000));
    std::string updated = lastUpdateTime;

    // Each request below is "Update Now" during a back-off: it fetches at once.
    struct Step {
        const char* reason;
        UINT delayMs; // the period timer 1 is armed with afterwards
    } steps[] = {
        {"HTTP 503 Service Unavailable", 3600000}, // Retry-After in seconds
        {"HTTP 429 Too Many Requests", 7200000},   // Retry-After as a date
        {"no items in the response", 3240000},     // third failure: 4x, lowest spread
        {"HTTP 500 Internal Server Error", 6480000}, {"HTTP 500 Internal Server Error", 12960000},
    };
    int handled = 1;
    for (const Step& step : steps) {
        requestUpdate();
        CHECK(waitForConnections(server, handled + 1, 5000));
        REQUIRE(pumpUntilHandled(++handled, 10000));
        CHECK_EQ(joined(titles()), std::string("[Kept][Old news]"));
        CHECK(headlinesStale());
        CHECK_EQ(std::string(lastUpdateTime), updated);
        CHECK_EQ(entryCount(), 2);
        std::string expected = std::string(": ") + step.reason + ". Next try " +
                               clockTime(fakeNow + step.delayMs / 1000);
        std::string health = feedHealthLine();
        if (!startsWith(health, "Failed ") || health.find(expected) == std::string::npos)
            check::fail(__FILE__, __LINE__, health + " lacks " + expected);
        CHECK_EQ(updateTimerDelayMs(), step.delayMs);
    }
    // One success restores the interval and the fresh headlines.
    requestUpdate();
    REQUIRE(pumpUntilHandled(++handled, 10000));
    CHECK_EQ(joined(titles()), std::string("[Kept][New news]"));
    CHECK(!headlinesStale());
    CHECK_EQ(updateTimerDelayMs(), UINT(900000));
    CHECK(startsWith(feedHealthLine(), "Updated "));
    stopServer(server);
}

TEST(savedHeadlinesShowAtStartAndAnotherAddressDiscardsThem) {
    PoliteSettings polite;
    // A good pass saves its response.
    TestServer good{};
    REQUIRE(startServer(good, serveWhole,
                        withHeaders(feedResponse("Saved", {"One", "Two"}), "ETag: \"v7\"\r\n")));
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(good, "/saved"));
        requestUpdate();
        REQUIRE(pumpUntilHandled(1, 10000));
    }
    CachedFeed saved = {};
    REQUIRE(readHeadlineCache(polite.cacheFile().c_str(), &saved));
    CHECK_EQ(std::string(saved.url), serverUrl(good, "/saved"));
    CHECK_EQ(std::string(saved.etag), std::string("\"v7\""));
    CHECK(std::string(saved.body).find("<title>Two</title>") != std::string::npos);
    freeCachedFeed(&saved);
    stopServer(good);

    // The next start, against a server that does not answer yet: the saved headlines show at
    // once and the first request is conditional.
    TestServer silent{};
    REQUIRE(startServer(silent, serveAfterRelease, "HTTP/1.0 304 Not Modified\r\n\r\n"));
    std::string feed = feedResponse("Saved", {"One", "Two"});
    CachedFeed record = {};
    std::string recordUrl = serverUrl(silent, "/");
    record.url = recordUrl.c_str();
    record.etag = "\"v7\"";
    record.savedAt = fakeNow - 86400;
    std::string body = feed.substr(feed.find("<?xml"));
    REQUIRE(writeCacheTemporary(polite.cacheFile().c_str(), &record, body.data(), body.size()));
    REQUIRE(commitCacheTemporary(polite.cacheFile().c_str()));
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(silent, "/"));
        requestUpdate();
        // The copy is read off the window thread and shows when ready.
        REQUIRE(pumpUntilShown("[Saved][One][Two]", 5000));
        CHECK(headlinesBelongTo(settings.feedUrl));
        CHECK(startsWith(feedHealthLine(), "Saved headlines from "));
        CHECK(looksLikeUpdateTime(lastUpdateTime));
        CHECK(requestNumber(silent, 0).find("If-None-Match: \"v7\"") != std::string::npos);
        releaseServer(silent);
        REQUIRE(pumpUntilHandled(1, 10000));
        CHECK_EQ(joined(titles()), std::string("[Saved][One][Two]"));
        CHECK(startsWith(feedHealthLine(), "Not modified"));

        // Choosing another address discards the saved copy of the old one.
        setFeedUrl("http://127.0.0.1:" + std::to_string(unusedPort()) + "/");
        requestUpdate();
        CHECK_EQ(joined(titles()), connecting);
        CHECK(!fileExists(polite.cacheFile()));
        REQUIRE(pumpUntilHandled(2, 10000));
        CHECK_EQ(joined(titles()), failed);
    }
    // A copy that is not usable, or of another address, shows nothing; the start goes on as
    // without one.
    const std::string dead = "http://127.0.0.1:" + std::to_string(unusedPort()) + "/";
    std::string random;
    for (int i = 0; i < 4096; ++i)
        random += static_cast<char>((i * 7919) >> 3);
    std::string otherUrl = serverUrl(silent, "/other");
    record.url = otherUrl.c_str();
    REQUIRE(writeCacheTemporary(polite.cacheFile().c_str(), &record, body.data(), body.size()));
    REQUIRE(commitCacheTemporary(polite.cacheFile().c_str()));
    std::string foreign = readFileText(polite.cacheFile());
    const std::string unusable[] = {foreign, random, foreign.substr(0, foreign.size() - 3)};
    for (const std::string& bytes : unusable) {
        REQUIRE(writeFileText(polite.cacheFile(), bytes));
        PluginWindow plugin;
        setFeedUrl(dead);
        requestUpdate();
        CHECK_EQ(joined(titles()), connecting);
        REQUIRE(pumpUntilHandled(1, 10000));
        CHECK_EQ(joined(titles()), failed);
    }
    stopServer(silent);
}

TEST(withoutKeepHeadlinesAFailureShowsCouldntConnectAndNothingIsSaved) {
    PoliteSettings polite(false);
    TestServer server{};
    server.responses = {feedResponse("Plain", {"Item"}),
                        "HTTP/1.0 503 Service Unavailable\r\n\r\n"};
    REQUIRE(startServer(server, serveWhole, ""));
    PluginWindow plugin;
    setFeedUrl(serverUrl(server, "/"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(joined(titles()), std::string("[Plain][Item]"));
    CHECK(!fileExists(polite.cacheFile()));
    requestUpdate();
    CHECK_EQ(joined(titles()), connecting);
    REQUIRE(pumpUntilHandled(2, 10000));
    CHECK_EQ(joined(titles()), failed);
    CHECK(!headlinesStale());
    CHECK(startsWith(feedHealthLine(), "Failed "));
    stopServer(server);
}

TEST(anAbandonedPassEndsOnItsOwnStopFlagWhileTheNextRunFetches) {
    TestServer held{};
    REQUIRE(startServer(held, serveAfterRelease, feedResponse("Abandoned", {"never shown"})));
    TestServer next{};
    REQUIRE(startServer(next, serveWhole, feedResponse("Next run", {"shown"})));
    int baseline = threadsOfThisProcess();
    unsigned long savedWait = updateStopWaitMs;
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(held, "/"));
        requestUpdate();
        REQUIRE(waitForConnections(held, 1, 5000));
        // endPlugin gives up on the pass at once; the next start clears the shared flag.
        updateStopWaitMs = 0;
        stopUpdate();
        updateStopWaitMs = savedWait;
        setFeedUrl(serverUrl(next, "/"));
        requestUpdate();
        REQUIRE(pumpUntilHandled(1, 10000));
        CHECK_EQ(joined(titles()), std::string("[Next run][shown]"));
        // The abandoned pass has ended by its own flag, long before the 30 s stall limit.
        CHECK(threadsBackTo(baseline, 5000));
        releaseServer(held);
        pump(300);
        CHECK_EQ(messagesHandled, 1);
        CHECK_EQ(joined(titles()), std::string("[Next run][shown]"));
    }
    updateStopWaitMs = savedWait;
    stopServer(held);
    stopServer(next);
}

TEST(aFeedIsReadInItsOwnCharsetAlsoFromTheSavedCopyUnlessEncodingIsNone) {
    PoliteSettings polite;
    // windows-1251 bytes of "Новости" and "Привет", declared only in the Content-Type.
    std::string feed = feedResponse("\xCD\xEE\xE2\xEE\xF1\xF2\xE8", {"\xCF\xF0\xE8\xE2\xE5\xF2"});
    const std::string type = "application/rss+xml";
    feed.insert(feed.find(type) + type.size(), "; charset=windows-1251");
    const std::string utf8 = "[\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8]"
                             "[\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82]";
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feed));
    settings.encoding = 1;
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(server, "/ru"));
        requestUpdate();
        REQUIRE(pumpUntilHandled(1, 10000));
        CHECK_EQ(joined(titles()), utf8);
    }
    stopServer(server);

    // The next start shows the saved copy, read in the same charset, before the server answers.
    TestServer silent{};
    REQUIRE(startServer(silent, serveAfterRelease, "HTTP/1.0 304 Not Modified\r\n\r\n"));
    CachedFeed saved = {};
    REQUIRE(readHeadlineCache(polite.cacheFile().c_str(), &saved));
    CHECK(std::string(saved.contentType).find("charset=windows-1251") != std::string::npos);
    std::string savedUrl = serverUrl(silent, "/ru");
    const char* readUrl = saved.url;
    saved.url = savedUrl.c_str();
    REQUIRE(writeCacheTemporary(polite.cacheFile().c_str(), &saved, saved.body, saved.bodyLength));
    saved.url = readUrl;
    REQUIRE(commitCacheTemporary(polite.cacheFile().c_str()));
    freeCachedFeed(&saved);
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(silent, "/ru"));
        requestUpdate();
        CHECK(pumpUntilShown(utf8, 5000));
        releaseServer(silent);
        REQUIRE(pumpUntilHandled(1, 10000));
    }
    stopServer(silent);

    // Encoding "None": the bytes as they come.
    settings.encoding = 0;
    TestServer plain{};
    REQUIRE(startServer(plain, serveWhole, feed));
    {
        PluginWindow plugin;
        setFeedUrl(serverUrl(plain, "/ru"));
        requestUpdate();
        REQUIRE(pumpUntilHandled(1, 10000));
        CHECK_EQ(joined(titles()),
                 std::string("[\xCD\xEE\xE2\xEE\xF1\xF2\xE8][\xCF\xF0\xE8\xE2\xE5\xF2]"));
    }
    stopServer(plain);
}

namespace {

// The favourites list as readSettings leaves it, built by hand.
void setFavorites(const std::vector<std::pair<std::string, std::string>>& titleAndUrl) {
    releaseFavorites();
    FavoriteFeed** tail = &favorites;
    for (const auto& entry : titleAndUrl) {
        FavoriteFeed* f = static_cast<FavoriteFeed*>(std::calloc(1, sizeof(FavoriteFeed)));
        copySettingText(f->title, entry.first.c_str());
        copySettingUrl(f->url, entry.second.c_str());
        *tail = f;
        tail = &f->next;
        ++favoriteCount;
    }
}

std::vector<std::string> folderFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(otherModesFollowEveryFavouriteWithAFilePairEachAndDropTheFilesOfOthers) {
    PoliteSettings polite;
    TestServer a{}, b{}, c{};
    REQUIRE(startServer(a, serveWhole, feedResponse("Feed A", {"a1"})));
    REQUIRE(startServer(b, serveWhole, feedResponse("Feed B", {"b1", "b2"})));
    REQUIRE(startServer(c, serveWhole, feedResponse("Feed C", {"c1"})));
    std::string folder = polite.folder.file("feedmarquee.feeds");
    REQUIRE(CreateDirectoryA(folder.c_str(), nullptr));
    // A saved copy of a feed no longer followed (only files the plug-in wrote are removed).
    REQUIRE(writeFileText(folder + "\\0123456789abcdef.cache",
                          "FeedMarquee headline cache 1\nurl 0\n"));
    REQUIRE(writeFileText(folder + "\\notes.txt", "not ours"));
    setFavorites({{"Fav A", serverUrl(a, "/")}, {"", serverUrl(b, "/")}, {"", serverUrl(c, "/")}});
    settings.show = showTogether;
    {
        PluginWindow plugin;
        requestUpdate();
        REQUIRE(pumpUntilHandled(3, 10000));
        REQUIRE(shownFeedCount() == 3);
        ShownFeed feed = {};
        REQUIRE(shownFeedAt(0, &feed));
        CHECK_EQ(feed.title, "Fav A");
        CHECK(feed.hasHeadlines && !feed.stale && feed.items == 1 && feed.newItems == 0);
        CHECK(startsWith(feed.health, "Updated "));
        REQUIRE(shownFeedAt(1, &feed));
        CHECK_EQ(feed.title, "Feed B"); // no favourite title: the feed's own
        CHECK_EQ(feed.items, 2);
        CHECK(!shownFeedAt(3, &feed));
        // A pair of files per favourite (the seen keys are written by a thread of their own);
        // the files of feeds not followed are gone, others stay.
        for (int i = 0; i < 100 && folderFiles(folder).size() < 7; ++i)
            pump(20);
        std::vector<std::string> files = folderFiles(folder);
        CHECK_EQ(files.size(), size_t(7));
        CHECK(std::count(files.begin(), files.end(), "0123456789abcdef.cache") == 0);
        CHECK(std::count(files.begin(), files.end(), "notes.txt") == 1);

        // A favourite removed: its feed and its files go; the others keep their headlines.
        setFavorites({{"Fav A", serverUrl(a, "/")}, {"", serverUrl(b, "/")}});
        requestUpdate();
        CHECK_EQ(shownFeedCount(), 2);
        REQUIRE(shownFeedAt(1, &feed));
        CHECK_EQ(feed.items, 2);
        CHECK_EQ(folderFiles(folder).size(), size_t(5));
        REQUIRE(pumpUntilHandled(5, 10000));
    }
    settings.show = showOne;
    releaseFavorites();
    stopServer(a);
    stopServer(b);
    stopServer(c);
}

TEST(newItemsAreMarkedInOneModeToo) {
    PoliteSettings polite;
    settings.markNew = true;
    TestServer server{};
    // Items known by their guid (the links here follow their places).
    auto withGuids = [](std::string feed) {
        for (const char* title : {"Old", "Fresh"}) {
            std::string tag = std::string("<title>") + title + "</title>";
            size_t at = feed.find(tag);
            if (at != std::string::npos)
                feed.insert(at + tag.size(), std::string("<guid>urn:") + title + "</guid>");
        }
        return feed;
    };
    server.responses = {withGuids(feedResponse("Marks", {"Old"})),
                        withGuids(feedResponse("Marks", {"Fresh", "Old"}))};
    REQUIRE(startServer(server, serveWhole, ""));
    PluginWindow plugin;
    setFeedUrl(serverUrl(server, "/"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(newItemCount(-1), 0); // a new feed's first list is seen whole
    requestUpdate();
    REQUIRE(pumpUntilHandled(2, 10000));
    REQUIRE(pumpUntilShown("[Marks][Fresh][Old]", 1000));
    const FeedItem* fresh = shownFirst()->next;
    CHECK(itemIsNew(0, fresh) && !itemIsNew(0, fresh->next));
    CHECK_EQ(newItemCount(0), 1);
    markItemSeen(0, fresh);
    CHECK(!itemIsNew(0, fresh));
    CHECK_EQ(newItemCount(-1), 0);
    // markNew off: nothing is new.
    settings.markNew = false;
    requestUpdate();
    REQUIRE(pumpUntilHandled(3, 10000));
    CHECK_EQ(newItemCount(-1), 0);
    settings.markNew = true;
    stopServer(server);
}

TEST(theHealthReportOfSeveralFeedsNamesEveryFeedFailedOnesFirst) {
    PoliteSettings polite;
    TestServer fine{}, broken{};
    REQUIRE(startServer(fine, serveWhole, feedResponse("Feed A", {"a1"})));
    REQUIRE(startServer(broken, serveWhole, "HTTP/1.0 404 Not Found\r\n\r\n"));
    setFavorites({{"Alpha", serverUrl(fine, "/")}, {"Broken", serverUrl(broken, "/")}});
    for (int mode : {showTogether, showInTurn}) {
        settings.show = mode;
        PluginWindow plugin;
        requestUpdate();
        REQUIRE(pumpUntilHandled(2, 10000));
        std::string report = healthReport();
        CHECK(startsWith(report, "Broken: Failed "));
        CHECK(report.find("HTTP 404 Not Found") < report.find(" | Alpha: Updated "));
        // The favourites read anew, in another order, before the feeds follow them: each feed
        // still carries its own favourite's title.
        setFavorites({{"Broken", serverUrl(broken, "/")}, {"Alpha", serverUrl(fine, "/")}});
        ShownFeed feed = {};
        CHECK(shownFeedAt(0, &feed) && std::string(feed.title) == "Alpha");
        CHECK(shownFeedAt(1, &feed) && std::string(feed.title) == "Broken");
        setFavorites({{"Alpha", serverUrl(fine, "/")}, {"Broken", serverUrl(broken, "/")}});
        stopUpdate();
    }
    settings.show = showOne;
    releaseFavorites();
    stopServer(fine);
    stopServer(broken);
}
