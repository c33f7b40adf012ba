// JSON Feed through the same entry point an update pass uses (parseFeedBody): which bodies are read
// as JSON, what each item becomes, and hostile documents that must show nothing, never crash.
#include "content/feed_document.h"
#include "content/feed_items.h"
#include "content/key_hash.h"
#include "content/stored_link.h"
#include "content/json_feed.h"
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
        LinkText whole;
        const char* link = itemLink(e, &whole);
        if (link)
            shown += std::string("<") + link + ">";
        if (e->key != keyHashOf(link) && e->key != keyHashOf(e->title)) {
            // Keys are held as hashes: the ids the cases use are told by theirs.
            const char* id = "(other)";
            for (const char* known : {"1001", "1002", "-1.5e3", "k"})
                if (e->key == keyHashOf(known))
                    id = known;
            shown += std::string("#") + id;
        }
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
        // What other JSON readers read: a lone surrogate as U+FFFD (a pair and an escaped
        // backslash stay), numbers beyond a double's range, a number as an id, control characters
        // as blanks, and of two items arrays the last.
        {"lone surrogates", nullptr,
         "{" + v1 + R"(, "items": [{"title": "A\ud83c"}, {"title": "\udc00B\ud83c\u0041"},
          {"title": "\ud83d\ude00 \\ud800"}]})",
         4,
         "(none)|A\xEF\xBF\xBD|\xEF\xBF\xBD"
         "B\xEF\xBF\xBD"
         "A|\xF0\x9F\x98\x80 \\ud800"},
        {"numbers beyond a double", nullptr,
         "{" + v1 + R"(, "_x": {"n": 1e400, "m": -2.5E+999, "s": 1e-400, "b": )" +
             std::string(400, '9') + R"(}, "items": [{"title": "A", "_n": 1e400}]})",
         2, "(none)|A"},
        {"numeric ids", nullptr,
         "{" + v1 + R"(, "items": [{"title": "A", "id": 1001}, {"title": "A", "id": 1002},
          {"title": "B", "id": -1.5e3}]})",
         4, "(none)|A#1001|A#1002|B#-1.5e3"},
        {"control characters", nullptr,
         "{" + v1 + R"(, "title": "\u000bFeed\u001f", "items": [{"title": "A\u000b\u000cB",
          "content_html": "<p>x</p>\u0007y"}, {"content_html": "\u000cC\u000bD"}]})",
         3, "Feed|A B|C D"},
        {"two items arrays", nullptr,
         "{" + v1 + R"(, "items": [{"title": "Old"}, {"title": "Older"}],
          "items": [{"title": "New"}]})",
         2, "(none)|New"},
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

// A plain-text description keeps its paragraphs: an empty line (blanks on it or not, "\r\n" or
// "\n") between two becomes one "\n"; a single line break is a blank, as are tabs and controls.
// The item's title made from it stays on one line.
TEST(plainTextDescriptionsKeepTheirParagraphs) {
    const struct {
        const char* text;
        const char* description;
        const char* title;
    } rows[] = {
        {"One\\nline \\n two", "One line two", "One line two"},
        {"First\\n\\nsecond \\r\\n \\r\\n\\t third\\n\\n\\n\\nfourth", "First\nsecond\nthird\nfourth",
         "First second third fourth"},
        {"\\n\\n  Lead\\u000b\\u000b\\n\\nend \\n\\n", "Lead\nend", "Lead end"},
        {"a\\r\\rb\\u0007\\u0007c", "a\nb c", "a b c"},
    };
    for (const auto& row : rows) {
        for (const char* field : {"content_text", "summary"}) {
            std::string body = "{" + v1 + R"(, "items": [{")" + field + R"(": ")" + row.text +
                               R"("}]})";
            FeedList* list = parseFeedBody(&body[0], body.size(), nullptr, nullptr, true);
            REQUIRE(list != nullptr && list->count == 2);
            const FeedItem* item = list->first->next;
            CHECK_EQ(item->description, row.description);
            CHECK_EQ(item->title, row.title);
            releaseFeedList(list);
        }
    }
}

// isJsonDocument alone: an XML body keeps to XML whatever stands before its first '<'.
TEST(jsonIsTheBodysFirstCharacterOrTheType) {
    const char xml[] = "stray text <rss><channel></channel></rss>";
    CHECK(!isJsonDocument(xml, sizeof xml - 1, "text/xml"));
    CHECK(!isJsonDocument(xml, sizeof xml - 1, nullptr));
    CHECK(isJsonDocument(xml, sizeof xml - 1, "application/json"));
    CHECK(!isJsonDocument(" <rss/>", 7, "application/feed+json"));
    CHECK(isJsonDocument(" \n{}", 4, "text/xml"));
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

// What other readers accept is read wherever it stands: in a key, after another escape (the text
// then moves as it is decoded), after a long run, as the first or a later element of an array,
// after a comment; a "\u0000" ends a text; an escape cut by the end spoils the document.
TEST(repairsAreMadeWhereverTheyStand) {
    const std::string nines(301, '9'), run(5000, 'x');
    const struct {
        std::string item; // what follows "items": [{
        std::string shown;
    } rows[] = {
        {R"("\ud83c": 1, "title": "K"}]})", "(none)|K"},
        {R"("title": "\"q\" \ud83c \u00e9\udc00"}]})",
         "(none)|\"q\" \xEF\xBF\xBD \xC3\xA9\xEF\xBF\xBD"},
        {R"("title": ")" + run + R"(\/\ud83c"}]})", "(none)|" + run + "/\xEF\xBF\xBD"},
        {R"("title": "A\u0000B", "id": "k\u0000"}]})", "(none)|A#k"},
        {R"("title": "N", "_a": [1e400, -e400, 2.5E+999], "_b": /* c */ 1e400, "_c": // c
            -1E400, "_d": [)" +
             nines + "]}]}",
         "(none)|N"},
        {R"("id": /* c */ 1001, "title": "A"}]})", "(none)|A#1001"},
        {R"("content_html": "\"<b>a</b>\"\fb\bc"}]})", "(none)|\"a\" b c"},
        {R"("title": "A\ud8)", ""},
        {R"("title": "A\ud83c\ud)", ""},
    };
    for (const auto& row : rows) {
        std::string shown = parse(nullptr, "{" + v1 + R"(, "items": [{)" + row.item);
        if (shown != row.shown)
            check::fail(__FILE__, __LINE__, row.item.substr(0, 60) + ": got " + shown);
    }
}

// Strings are read in blocks: escapes and the text moved behind them land right at every offset
// of a block, up to the document's last bytes.
TEST(escapesAtEveryOffsetOfABlock) {
    for (size_t n = 0; n < 40; ++n) {
        std::string a(n, 'a'), b(n, 'b');
        std::string body = "{" + v1 + R"(, "items": [{"title": ")" + a + R"(\u00e9\"\t)" + b +
                           R"(\ud83c\\)" + a + R"("}]})";
        std::string expected = "(none)|" + a + "\xC3\xA9\" " + b + "\xEF\xBF\xBD\\" + a;
        if (parse(nullptr, body) != expected)
            check::fail(__FILE__, __LINE__, std::to_string(n) + ": got " + parse(nullptr, body));
    }
}
