// Addresses prepared for the wire, natively (libidn2 converts host names) and under Wine (the
// system's IdnToAscii): the same table must hold for both. And when two addresses name the same
// feed, with a host conversion of the test's own (the rule is what is tested there).
#include "feed/feed_address.h"
#include "tests/support/check.h"

#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include "feed/idn_win32.h"
static const HostToAscii hostToAscii = systemHostToAscii;
#else
#include "feed/idn_native.h"
static const HostToAscii hostToAscii = nativeHostToAscii;
#endif

static const size_t fetchUrlSize = feedAddressLimit + 1;

// Addresses as they go on the wire: what browsers encode is encoded, an internationalised host is
// converted by the system, a user name is refused, and nothing is ever cut.
TEST(addressesAreEncodedConvertedOrRefusedWhole) {
    const struct {
        const char* url;
        AddressSource source;
        const char* wire; // null: refused
    } rows[] = {
        {"HTTP://Example.com/a?b=1#f", typedAddress, "HTTP://Example.com/a?b=1#f"},
        {"http://example.com/\xc3\xa9t\xc3\xa9", typedAddress, "http://example.com/%C3%A9t%C3%A9"},
        {"http://example.com/<a>\"`", typedAddress, "http://example.com/%3Ca%3E%22%60"},
        {"http://example.com/a b", typedAddress, nullptr},
        {"http://example.com/a b\tc", redirectTarget, "http://example.com/a%20bc"},
        {"http://example.com/a\r\nb", redirectTarget, nullptr},
        {"http://b\xc3\xbc"
         "cher.example:8080/x",
         typedAddress, "http://xn--bcher-kva.example:8080/x"},
        {"https://\xe4\xbe\x8b\xe3\x81\x88.test/", redirectTarget, "https://xn--r8jz45g.test/"},
        {"http://user@example.com/", typedAddress, nullptr},
        {"https://user:pw@example.com/", redirectTarget, nullptr},
        {"http://@example.com/", typedAddress, nullptr},
        {"http://example.com/a@b", typedAddress, "http://example.com/a@b"},
        {"ftp://example.com/", typedAddress, nullptr},
        {"http:///x", typedAddress, nullptr},
    };
    for (const auto& row : rows) {
        char out[fetchUrlSize];
        bool ok = prepareFeedAddress(row.url, row.source, hostToAscii, out, sizeof out);
        std::string got = ok ? out : "(refused)";
        std::string wanted = row.wire ? row.wire : "(refused)";
        if (got != wanted)
            check::fail(__FILE__, __LINE__, std::string(row.url) + " gave " + got);
    }
    // 8 KiB whole; a byte more, or an encoding that grows past it, is refused.
    std::string longest = "http://example.com/" + std::string(feedAddressLimit - 19, 'x');
    char out[fetchUrlSize];
    CHECK(prepareFeedAddress(longest.c_str(), typedAddress, hostToAscii, out, sizeof out));
    CHECK_EQ(std::string(out), longest);
    CHECK(!prepareFeedAddress((longest + "x").c_str(), typedAddress, hostToAscii, out,
                              sizeof out));
    std::string grows = "http://example.com/" + std::string(feedAddressLimit - 20, 'x') + "\xc3";
    CHECK(!prepareFeedAddress(grows.c_str(), typedAddress, hostToAscii, out, sizeof out));
}

namespace {

// "bücher.example" (UTF-8) in its ASCII form; any other name beyond ASCII is refused.
bool testHostToAscii(const char* host, size_t length, char* out, size_t outSize) {
    const char unicode[] = "b\xc3\xbc"
                           "cher.example";
    if (length != sizeof unicode - 1 || std::memcmp(host, unicode, length) != 0)
        return false;
    std::snprintf(out, outSize, "xn--bcher-kva.example");
    return true;
}

} // namespace

TEST(addresses_of_one_feed_are_the_same_and_others_are_not) {
    struct Row {
        const char* a;
        const char* b;
        bool same;
    } rows[] = {
        {"http://example.com/feed", "http://example.com/feed", true},
        {"HTTP://Example.COM/feed", "http://example.com/feed", true},
        {"http://example.com:80/feed", "http://example.com/feed", true},
        {"https://example.com:443/feed", "https://example.com/feed", true},
        {"http://example.com:/feed", "http://example.com/feed", true},
        {"http://example.com/feed#top", "http://example.com/feed", true},
        {"http://example.com", "http://example.com/", true},
        {"http://example.com?a=1", "http://example.com/?a=1", true},
        {"http://b\xc3\xbc"
         "cher.example/rss",
         "http://XN--BCHER-KVA.example/rss", true},
        {"http://example.com/caf\xc3\xa9", "http://example.com/caf%C3%A9", true},
        {"http://[::1]:80/feed", "http://[::1]/feed", true},
        // Differences that name another feed, or may.
        {"http://example.com/Feed", "http://example.com/feed", false},
        {"http://example.com/feed?a=1", "http://example.com/feed?a=2", false},
        {"https://example.com/feed", "http://example.com/feed", false},
        {"http://example.com:443/feed", "http://example.com/feed", false},
        {"https://example.com:80/feed", "https://example.com/feed", false},
        {"http://example.com:8080/feed", "http://example.com/feed", false},
        {"http://example.com/feed/", "http://example.com/feed", false},
        {"http://www.example.com/feed", "http://example.com/feed", false},
        {"http://[::1]:8080/feed", "http://[::1]/feed", false},
        {"http://m\xc3\xbc"
         "nchen.example/",
         "http://xn--mnchen-3ya.example/", false}, // no conversion: never guessed
    };
    for (const Row& row : rows) {
        bool same = sameFeedAddress(row.a, row.b, testHostToAscii);
        if (same != row.same)
            std::printf("case: %s | %s\n", row.a, row.b);
        CHECK_EQ(same, row.same);
        CHECK_EQ(sameFeedAddress(row.b, row.a, testHostToAscii), row.same);
        if (row.same)
            CHECK_EQ(feedAddressHash(row.a, testHostToAscii),
                     feedAddressHash(row.b, testHostToAscii));
    }
    CHECK(sameFeedAddress("", "", nullptr));
    CHECK(!sameFeedAddress("http://a/", nullptr, nullptr));
}
