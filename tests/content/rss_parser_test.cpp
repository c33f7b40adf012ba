// The RSS item parser on small documents: which entries it makes and what they hold.
#include "content/feed_items.h"
#include "content/rss_parser.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Entry {
    const char* title; // null when absent (the strings live in the test's own copies below)
    int32_t titleLength;
    const char* link;
    const char* description;
    const char* date;
};

struct Parsed {
    std::vector<std::string> storage[4];
    std::vector<Entry> entries;
    int32_t count;
};

// Parses an exact-size heap copy of text (a read past its end trips the sanitizer) and takes the
// FetchList's entries over into plain records, then frees the list.
void parse(const std::string& text, Parsed& out) {
    char* document = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(document, text.c_str(), text.size() + 1);
    freeFetchList();
    entryCount = -1;
    parseFeed(document, nullptr);
    std::free(document);
    out.count = entryCount;
    size_t n = 0;
    for (FeedItem* e = FetchList.first; e != nullptr; e = e->next)
        ++n;
    for (auto& s : out.storage)
        s.reserve(n);
    int32_t index = 0;
    FeedItem* last = nullptr;
    for (FeedItem* e = FetchList.first; e != nullptr; last = e, e = e->next, ++index) {
        CHECK_EQ(e->entryIndex, index);
        const char* fields[4] = {e->title, e->link, e->description, e->date};
        const char* kept[4];
        for (int i = 0; i < 4; ++i) {
            out.storage[i].push_back(fields[i] ? fields[i] : "");
            kept[i] = fields[i] ? out.storage[i].back().c_str() : nullptr;
        }
        out.entries.push_back(Entry{kept[0], e->titleLength, kept[1], kept[2], kept[3]});
    }
    CHECK(FetchList.last == last);
    freeFetchList();
}

std::string rss(const std::string& channel, const std::string& items) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n<rss "
           "version=\"2.0\"><channel><title>Feed</title>" +
           channel + items + "</channel></rss>\n";
}

} // namespace

TEST(newsFeedEntriesInOrder) {
    Parsed p;
    parse(rss("<link>http://example.com/</link><description>About</description>"
              "<lastBuildDate>Wed, 06 Dec 2006 12:00:00 GMT</lastBuildDate>",
              "<item><title>One</title><link>http://example.com/1</link>"
              "<description>First</description><pubDate>Wed, 06 Dec 2006 12:34:56 GMT</pubDate>"
              "</item><item><title>Two</title><link>http://example.com/2</link></item>"),
          p);
    CHECK_EQ(p.count, 3);
    REQUIRE(p.entries.size() == 3);
    CHECK_EQ(p.entries[0].title, "Feed");
    CHECK_EQ(p.entries[0].link, "http://example.com/");
    CHECK(p.entries[0].description == nullptr && p.entries[0].date == nullptr);
    CHECK_EQ(p.entries[1].title, "One");
    CHECK_EQ(p.entries[1].link, "http://example.com/1");
    CHECK_EQ(p.entries[1].description, "First");
    CHECK_EQ(p.entries[1].date, "Wed, 06 Dec 2006 12:34:56 GMT");
    CHECK_EQ(p.entries[2].title, "Two");
    CHECK(p.entries[2].description == nullptr && p.entries[2].date == nullptr);
}

TEST(documentsWithoutEntries) {
    const char* documents[] = {
        "",
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nno markup at all",
        "HTTP/1.0 200 OK\r\n\r\n<rss><channel><link>x</link><item><link>y</link></item>",
        "<",
        ">",
        "<<<>>>",
        "<title",
        "<title>",
        "<title/>",
    };
    for (const char* text : documents) {
        Parsed p;
        parse(text, p);
        if (p.count != 0 || !p.entries.empty())
            check::fail(__FILE__, __LINE__, std::string("entries from ") + check::show(text));
    }
    parseFeed(nullptr, nullptr);
    CHECK(FetchList.first == nullptr);
}

TEST(titleTextsAsFound) {
    Parsed p;
    parse("x<rss><title><![CDATA[Plain CDATA title]]></title>"
          "<item><title>  Spaced \r\n title  </title></item>"
          "<item><title>5 &lt; 6 &amp; Tom&#8217;s</title></item>"
          "<item><title><![CDATA[]]></title><link>http://a/</link></item>"
          "<item><title><![CDATA[<b>bold</b> & <i>raw</i>]]></title></item>"
          "<item><title>a > b -> c</title></item>",
          p);
    REQUIRE(p.entries.size() == 6);
    CHECK_EQ(p.entries[0].title, "Plain CDATA title");
    CHECK_EQ(p.entries[0].titleLength, 17);
    CHECK_EQ(p.entries[1].title, "  Spaced  title  ");
    CHECK_EQ(p.entries[1].titleLength, 19);
    CHECK_EQ(p.entries[2].title, "5 < 6 & Tom\xe2\x80\x99s");
    CHECK_EQ(p.entries[2].titleLength, 26);
    // An empty CDATA title still makes its entry, with no title.
    CHECK(p.entries[3].title == nullptr);
    CHECK_EQ(p.entries[3].titleLength, 0);
    CHECK_EQ(p.entries[3].link, "http://a/");
    // A CDATA section is whole, markup and all; titles keep their tags as text.
    CHECK_EQ(p.entries[4].title, "<b>bold</b> & <i>raw</i>");
    CHECK_EQ(p.entries[5].title, "a > b -> c");
}

TEST(linksAndGuids) {
    Parsed p;
    parse(rss("",
              "<item><title>a</title><link>http://x/link</link><guid>http://x/guid</guid></item>"
              "<item><title>b</title><link/><guid>http://x/b</guid></item>"
              "<item><title>c</title><link></link><guid>http://x/c</guid></item>"
              "<item><title>d</title><link>http://x/d</link>"
              "<guid isPermaLink=\"false\">tag:x,2006:d</guid></item>"
              "<item><title>e</title><link>http://x/e</link>"
              "<guid ISPERMALINK = 'False'>42</guid></item>"
              "<item><title>f</title><link>http://x/f</link>"
              "<guid isPermaLink=\"true\">http://x/f-guid</guid></item>"
              "<item><title>g</title><guid isPermaLink=\"false\">id-only</guid></item>"
              "<item><title>h</title><link>http://x/h?a=1&amp;b=2</link></item>"),
          p);
    REQUIRE(p.entries.size() == 9);
    CHECK_EQ(p.entries[1].link, "http://x/guid");
    CHECK_EQ(p.entries[2].link, "http://x/b");
    CHECK_EQ(p.entries[3].link, "http://x/c");
    CHECK_EQ(p.entries[4].link, "http://x/d");
    CHECK_EQ(p.entries[5].link, "http://x/e");
    CHECK_EQ(p.entries[6].link, "http://x/f-guid");
    CHECK(p.entries[7].link == nullptr);
    CHECK_EQ(p.entries[8].link, "http://x/h?a=1&b=2");
}

TEST(datesFirstOneCounts) {
    Parsed p;
    parse(rss("<pubDate>channel date</pubDate>",
              "<item><title>a</title><pubDate>Wed, 06 Dec 2006 12:34:56 GMT</pubDate>"
              "<dc:date>2006-12-07T00:00:00Z</dc:date></item>"
              "<item><title>b</title><pubDate></pubDate><dc:date>2006-12-08T01:02:03Z</dc:date>"
              "</item><item><title>c</title><pubDate><![CDATA[Fri, 08 Dec 2006 10:00:00 GMT]]>"
              "</pubDate></item>"),
          p);
    REQUIRE(p.entries.size() == 4);
    CHECK(p.entries[0].date == nullptr);
    CHECK_EQ(p.entries[1].date, "Wed, 06 Dec 2006 12:34:56 GMT");
    CHECK_EQ(p.entries[2].date, "2006-12-08T01:02:03Z");
    CHECK_EQ(p.entries[3].date, "Fri, 08 Dec 2006 10:00:00 GMT");
}

TEST(descriptionsArePlainText) {
    Parsed p;
    parse(rss("",
              "<item><title>a</title><description><![CDATA[Some <b>bold</b> words]]>"
              "</description></item>"
              "<item><title>b</title><description>&lt;p&gt;It&amp;#8217;s &lt;i&gt;here&lt;/i&gt;"
              "&lt;/p&gt;</description></item>"
              "<item><title>c</title><description>\n    <![CDATA[\n  <p>Indented</p>\n  ]]>\n"
              "  </description></item>"
              "<item><title>d</title><description>first</description>"
              "<description>second</description></item>"),
          p);
    REQUIRE(p.entries.size() == 5);
    CHECK_EQ(p.entries[1].description, "Some bold words");
    CHECK_EQ(p.entries[2].description, "It\xe2\x80\x99s here");
    CHECK_EQ(p.entries[3].description, "Indented");
    CHECK_EQ(p.entries[4].description, "second");
}

TEST(markupAndTextAreToldApart) {
    Parsed p;
    // Text beginning with a keyword is no tag, and a CDATA section elsewhere hides its markup.
    parse(rss("", "<item><title>a</title><category>Item listing</category><link>http://x/a</link>"
                  "<content:encoded><![CDATA[<item><title>not an entry</title></item><link>no]]>"
                  "</content:encoded><!-- <item><title>nor this</title></item> --></item>"
                  "<item><title>b</title><description>title link item</description></item>"),
          p);
    REQUIRE(p.entries.size() == 3);
    CHECK_EQ(p.entries[1].link, "http://x/a");
    CHECK(p.entries[1].description == nullptr);
    CHECK_EQ(p.entries[2].title, "b");
    CHECK_EQ(p.entries[2].description, "title link item");
}

TEST(channelAndItemRules) {
    Parsed p;
    parse(rss("<link>http://x/</link><description>not kept</description>"
              "<image><title>Logo</title><link>http://x/logo-link</link></image>",
              "<item><link>http://x/untitled</link><description>lost</description></item>"
              "<item><title>First</title><title>Second</title><link>http://x/1</link></item>"),
          p);
    REQUIRE(p.entries.size() == 3);
    // The image's title is ignored but its link is the channel's last one.
    CHECK_EQ(p.entries[0].title, "Feed");
    CHECK_EQ(p.entries[0].link, "http://x/logo-link");
    CHECK(p.entries[0].description == nullptr);
    // An item without a title makes nothing; one with two titles makes two entries.
    CHECK_EQ(p.entries[1].title, "First");
    CHECK_EQ(p.entries[1].link, "http://x/1");
    CHECK_EQ(p.entries[2].title, "Second");
    CHECK(p.entries[2].link == nullptr);
}

TEST(rdfAndHtmlDocuments) {
    Parsed rdf;
    parse("<?xml version=\"1.0\"?><rdf:RDF><channel><title>Diary</title><link>http://d/</link>"
          "<items><rdf:Seq><rdf:li rdf:resource=\"http://d/1\"/></rdf:Seq></items></channel>"
          "<item rdf:about=\"http://d/1\"><title>Entry</title><link>http://d/1</link>"
          "<dc:date>2006-12-06T12:34:56+09:00</dc:date></item></rdf:RDF>",
          rdf);
    REQUIRE(rdf.entries.size() == 2);
    CHECK_EQ(rdf.entries[0].link, "http://d/");
    CHECK_EQ(rdf.entries[1].date, "2006-12-06T12:34:56+09:00");

    Parsed html;
    parse("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html><head><title>404 Not "
          "Found</title></head><body><h1>Not Found</h1><a href=\"/\">home</a></body></html>",
          html);
    CHECK_EQ(html.count, 1);
    REQUIRE(html.entries.size() == 1);
    CHECK_EQ(html.entries[0].title, "404 Not Found");
}

TEST(unterminatedDocuments) {
    Parsed p;
    parse("<rss><title>Feed</title><item><title><![CDATA[runs to the end <b>", p);
    REQUIRE(p.entries.size() == 2);
    CHECK_EQ(p.entries[1].title, "runs to the end <b>");

    Parsed q;
    parse("<rss><title>Feed</title><item><title>cut off", q);
    REQUIRE(q.entries.size() == 2);
    CHECK_EQ(q.entries[1].title, "cut off");

    Parsed r;
    parse("<rss><title>Feed</title><item><title>t</title><description><![CDATA[no end", r);
    CHECK_EQ(r.count, 2);
}

TEST(noLimitOnItemsOrTextLength) {
    std::string items;
    for (int i = 0; i < 20000; ++i)
        items += "<item><title>Item " + std::to_string(i) + "</title></item>";
    std::string longTitle(300000, 'x');
    items += "<item><title>" + longTitle + "</title><description><![CDATA[" +
             std::string(300000, 'y') + "]]></description></item>";
    Parsed p;
    parse(rss("", items), p);
    CHECK_EQ(p.count, 20002);
    REQUIRE(p.entries.size() == 20002);
    CHECK_EQ(p.entries[20000].title, "Item 19999");
    CHECK_EQ(p.entries[20001].titleLength, 300000);
    CHECK(std::strlen(p.entries[20001].title) == 300000);
    CHECK(std::strlen(p.entries[20001].description) == 300000);
}
