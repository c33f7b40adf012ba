// Update passes end to end: a real message-only window as the plug-in window, pumping messages, and
// loopback servers that answer, stall, reset or never answer. Asserts what the lists hold, what the
// window is sent, and that stopping does not wait for a silent server.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "content/feed_items.h"
#include "feed/http_fetch.h"
#include "feed/update_worker.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "tests/feed/test_server.h"
#include "tests/support/check.h"

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

// Pumps until the window has handled count WM_FEED_UPDATED messages in all; false after ms.
bool pumpUntilHandled(int count, DWORD ms) {
    DWORD started = GetTickCount();
    while (messagesHandled < count) {
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
        freeFetchList();
        freeDisplayList();
        pump(50);
        DestroyWindow(window);
        runtime.pluginWindow = nullptr;
    }
};

void setFeedUrl(const std::string& url) {
    copySettingText(settings.feedUrl, url.c_str());
}

std::vector<std::string> titles(const ItemList& list) {
    std::vector<std::string> result;
    for (const FeedItem* entry = list.first; entry; entry = entry->next)
        result.push_back(entry->title ? entry->title : "");
    return result;
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

struct StallLimit {
    unsigned long saved;
    explicit StallLimit(unsigned long ms) : saved(fetchStallLimitMs) { fetchStallLimitMs = ms; }
    ~StallLimit() { fetchStallLimitMs = saved; }
};

} // namespace

TEST(passShowsPlaceholderThenFeedAndIgnoresRequestsMeanwhile) {
    PluginWindow plugin;
    REQUIRE(plugin.window != nullptr);
    std::string response = feedResponse("Loopback News", {"First", "Second"});
    TestServer server{};
    REQUIRE(startServer(server, serveAfterRelease, response));
    TestServer other{};
    REQUIRE(startServer(other, serveWhole, feedResponse("Other", {"X"})));
    lastUpdateTime[0] = '\0';
    entryCount = 0;

    setFeedUrl(serverUrl(server, "/news.rss"));
    CHECK(requestUpdate());
    CHECK(workerSemaphore != nullptr);
    CHECK_EQ(joined(titles(DisplayList)), connecting);
    CHECK_EQ(DisplayList.first->titleLength, 13);
    REQUIRE(waitForConnections(server, 1, 5000));

    // Timer ticks and commands while the pass runs start nothing and leave both lists alone,
    // also after the address changed.
    const FeedItem* shown = DisplayList.first;
    setFeedUrl(serverUrl(other, "/other.rss"));
    for (int i = 0; i < 3; ++i) {
        CHECK(requestUpdate());
        pump(100);
    }
    CHECK(DisplayList.first == shown);
    CHECK_EQ(joined(titles(DisplayList)), connecting);
    CHECK_EQ(server.connections, 1L);
    CHECK_EQ(other.connections, 0L);
    CHECK_EQ(messagesHandled, 0);
    CHECK_EQ(lastUpdateTime, std::string());

    releaseServer(server);
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK(workerSemaphore == nullptr);
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Loopback News][First][Second]"));
    CHECK_EQ(joined(titles(FetchList)), std::string("[Loopback News][First][Second]"));
    CHECK(lastPosted == reinterpret_cast<LPARAM>(FetchList.first));
    CHECK_EQ(entryCount, 3);
    CHECK(looksLikeUpdateTime(lastUpdateTime));
    REQUIRE(DisplayList.first && DisplayList.first->next);
    CHECK_EQ(DisplayList.first->next->link, "http://example.invalid/1");
    CHECK_EQ(DisplayList.first->next->description, "About First");
    CHECK(DisplayList.first->next->title != FetchList.first->next->title);

    // The next request fetches the address as it stands now.
    pump(100);
    CHECK(requestUpdate());
    REQUIRE(pumpUntilHandled(2, 10000));
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Other][X]"));
    CHECK_EQ(other.connections, 1L);
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
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Morning][A1][A2][A3]"));
    CHECK_EQ(entryCount, 4);
    requestUpdate();
    CHECK_EQ(joined(titles(DisplayList)), connecting);
    REQUIRE(pumpUntilHandled(2, 10000));
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Evening][B1]"));
    CHECK_EQ(joined(titles(FetchList)), std::string("[Evening][B1]"));
    CHECK_EQ(entryCount, 2);
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
    struct Case {
        const char* name;
        ServerBehaviour behaviour;
        std::string response;
        std::string shown; // the DisplayList after the pass
        bool posted;       // lParam non-null
        bool stamped;      // lastUpdateTime set
    } cases[] = {
        {"normal", serveWhole, feed, "[Loopback][Only]", true, true},
        {"small writes", serveSmallWrites, feed, "[Loopback][Only]", true, true},
        {"20 MB", serveWhole, big, "[Big][Huge]", true, true},
        // Whatever is not a whole 2xx response is a failure, and nothing of it is parsed.
        {"closes at once", serveCloseAtOnce, "", failed, true, false},
        {"headers then silence", serveThenSilence, "HTTP/1.0 200 OK\r\n\r\n", failed, true, false},
        {"never accepts", serveNeverAccept, "", failed, true, false},
        {"resets mid-way", serveThenReset, cut, "[Partial][Whole item]", true, true},
        {"garbage", serveWhole, garbage, failed, true, false},
        {"404 page", serveWhole, notFound, failed, true, false},
    };
    for (const Case& c : cases) {
        PluginWindow plugin;
        TestServer server{};
        REQUIRE(startServer(server, c.behaviour, c.response, 5));
        std::strcpy(lastUpdateTime, "01/02 03:04");
        setFeedUrl(serverUrl(server, "/feed"));
        requestUpdate();
        bool handled = pumpUntilHandled(1, 15000);
        stopServer(server);
        if (!handled) {
            check::fail(__FILE__, __LINE__, std::string("no message: ") + c.name);
            continue;
        }
        std::string shown = joined(titles(DisplayList));
        if (shown != c.shown)
            check::fail(__FILE__, __LINE__, std::string(c.name) + ": shows " + shown);
        if ((lastPosted != 0) != c.posted)
            check::fail(__FILE__, __LINE__, std::string(c.name) + ": lParam");
        bool stamped = std::strcmp(lastUpdateTime, "01/02 03:04") != 0;
        if (stamped != c.stamped || (stamped && !looksLikeUpdateTime(lastUpdateTime)))
            check::fail(__FILE__, __LINE__, std::string(c.name) + ": time " + lastUpdateTime);
        CHECK(workerSemaphore == nullptr);
    }
}

TEST(wrongAddressesShowCouldntConnectWithoutTraffic) {
    PluginWindow plugin;
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feedResponse("Never", {"seen"})));
    std::string hostPort = "127.0.0.1:" + std::to_string(server.port);
    entryCount = 5;
    lastUpdateTime[0] = '\0';
    const std::string addresses[] = {"http://" + hostPort + "/fe ed", "ftp://" + hostPort + "/",
                                     "http:" + hostPort + "/", "http:///feed",
                                     "http://127.0.0.1:" + std::to_string(unusedPort()) + "/"};
    int handled = 0;
    for (const std::string& url : addresses) {
        setFeedUrl(url);
        requestUpdate();
        CHECK_EQ(joined(titles(DisplayList)), connecting);
        REQUIRE(pumpUntilHandled(++handled, 10000));
        CHECK_EQ(joined(titles(DisplayList)), failed);
        CHECK_EQ(DisplayList.first->entryIndex, 0);
        CHECK(lastPosted != 0);
    }
    // A failed pass keeps the count and time of the last success.
    CHECK_EQ(entryCount, 5);
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
            REQUIRE(workerSemaphore != nullptr);
            Sleep(stall.settle);
            DWORD started = GetTickCount();
            stopUpdate();
            DWORD took = GetTickCount() - started;
            std::printf("stopUpdate, %s: %lu ms\n", stall.name, took);
            CHECK(took < 5000);
            CHECK(workerSemaphore == nullptr);
            // The stopped pass posts nothing and leaves the placeholder list alone.
            pump(400);
            CHECK_EQ(messagesHandled, 0);
            CHECK_EQ(joined(titles(FetchList)), connecting);
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
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Back][again]"));
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
        CHECK(workerSemaphore == nullptr);
        // What shut-down does next: the lists are released while the pass may still run.
        freeFetchList();
        freeDisplayList();
        CHECK(threadsBackTo(baseline, 3000));
        pump(200);
        CHECK_EQ(messagesHandled, 0);
        CHECK(FetchList.first == nullptr && FetchList.last == nullptr);
        CHECK(DisplayList.first == nullptr);
    }
    updateStopWaitMs = savedWait;
    stopServer(server);
}

TEST(staleMessagesAreIgnored) {
    TestServer fast{};
    REQUIRE(startServer(fast, serveWhole, feedResponse("Stale", {"old"})));
    TestServer held{};
    REQUIRE(startServer(held, serveAfterRelease, feedResponse("Fresh", {"new"})));
    PluginWindow plugin;
    setFeedUrl(serverUrl(fast, "/"));
    requestUpdate();
    // Let the pass finish and post without handling its message, then stop: the message is now
    // stale, and its list is released as shut-down would.
    HANDLE semaphore = workerSemaphore;
    REQUIRE(WaitForSingleObject(semaphore, 10000) == WAIT_OBJECT_0);
    ReleaseSemaphore(semaphore, 1, nullptr);
    stopUpdate();
    freeFetchList();
    freeDisplayList();

    // A new pass starts; the stale message arrives while it runs and changes nothing.
    setFeedUrl(serverUrl(held, "/"));
    requestUpdate();
    REQUIRE(pumpUntilHandled(1, 5000));
    CHECK_EQ(joined(titles(DisplayList)), connecting);
    CHECK(workerSemaphore != nullptr);
    releaseServer(held);
    REQUIRE(pumpUntilHandled(2, 10000));
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Fresh][new]"));
    CHECK(workerSemaphore == nullptr);
    stopServer(fast);
    stopServer(held);
}

TEST(aResultThatCouldNotBePostedDoesNotBlockLaterPasses) {
    TestServer server{};
    server.responses = {feedResponse("Unseen", {"lost"}), feedResponse("Seen", {"shown"})};
    REQUIRE(startServer(server, serveWhole, ""));
    PluginWindow plugin;
    setFeedUrl(serverUrl(server, "/"));
    // The window is gone while the pass runs: its message cannot be posted.
    runtime.pluginWindow = nullptr;
    requestUpdate();
    HANDLE semaphore = workerSemaphore;
    REQUIRE(semaphore != nullptr);
    REQUIRE(WaitForSingleObject(semaphore, 10000) == WAIT_OBJECT_0);
    ReleaseSemaphore(semaphore, 1, nullptr);
    runtime.pluginWindow = plugin.window;
    // The next request starts a new pass all the same.
    requestUpdate();
    CHECK_EQ(joined(titles(DisplayList)), connecting);
    REQUIRE(pumpUntilHandled(1, 10000));
    CHECK_EQ(joined(titles(DisplayList)), std::string("[Seen][shown]"));
    CHECK(workerSemaphore == nullptr);
    stopServer(server);
    CHECK_EQ(server.connections, 2L);
}
