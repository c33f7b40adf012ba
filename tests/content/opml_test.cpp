// OPML lists as other readers write them, lists that are no OPML or not whole, and the round trip
// of a written list.
#include "content/opml.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <string>

namespace {

// "title=url" per feed, '|' between; or the status's name.
std::string read(const std::string& document) {
    OpmlFeeds feeds;
    OpmlStatus status = readOpml(document.data(), document.size(), &feeds);
    if (status == opmlNotOpml)
        return "not OPML";
    if (status == opmlTruncated)
        return "truncated";
    std::string shown;
    for (size_t i = 0; i < feeds.count; ++i)
        shown += (i ? "|" : "") + std::string(feeds.feeds[i].title) + "=" + feeds.feeds[i].url;
    freeOpmlFeeds(&feeds);
    return shown;
}

} // namespace

TEST(opmlListsAsReadersWriteThem) {
    struct Case {
        const char* name;
        std::string document;
        const char* read;
    } cases[] = {
        {"OPML 2.0 with nested folders",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<opml version=\"2.0\"><head><title>Subs"
         "</title></head><body><outline text=\"News\"><outline text=\"World\">\n"
         "<outline type=\"rss\" text=\"A\" title=\"A title\" xmlUrl=\"http://a.example/rss\" "
         "htmlUrl=\"http://a.example/\"/></outline><outline text=\"B\" xmlUrl=\"https://b.example/"
         "feed\"></outline></outline><outline text=\"Link only\" url=\"http://c.example/\"/>"
         "</body></opml>",
         "A=http://a.example/rss|B=https://b.example/feed"},
        {"OPML 1.0 without a version, names in any case, title when there is no text",
         "<OPML><BODY><OUTLINE TITLE='Upper' XMLURL='http://u.example/'/>\r\n<Outline "
         "Text=\"\" Title=\"Empty text\" xmlurl=\" http://e.example/x \" /></BODY></OPML>",
         "Upper=http://u.example/|Empty text=http://e.example/x"},
        {"references in addresses and titles; quotes of the other kind; comments skipped",
         "\xEF\xBB\xBF<!-- exported --><!DOCTYPE opml><opml version=\"1.1\"><body>"
         "<outline text=\"Q&amp;A &#8212; &quot;daily&quot;\" xmlUrl=\"http://q.example/?a=1&amp;"
         "b=2&#38;c=3\"/><!-- <outline text=\"Old\" xmlUrl=\"http://old.example/\"/> -->"
         "<outline text='It\"s' xmlUrl='http://s.example/a>b'/><outline xmlUrl=\"\"/>"
         "<outline xmlUrl=\"http://untitled.example/\"/></body></opml>",
         "Q&A \xE2\x80\x94 \"daily\"=http://q.example/?a=1&b=2&c=3|It\"s=http://s.example/a>b|"
         "=http://untitled.example/"},
        {"as real lists write them: a blank text, a stray apostrophe, HTML's names, a DOCTYPE's "
         "subset, a CDATA section holding markup",
         "<!DOCTYPE opml [ <!ENTITY x \"a>b\"> <!-- ]> --> ]><opml><head><title><![CDATA[ 1 > 0 "
         "<outline text=\"no\" xmlUrl=\"http://no.example/\"/> ]]></title></head><body>"
         "<outline text=\" \" title=\"Titled\" xmlUrl=\"http://t.example/\"/>"
         "<outline text=\"Don\" Don't xmlUrl=\"http://d.example/\"/>"
         "<outline text=\"&AElig;gir &eacute;t&eacute;\" "
         "xmlUrl=\"http://ae.example/\"/>"
         "</body></opml>",
         "Titled=http://t.example/|Don=http://d.example/|\xC3\x86gir "
         "\xC3\xA9t\xC3\xA9=http://ae.example/"},
        {"an OPML list without feeds", "<opml><body><outline text=\"folder\"/></body></opml>", ""},
        {"plain text", "just some words <opml></opml>", "not OPML"},
        {"an empty file", "", "not OPML"},
        {"an HTML page",
         "<!DOCTYPE html>\n<html><body><outline xmlUrl=\"http://x/\"/></body></html>", "not OPML"},
        {"an RSS feed", "<?xml version=\"1.0\"?><rss><channel></channel></rss>", "not OPML"},
        {"JSON", "{\"opml\": []}", "not OPML"},
        {"cut inside the body",
         "<opml><body><outline text=\"A\" xmlUrl=\"http://a.example/\"/><outline text=\"B\" xml",
         "truncated"},
        {"cut before </opml>", "<opml><body><outline text=\"A\" xmlUrl=\"http://a/\"/></body>",
         "truncated"},
        {"cut inside a comment", "<opml><body><!-- <outline xmlUrl=\"http://a/\"/></body></opml>",
         "truncated"},
    };
    for (const Case& c : cases) {
        std::string shown = read(c.document);
        if (shown != c.read)
            check::fail(__FILE__, __LINE__, std::string(c.name) + ": got \"" + shown + "\"");
    }
}

TEST(writtenListsReadBackWhole) {
    OpmlFeeds feeds = {};
    for (int i = 0; i < 5000; ++i) {
        std::string n = std::to_string(i);
        REQUIRE(addOpmlFeed(&feeds, ("Feed \"" + n + "\" <&> caf\xC3\xA9\ttab").c_str(),
                            ("http://feeds.example/" + n + "?a=1&b=<2>").c_str()));
    }
    REQUIRE(addOpmlFeed(&feeds, "", "https://untitled.example/"));
    REQUIRE(addOpmlFeed(&feeds, "bell\x07 removed", "https://bell.example/"));
    char* written = writeOpml(&feeds, "Favourites & more", "Tue, 08 Dec 2026 12:00:00 GMT");
    REQUIRE(written != nullptr);
    std::string text = written;
    std::free(written);
    CHECK(text.find("<opml version=\"2.0\">") != std::string::npos);
    CHECK(text.find("<title>Favourites &amp; more</title>") != std::string::npos);
    CHECK(text.find('\x07') == std::string::npos);

    OpmlFeeds back;
    REQUIRE(readOpml(text.data(), text.size(), &back) == opmlRead);
    REQUIRE(back.count == feeds.count);
    for (size_t i = 0; i < 5000; ++i) {
        std::string title = feeds.feeds[i].title;
        title.replace(title.find('\t'), 1, " "); // a tab is written as the blank it reads as
        if (std::string(back.feeds[i].url) != feeds.feeds[i].url || back.feeds[i].title != title) {
            check::fail(__FILE__, __LINE__,
                        "feed " + std::to_string(i) + " came back as " + back.feeds[i].title +
                            " = " + back.feeds[i].url);
            break;
        }
    }
    // An untitled feed stays untitled; characters XML cannot hold are left out.
    CHECK_EQ(back.feeds[5000].title, "");
    CHECK_EQ(back.feeds[5001].title, "bell removed");
    freeOpmlFeeds(&back);
    freeOpmlFeeds(&feeds);
}
