// The http client through fetchFeed against in-process servers on 127.0.0.1: the request on the
// wire, bodies that come in small pieces or large, and how a fetch ends with servers that close,
// stall, reset or never answer.
#include <windows.h>
#include <cstdlib>
#include <string>
#include "feed/fetch.h"
#include "feed/http_fetch.h"
#include "feed/worker_stack.h"
#include "tests/feed/test_server.h"
#include "tests/support/check.h"

namespace {

WinsockSession winsock;

// The outcome of one fetch, the body as a string, the result freed.
struct Fetched {
    bool present; // a body arrived
    std::string text;
    std::string reason;
};

Fetched fetch(const std::string& url) {
    volatile LONG never = 0;
    FetchRequest request = {url.c_str(), nullptr, nullptr, &never, nullptr};
    FetchResult result;
    fetchFeed(&request, &result);
    Fetched fetched = {result.body != nullptr,
                       result.body ? std::string(result.body, result.bodyLength) : std::string(),
                       result.reason};
    freeFetchResult(&result);
    return fetched;
}

std::string patterned(size_t size) {
    std::string body(size, ' ');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
    return body;
}

const char* const wholeFeedResponse =
    "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n"
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Loopback</title>"
    "<item><title>One</title><link>http://example.invalid/1</link></item></channel></rss>";

// Restores the stall limit when a test that shortened it ends.
struct StallLimit {
    unsigned long saved;
    explicit StallLimit(unsigned long ms) : saved(fetchStallLimitMs) { fetchStallLimitMs = ms; }
    ~StallLimit() { fetchStallLimitMs = saved; }
};

} // namespace

TEST(requestOnTheWireAndWholeBody) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, wholeFeedResponse));
    std::string url = serverUrl(server, "/feeds/news.xml?lang=en&n=10#top");
    const std::string body =
        std::string(wholeFeedResponse)
            .substr(std::strlen("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n"));
    CHECK_EQ(fetch(url).text, body);
    // The scheme may be written in any letter case; an address without a path asks for "/".
    CHECK_EQ(fetch("HTTP" + url.substr(4)).text, body);
    CHECK_EQ(fetch("http://127.0.0.1:" + std::to_string(server.port)).text, body);
    stopServer(server);

    std::vector<std::string> requests = recordedRequests(server);
    REQUIRE(requests.size() == 3);
    // HTTP/1.1, one request per connection.
    std::string host =
        "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\nConnection: close\r\n";
    char headers[fetchHeaderSize];
    FetchRequest plain = {url.c_str(), nullptr, nullptr, nullptr, nullptr};
    formatRequestHeaders(&plain, headers, sizeof headers);
    // The fragment stays with the client.
    CHECK_EQ(requests[0],
             "GET /feeds/news.xml?lang=en&n=10 HTTP/1.1\r\n" + host + headers + "\r\n");
    CHECK_EQ(requests[1], requests[0]);
    CHECK_EQ(requests[2], "GET / HTTP/1.1\r\n" + host + headers + "\r\n");
}

TEST(bodiesArriveWholeInAnyPieces) {
    const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
    const struct {
        ServerBehaviour behaviour;
        size_t size;
        size_t pieces;
    } rows[] = {{serveSmallWrites, 10000, 7}, {serveWhole, 30u << 20, 0}};
    for (const auto& row : rows) {
        std::string body = patterned(row.size);
        TestServer server{};
        REQUIRE(startServer(server, row.behaviour, head + body, row.pieces));
        Fetched got = fetch(serverUrl(server, "/body"));
        stopServer(server);
        CHECK(got.present);
        CHECK_EQ(got.text.size(), body.size());
        CHECK(got.text == body);
    }
}

TEST(howServersThatMisbehaveEndTheFetch) {
    StallLimit limit(1000);
    const struct {
        ServerBehaviour behaviour;
        const char* response;
        const char* reason; // null: the body arrives
        const char* body;
    } rows[] = {
        // Closing without a word, and garbage, are not HTTP responses.
        {serveCloseAtOnce, "", "not an HTTP response", nullptr},
        {serveWhole, "\x01\x02garbage\r\n\r\n", "not an HTTP response", nullptr},
        // A reset cuts a body of announced length short.
        {serveThenReset, "HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n<rss>", "", nullptr},
        // A body of announced length is whole at once, although the server stays silent.
        {serveThenSilence, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nwhole", nullptr, "whole"},
        // Headers, then silence; accepted and never answered; a connection nobody answers.
        {serveThenSilence, "HTTP/1.0 200 OK\r\n\r\n", "timed out", nullptr},
        {serveNeverAccept, "", "timed out", nullptr},
        {serveBacklogFull, "", "timed out", nullptr},
    };
    for (const auto& row : rows) {
        TestServer server{};
        REQUIRE(startServer(server, row.behaviour, row.response));
        DWORD started = GetTickCount();
        Fetched got = fetch(serverUrl(server, "/"));
        DWORD took = GetTickCount() - started;
        stopServer(server);
        bool good = row.reason ? !got.present && (row.reason[0] == '\0' ? !got.reason.empty()
                                                                        : got.reason == row.reason)
                               : got.present && got.text == row.body;
        if (!good || took >= 5000)
            check::fail(__FILE__, __LINE__,
                        std::string(row.response) + ": reason \"" + got.reason + "\" after " +
                            std::to_string(took) + " ms");
    }
}

TEST(malformedAddressesFailWithoutConnecting) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, "HTTP/1.0 200 OK\r\n\r\n"));
    std::string hostPort = "127.0.0.1:" + std::to_string(server.port);
    const std::string bad[] = {
        "127.0.0.1/",
        "http:" + hostPort + "/",                       // no "//"
        "http:/" + hostPort + "/",                      // one slash
        "http:///feed",                                 // empty host
        "http://:" + std::to_string(server.port) + "/", // empty host before the port
        "ftp://" + hostPort + "/",                      // other schemes
        "httpx://" + hostPort + "/",
        "://" + hostPort + "/",
        "http://127.0.0.1:/", // malformed ports
        "http://127.0.0.1:0/",
        "http://127.0.0.1:65536/",
        "http://127.0.0.1:99999999999/",
        "http://127.0.0.1:8o8o/",
        "http://127.0.0.1:-80/",
    };
    for (const std::string& url : bad) {
        Fetched got = fetch(url);
        if (got.present || got.reason != "invalid address")
            check::fail(__FILE__, __LINE__, "fetched: " + url + " (" + got.reason + ")");
    }
    FetchResult result;
    CHECK(!fetchFeed(nullptr, &result));
    Sleep(100);
    CHECK_EQ(server.connections, 0L);
    stopServer(server);
}

TEST(hostNamesAreResolvedAndUnknownOnesSaySo) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, "HTTP/1.0 200 OK\r\n\r\nby name"));
    std::string url = "http://localhost:" + std::to_string(server.port) + "/n";
    Fetched got = fetch(url);
    stopServer(server);
    CHECK_EQ(got.text, std::string("by name"));
    std::vector<std::string> requests = recordedRequests(server);
    REQUIRE(requests.size() == 1);
    CHECK(requests[0].find("\r\nHost: localhost:" + std::to_string(server.port) + "\r\n") !=
          std::string::npos);
    CHECK_EQ(fetch("http://no-such-host.invalid/feed").reason, std::string("name not found"));
}

namespace {

struct StackProbe {
    bool framesKept;   // the frames above the release still hold what they held
    bool deepUseWorks; // 150 KiB of stack used after the release reads back what was written
};

// Fills buffer, gives back the stack below, then checks buffer.
__attribute__((noinline)) bool releaseBelowAFullFrame() {
    volatile unsigned char buffer[32 * 1024];
    for (size_t i = 0; i < sizeof buffer; ++i)
        buffer[i] = static_cast<unsigned char>(i * 7 + 1);
    releaseUnusedStack();
    for (size_t i = 0; i < sizeof buffer; ++i)
        if (buffer[i] != static_cast<unsigned char>(i * 7 + 1))
            return false;
    return true;
}

__attribute__((noinline)) bool useDeepStack() {
    volatile unsigned char buffer[150 * 1024];
    for (size_t i = 0; i < sizeof buffer; i += 512)
        buffer[i] = static_cast<unsigned char>(i >> 9);
    for (size_t i = 0; i < sizeof buffer; i += 512)
        if (buffer[i] != static_cast<unsigned char>(i >> 9))
            return false;
    return true;
}

unsigned __stdcall probeStack(void* argument) {
    StackProbe* probe = static_cast<StackProbe*>(argument);
    volatile char outer[4096];
    for (size_t i = 0; i < sizeof outer; ++i)
        outer[i] = static_cast<char>(i);
    bool kept = releaseBelowAFullFrame();
    for (size_t i = 0; i < sizeof outer; ++i)
        kept = kept && outer[i] == static_cast<char>(i);
    probe->framesKept = kept;
    probe->deepUseWorks = useDeepStack();
    return 0;
}

} // namespace

// A feed thread gives back the stack it does not use without losing a frame, and still has the
// stack a pass needs afterwards.
TEST(feedThreadsKeepTheirFramesWhenTheyGiveBackStack) {
    StackProbe probe = {};
    HANDLE thread = reinterpret_cast<HANDLE>(beginWorkerThread(probeStack, &probe));
    REQUIRE(thread != nullptr);
    REQUIRE(WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    CHECK(probe.framesKept);
    CHECK(probe.deepUseWorks);
}
