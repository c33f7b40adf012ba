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
#include "feed/winhttp_fetch.h"
#include "release/version.h"
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
    std::string etag, lastModified, contentType, retryAfter;
    DWORD tookMs;
};

Fetched fetch(const std::string& url, const char* etag = nullptr, const char* modified = nullptr,
              volatile LONG* stop = nullptr, const char* validatorsUrl = nullptr) {
    volatile LONG never = 0;
    FetchRequest request = {url.c_str(), etag, modified, stop ? stop : &never, validatorsUrl};
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
    got.retryAfter = result.retryAfter;
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
        {http + "/redirect?302&http://user@localhost:HTTPPORT/feed", "invalid redirect address",
         http + "/redirect?302&http://user@localhost:HTTPPORT/feed", false},
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
            scheme == std::string("HTTP") ? "GET /echo?x=1 HTTP/1.1\r\n" : "GET /echo?x=1 HTTP/1.",
            "\r\nHost: localhost:",
            "\r\nUser-Agent: FeedMarquee/" FM_VERSION "\r\n",
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
        // An address naming a user is refused, whatever the scheme.
        "http://user@" + http.substr(7) + "/feed",
        "https://user:secret@" + https.substr(8) + "/feed",
        "http://:@" + http.substr(7) + "/feed",
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
// (a named proxy, and a proxy script when one is given); the earlier setting comes back at the
// end.
struct UserProxy {
    HKEY key = nullptr;
    std::vector<BYTE> saved;
    bool hadValue = false;
    explicit UserProxy(const std::string& proxy, const std::string& script = "") {
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
        number(script.empty() ? 2 : 2 | 4);
        number(static_cast<DWORD>(proxy.size()));
        settings.insert(settings.end(), proxy.begin(), proxy.end());
        number(0);
        number(static_cast<DWORD>(script.size()));
        settings.insert(settings.end(), script.begin(), script.end());
        for (int i = 0; i < 6; ++i)
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

namespace {

// "/raw?HEX": the feed server answers with exactly these bytes.
std::string raw(const std::string& response) {
    static const char hex[] = "0123456789abcdef";
    std::string path = "/raw?";
    for (unsigned char c : response) {
        path += hex[c >> 4];
        path += hex[c & 15];
    }
    return path;
}

} // namespace

// Long addresses and validators are kept whole or refused; error answers end at their headers;
// folded headers are joined; a blank in a Location is encoded; validators go only to their own
// address.
TEST(longFieldsErrorAnswersAndRedirectTargetsAsServersSendThem) {
    for (const char* scheme : schemes) {
        const std::string at = base(scheme);
        const std::string label = scheme;
        // A Location of 8100 letters is followed whole; one past 8 KiB is refused, not cut.
        // Wine's WinHTTP cuts header lines at 1459 bytes: there a long one is refused too.
        bool whole = std::string(scheme) == "HTTP";
        Fetched longTarget = fetch(at + "/long-location?8100");
        expectRow(whole ? longTarget.ok &&
                              longTarget.body.find(std::string(8100, 'A') + "&end=1 HTTP/1.") !=
                                  std::string::npos
                        : longTarget.ok || longTarget.reason == "invalid redirect address",
                  label + " long Location", longTarget);
        Fetched tooLong = fetch(at + "/long-location?8200");
        expectRow(!tooLong.ok && tooLong.reason == "invalid redirect address",
                  label + " too long Location", tooLong);
        // Validators of 8 KiB are kept and sent back whole (or, where the client cut them, not
        // kept); longer ones are dropped.
        Fetched kept = fetch(at + "/long-validators?8192");
        CHECK(kept.ok && (kept.etag.size() == 8192 || (!whole && kept.etag.empty())));
        CHECK(kept.lastModified.size() == 8192 || (!whole && kept.lastModified.empty()));
        std::string etag = "\"" + std::string(8190, 'e') + "\"";
        Fetched sent = fetch(at + "/echo", etag.c_str());
        CHECK(sent.body.find("If-None-Match: " + etag + "\r\n") != std::string::npos);
        Fetched dropped = fetch(at + "/long-validators?8193");
        CHECK(dropped.ok && dropped.etag.empty() && dropped.lastModified.empty());

        // A 503 cut short keeps its status and Retry-After; a 404 announcing 34 MiB is never read.
        Fetched busy = fetch(at + raw("HTTP/1.1 503 Service Unavailable\r\nRetry-After: 3600\r\n"
                                      "Content-Length: 100000\r\n\r\ncut"));
        expectRow(!busy.ok && busy.status == 503 && busy.retryAfter == "3600" &&
                      busy.reason == "HTTP 503 Service Unavailable",
                  label + " cut 503", busy);
        Fetched missing = fetch(at + "/huge-404");
        expectRow(!missing.ok && missing.reason == "HTTP 404 Not Found", label + " huge 404",
                  missing);

        // Validators sent for the first address do not follow a redirect elsewhere, and reach the
        // address they were given for.
        Fetched moved =
            fetch(at + "/redirect?302&/echo", "\"old\"", "Mon, 07 Dec 2026 09:30:00 GMT");
        expectRow(moved.ok && moved.body.find("If-None-Match") == std::string::npos &&
                      moved.body.find("If-Modified-Since") == std::string::npos,
                  label + " validators after a redirect", moved);
        std::string target = at + "/echo";
        Fetched there =
            fetch(at + "/redirect?302&/echo", "\"new\"", nullptr, nullptr, target.c_str());
        CHECK(there.body.find("If-None-Match: \"new\"\r\n") != std::string::npos);
    }
    // Raw responses through the plain client's own response stage.
    const std::string http = base("HTTP");
    Fetched blank = fetch(http + raw("HTTP/1.1 302 Found\r\nLocation: /echo?a b\"c\r\n\r\n"));
    expectRow(blank.ok && blank.finalUrl == http + "/echo?a%20b%22c" &&
                  blank.body.find("GET /echo?a%20b%22c HTTP/1.1") != std::string::npos,
              "blank in Location", blank);
    Fetched folded = fetch(http + raw("HTTP/1.1 301 Moved\r\nLocation:\r\n  /feed\r\n\r\n"));
    expectRow(folded.ok && folded.body == feedText, "folded Location", folded);
    Fetched charset =
        fetch(http + raw("HTTP/1.1 200 OK\r\nContent-Type: text/xml;\r\n\tcharset=koi8-r"
                         "\r\n\r\n<rss/>"));
    CHECK_EQ(charset.contentType, std::string("text/xml; charset=koi8-r"));
    Fetched chunkedFirst =
        fetch(http + raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n"
                         "3\r\nabc\r\n0\r\n\r\n"));
    expectRow(!chunkedFirst.ok && chunkedFirst.reason == "unsupported transfer encoding",
              "chunked not last", chunkedFirst);
}

namespace {

DWORD WINAPI stopAfter(void* flag) {
    Sleep(1000);
    InterlockedExchange(static_cast<volatile LONG*>(flag), 1);
    return 0;
}

// A fetch with a stop one second in; how long after the stop it returned comes back in tookMs.
Fetched fetchStoppedAfterASecond(const std::string& url) {
    volatile LONG stop = 0;
    HANDLE stopper = CreateThread(nullptr, 0, stopAfter, const_cast<LONG*>(&stop), 0, nullptr);
    Fetched got = fetch(url, nullptr, nullptr, &stop);
    WaitForSingleObject(stopper, 5000);
    CloseHandle(stopper);
    got.tookMs -= 1000;
    return got;
}

bool slowLookUp(const char*, unsigned long*) {
    Sleep(20000);
    return false;
}

void slowDiscovery(ProxyDiscovery*) {
    Sleep(20000);
}

void directDiscovery(ProxyDiscovery* discovery) {
    discovery->answered = true;
}

} // namespace

// Waits that know no stop of their own (a TLS handshake never answered, the name lookup, proxy
// discovery) end at a stop or at the stall limit all the same.
TEST(silentHandshakesLookupsAndProxyScriptsEndAtAStopOrTheStallLimit) {
    unsigned long savedStall = fetchStallLimitMs;
    fetchStallLimitMs = 2000;
    // Accepts, reads the greeting and never answers it.
    TestServer silent{};
    REQUIRE(startServer(silent, serveAfterRelease, "HTTP/1.1 200 OK\r\n\r\n"));
    Fetched handshake = fetch("https://localhost:" + std::to_string(silent.port) + "/feed");
    std::printf("silent handshake ended after %lu ms\n", handshake.tookMs);
    expectRow(!handshake.ok && handshake.reason == "timed out" && handshake.tookMs < 15000,
              "silent handshake", handshake);
    releaseServer(silent);
    stopServer(silent);

    bool (*systemLookUp)(const char*, unsigned long*) = lookUpHostName;
    lookUpHostName = slowLookUp;
    Fetched lookup = fetch("http://slow-name.invalid/feed");
    expectRow(!lookup.ok && lookup.reason == "timed out" && lookup.tookMs < 15000, "slow lookup",
              lookup);
    fetchStallLimitMs = savedStall;
    Fetched stopped = fetchStoppedAfterASecond("http://slow-name.invalid/feed");
    expectRow(!stopped.ok && stopped.reason == "stopped" && stopped.tookMs < 5000,
              "slow lookup stopped", stopped);
    lookUpHostName = systemLookUp;

    // A proxy script that never answers; then one that answers DIRECT, which wins over the proxy
    // set by hand: the name does not resolve, and the proxy sees nothing.
    auto proxied = [] { return std::atol(fetch(base("HTTP") + "/proxied").body.c_str()); };
    long before = proxied();
    {
        UserProxy proxy("127.0.0.1:" + port("PROXY"), "http://127.0.0.1:1/proxy.pac");
        std::string remote = "https://feeds.example.test:" + port("HTTPS") + "/feed";
        void (*systemDiscovery)(ProxyDiscovery*) = discoverProxy;
        discoverProxy = slowDiscovery;
        Fetched script = fetchStoppedAfterASecond(remote);
        expectRow(!script.ok && script.reason == "stopped" && script.tookMs < 5000,
                  "slow proxy script stopped", script);
        discoverProxy = directDiscovery;
        Fetched direct = fetch(remote);
        expectRow(!direct.ok && direct.reason == "name not found", "DIRECT wins", direct);
        discoverProxy = systemDiscovery;
    }
    CHECK_EQ(proxied(), before);
}
