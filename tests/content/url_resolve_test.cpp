// Link resolution: the reference resolution examples every browser agrees on, and the cases feeds
// and redirects bring (blanks around links, fragments, too small a buffer, no usable base).
#include "content/url_resolve.h"
#include "tests/support/check.h"

#include <cstring>

namespace {

struct Case {
    const char* base;
    const char* reference;
    const char* expected; // null: resolution fails and leaves the buffer empty
};

void checkCases(const Case* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        char out[256];
        std::memset(out, 'x', sizeof out);
        bool ok = resolveUrl(cases[i].base, cases[i].reference, out, sizeof out);
        if (cases[i].expected == nullptr) {
            CHECK(!ok);
            CHECK_EQ(out, "");
        } else {
            CHECK(ok);
            CHECK_EQ(std::string(cases[i].reference) + " -> " + out,
                     std::string(cases[i].reference) + " -> " + cases[i].expected);
        }
    }
}

} // namespace

TEST(referencesResolveAsBrowsersDo) {
    const char* b = "http://a/b/c/d;p?q";
    const Case cases[] = {
        {b, "g:h", "g:h"},
        {b, "g", "http://a/b/c/g"},
        {b, "./g", "http://a/b/c/g"},
        {b, "g/", "http://a/b/c/g/"},
        {b, "/g", "http://a/g"},
        {b, "//g", "http://g"},
        {b, "?y", "http://a/b/c/d;p?y"},
        {b, "g?y", "http://a/b/c/g?y"},
        {b, "#s", "http://a/b/c/d;p?q#s"},
        {b, "g#s", "http://a/b/c/g#s"},
        {b, "g?y#s", "http://a/b/c/g?y#s"},
        {b, ";x", "http://a/b/c/;x"},
        {b, "", "http://a/b/c/d;p?q"},
        {b, ".", "http://a/b/c/"},
        {b, "./", "http://a/b/c/"},
        {b, "..", "http://a/b/"},
        {b, "../", "http://a/b/"},
        {b, "../g", "http://a/b/g"},
        {b, "../..", "http://a/"},
        {b, "../../g", "http://a/g"},
        {b, "../../../g", "http://a/g"},
        {b, "../../../../g", "http://a/g"},
        {b, "/./g", "http://a/g"},
        {b, "/../g", "http://a/g"},
        {b, "g.", "http://a/b/c/g."},
        {b, ".g", "http://a/b/c/.g"},
        {b, "g..", "http://a/b/c/g.."},
        {b, "..g", "http://a/b/c/..g"},
        {b, "./../g", "http://a/b/g"},
        {b, "./g/.", "http://a/b/c/g/"},
        {b, "g/./h", "http://a/b/c/g/h"},
        {b, "g/../h", "http://a/b/c/h"},
        {b, "g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {b, "g;x=1/../y", "http://a/b/c/y"},
        {b, "g?y/./x", "http://a/b/c/g?y/./x"},
        {b, "g#s/../x", "http://a/b/c/g#s/../x"},
    };
    checkCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(feedLinksAndRedirectsResolveAgainstTheirDocument) {
    const Case cases[] = {
        // A feed at a host without a path, links with blanks around them, dot segments in an
        // absolute link, a scheme-relative link keeping https.
        {"https://example.org", "content/123", "https://example.org/content/123"},
        {"https://example.org/feeds/rss.xml", "  /content/123\n",
         "https://example.org/content/123"},
        {"https://example.org/feeds/rss.xml", "HTTP://Other.example/a/../b",
         "HTTP://Other.example/b"},
        {"https://example.org/feeds/rss.xml", "//cdn.example.org/x", "https://cdn.example.org/x"},
        {"http://127.0.0.1:8080/hop/1?n=2#top", "2", "http://127.0.0.1:8080/hop/2"},
        {"https://example.org/blog/", "../about#me", "https://example.org/about#me"},
        // No usable base: a relative link cannot be made absolute.
        {"", "/content/123", nullptr},
        {"/feeds/rss.xml", "x", nullptr},
    };
    checkCases(cases, sizeof cases / sizeof cases[0]);
}

TEST(aResultThatDoesNotFitFailsEmpty) {
    char small[24];
    CHECK(resolveUrl("https://example.org/a/", "b", small, sizeof small)); // 23 bytes and the zero
    CHECK_EQ(small, "https://example.org/a/b");
    CHECK(!resolveUrl("https://example.org/a/", "bc", small, sizeof small));
    CHECK_EQ(small, "");
    CHECK(!resolveUrl("https://example.org/", "https://example.org/a-long-absolute-link", small,
                      sizeof small));
    CHECK_EQ(small, "");
}
