// The RSS item parser on small documents: which entries it makes and what they hold.
#include "content/feed_items.h"
#include "content/stored_date.h"
#include "content/stored_link.h"
#include "content/key_hash.h"
#include "content/rss_parser.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <cstring>
#include <functional>
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
    std::vector<uint64_t> keys; // per entry; 0 for none
    int32_t count;
    int32_t ttl;
};

// Parses an exact-size heap copy of text (a read past its end trips the sanitizer) and takes the
// list's entries over into plain records, then frees the list.
void parse(const std::string& text, Parsed& out, const char* base = nullptr) {
    char* document = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(document, text.c_str(), text.size() + 1);
    FeedList* list = parseFeed(document, base);
    std::free(document);
    REQUIRE(list != nullptr);
    out.count = list->count;
    out.ttl = list->ttlMinutes;
    size_t n = 0;
    for (FeedItem* e = list->first; e != nullptr; e = e->next)
        ++n;
    for (auto& s : out.storage)
        s.reserve(n);
    int32_t index = 0;
    FeedItem* last = nullptr;
    for (FeedItem* e = list->first; e != nullptr; last = e, e = e->next, ++index) {
        CHECK_EQ(e->entryIndex, index);
        DateText date;
        LinkText link;
        const char* fields[4] = {e->title, itemLink(e, &link), e->description, itemDate(e, &date)};
        const char* kept[4];
        for (int i = 0; i < 4; ++i) {
            out.storage[i].push_back(fields[i] ? fields[i] : "");
            kept[i] = fields[i] ? out.storage[i].back().c_str() : nullptr;
        }
        out.entries.push_back(Entry{kept[0], e->titleLength, kept[1], kept[2], kept[3]});
        out.keys.push_back(e->key);
    }
    CHECK(list->last == last);
    CHECK_EQ(index, list->count);
    releaseFeedList(list);
}

std::string rss(const std::string& channel, const std::string& items) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?>\n<rss "
           "version=\"2.0\"><channel><title>Feed</title>" +
           channel + items + "</channel></rss>\n";
}

// The storage of a list of 20,000 items titled "t", each with the elements fields(i) writes.
size_t storageOf20000(const std::function<std::string(int)>& fields) {
    std::string document = "<rss><channel><title>F</title>";
    for (int i = 0; i < 20000; ++i)
        document += "<item><title>t</title>" + fields(i) + "</item>";
    document += "</channel></rss>";
    FeedList* list = parseFeed(&document[0], nullptr);
    REQUIRE(list != nullptr && itemCount(list) == 20000);
    size_t storage = list->blockBytes;
    releaseFeedList(list);
    return storage;
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
        ("HTTP/1.0 200 OK\r\n\r\n<rss><channel><link>x</link><item><guid isPermaLink=\"false\">"
         "y</guid></item>"),
        "<rss><channel><title/><item/><entry></entry><item><title> </title></item>",
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
    FeedList* none = parseFeed(nullptr, nullptr);
    REQUIRE(none != nullptr);
    CHECK(none->first == nullptr && none->count == 0);
    releaseFeedList(none);
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
    CHECK_EQ(p.entries[1].title, "Spaced title");
    CHECK_EQ(p.entries[1].titleLength, 19);
    CHECK_EQ(p.entries[2].title, "5 < 6 & Tom\xe2\x80\x99s");
    CHECK_EQ(p.entries[2].titleLength, 26);
    // An empty title counts as none: the item is named by its link.
    CHECK_EQ(p.entries[3].title, "http://a/");
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
              "<item><title>h</title><link>http://x/h?a=1&amp;b=2</link></item>"
              "<item><title>i</title><guid>http://x/i.mp3</guid><link> http://x/i </link></item>"),
          p);
    REQUIRE(p.entries.size() == 10);
    CHECK_EQ(p.entries[9].link, "http://x/i");
    // The link wins over a guid in either order; a guid stands in only for a missing link.
    CHECK_EQ(p.entries[1].link, "http://x/link");
    CHECK_EQ(p.entries[2].link, "http://x/b");
    CHECK_EQ(p.entries[3].link, "http://x/c");
    CHECK_EQ(p.entries[4].link, "http://x/d");
    CHECK_EQ(p.entries[5].link, "http://x/e");
    CHECK_EQ(p.entries[6].link, "http://x/f");
    CHECK(p.entries[7].link == nullptr);
    CHECK_EQ(p.entries[8].link, "http://x/h?a=1&b=2");
}

TEST(linksThatBeginAlikeReadBackWhole) {
    const std::string site = "http://news.example.com/2026/12/08/";
    const std::string deep = site + std::string(300, 'p') + "/";
    const std::string huge = site + std::string(3000, 'h');
    const std::string links[] = {site + "first-story",
                                 site + "second-story",
                                 site + "first-story",            // the same again
                                 site,                            // all of it shared
                                 "http://news.example.com/2026/", // shorter than the first
                                 "http://other.example/elsewhere/a",
                                 "http://other.example/elsewhere/b",
                                 site + "third",
                                 deep + "a", // more in common than a count can hold
                                 deep + "b",
                                 huge, // longer than any link kept by its rest
                                 huge + "x",
                                 "\x01http://marked.example/",
                                 site + "fourth"};
    std::string items;
    for (const std::string& link : links)
        items += "<item><title>t</title><link>" + link + "</link></item>";
    Parsed p;
    parse(rss("<link>http://news.example.com/</link>", items), p);
    const size_t count = sizeof links / sizeof links[0];
    REQUIRE(p.entries.size() == count + 1);
    CHECK_EQ(std::string(p.entries[0].link), "http://news.example.com/");
    for (size_t i = 0; i < count; ++i)
        CHECK_EQ(std::string(p.entries[i + 1].link ? p.entries[i + 1].link : "(none)"), links[i]);
    // Items keyed by such links keep the keys of their whole text.
    Parsed keyed;
    parse(rss("", items), keyed);
    for (size_t i = 0; i < count && i + 1 < keyed.keys.size(); ++i)
        CHECK_EQ(keyed.keys[i + 1], keyHashOf(links[i].c_str()));
    // A title made from a link is the whole link.
    Parsed untitled;
    parse(rss("", "<item><link>" + site + "a</link></item><item><link>" + site +
                      "untitled</link></item>"),
          untitled);
    REQUIRE(untitled.entries.size() == 3);
    CHECK_EQ(std::string(untitled.entries[2].title), site + "untitled");
    // Links that begin alike cost the list less: 20,000 of them hold at least 10 bytes each less
    // than links of the same length that differ from their first byte.
    size_t storage[2];
    for (int alike = 0; alike < 2; ++alike)
        storage[alike] = storageOf20000([&](int i) {
            std::string number = std::to_string(100000 + i);
            return "<link>" + (alike ? site + number : number + site.substr(6)) + "</link>";
        });
    CHECK(storage[1] + 20000 * 10 <= storage[0]);
}

TEST(datesReadBackExactlyAsWritten) {
    // Dates in the machine forms, and near misses of them that must not be tidied up.
    const char* const dates[] = {"Tue, 08 Dec 2026 21:38:00 GMT",
                                 "Tue, 8 Dec 2026 21:38:00 GMT",
                                 "08 Dec 2026 21:38:00 +0000",
                                 "Sun, 08 Dec 2026 21:38 -0530",
                                 "Wed, 31 Feb 2026 24:60:61 EST",
                                 "Mon, 01 Jan 1900 00:00:00 UT",
                                 "Fri, 31 Dec 2155 23:59:59 PDT",
                                 "tue, 08 Dec 2026 21:38:00 GMT",
                                 "Tue, 08 DEC 2026 21:38:00 GMT",
                                 "Tue, 08 Dec 26 21:38:00 GMT",
                                 "Tue, 08 Dec 1899 21:38:00 GMT",
                                 "Tue, 08 Dec 2156 21:38:00 GMT",
                                 "Tue, 08 Dec 2026 21:38:00 GMT+1",
                                 "Tue, 08 Dec 2026 21:38:00 +00:00",
                                 "Tue,08 Dec 2026 21:38:00 GMT",
                                 "Tue, 008 Dec 2026 21:38:00 GMT",
                                 "Tue, 08 Dec 2026 21:38:00 +9960",
                                 "2026-12-08T21:38:00Z",
                                 "2026-12-08 21:38:00",
                                 "2026-12-08T21:38:00.5+05:30",
                                 "2026-12-08T21:38:00.040-0800",
                                 "2026-12-08T21:38:00.1234Z",
                                 "2026-12-08T21:38Z",
                                 "2026-12-08",
                                 "2026-12-08T21:38:00+1:00",
                                 "2026-12-08t21:38:00z",
                                 "0800-01-01T00:00:00Z",
                                 "2026-12-08T21:38:00+",
                                 "2026-12-08T21:38:00Z ",
                                 "Tue, 08 Dec 2026 21:38:00 GMT (Europe)"};
    std::string items;
    for (const char* date : dates)
        items += std::string("<item><title>t</title><pubDate>") + date + "</pubDate></item>";
    Parsed p;
    parse(rss("", items), p);
    const size_t count = sizeof dates / sizeof dates[0];
    REQUIRE(p.entries.size() == count + 1);
    for (size_t i = 0; i < count; ++i) {
        // A blank at the end is the parse's to trim, as for any text.
        std::string written = dates[i];
        written.erase(written.find_last_not_of(' ') + 1);
        CHECK_EQ(std::string(p.entries[i + 1].date ? p.entries[i + 1].date : "(none)"), written);
    }
    // Written with a reference, blanks around it or in CDATA, a date reads as its text does.
    Parsed q;
    parse(rss("", "<item><title>t</title><pubDate> Tue,&#32;08 Dec 2026 21:38:00 GMT </pubDate>"
                  "</item><item><title>t</title><pubDate><![CDATA[2026-12-08T21:38:00Z]]>"
                  "</pubDate></item><item><title>t</title><pubDate>2026-12-08T21:38:00Z<!-- x -->"
                  "</pubDate></item>"),
          q);
    REQUIRE(q.entries.size() == 4);
    CHECK_EQ(q.entries[1].date, "Tue, 08 Dec 2026 21:38:00 GMT");
    CHECK_EQ(q.entries[2].date, "2026-12-08T21:38:00Z");
    CHECK_EQ(q.entries[3].date, "2026-12-08T21:38:00Z");
    // A date in a machine form costs the list no text of its own: 20,000 items hold at least 20
    // bytes each less than with the same dates in a spelling kept as text.
    size_t storage[2];
    for (int spelling = 0; spelling < 2; ++spelling)
        storage[spelling] = storageOf20000([&](int) {
            return std::string("<pubDate>") + (spelling == 0 ? "Tue" : "tue") +
                   ", 08 Dec 2026 21:38:00 GMT</pubDate>";
        });
    CHECK(storage[0] + 20000 * 20 <= storage[1]);
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
    CHECK_EQ(p.entries[1].description, "not an entryno");
    CHECK_EQ(p.entries[2].title, "b");
    CHECK_EQ(p.entries[2].description, "title link item");
}

TEST(channelAndItemRules) {
    Parsed p;
    parse(rss("<image><title>Logo</title><link>http://x/logo-link</link></image>"
              "<link>http://x/</link><description>not kept</description>"
              "<textInput><title>Search</title><link>http://x/search</link></textInput>",
              "<item><link>http://x/untitled</link><description>kept</description></item>"
              "<item><title>First</title><title>Second</title><link>http://x/1</link>"
              "<source url=\"http://y/rss\">Elsewhere</source></item>"
              "<item><title>Open</title><link>http://x/open</link>"
              "<item><title>Next</title></item>"),
          p);
    REQUIRE(p.entries.size() == 5);
    // The channel's own link, not the image's or the text input's that stand before or after it.
    CHECK_EQ(p.entries[0].title, "Feed");
    CHECK_EQ(p.entries[0].link, "http://x/");
    CHECK(p.entries[0].description == nullptr);
    // An untitled item is named by its description; one item is one entry, its first title.
    CHECK_EQ(p.entries[1].title, "kept");
    CHECK_EQ(p.entries[1].link, "http://x/untitled");
    CHECK_EQ(p.entries[2].title, "First");
    CHECK_EQ(p.entries[2].link, "http://x/1");
    // An item left open ends where the next one starts, with what it held.
    CHECK_EQ(p.entries[3].title, "Open");
    CHECK_EQ(p.entries[3].link, "http://x/open");
    CHECK_EQ(p.entries[4].title, "Next");

    // Without a title of its own the feed gets an untitled header, so its first item stays an item.
    Parsed untitled;
    parse("<rss><channel><link>http://x/</link><item><title>Only</title></item>", untitled);
    REQUIRE(untitled.entries.size() == 2);
    CHECK(untitled.entries[0].title == nullptr);
    CHECK_EQ(untitled.entries[0].link, "http://x/");
    CHECK_EQ(untitled.entries[1].title, "Only");
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

namespace {

// One row: a document (parsed with base), the entry it checks and what that entry must hold.
// Fields equal to unchecked are not looked at; null means the field must be absent.
const char* const unchecked = "(unchecked)";

struct EntryCase {
    const char* label;
    const char* document;
    const char* base;
    size_t index;
    const char* title;
    const char* link;
    const char* description;
    const char* date;
};

void checkField(const EntryCase& c, const char* name, const char* actual, const char* expected) {
    if (expected != unchecked && !check::equal(actual, expected))
        check::fail(__FILE__, __LINE__,
                    std::string(c.label) + ": " + name + " " + check::show(actual) +
                        " != " + check::show(expected));
}

void checkEntries(const EntryCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const EntryCase& c = cases[i];
        Parsed p;
        parse(c.document, p, c.base);
        if (p.entries.size() <= c.index) {
            check::fail(__FILE__, __LINE__,
                        std::string(c.label) + ": only " + std::to_string(p.entries.size()) +
                            " entries");
            continue;
        }
        const Entry& e = p.entries[c.index];
        checkField(c, "title", e.title, c.title);
        checkField(c, "link", e.link, c.link);
        checkField(c, "description", e.description, c.description);
        checkField(c, "date", e.date, c.date);
    }
}

const char* const atomBlog =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"http://blog.example/\">"
    "<title type=\"html\">Ann &amp;amp; Bob&#8217;s &lt;i&gt;log&lt;/i&gt;</title>"
    "<link rel=\"self\" href=\"/atom.xml\"/><link href=\"/\" rel=\"alternate\"/>"
    "<updated>2026-12-01T10:00:00Z</updated>"
    "<entry><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">A <b>bold</b> "
    "move</div></title><link rel=\"edit\" href=\"/edit/1\"/><link rel=\"enclosure\" "
    "href=\"/a.mp3\"/><link rel=\"alternate\" type=\"text/html\" href=\"2026/first?a=1&amp;b=2\"/>"
    "<link rel=\"alternate\" href=\"/second\"/><published>2026-11-30T09:00:00Z</published>"
    "<updated>2026-12-01T09:00:00Z</updated><content type=\"html\">&lt;p&gt;Full "
    "text&lt;/p&gt;</content><summary>Short &amp; sweet</summary></entry>"
    "<entry xml:base=\"/archive/\"><title>Plain &lt;b&gt; text</title><link href=\"2.html\"/>"
    "<published>2026-11-29T09:00:00Z</published><source><title>Other blog</title>"
    "<link href=\"http://other.example/\"/><updated>2020-01-01T00:00:00Z</updated></source>"
    "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"><p>Raw <a "
    "href=\"x\">link</a> and <title>no title</title></p></div></content></entry>"
    "<entry><title type=\"html\"><![CDATA[Caf&eacute; <em>open</em>]]></title><link "
    "href=\"http://elsewhere.example/3\" xml:base=\"http://ignored.example/\"/>"
    "<link rel=\"replies\" href=\"/3#comments\"/><content src=\"/3.pdf\"/></entry></feed>";

const char* const rssRelative =
    "<rss version=\"2.0\"><channel><title>Rel</title><link>/</link>"
    "<item><title>a</title><link>news/1.html</link></item>"
    "<item><title>b</title><link xml:base=\"http://cdn.example/x/\">../2.html</link></item>"
    "<item><title>c</title><guid>/guid/3</guid></item>"
    "<item><title>d</title><link>https://other.example/4</link></item></channel></rss>";

} // namespace

TEST(atomFeeds) {
    static const EntryCase cases[] = {
        {"feed title html", atomBlog, nullptr, 0, "Ann & Bob\xe2\x80\x99s log",
         "http://blog.example/", nullptr, nullptr},
        {"xhtml title, first alternate link, summary over content, updated over published",
         atomBlog, nullptr, 1, "A bold move", "http://blog.example/2026/first?a=1&b=2",
         "Short & sweet", "2026-12-01T09:00:00Z"},
        {"text title as written, entry xml:base, source ignored, raw xhtml content", atomBlog,
         nullptr, 2, "Plain <b> text", "http://blog.example/archive/2.html",
         "Raw link and no title", "2026-11-29T09:00:00Z"},
        {"html title in CDATA, absolute link, out-of-line content", atomBlog, nullptr, 3,
         "Caf\xc3\xa9 open", "http://elsewhere.example/3", nullptr, nullptr},
        {"document address used below xml:base", atomBlog, "http://feeds.example/blog.xml", 2,
         unchecked, "http://blog.example/archive/2.html", unchecked, unchecked},
    };
    checkEntries(cases, sizeof cases / sizeof cases[0]);
    Parsed p;
    parse(atomBlog, p);
    CHECK_EQ(p.count, 4);
}

TEST(linksResolvedAgainstTheirBase) {
    static const EntryCase cases[] = {
        {"header against the document", rssRelative, "http://feeds.example/a/rss.xml", 0, "Rel",
         "http://feeds.example/", nullptr, nullptr},
        {"item against the document", rssRelative, "http://feeds.example/a/rss.xml", 1, "a",
         "http://feeds.example/a/news/1.html", nullptr, nullptr},
        {"the link's own xml:base", rssRelative, "http://feeds.example/a/rss.xml", 2, "b",
         "http://cdn.example/2.html", nullptr, nullptr},
        {"guid resolved too", rssRelative, "https://feeds.example/a/rss.xml", 3, "c",
         "https://feeds.example/guid/3", nullptr, nullptr},
        {"absolute link as written", rssRelative, "http://feeds.example/", 4, "d",
         "https://other.example/4", nullptr, nullptr},
        {"no base: as written", rssRelative, nullptr, 1, "a", "news/1.html", nullptr, nullptr},
        {"no base: a relative xml:base names nothing",
         "<feed xml:base=\"blog/\"><title>t</title><entry><title>e</title><link href=\"1\"/>"
         "</entry></feed>",
         nullptr, 1, "e", "1", nullptr, nullptr},
        {"channel xml:base over the document",
         "<rss><channel xml:base=\"http://base.example/news/\"><title>t</title><item><title>i"
         "</title><link>./x?y#z</link></item></channel></rss>",
         "http://feeds.example/", 1, "i", "http://base.example/news/x?y#z", nullptr, nullptr},
    };
    checkEntries(cases, sizeof cases / sizeof cases[0]);
}

TEST(untitledItems) {
    // Words of four characters, two of them two bytes long: 17 words are 84 characters, and the
    // cut after 80 falls inside the 17th word, so 16 words stay.
    std::string words, cutWords;
    for (int i = 0; i < 17; ++i) {
        words += "\xc3\xa9t\xc3\xa9s ";
        if (i < 16)
            cutWords += i == 0 ? "\xc3\xa9t\xc3\xa9s" : " \xc3\xa9t\xc3\xa9s";
    }
    cutWords += "\xe2\x80\xa6";
    const std::string longWords = rss("", "<item><description>" + words + "</description></item>");
    const std::string oneWord =
        rss("", "<item><description>" + std::string(100, 'x') + "</description></item>");
    const std::string oneWordCut = std::string(80, 'x') + "\xe2\x80\xa6";
    const EntryCase cases[] = {
        {"short description whole, no ellipsis",
         "<rss><item><description>&lt;p&gt;Just &lt;b&gt;this&lt;/b&gt;&lt;/p&gt;</description>"
         "<link>http://x/1</link></item></rss>",
         nullptr, 1, "Just this", "http://x/1", "Just this", nullptr},
        {"cut after a word", longWords.c_str(), nullptr, 1, cutWords.c_str(), nullptr, unchecked,
         nullptr},
        {"one long word cut at 80 characters", oneWord.c_str(), nullptr, 1, oneWordCut.c_str(),
         nullptr, unchecked, nullptr},
        {"dc:title where title is missing",
         "<rss><item><dc:title>From DC</dc:title><description>d</description></item></rss>",
         nullptr, 1, "From DC", nullptr, "d", nullptr},
        {"link without a description",
         "<rss><item><link>http://x/only-link</link><description>  </description></item></rss>",
         nullptr, 1, "http://x/only-link", "http://x/only-link", unchecked, nullptr},
        {"Atom entry without a title",
         "<feed><title>f</title><entry><title></title><summary type=\"html\">&lt;p&gt;Hello"
         "&lt;/p&gt;</summary></entry></feed>",
         nullptr, 1, "Hello", nullptr, "Hello", nullptr},
    };
    checkEntries(cases, sizeof cases / sizeof cases[0]);
}

TEST(rawMarkupAndMixedValues) {
    static const EntryCase cases[] = {
        {"a raw HTML description that holds an item ends where the item starts",
         "<rss><channel><title>t</title><item><title>a</title><description><p>Read <a "
         "href=\"http://evil/\">more</a> &amp; <b>this</b></p><item><title>no</title><link>"
         "http://evil/link</link></item></description><link>http://x/a</link></item>"
         "<item><title>b</title></item></channel></rss>",
         nullptr, 1, "a", nullptr, "Read more & this", nullptr},
        {"next item after a raw description",
         "<rss><title>t</title><item><title>a</title><description>x<br/>y</description></item>"
         "<item><title>b</title></item></rss>",
         nullptr, 2, "b", nullptr, nullptr, nullptr},
        {"channel description with raw markup creates nothing",
         "<rss><channel><title>t</title><description><a href=\"/\"><link>http://evil/</link>"
         "</a></description><link>http://x/</link></channel></rss>",
         nullptr, 0, "t", "http://x/", nullptr, nullptr},
        {"text, CDATA and comments joined",
         "<rss><title>Hello <![CDATA[World & co]]><!-- c --></title><item><title><!-- c -->Real"
         "</title><link><![CDATA[http://x/]]>a?b=1&amp;c=2</link><pubDate> <!-- x -->Mon, 01 Dec "
         "2026 10:00:00 GMT</pubDate><description>&lt;b&gt;Escaped&lt;/b&gt; <![CDATA[<i>and"
         "</i> raw]]></description></item></rss>",
         nullptr, 1, "Real", "http://x/a?b=1&c=2", "Escaped and raw",
         "Mon, 01 Dec 2026 10:00:00 GMT"},
        {"mixed title of the feed", "<rss><title>Hello <![CDATA[World & co]]><!-- c --></title>",
         nullptr, 0, "Hello World & co", nullptr, nullptr, nullptr},
        {"an unclosed raw description ends where the next item starts",
         "<rss><title>t</title><item><title>a</title><description>x <b>y</b><item><title>z",
         nullptr, 1, "a", nullptr, "x y", nullptr},
        {"XHTML with a prefix: blocks break words, scripts and styles go",
         "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title type=\"xhtml\"><x:div "
         "xmlns:x=\"http://www.w3.org/1999/xhtml\">A<x:br/>B</x:div></title><content "
         "type=\"xhtml\"><xhtml:div xmlns:xhtml=\"http://www.w3.org/1999/xhtml\"><xhtml:p>One"
         "</xhtml:p><xhtml:p>Two</xhtml:p><xhtml:script>evil()</xhtml:script>three<xhtml:style>"
         "p{}</xhtml:style><xhtml:div>four</xhtml:div>five</xhtml:div></content></entry></feed>",
         nullptr, 1, "A B", nullptr, "One\nTwo\nthree\nfour\nfive", nullptr},
        {"an untitled item's title joins its description's paragraphs on one line",
         "<rss><title>t</title><item><description>&lt;p&gt;First&lt;/p&gt;&lt;p&gt;second"
         "&lt;/p&gt;</description></item></rss>",
         nullptr, 1, "First second", nullptr, "First\nsecond", nullptr},
        {"a blank description leaves the content shown",
         "<rss><title>t</title><item><title>a</title><description>\n</description>"
         "<content:encoded><![CDATA[<p>Body</p>]]></content:encoded></item></rss>",
         nullptr, 1, "a", nullptr, "Body", nullptr},
        {"content first, then a description of a no-break space",
         "<rss><title>t</title><item><title>a</title><content:encoded>Body</content:encoded>"
         "<description>&amp;nbsp;</description></item></rss>",
         nullptr, 1, "a", nullptr, "Body", nullptr},
        {"escaped HTML with a '<' that starts no tag",
         "<rss><title>t</title><item><title>a</title><description>&lt;p&gt;Deals under <$50 "
         "today&lt;/p&gt;</description></item></rss>",
         nullptr, 1, "a", nullptr, "Deals under <$50 today", nullptr},
        {"escaped HTML whose tags end with a plain '>'",
         "<rss><title>t</title><item><title>a</title><description>&lt;p>Hello&lt;/p> world"
         "</description></item></rss>",
         nullptr, 1, "a", nullptr, "Hello\nworld", nullptr},
    };
    checkEntries(cases, sizeof cases / sizeof cases[0]);
}

TEST(textsAsRealFeedsWriteThem) {
    static const EntryCase cases[] = {
        {"Atom with a prefix",
         "<atom:feed xmlns:atom=\"http://www.w3.org/2005/Atom\"><atom:title>"
         "F</atom:title><atom:entry><atom:title type=\"html\">A &amp;amp; B</atom:title>"
         "<atom:link rel=\"alternate\" href=\"/a\"/><atom:summary>S</atom:summary></atom:entry>"
         "</atom:feed>",
         "http://x/", 1, "A & B", "http://x/a", "S", unchecked},
        {"RSS 1.0 with a prefix",
         "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
         "xmlns:rss=\"http://purl.org/rss/1.0/\"><rss:channel><rss:title>F</rss:title>"
         "</rss:channel><rss:item><rss:title>One</rss:title><rss:link>http://x/1</rss:link>"
         "</rss:item></rdf:RDF>",
         nullptr, 1, "One", "http://x/1", nullptr, nullptr},
        {"an unbound prefix is no item",
         "<rss><title>F</title><foo:item><title>x</title></foo:item><item><title>y</title></item>",
         nullptr, 1, "y", nullptr, nullptr, nullptr},
        {"a self link of RSS 2.0 in the Atom namespace is no address",
         "<rss xmlns:atom=\"http://www.w3.org/2005/Atom\"><channel><title>F</title>"
         "<atom:link rel=\"self\" href=\"http://x/feed\"/><link>http://x/</link></channel></rss>",
         nullptr, 0, "F", "http://x/", nullptr, nullptr},
        {"tags in a title go", "<rss><item><title>Hello <b>World</b> again</title></item>", nullptr,
         1, "Hello World again", unchecked, unchecked, unchecked},
        {"a stray less-than in a title stays",
         "<rss><item><title>Deals under <$50</title></item><item><title>If a < b then</title>"
         "</item>",
         nullptr, 2, "If a < b then", unchecked, unchecked, unchecked},
        {"a stray closing tag in a title or description",
         "<rss><item><title>Hello</b> World</title><description>x</p> y</description></item>",
         nullptr, 1, "Hello World", nullptr, "x\ny", nullptr},
        {"a stray less-than before the end of a title",
         "<rss><item><title>Deals under <$50</title><link>http://x/</link></item>", nullptr, 1,
         "Deals under <$50", "http://x/", unchecked, unchecked},
        {"line breaks in a title are one blank",
         "<rss><item><title>Senate passes\n   budget&#10;bill\t now</title></item>", nullptr, 1,
         "Senate passes budget bill now", unchecked, unchecked, unchecked},
        {"runs of blanks in a long title are one blank",
         "<rss><item><title>a  b</title></item><item><title>A title long enough for blocks,  then "
         "the  end  !</title></item>",
         nullptr, 2, "A title long enough for blocks, then the end !", unchecked, unchecked,
         unchecked},
        {"named and double-escaped references in a title",
         "<rss><item><title>L&rsquo;&eacute;t&eacute; &amp;eacute; Q&amp;amp;A &#146;</title>"
         "</item>",
         nullptr, 1, "L\xe2\x80\x99\xc3\xa9t\xc3\xa9 \xc3\xa9 Q&A \xe2\x80\x99", unchecked,
         unchecked, unchecked},
        {"&#38; in an Atom html title is &amp;",
         "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><title type=\"html\">&#38;copy; 2006 "
         "&#38;mdash; Q&#38;amp;A</title></entry></feed>",
         nullptr, 1, "\xc2\xa9 2006 \xe2\x80\x94 Q&A", nullptr, nullptr, nullptr},
        {"no letters swallowed after a reference without ';'",
         "<rss><item><title>M&amp;Ltd shares up, S&amp;GTX, &quotation</title></item>", nullptr, 1,
         "M&Ltd shares up, S&GTX, &quotation", unchecked, unchecked, unchecked},
        {"markup in a processing instruction",
         "<?xml-stylesheet href=\"s.xsl?a=<item><title>no</title>\"?><rss><channel><title>F"
         "</title><item><title>yes</title></item></channel></rss>",
         nullptr, 1, "yes", nullptr, nullptr, nullptr},
        {"markup in a DOCTYPE's internal subset",
         "<!DOCTYPE rss [ <!ENTITY x \"<item><title>no</title>]>\"> <!-- ]> --> ]><rss>"
         "<title>F</title><item><title>yes</title></item></rss>",
         nullptr, 1, "yes", nullptr, nullptr, nullptr},
        {"a DOCTYPE with '[' in its identifier and an internal subset",
         "<!DOCTYPE rss PUBLIC \"-//x[1]//EN\" \"x.dtd\" [ <!ENTITY e \"<item><title>no</title>"
         "</item>\"> ]><rss><title>F</title><item><title>yes</title></item></rss>",
         nullptr, 0, "F", nullptr, nullptr, nullptr},
        {"the same: no item from the subset",
         "<!DOCTYPE rss PUBLIC \"-//x[1]//EN\" \"x.dtd\" [ <!ENTITY e \"<item><title>no</title>"
         "</item>\"> ]><rss><title>F</title><item><title>yes</title></item></rss>",
         nullptr, 1, "yes", nullptr, nullptr, nullptr},
        {"a DOCTYPE without a subset, '[' in its identifier",
         "<!DOCTYPE rss SYSTEM \"x[1].dtd\"><rss><title>F</title><item><title>yes</title>"
         "<description><![CDATA[a]]></description></item></rss>",
         nullptr, 1, "yes", nullptr, "a", nullptr},
        {"an unclosed channel description ends at the item",
         "<rss><channel><title>F</title><description>About us<item><title>One</title>"
         "<description>D</description></item></channel></rss>",
         nullptr, 1, "One", nullptr, "D", nullptr},
        {"an unclosed item title ends at the next item",
         "<rss><item><title>One<item><title>Two</title></item></rss>", nullptr, 2, "Two", nullptr,
         nullptr, nullptr},
        {"a description of white space only is none",
         "<rss><item><title>T</title><description> \n &nbsp; <p> </p></description></item>",
         nullptr, 1, "T", nullptr, nullptr, nullptr},
        {"Unicode spaces at the ends of a title and a description",
         "<rss><item><title>&#160;\xc2\xa0Hi\xe2\x80\xaf there&#x2009;\xe3\x80\x80</title>"
         "<description>&nbsp;Text&#8239;</description></item>",
         nullptr, 1, "Hi\xe2\x80\xaf there", nullptr, "Text", nullptr},
    };
    checkEntries(cases, sizeof cases / sizeof cases[0]);
}

TEST(feedScheduleAndDocumentStart) {
    static const struct {
        const char* document;
        int32_t minutes;
    } schedules[] = {
        {"<rss><channel><title>t</title><ttl> 90 </ttl></channel></rss>", 90},
        {"<rss><channel><ttl>0</ttl><item><title>a</title><ttl>5</ttl></item></channel></rss>", 0},
        {"<rss><channel><ttl>100000000000</ttl></channel></rss>", 1440},
        {"<rss><channel><ttl>soon</ttl></channel></rss>", 0},
        {"<rdf:RDF><channel><sy:updatePeriod>hourly</sy:updatePeriod>"
         "<sy:updateFrequency>2</sy:updateFrequency></channel></rdf:RDF>",
         30},
        {"<rdf:RDF><channel><sy:updatePeriod> Weekly </sy:updatePeriod></channel></rdf:RDF>", 1440},
        {"<rdf:RDF><channel><sy:updateFrequency>4</sy:updateFrequency></channel></rdf:RDF>", 360},
        {"<rdf:RDF><channel><sy:updatePeriod>hourly</sy:updatePeriod><sy:updateFrequency>600"
         "</sy:updateFrequency></channel></rdf:RDF>",
         1},
        {"<rss><channel><title>no schedule</title></channel></rss>", 0},
    };
    for (const auto& s : schedules) {
        Parsed p;
        parse(s.document, p);
        if (p.ttl != s.minutes)
            check::fail(__FILE__, __LINE__, std::string(s.document) + ": " + std::to_string(p.ttl));
    }

    // The body as the update pass hands it over: a byte-order mark, blanks or the root element
    // first; the root's xml:base counts. A saved response's headers are no markup.
    static const EntryCase cases[] = {
        {"byte-order mark", "\xef\xbb\xbf<?xml version=\"1.0\"?><rss><title>BOM</title></rss>",
         nullptr, 0, "BOM", nullptr, nullptr, nullptr},
        {"root element first with xml:base",
         "<feed xml:base=\"http://root.example/\"><title>R</title><link href=\"home\"/></feed>",
         nullptr, 0, "R", "http://root.example/home", nullptr, nullptr},
        {"blanks first", "\r\n  <rss><channel><title>B</title></channel></rss>", nullptr, 0, "B",
         nullptr, nullptr, nullptr},
        {"headers with a Link header",
         "HTTP/1.1 200 OK\r\nLink: <http://x/><title>hdr</title>\r\n\r\n<rss><title>Body</title>"
         "</rss>",
         nullptr, 0, "Body", nullptr, nullptr, nullptr},
    };
    checkEntries(cases, sizeof cases / sizeof cases[0]);
}

TEST(anItemIsKnownByItsGuidElseItsLinkElseItsTitle) {
    Parsed p;
    parse("<rss><channel><title>F</title>"
          "<item><title>A</title><link>http://e.com/a</link><guid>urn:a</guid></item>"
          "<item><title>B</title><link>http://e.com/b</link></item>"
          "<item><title>C</title></item>"
          "<item><title>D</title><guid isPermaLink=\"true\">http://e.com/d</guid></item>"
          "<item><title>E</title><guid> </guid><link>http://e.com/e</link></item>"
          "<item><title>A</title><link>http://e.com/a</link><guid>urn:A</guid></item>"
          "<item><title>A</title><link>http://e.com/a</link><guid>urn:b</guid></item>"
          "<item><title>A</title><guid> urn:a\n</guid></item>"
          "<item><title>A</title><guid>urn&#58;a</guid></item>"
          "<item><title>A</title><guid><![CDATA[urn:a]]></guid></item>"
          "<item><title>A</title><guid>urn:a<!-- c --></guid></item>"
          "</channel></rss>",
          p);
    REQUIRE(p.keys.size() == 12);
    // However the guid is written, its text is the key.
    for (size_t i = 8; i < 12; ++i)
        CHECK_EQ(p.keys[i], keyHashOf("urn:a"));
    CHECK_EQ(p.keys[0], uint64_t{0}); // the header
    CHECK_EQ(p.keys[1], keyHashOf("urn:a"));
    CHECK_EQ(p.keys[2], keyHashOf("http://e.com/b"));
    CHECK_EQ(p.keys[3], keyHashOf("C"));
    CHECK_EQ(p.keys[4], keyHashOf("http://e.com/d"));
    CHECK_EQ(p.keys[5], keyHashOf("http://e.com/e"));
    // Guids that differ in one letter or only in letter case are different items.
    CHECK(p.keys[6] != p.keys[1] && p.keys[7] != p.keys[1] && p.keys[6] != p.keys[7]);
}
