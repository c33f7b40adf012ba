// fetchFeed end to end against the feed servers of feed_test_server.py on 127.0.0.1 (a plain http
// port and https ports with a trusted, an expired, a wrong-host and an untrusted certificate),
// through both clients: certificates, redirects, bodies as real servers send them, the bounds of
// a pass, the request as the servers saw it, and stopping. run-with-feed-servers.sh starts the
// servers and passes their ports in FM_PORT_* variables.
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>
#include <string>
#include "feed/fetch.h"
#include "feed/http_fetch.h"
#include "tests/feed/test_server.h"
#include "tests/support/check.h"

namespace {

WinsockSession winsock;

const std::string feedText =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
    "<title>Loopback Feed</title><link>http://example.invalid/</link>"
    "<item><title>First headline</title><link>http://example.invalid/1</link>"
    "<description>The first story.</description></item>"
    "<item><title>Second headline</title><link>http://example.invalid/2</link></item>"
    "</channel></rss>\n";

std::string port(const char* name) {
    std::string variable = std::string("FM_PORT_") + name;
    const char* value = std::getenv(variable.c_str());
    return value ? value : "0";
}

// "http://localhost:<port of the http server>" or the https one named.
std::string base(const char* name) {
    std::string scheme = std::string(name) == "HTTP" ? "http" : "https";
    return scheme + "://localhost:" + port(name);
}

struct Fetched {
    bool ok;
    bool notModified;
    bool hasBody;
    int status;
    std::string body;
    std::string reason;
    std::string finalUrl;
    bool movedPermanently;
    std::string etag, lastModified, contentType;
    DWORD tookMs;
};

Fetched fetch(const std::string& url, const char* etag = nullptr, const char* modified = nullptr,
              volatile LONG* stop = nullptr) {
    volatile LONG never = 0;
    FetchRequest request = {url.c_str(), etag, modified, stop ? stop : &never};
    FetchResult result;
    DWORD started = GetTickCount();
    bool ok = fetchFeed(&request, &result);
    Fetched got;
    got.tookMs = GetTickCount() - started;
    got.ok = ok && result.ok;
    got.notModified = result.notModified;
    got.hasBody = result.body != nullptr;
    got.status = result.status;
    got.body = result.body ? std::string(result.body, result.bodyLength) : std::string();
    got.reason = result.reason;
    got.finalUrl = result.finalUrl;
    got.movedPermanently = result.movedPermanently;
    got.etag = result.etag;
    got.lastModified = result.lastModified;
    got.contentType = result.contentType;
    freeFetchResult(&result);
    return got;
}

// Reports a failed row with its label and what came back.
void expectRow(bool good, const std::string& label, const Fetched& got) {
    if (!good)
        check::fail(__FILE__, __LINE__,
                    label + ": ok=" + (got.ok ? "1" : "0") + " reason=\"" + got.reason +
                        "\" final=" + got.finalUrl + " status=" + std::to_string(got.status));
}

size_t peakMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage > counters.PeakWorkingSetSize ? counters.PeakPagefileUsage
                                                                    : counters.PeakWorkingSetSize;
}

const char* const schemes[] = {"HTTP", "HTTPS"};

DWORD WINAPI stopAfterASecond(void* flag) {
    Sleep(1000);
    InterlockedExchange(static_cast<volatile LONG*>(flag), 1);
    return 0;
}

} // namespace

// Runs first: the memory peak it reports is then its own.
TEST(oversizedBodiesFailAtTheCapWithBoundedMemory) {
    size_t before = peakMemory();
    for (const char* scheme : schemes) {
        // 1 GiB of zeros compressed to about 1 MB, and an endless stream without a length.
        for (const char* path : {"/bomb", "/endless"}) {
            Fetched got = fetch(base(scheme) + path);
            expectRow(!got.ok && !got.hasBody && got.reason == "feed too large",
                      std::string(scheme) + path, got);
        }
    }
    size_t peak = peakMemory();
    std::printf("peak memory: %.1f MB before, %.1f MB after the oversized bodies\n",
                before / 1048576.0, peak / 1048576.0);
    // The body cap is 32 MiB; a decoder that inflated the bomb would need 1 GiB.
    CHECK(peak < before + (160u << 20));
}

TEST(certificateFaultsFailWithAReasonAndHandNothingOver) {
    Fetched trusted = fetch(base("HTTPS") + "/feed");
    expectRow(trusted.ok && trusted.body == feedText, "trusted", trusted);
    // This Wine may report different certificate faults with one error; then the reason is the
    // general one.
    const struct {
        const char* server;
        const char* reason;
    } rows[] = {{"EXPIRED", "certificate expired"},
                {"OTHERHOST", "certificate for another host"},
                {"UNTRUSTED", "certificate not trusted"}};
    for (const auto& row : rows) {
        Fetched got = fetch(base(row.server) + "/feed");
        std::printf("%s: %s\n", row.server, got.reason.c_str());
        expectRow(!got.ok && !got.hasBody &&
                      (got.reason == row.reason || got.reason == "secure connection failed"),
                  row.server, got);
    }
}

TEST(redirectsAreFollowedWithinTheirRules) {
    const std::string http = base("HTTP"), https = base("HTTPS");
    const struct {
        std::string url;
        const char* reason; // null: the feed arrives
        std::string finalUrl;
        bool permanent;
    } rows[] = {
        {http + "/redirect?301&/feed", nullptr, http + "/feed", true},
        {http + "/redirect?302&https://localhost:HTTPSPORT/feed", nullptr, https + "/feed", false},
        {https + "/redirect?308&/feed", nullptr, https + "/feed", true},
        {https + "/redirect?303&feed", nullptr, https + "/feed", false},
        {http + "/redirect?307&http://localhost:HTTPPORT/feed", nullptr, http + "/feed", false},
        {http + "/hops/5", nullptr, http + "/hops/0", false},
        {https + "/hops/5", nullptr, https + "/hops/0", false},
        {http + "/hops/6", "too many redirects", http + "/hops/1", false},
        {https + "/hops/6", "too many redirects", https + "/hops/1", false},
        {http + "/loop-a", "redirect loop", http + "/loop-b", false},
        {https + "/redirect?302&http://localhost:HTTPPORT/feed", "redirect to http refused",
         https + "/redirect?302&http://localhost:HTTPPORT/feed", false},
    };
    for (const auto& row : rows) {
        Fetched got = fetch(row.url);
        bool good = row.reason
                        ? !got.ok && !got.hasBody && got.reason == row.reason
                        : got.ok && got.body == feedText && got.movedPermanently == row.permanent;
        expectRow(good && got.finalUrl == row.finalUrl, row.url, got);
    }
}

TEST(bodiesAsServersSendThem) {
    const struct {
        const char* path;
        const char* reason; // null: the feed (or for /empty, nothing) arrives
    } rows[] = {
        {"/feed", nullptr},
        {"/chunked", nullptr},
        {"/gzip", nullptr},
        {"/deflate", nullptr},
        {"/empty", nullptr},
        // The connection stays open after the body: done at once, not at the stall limit.
        {"/keep-open", nullptr},
        {"/404", "HTTP 404 Not Found"},
        {"/500", "HTTP 500 Internal Server Error"},
    };
    for (const char* scheme : schemes) {
        for (const auto& row : rows) {
            std::string label = std::string(scheme) + row.path;
            Fetched got = fetch(base(scheme) + row.path);
            std::string expected = std::string(row.path) == "/empty" ? "" : feedText;
            bool good = row.reason ? !got.ok && !got.hasBody && got.reason == row.reason
                                   : got.ok && got.hasBody && got.body == expected;
            expectRow(good && got.tookMs < 10000, label, got);
        }
        // A length of 4 GB over a small body: a failure, and no 4 GB reserved on its word.
        Fetched huge = fetch(base(scheme) + "/huge-length");
        expectRow(!huge.ok && !huge.hasBody && !huge.reason.empty(),
                  std::string(scheme) + "/huge-length", huge);
        // Validators and the type are kept; a 304 is a success without a body.
        Fetched kept = fetch(base(scheme) + "/validators");
        CHECK_EQ(kept.etag, std::string("\"v1\""));
        CHECK_EQ(kept.lastModified, std::string("Mon, 07 Dec 2026 09:30:00 GMT"));
        CHECK_EQ(kept.contentType, std::string("application/rss+xml"));
        Fetched same = fetch(base(scheme) + "/not-modified", "\"v1\"");
        expectRow(same.ok && same.notModified && !same.hasBody && same.status == 304,
                  std::string(scheme) + "/not-modified", same);
    }
}

TEST(aSlowDripEndsAtThePassLimit) {
    unsigned long saved = fetchPassLimitMs;
    fetchPassLimitMs = 3000;
    for (const char* scheme : schemes) {
        Fetched got = fetch(base(scheme) + "/drip");
        std::printf("%s drip ended after %lu ms\n", scheme, got.tookMs);
        expectRow(!got.ok && !got.hasBody && got.reason == "timed out" && got.tookMs >= 2500 &&
                      got.tookMs < 10000,
                  std::string(scheme) + "/drip", got);
    }
    fetchPassLimitMs = saved;
}

TEST(theRequestAsServersSawIt) {
    for (const char* scheme : schemes) {
        Fetched got =
            fetch(base(scheme) + "/echo?x=1#part", "\"abc\"", "Mon, 07 Dec 2026 09:30:00 GMT");
        REQUIRE(got.ok);
        const std::string& seen = got.body;
        const char* lines[] = {
            "GET /echo?x=1 HTTP/1.",
            "\r\nHost: localhost:",
            "\r\nUser-Agent: FeedMarquee/0.0.1a (+https://feedmarquee.example.org/)\r\n",
            "\r\nAccept: application/rss+xml, application/rdf+xml, application/atom+xml, "
            "application/xml;q=0.9, text/xml;q=0.9, */*;q=0.8\r\n",
            "\r\nAccept-Encoding: gzip, deflate\r\n",
            "\r\nIf-None-Match: \"abc\"\r\n",
            "\r\nIf-Modified-Since: Mon, 07 Dec 2026 09:30:00 GMT\r\n",
        };
        for (const char* line : lines)
            if (seen.find(line) == std::string::npos)
                check::fail(__FILE__, __LINE__, std::string(scheme) + " lacks " + line);
        CHECK(seen.find("#part") == std::string::npos);
        CHECK(seen.find("User-Agent:", seen.find("User-Agent:") + 1) == std::string::npos);
        // A validator that would add a line of its own is not sent.
        Fetched smuggled = fetch(base(scheme) + "/echo", "\"a\"\r\nX-Injected: 1");
        CHECK(smuggled.ok && smuggled.body.find("X-Injected") == std::string::npos);
    }
}

TEST(unsafeAddressesAreRefusedBeforeAnyConnection) {
    auto connections = [] { return std::atol(fetch(base("HTTP") + "/count").body.c_str()); };
    long before = connections();
    const std::string http = base("HTTP"), https = base("HTTPS");
    const std::string rows[] = {
        http + "/fe ed",
        https + "/fe ed",
        http + "/feed\r\nX-Injected: 1",
        https + "/feed\n",
        http + "/feed\t",
        " " + http + "/feed",
        "",
        "ftp://localhost/feed",
        "localhost/feed",
    };
    for (const std::string& url : rows) {
        Fetched got = fetch(url);
        expectRow(!got.ok && got.reason == "invalid address", "refused: " + url, got);
    }
    // Only the two counting requests reached the server.
    CHECK_EQ(connections(), before + 1);
}

TEST(unreachableServersSayWhy) {
    // A port nothing listens on: bind one, then release it.
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    int length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    std::string closed = std::to_string(ntohs(address.sin_port));
    for (const char* scheme : {"http", "https"}) {
        Fetched got = fetch(std::string(scheme) + "://127.0.0.1:" + closed + "/feed");
        expectRow(!got.ok && got.reason == "connection refused" && got.tookMs < 10000,
                  std::string(scheme) + " closed port", got);
        Fetched unknown = fetch(std::string(scheme) + "://no-such-host.invalid/feed");
        expectRow(!unknown.ok && unknown.reason == "name not found",
                  std::string(scheme) + " unknown host", unknown);
    }
}

TEST(aStopEndsAStalledDownloadPromptly) {
    for (const char* scheme : schemes) {
        volatile LONG stop = 0;
        HANDLE stopper =
            CreateThread(nullptr, 0, stopAfterASecond, const_cast<LONG*>(&stop), 0, nullptr);
        REQUIRE(stopper != nullptr);
        Fetched got = fetch(base(scheme) + "/stall", nullptr, nullptr, &stop);
        WaitForSingleObject(stopper, 5000);
        CloseHandle(stopper);
        long afterStop = static_cast<long>(got.tookMs) - 1000;
        std::printf("%s stalled download returned %ld ms after the stop\n", scheme, afterStop);
        expectRow(!got.ok && !got.hasBody && got.reason == "stopped" && afterStop < 5000,
                  std::string(scheme) + " stop", got);
    }
}

namespace {

// The user's proxy setting for the length of a test, as the system's settings dialog stores it
// (a named proxy, no automatic detection); the earlier setting comes back at the end.
struct UserProxy {
    HKEY key = nullptr;
    std::vector<BYTE> saved;
    bool hadValue = false;
    explicit UserProxy(const std::string& proxy) {
        RegCreateKeyExA(HKEY_CURRENT_USER,
                        "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\"
                        "Connections",
                        0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
        DWORD size = 0;
        hadValue = RegQueryValueExA(key, "DefaultConnectionSettings", nullptr, nullptr, nullptr,
                                    &size) == ERROR_SUCCESS;
        saved.resize(size);
        if (hadValue && size)
            RegQueryValueExA(key, "DefaultConnectionSettings", nullptr, nullptr, saved.data(),
                             &size);
        // Version marker, change counter, flags (a named proxy), then counted texts: the proxy,
        // the bypass list and the configuration script's address.
        std::vector<BYTE> settings;
        auto number = [&](DWORD value) {
            settings.insert(settings.end(), reinterpret_cast<BYTE*>(&value),
                            reinterpret_cast<BYTE*>(&value) + 4);
        };
        number(0x46);
        number(1);
        number(2);
        number(static_cast<DWORD>(proxy.size()));
        settings.insert(settings.end(), proxy.begin(), proxy.end());
        for (int i = 0; i < 8; ++i)
            number(0);
        RegSetValueExA(key, "DefaultConnectionSettings", 0, REG_BINARY, settings.data(),
                       static_cast<DWORD>(settings.size()));
    }
    ~UserProxy() {
        if (hadValue)
            RegSetValueExA(key, "DefaultConnectionSettings", 0, REG_BINARY, saved.data(),
                           static_cast<DWORD>(saved.size()));
        else
            RegDeleteValueA(key, "DefaultConnectionSettings");
        RegCloseKey(key);
    }
};

} // namespace

TEST(httpsGoesThroughTheUsersProxy) {
    auto proxied = [] { return std::atol(fetch(base("HTTP") + "/proxied").body.c_str()); };
    long before = proxied();
    UserProxy proxy("127.0.0.1:" + port("PROXY"));
    // The name resolves nowhere: only the proxy's tunnel reaches the server, whose certificate
    // names it.
    Fetched got = fetch("https://feeds.example.test:" + port("HTTPS") + "/feed");
    expectRow(got.ok && got.body == feedText, "through the proxy", got);
    CHECK_EQ(proxied(), before + 1);
    // The machine itself is reached directly.
    Fetched local = fetch(base("HTTPS") + "/feed");
    CHECK(local.ok);
    CHECK_EQ(proxied(), before + 1);
}
