// When two addresses name the same feed, with a host conversion of the test's own (the system's
// differs between the builds; the rule is what is tested here).
#include "feed/feed_address.h"
#include "tests/support/check.h"

#include <cstdio>
#include <cstring>

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
