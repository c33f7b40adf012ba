// JSON Feed through the same entry point an update pass uses (parseFeedBody): which bodies are read
// as JSON, what each item becomes, and hostile documents that must show nothing, never crash.
#include "content/feed_document.h"
#include "content/feed_items.h"
#include "tests/support/check.h"

#include <string>

namespace {

int32_t entryCount; // of the last parse

// The entries of a parse as one line: "title<link>" per entry, '|' between entries, and "#key"
// after an item whose key is neither its link nor its title.
std::string parse(const char* contentType, std::string body, const char* base = nullptr) {
    FeedList* list = parseFeedBody(&body[0], body.size(), contentType, base, true);
    std::string shown;
    entryCount = list != nullptr ? list->count : -1;
    for (const FeedItem* e = list != nullptr ? list->first : nullptr; e != nullptr; e = e->next) {
        if (!shown.empty())
            shown += '|';
        shown += e->title ? e->title : "(none)";
        if (e->link)
            shown += std::string("<") + e->link + ">";
        if (e->key && e->key != e->link && e->key != e->title)
            shown += std::string("#") + e->key;
    }
    releaseFeedList(list);
    return shown;
}

const std::string v1 = R"("version": "https://jsonfeed.org/version/1")";

} // namespace

TEST(jsonFeedBodiesBecomeEntries) {
    struct Case {
        const char* name;
        const char* contentType;
        std::string body;
        int entryCount;
        const char* shown;
    } cases[] = {
        {"version after the items; feed title set late", nullptr,
         R"({"items": [{"title": "A", "url": "https://x.example/a"}], "title": "Late", )" + v1 +
             "}",
         2, "Late|A<https://x.example/a>"},
        {"url over external_url, relative against the base", "application/feed+json",
         "{" + v1 + R"(, "home_page_url": "../", "items": [{"title": "A", "url": "a",
          "external_url": "https://other.example/"}, {"title": "B", "external_url": "b/"}]})",
         3, "(none)<http://h.example/>|A<http://h.example/f/a>|B<http://h.example/f/b/>"},
        {"untitled: summary, else text, else HTML, else the address", nullptr,
         "{" + v1 + R"(, "items": [{"summary": "S", "content_text": "T", "content_html": "H"},
          {"content_text": "T", "content_html": "<b>H</b>"}, {"content_html": "<b>H</b> &amp; I"},
          {"url": "https://x.example/u"}, {"id": "only an id"}, {"title": "   "}]})",
         5, "(none)|S|T|H & I|https://x.example/u<https://x.example/u>"},
        {"values of other types and nested values are passed over", nullptr,
         "{" + v1 + R"(, "title": ["no"], "items": [{"title": {"title": "inner"}, "url": 5,
          "content_text": "kept", "attachments": [{"title": "attachment"}]}, "x", 7, null]})",
         2, "(none)|kept"},
        {"a JSON Content-Type with a BOM and blanks first", "application/json; charset=utf-8",
         "\xEF\xBB\xBF \r\n{" + v1 + R"(, "items": [{"title": "Caf\u00e9"}]})", 2,
         "(none)|Caf\xC3\xA9"},
        {"an XML body served as JSON is read as XML", "application/json",
         "<rss><channel><title>X</title><item><title>I</title></item></channel></rss>", 2, "X|I"},
        // Each of these shows nothing: the update reports "no items in the response".
        {"JSON that is no feed", nullptr, R"({"version": "2.0", "items": [{"title": "A"}]})", 0,
         ""},
        {"a root array", "application/feed+json", "[{" + v1 + R"(, "items": []}])", 0, ""},
        {"bad JSON after good items", nullptr,
         "{" + v1 + R"(, "items": [{"title": "A"}, {"title": "B",]}, })", 0, ""},
        {"a cut-off document", nullptr, "{" + v1 + R"(, "items": [{"title": "A"}, {"ti)", 0, ""},
        {"a lone surrogate", nullptr, "{" + v1 + R"(, "items": [{"title": "\ud800"}]})", 0, ""},
        {"an empty JSON body", "application/feed+json", "", 0, ""},
    };
    for (const Case& c : cases) {
        std::string shown = parse(c.contentType, c.body, "http://h.example/f/feed.json");
        if (shown != c.shown || entryCount != c.entryCount)
            check::fail(__FILE__, __LINE__,
                        std::string(c.name) + ": got " + std::to_string(entryCount) + " \"" +
                            shown + "\"");
    }
}

TEST(hostileJsonShowsNothing) {
    const size_t huge = 32u << 20;
    std::string brackets(huge, '[');
    CHECK_EQ(parse("application/feed+json", brackets), "");
    std::string objects;
    objects.reserve(huge);
    while (objects.size() < huge)
        objects += "{\"items\":";
    CHECK_EQ(parse(nullptr, objects), "");
    // Deep nesting inside an otherwise good item spoils the whole document.
    std::string deep = "{" + v1 + R"(, "items": [{"title": "A", "x": )" + std::string(100000, '[') +
                       std::string(100000, ']') + "}]}";
    CHECK_EQ(parse(nullptr, deep), "");
    CHECK_EQ(entryCount, 0);
    // Nesting a real feed's extensions use is read.
    std::string extension = "{" + v1 + R"(, "items": [{"title": "A", "_x": )" +
                            std::string(20, '[') + std::string(20, ']') + "}]}";
    CHECK_EQ(parse(nullptr, extension), "(none)|A");
}
