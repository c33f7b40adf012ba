// fetchUrl against real servers on 127.0.0.1: what arrives, what the server was sent, and how the
// fetch ends with servers that close, stall, reset or never answer.
#include <windows.h>
#include <cstdlib>
#include <string>
#include "feed/http_fetch.h"
#include "tests/feed/test_server.h"
#include "tests/support/check.h"

namespace {

WinsockSession winsock;

// The fetched text as a string (and whether there was one), freeing it.
struct Fetched {
    bool present;
    std::string text;
};

Fetched fetch(const std::string& url) {
    char* text = fetchUrl(url.c_str());
    Fetched result = {text != nullptr, text ? std::string(text) : std::string()};
    std::free(text);
    return result;
}

std::string patterned(size_t size) {
    std::string body(size, ' ');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
    return body;
}

const char* const feedResponse =
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

TEST(requestOnTheWireAndWholeResponse) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, feedResponse));
    std::string url = serverUrl(server, "/feeds/news.xml?lang=en&n=10#top");
    Fetched got = fetch(url);
    CHECK(got.present);
    CHECK_EQ(got.text, std::string(feedResponse));
    // The scheme may be written in any letter case.
    std::string upper = "HTTP" + url.substr(4);
    Fetched again = fetch(upper);
    CHECK_EQ(again.text, std::string(feedResponse));
    stopServer(server);

    std::vector<std::string> requests = recordedRequests(server);
    REQUIRE(requests.size() == 2);
    std::string host = "127.0.0.1:" + std::to_string(server.port);
    std::string expected =
        "GET /feeds/news.xml?lang=en&n=10#top HTTP/1.0\r\nAccept: */*\r\nHost: " + host +
        "\r\n\r\n";
    CHECK_EQ(requests[0], expected);
    CHECK_EQ(requests[1], expected);
}

TEST(bareSlashRequestsRoot) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, "HTTP/1.0 200 OK\r\n\r\nx"));
    Fetched got = fetch(serverUrl(server, "/"));
    CHECK_EQ(got.text, std::string("HTTP/1.0 200 OK\r\n\r\nx"));
    stopServer(server);
    std::vector<std::string> requests = recordedRequests(server);
    REQUIRE(requests.size() == 1);
    CHECK_EQ(requests[0].substr(0, 16), std::string("GET / HTTP/1.0\r\n"));
}

TEST(manySmallWritesArriveWhole) {
    std::string response = "HTTP/1.0 200 OK\r\n\r\n";
    response += patterned(10000 - response.size());
    TestServer server{};
    REQUIRE(startServer(server, serveSmallWrites, response, 7));
    Fetched got = fetch(serverUrl(server, "/small"));
    stopServer(server);
    CHECK(got.present);
    CHECK_EQ(got.text.size(), size_t(10000));
    CHECK(got.text == response);
}

TEST(fiftyMegabytesArriveWhole) {
    std::string response = "HTTP/1.0 200 OK\r\n\r\n" + patterned(50u << 20);
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, response));
    char* text = fetchUrl(serverUrl(server, "/big").c_str());
    stopServer(server);
    REQUIRE(text != nullptr);
    size_t length = std::strlen(text);
    CHECK_EQ(length, response.size());
    CHECK(length == response.size() && std::memcmp(text, response.data(), length) == 0);
    std::free(text);
}

TEST(closeWithoutSendingGivesEmptyText) {
    TestServer server{};
    REQUIRE(startServer(server, serveCloseAtOnce, ""));
    Fetched got = fetch(serverUrl(server, "/"));
    stopServer(server);
    CHECK(got.present);
    CHECK_EQ(got.text, std::string());
    CHECK_EQ(server.connections, 1L);
}

TEST(resetMidwayKeepsWhatArrived) {
    std::string part = "HTTP/1.0 200 OK\r\n\r\n<rss><channel><title>Cut";
    TestServer server{};
    REQUIRE(startServer(server, serveThenReset, part));
    Fetched got = fetch(serverUrl(server, "/"));
    stopServer(server);
    CHECK(got.present);
    CHECK_EQ(got.text, part);
}

TEST(garbageAndErrorPagesArriveAsSent) {
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += static_cast<char>(1 + (i * 131) % 255);
    const std::string notFound =
        "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n"
        "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>";
    for (const std::string& response : {garbage, notFound}) {
        TestServer server{};
        REQUIRE(startServer(server, serveWhole, response));
        Fetched got = fetch(serverUrl(server, "/missing"));
        stopServer(server);
        CHECK(got.present);
        CHECK(got.text == response);
    }
}

TEST(silentServersEndAtTheStallLimit) {
    StallLimit limit(1000);
    // Headers, then silence: what arrived is the result.
    const std::string headers = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n";
    TestServer talker{};
    REQUIRE(startServer(talker, serveThenSilence, headers));
    DWORD started = GetTickCount();
    Fetched got = fetch(serverUrl(talker, "/"));
    DWORD took = GetTickCount() - started;
    stopServer(talker);
    CHECK(got.present);
    CHECK_EQ(got.text, headers);
    CHECK(took >= 900 && took < 5000);

    // Accepted by the system but never answered: nothing arrived, so the fetch failed.
    TestServer mute{};
    REQUIRE(startServer(mute, serveNeverAccept, ""));
    started = GetTickCount();
    got = fetch(serverUrl(mute, "/"));
    took = GetTickCount() - started;
    stopServer(mute);
    CHECK(!got.present);
    CHECK(took >= 900 && took < 5000);

    // A connection attempt that gets no answer at all ends too.
    TestServer full{};
    REQUIRE(startServer(full, serveBacklogFull, ""));
    started = GetTickCount();
    got = fetch(serverUrl(full, "/"));
    took = GetTickCount() - started;
    stopServer(full);
    CHECK(!got.present);
    CHECK(took >= 900 && took < 5000);
}

TEST(malformedAddressesFailWithoutConnecting) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, "HTTP/1.0 200 OK\r\n\r\n"));
    std::string hostPort = "127.0.0.1:" + std::to_string(server.port);
    const std::string bad[] = {
        "",
        "127.0.0.1/",
        "http:" + hostPort + "/",                       // no "//"
        "http:/" + hostPort + "/",                      // one slash
        "http://" + hostPort,                           // no path
        "http:///feed",                                 // empty host
        "http://:" + std::to_string(server.port) + "/", // empty host before the port
        "https://" + hostPort + "/",                    // other schemes
        "ftp://" + hostPort + "/",
        "httpx://" + hostPort + "/",
        "htt://" + hostPort + "/",
        "://" + hostPort + "/",
        "http://127.0.0.1:/", // malformed ports
        "http://127.0.0.1:0/",
        "http://127.0.0.1:65536/",
        "http://127.0.0.1:99999999999/",
        "http://127.0.0.1:8o8o/",
        "http://127.0.0.1:-80/",
        "http://127.0.0.1:+80/",
    };
    for (const std::string& url : bad) {
        Fetched got = fetch(url);
        if (got.present)
            check::fail(__FILE__, __LINE__, "fetched: " + url);
    }
    CHECK(fetchUrl(nullptr) == nullptr);
    Sleep(100);
    CHECK_EQ(server.connections, 0L);
    // The same server is reachable with a well-formed address.
    CHECK(fetch("http://" + hostPort + "/").present);
    stopServer(server);
    CHECK_EQ(server.connections, 1L);
}

TEST(unreachablePortFails) {
    std::string url = "http://127.0.0.1:" + std::to_string(unusedPort()) + "/feed";
    DWORD started = GetTickCount();
    CHECK(!fetch(url).present);
    CHECK(GetTickCount() - started < 5000);
}

TEST(hostNamesAreResolved) {
    TestServer server{};
    REQUIRE(startServer(server, serveWhole, "HTTP/1.0 200 OK\r\n\r\nby name"));
    std::string url = "http://localhost:" + std::to_string(server.port) + "/n";
    Fetched got = fetch(url);
    stopServer(server);
    CHECK_EQ(got.text, std::string("HTTP/1.0 200 OK\r\n\r\nby name"));
    std::vector<std::string> requests = recordedRequests(server);
    REQUIRE(requests.size() == 1);
    CHECK(requests[0].find("\r\nHost: localhost:" + std::to_string(server.port) + "\r\n") !=
          std::string::npos);
}

TEST(announcedLengthDoesNotLimitTheDownload) {
    // A Content-Length line only sizes the buffer: the download still runs until the server
    // closes, whether the line understates, overstates or is absurd.
    std::string body = patterned(70000);
    const std::string headers[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n",
        "HTTP/1.0 200 OK\r\ncontent-LENGTH:   20000000\r\n\r\n",
        "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "HTTP/1.0 200 OK\r\nX-Content-Length: 5\r\nContent-Length: -3\r\n\r\n",
    };
    for (const std::string& header : headers) {
        TestServer server{};
        REQUIRE(startServer(server, serveSmallWrites, header + body, 4000));
        Fetched got = fetch(serverUrl(server, "/sized"));
        stopServer(server);
        CHECK(got.present);
        CHECK_EQ(got.text.size(), header.size() + body.size());
        CHECK(got.text == header + body);
    }
}
