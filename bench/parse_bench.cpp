// Measures parseFeed against two general XML readers, libexpat and libxml2's SAX2 interface, and
// against a memchr scan for '<' and '>' that marks the floor of any tokenizer. The documents are
// deterministic RSS 2.0 responses of about 50 KB, 1 MB and 10 MB, HTTP headers included, shaped
// like a busy news feed: every item has a title, a link, a guid, a date and an HTML description,
// half of them entity-escaped with numeric references, half in CDATA sections. A fourth document
// is a 10 MB Atom feed of blog entries: several links per entry (one alternate), id, published and
// updated dates, an author, and an escaped-HTML summary or content.
//
// parseFeed cuts its input in place, so every contender's run but the memchr scan's reads a fresh
// working copy of the document, made before the run and not timed (the plug-in parses the
// response buffer it is handed, without a copy); the XML readers collect the same four fields per
// item (title, link, description, date) into allocated strings and free them again, as parseFeed
// builds and frees its list. The contenders take turns batch by batch so that a change in the
// machine's load falls on all of them alike; each figure is the median over the batches.
//
// A 10 MB JSON Feed of the same news items (title, url, id, content_html, date_published) is read
// by the JSON Feed reader and by RapidJSON's own DOM parse (in place, then the same five fields
// that the reader keeps copied out of the tree and freed, content_html made plain text first by the
// same conversion the reader applies, so that both do the same work; the DOM accepts what the
// reader accepts: comments, trailing commas): "JSON Feed/DOM ratio on 10 MB: R".
//
// The last line of the output is "parseFeed/peer ratio on 10 MB: R", R being parseFeed's
// throughput over the faster XML reader's on the 10 MB RSS document, from this run.
#include "content/feed_items.h"
#include "content/json_feed.h"
#include "content/rss_parser.h"
#include "content/stored_date.h"
#include "content/stored_link.h"
#include "content/text_decoding.h"

#include <rapidjson/document.h>

#include <expat.h>
#include <libxml/parser.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// ---- Allocation counting --------------------------------------------------------------------
// A thin replacement of the C allocator that forwards to glibc's own and, while counting is on,
// tracks the bytes in use and their peak. Under AddressSanitizer the sanitizer owns malloc, so no
// figure is given there; the benchmark is meant for the optimised build of scripts/bench.sh.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FM_SANITIZED_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FM_SANITIZED_ALLOCATOR 1
#endif

#ifndef FM_SANITIZED_ALLOCATOR
static bool countingAllocations;
static long long bytesInUse;
static long long peakBytesInUse;

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

static void noteAllocated(void* block) {
    if (!countingAllocations || !block)
        return;
    bytesInUse += static_cast<long long>(malloc_usable_size(block));
    peakBytesInUse = std::max(peakBytesInUse, bytesInUse);
}

static void noteFreed(void* block) {
    if (countingAllocations && block)
        bytesInUse -= static_cast<long long>(malloc_usable_size(block));
}

void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    noteAllocated(block);
    return block;
}

void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    noteAllocated(block);
    return block;
}

void* realloc(void* block, size_t size) {
    size_t before = block ? malloc_usable_size(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved || size == 0) {
        if (countingAllocations)
            bytesInUse -= static_cast<long long>(before);
        noteAllocated(moved);
    }
    return moved;
}

void free(void* block) {
    noteFreed(block);
    __libc_free(block);
}
}

static void startCounting() {
    bytesInUse = 0;
    peakBytesInUse = 0;
    countingAllocations = true;
}

static long long stopCounting() {
    countingAllocations = false;
    return peakBytesInUse;
}
#endif

// ---- Documents ------------------------------------------------------------------------------
// xorshift64*: the same documents on every machine and every run.
struct Random {
    uint64_t state;
};

static uint64_t nextRandom(Random& random) {
    random.state ^= random.state >> 12;
    random.state ^= random.state << 25;
    random.state ^= random.state >> 27;
    return random.state * 2685821657736338717ull;
}

static int randomBetween(Random& random, int low, int high) {
    return low + static_cast<int>(nextRandom(random) % static_cast<uint64_t>(high - low + 1));
}

static const char* const words[] = {
    "council", "votes",   "budget", "river",   "flood",     "warning", "markets",    "rally",
    "after",   "central", "bank",   "signals", "pause",     "storm",   "closes",     "airport",
    "for",     "second",  "day",    "talks",   "resume",    "between", "unions",     "and",
    "city",    "hall",    "new",    "bridge",  "opens",     "ahead",   "of",         "schedule",
    "school",  "report",  "shows",  "reading", "scores",    "rising",  "hospital",   "adds",
    "beds",    "winter",  "season", "railway", "strike",    "called",  "off",        "minister",
    "defends", "plan",    "energy", "prices",  "fall",      "again",   "local",      "team",
    "wins",    "cup",     "final",  "museum",  "reopens",   "with",    "exhibition", "on",
    "ancient", "maps",    "police", "appeal",  "witnesses", "traffic", "delays",     "expected"};
static const int wordCount = sizeof words / sizeof words[0];

static const char* randomWord(Random& random) {
    return words[randomBetween(random, 0, wordCount - 1)];
}

// A headline of 40 to 80 bytes as it stands in the document.
static std::string makeTitle(Random& random) {
    size_t length = static_cast<size_t>(randomBetween(random, 40, 80));
    std::string title = randomWord(random);
    title[0] = static_cast<char>(title[0] - 'a' + 'A');
    while (title.size() < length) {
        int kind = randomBetween(random, 0, 11);
        title += kind == 0 ? " &amp; " : kind == 1 ? " &#8216;" : " ";
        title += randomWord(random);
        if (kind == 1)
            title += "&#8217;";
    }
    title.resize(length);
    // A cut may split a reference; end the headline on a whole word instead.
    size_t ampersand = title.rfind('&');
    if (ampersand != std::string::npos && title.find(';', ampersand) == std::string::npos)
        title.replace(ampersand, std::string::npos, length - ampersand, 'x');
    return title;
}

// One piece of a description's HTML: in CDATA form the markup stands as it is, in escaped form
// the markup's '<', '>', '&' and '"' are written as references while the numeric character
// references stay XML references, as feed generators write them.
static std::string makeDescriptionPiece(Random& random, bool cdata, int story) {
    char buffer[160];
    switch (randomBetween(random, 0, 9)) {
    case 0:
        std::snprintf(buffer, sizeof buffer, cdata ? " <b>%s</b>" : " &lt;b&gt;%s&lt;/b&gt;",
                      randomWord(random));
        break;
    case 1:
        std::snprintf(buffer, sizeof buffer,
                      cdata ? " <a href=\"http://news.example.com/s/%d?ref=rss&amp;p=1\">%s</a>"
                            : " &lt;a href=&quot;http://news.example.com/s/%d?ref=rss&amp;amp;p=1"
                              "&quot;&gt;%s&lt;/a&gt;",
                      story, randomWord(random));
        break;
    case 2:
        std::snprintf(buffer, sizeof buffer, " &#8220;%s %s&#8221;", randomWord(random),
                      randomWord(random));
        break;
    case 3:
        std::snprintf(buffer, sizeof buffer, " %s&#8217;s", randomWord(random));
        break;
    case 4:
        std::snprintf(buffer, sizeof buffer, cdata ? ".<br />" : ".&lt;br /&gt;");
        break;
    case 5:
        std::snprintf(buffer, sizeof buffer,
                      cdata ? " %s&nbsp;&#8230;" : " %s&amp;nbsp;&amp;#8230;", randomWord(random));
        break;
    default:
        std::snprintf(buffer, sizeof buffer, " %s", randomWord(random));
        break;
    }
    return buffer;
}

// The element's content, 300 to 800 bytes as it stands in the document.
static std::string makeDescription(Random& random, bool cdata, int story) {
    size_t length = static_cast<size_t>(randomBetween(random, 300, 690));
    std::string html = cdata ? "<![CDATA[<p>" : "&lt;p&gt;";
    html += "The";
    while (html.size() < length)
        html += makeDescriptionPiece(random, cdata, story);
    html += cdata ? ".</p>]]>" : ".&lt;/p&gt;";
    return html;
}

static const char* const weekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
static const char* const zones[] = {"GMT", "+0000", "-0500", "+0100", "+0900"};

static std::string makeItem(Random& random, int story) {
    char link[96];
    std::snprintf(link, sizeof link, "http://news.example.com/2026/12/%02d/story-%06d.html",
                  1 + story % 28, story);
    char date[64];
    std::snprintf(date, sizeof date, "%s, %02d Dec 2026 %02d:%02d:%02d %s", weekdays[story % 7],
                  1 + story % 28, randomBetween(random, 0, 23), randomBetween(random, 0, 59),
                  randomBetween(random, 0, 59), zones[randomBetween(random, 0, 4)]);
    std::string item = "    <item>\n      <title>" + makeTitle(random) + "</title>\n      <link>" +
                       link + "</link>\n";
    if (story % 2)
        item += "      <guid isPermaLink=\"false\">tag:news.example.com,2026:story-" +
                std::to_string(story) + "</guid>\n";
    else
        item += std::string("      <guid isPermaLink=\"true\">") + link + "</guid>\n";
    item += std::string("      <pubDate>") + date + "</pubDate>\n      <description>" +
            makeDescription(random, story % 2 == 1, story) + "</description>\n    </item>\n";
    return item;
}

// An HTTP response of about targetSize bytes carrying an RSS 2.0 document.
static std::string makeResponse(size_t targetSize) {
    Random random{0x9E3779B97F4A7C15ull ^ targetSize};
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<rss version=\"2.0\">\n  <channel>\n"
                       "    <title>Example News &#8211; Top Stories</title>\n"
                       "    <link>http://news.example.com/</link>\n"
                       "    <description>The latest headlines from Example News</description>\n"
                       "    <language>en-us</language>\n"
                       "    <lastBuildDate>Mon, 07 Dec 2026 12:00:00 GMT</lastBuildDate>\n"
                       "    <image>\n      <url>http://news.example.com/logo.png</url>\n"
                       "      <title>Example News</title>\n"
                       "      <link>http://news.example.com/</link>\n    </image>\n";
    const std::string closing = "  </channel>\n</rss>\n";
    const size_t headerRoom = 200;
    for (int story = 1; body.size() + closing.size() + headerRoom < targetSize; ++story)
        body += makeItem(random, story);
    body += closing;
    char header[256];
    std::snprintf(header, sizeof header,
                  "HTTP/1.0 200 OK\r\nDate: Mon, 07 Dec 2026 12:00:00 GMT\r\nServer: example\r\n"
                  "Content-Type: application/rss+xml; charset=UTF-8\r\n"
                  "Content-Length: %zu\r\nConnection: close\r\n\r\n",
                  body.size());
    return header + body;
}

// One Atom entry as a blog platform writes it.
static std::string makeEntry(Random& random, int story) {
    char link[96];
    std::snprintf(link, sizeof link, "http://blog.example.org/2026/12/%02d/post-%06d",
                  1 + story % 28, story);
    char published[32], updated[32];
    std::snprintf(published, sizeof published, "2026-12-%02dT%02d:%02d:%02dZ", 1 + story % 28,
                  randomBetween(random, 0, 23), randomBetween(random, 0, 59),
                  randomBetween(random, 0, 59));
    std::snprintf(updated, sizeof updated, "2026-12-%02dT%02d:%02d:%02d+01:00", 1 + story % 28,
                  randomBetween(random, 0, 23), randomBetween(random, 0, 59),
                  randomBetween(random, 0, 59));
    std::string entry = "  <entry>\n    <title>" + makeTitle(random) + "</title>\n";
    entry += std::string("    <link rel=\"edit\" href=\"http://blog.example.org/api/posts/") +
             std::to_string(story) + "\"/>\n";
    entry += std::string("    <link rel=\"alternate\" type=\"text/html\" href=\"") + link +
             "?utm=feed&amp;v=" + std::to_string(story % 7) + "\"/>\n";
    entry += std::string("    <link rel=\"replies\" type=\"text/html\" href=\"") + link +
             "#comments\"/>\n";
    entry += "    <id>tag:blog.example.org,2026:post-" + std::to_string(story) + "</id>\n";
    entry += std::string("    <published>") + published + "</published>\n";
    if (story % 3 != 0)
        entry += std::string("    <updated>") + updated + "</updated>\n";
    entry += std::string("    <author><name>") + randomWord(random) + "</name></author>\n";
    const char* element = story % 2 ? "summary" : "content";
    entry += std::string("    <") + element + " type=\"html\">" +
             makeDescription(random, false, story) + "</" + element + ">\n  </entry>\n";
    return entry;
}

// An HTTP response of about targetSize bytes carrying an Atom 1.0 feed.
static std::string makeAtomResponse(size_t targetSize) {
    Random random{0xD1B54A32D192ED03ull ^ targetSize};
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
                       "  <title>Example Blog &#8211; Notes</title>\n"
                       "  <link rel=\"self\" href=\"http://blog.example.org/feed.atom\"/>\n"
                       "  <link rel=\"alternate\" href=\"http://blog.example.org/\"/>\n"
                       "  <id>tag:blog.example.org,2026:feed</id>\n"
                       "  <updated>2026-12-07T12:00:00Z</updated>\n";
    const std::string closing = "</feed>\n";
    const size_t headerRoom = 200;
    for (int story = 1; body.size() + closing.size() + headerRoom < targetSize; ++story)
        body += makeEntry(random, story);
    body += closing;
    char header[256];
    std::snprintf(header, sizeof header,
                  "HTTP/1.0 200 OK\r\nDate: Mon, 07 Dec 2026 12:00:00 GMT\r\nServer: example\r\n"
                  "Content-Type: application/atom+xml; charset=UTF-8\r\n"
                  "Content-Length: %zu\r\nConnection: close\r\n\r\n",
                  body.size());
    return header + body;
}

// ---- The contenders -------------------------------------------------------------------------
// What a general XML reader keeps per item (or Atom entry): the four fields as allocated strings.
// An Atom entry's published date stands in for a missing updated one.
struct CollectedItem {
    char* title;
    char* link;
    char* description;
    char* date;
    char* published;
};

enum Field { NoField = -1, TitleField, LinkField, DescriptionField, DateField, PublishedField };

struct Collector {
    std::vector<CollectedItem> items;
    CollectedItem current;
    bool inItem;
    Field field;
    std::string text;
};

static Field fieldNamed(const char* name) {
    if (std::strcmp(name, "title") == 0)
        return TitleField;
    if (std::strcmp(name, "link") == 0)
        return LinkField;
    if (std::strcmp(name, "description") == 0)
        return DescriptionField;
    if (std::strcmp(name, "pubDate") == 0 || std::strcmp(name, "updated") == 0)
        return DateField;
    if (std::strcmp(name, "summary") == 0 || std::strcmp(name, "content") == 0)
        return DescriptionField;
    if (std::strcmp(name, "published") == 0)
        return PublishedField;
    return NoField;
}

static char* copyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

static bool isItem(const char* name) {
    return std::strcmp(name, "item") == 0 || std::strcmp(name, "entry") == 0;
}

// rel and href: a link element's attributes (null when absent). An Atom link names the entry's
// address by its href when its rel is alternate or missing; the first such link counts.
static void startElement(Collector& collector, const char* name, const char* rel,
                         const char* href) {
    if (isItem(name)) {
        collector.inItem = true;
        collector.current = CollectedItem{};
    } else if (collector.inItem && href != nullptr && std::strcmp(name, "link") == 0) {
        if (collector.current.link == nullptr && (!rel || std::strcmp(rel, "alternate") == 0))
            collector.current.link = copyText(href);
        collector.field = NoField;
    } else if (collector.inItem) {
        collector.field = fieldNamed(name);
        collector.text.clear();
    }
}

static void endElement(Collector& collector, const char* name) {
    if (collector.field != NoField) {
        char** slot[] = {&collector.current.title, &collector.current.link,
                         &collector.current.description, &collector.current.date,
                         &collector.current.published};
        char** target = slot[collector.field];
        std::free(*target);
        *target = copyText(collector.text);
        collector.field = NoField;
    } else if (collector.inItem && isItem(name)) {
        if (collector.current.date == nullptr) {
            collector.current.date = collector.current.published;
            collector.current.published = nullptr;
        }
        collector.items.push_back(collector.current);
        collector.inItem = false;
    }
}

static void addText(Collector& collector, const char* text, int length) {
    if (collector.field != NoField)
        collector.text.append(text, static_cast<size_t>(length));
}

static size_t releaseItems(Collector& collector) {
    size_t count = collector.items.size();
    for (CollectedItem& item : collector.items) {
        std::free(item.title);
        std::free(item.link);
        std::free(item.description);
        std::free(item.date);
        std::free(item.published);
    }
    collector.items.clear();
    return count;
}

static void XMLCALL expatStart(void* user, const XML_Char* name, const XML_Char** attributes) {
    const char* rel = nullptr;
    const char* href = nullptr;
    if (std::strcmp(name, "link") == 0) {
        for (const XML_Char** a = attributes; a[0] != nullptr; a += 2) {
            if (std::strcmp(a[0], "rel") == 0)
                rel = a[1];
            else if (std::strcmp(a[0], "href") == 0)
                href = a[1];
        }
    }
    startElement(*static_cast<Collector*>(user), name, rel, href);
}
static void XMLCALL expatEnd(void* user, const XML_Char* name) {
    endElement(*static_cast<Collector*>(user), name);
}
static void XMLCALL expatText(void* user, const XML_Char* text, int length) {
    addText(*static_cast<Collector*>(user), text, length);
}

static void saxStart(void* user, const xmlChar* localName, const xmlChar*, const xmlChar*, int,
                     const xmlChar**, int attributeCount, int, const xmlChar** attributes) {
    const char* name = reinterpret_cast<const char*>(localName);
    std::string rel, href;
    bool hasRel = false, hasHref = false;
    if (std::strcmp(name, "link") == 0) {
        // Five pointers per attribute: local name, prefix, URI, value start, value end.
        for (int i = 0; i < attributeCount; ++i) {
            const xmlChar** a = attributes + 5 * i;
            const char* attribute = reinterpret_cast<const char*>(a[0]);
            std::string value(reinterpret_cast<const char*>(a[3]),
                              reinterpret_cast<const char*>(a[4]));
            if (std::strcmp(attribute, "rel") == 0)
                rel = value, hasRel = true;
            else if (std::strcmp(attribute, "href") == 0)
                href = value, hasHref = true;
        }
    }
    startElement(*static_cast<Collector*>(user), name, hasRel ? rel.c_str() : nullptr,
                 hasHref ? href.c_str() : nullptr);
}
static void saxEnd(void* user, const xmlChar* localName, const xmlChar*, const xmlChar*) {
    endElement(*static_cast<Collector*>(user), reinterpret_cast<const char*>(localName));
}
static void saxText(void* user, const xmlChar* text, int length) {
    addText(*static_cast<Collector*>(user), reinterpret_cast<const char*>(text), length);
}

// The XML readers get the body: they know nothing of HTTP headers.
static const char* skipHeaders(const char* response, size_t size, size_t* bodySize) {
    const char* end = response + size;
    for (const char* p = response; p + 4 <= end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
        if (!p || p + 4 > end)
            break;
        if (std::memcmp(p, "\r\n\r\n", 4) == 0) {
            *bodySize = static_cast<size_t>(end - (p + 4));
            return p + 4;
        }
    }
    *bodySize = size;
    return response;
}

struct Document {
    std::string text;
    std::vector<char> work; // the working copy, with room for the terminator
    const char* url;        // the address it came from, as an update pass passes it
};

// A fresh working copy of the document, made before each run and not timed: parseFeed cuts its
// input in place, and in the plug-in it parses the response buffer it is handed, so the copy is
// the benchmark's own cost; every contender gets the same copy, so all read their input from the
// same place in the caches.
static void prepareCopy(Document& document) {
    std::memcpy(document.work.data(), document.text.c_str(), document.text.size() + 1);
}

// Runs on the working copy (made with prepareCopy first), returning a count that keeps the work
// observable.
static size_t runParseFeed(Document& document) {
    FeedList* list = parseFeed(document.work.data(), document.url);
    size_t count = list != nullptr ? static_cast<size_t>(list->count) : 0;
    releaseFeedList(list);
    return count;
}

// Lets libexpat collect the four fields of every item into collector.
static void collectWithExpat(Document& document, Collector& collector) {
    size_t bodySize;
    const char* body = skipHeaders(document.work.data(), document.text.size(), &bodySize);
    collector.field = NoField;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &collector);
    XML_SetElementHandler(parser, expatStart, expatEnd);
    XML_SetCharacterDataHandler(parser, expatText);
    if (XML_Parse(parser, body, static_cast<int>(bodySize), 1) != XML_STATUS_OK)
        std::fprintf(stderr, "libexpat: %s at line %lu\n",
                     XML_ErrorString(XML_GetErrorCode(parser)),
                     static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)));
    XML_ParserFree(parser);
}

static size_t runExpat(Document& document) {
    Collector collector{};
    collectWithExpat(document, collector);
    return releaseItems(collector);
}

static size_t runLibxml2(Document& document) {
    size_t bodySize;
    const char* body = skipHeaders(document.work.data(), document.text.size(), &bodySize);
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = saxStart;
    handler.endElementNs = saxEnd;
    handler.characters = saxText;
    handler.cdataBlock = saxText;
    Collector collector{};
    collector.field = NoField;
    if (xmlSAXUserParseMemory(&handler, &collector, body, static_cast<int>(bodySize)) != 0)
        std::fprintf(stderr, "libxml2: the document did not parse\n");
    return releaseItems(collector);
}

// The floor: the document itself scanned, without the copy the others make first.
static size_t runMemchrScan(Document& document) {
    const char* p = document.text.data();
    const char* end = p + document.text.size();
    size_t tags = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p))))) {
        p = static_cast<const char*>(std::memchr(p + 1, '>', static_cast<size_t>(end - p - 1)));
        if (!p)
            break;
        ++p;
        ++tags;
    }
    return tags;
}

struct Contender {
    const char* name;
    size_t (*run)(Document&);
    bool copies; // runs on a fresh working copy
};

static const Contender contenders[] = {{"parseFeed", runParseFeed, true},
                                       {"libexpat", runExpat, true},
                                       {"libxml2 SAX2", runLibxml2, true},
                                       {"memchr '<' '>'", runMemchrScan, false}};
static const int contenderCount = sizeof contenders / sizeof contenders[0];
static const int parseFeedIndex = 0, expatIndex = 1, libxml2Index = 2, memchrIndex = 3;

static double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

static volatile size_t observed;

// Seconds that runs runs of run take over the document, each on a fresh copy when copies is set
// (the copying not counted).
static double timeRuns(size_t (*run)(Document&), bool copies, Document& document, int runs) {
    double seconds = 0;
    for (int r = 0; r < runs; ++r) {
        if (copies)
            prepareCopy(document);
        auto start = std::chrono::steady_clock::now();
        observed = run(document);
        seconds += secondsSince(start);
    }
    return seconds;
}

// Seconds for one run of the contender over the document, the median over the batches.
static void measure(Document& document, double budgetSeconds, double* medians) {
    int batchRuns[contenderCount];
    double slowest = 0;
    for (int c = 0; c < contenderCount; ++c) {
        // warm-up, and a first estimate
        double once =
            std::max(timeRuns(contenders[c].run, contenders[c].copies, document, 1), 1e-7);
        batchRuns[c] = std::max(1, static_cast<int>(0.002 / once)); // batches of about 2 ms
        slowest = std::max(slowest, once * batchRuns[c]);
    }
    int batches = std::clamp(static_cast<int>(budgetSeconds / (slowest * contenderCount)), 7, 41);
    std::vector<double> samples[contenderCount];
    for (int b = 0; b < batches; ++b) {
        for (int c = 0; c < contenderCount; ++c) {
            double seconds =
                timeRuns(contenders[c].run, contenders[c].copies, document, batchRuns[c]);
            samples[c].push_back(seconds / batchRuns[c]);
        }
    }
    for (int c = 0; c < contenderCount; ++c) {
        std::sort(samples[c].begin(), samples[c].end());
        medians[c] = samples[c][samples[c].size() / 2];
    }
}

// Compares parseFeed's entries with what libexpat collected: title, link and date must agree for
// every item (descriptions differ by design: parseFeed keeps plain text, the reader HTML), titles
// taken without blanks at either end.
static void compareWithExpat(Document& document, size_t* agreeing, size_t* items) {
    Collector collector{};
    prepareCopy(document);
    collectWithExpat(document, collector);

    prepareCopy(document);
    FeedList* list = parseFeed(document.work.data(), document.url);
    auto same = [](const char* a, const char* b) {
        return std::strcmp(a ? a : "", b ? b : "") == 0;
    };
    auto shown = [](const char* text) { return text ? text : "(none)"; };
    *agreeing = 0;
    *items = collector.items.size();
    bool differenceShown = false;
    const FeedItem* entry = firstItem(list); // after the header
    for (const CollectedItem& item : collector.items) {
        if (!entry)
            break;
        // parseFeed shows a title without blanks at either end; the reader keeps them.
        std::string title = item.title ? item.title : "";
        title.erase(0, title.find_first_not_of(" \t\r\n"));
        title.erase(title.find_last_not_of(" \t\r\n") + 1);
        DateText held;
        const char* date = itemDate(entry, &held);
        LinkText whole;
        const char* link = itemLink(entry, &whole);
        if (same(entry->title, title.c_str()) && same(link, item.link) && same(date, item.date)) {
            ++*agreeing;
        } else if (!differenceShown) {
            std::printf("first difference: parseFeed [%s] [%s] [%s]\n"
                        "                  libexpat  [%s] [%s] [%s]\n",
                        shown(entry->title), shown(link), shown(date), shown(item.title),
                        shown(item.link), shown(item.date));
            differenceShown = true;
        }
        entry = entry->next;
    }
    releaseFeedList(list);
    releaseItems(collector);
}

// ---- JSON Feed ------------------------------------------------------------------------------

static void appendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

// A JSON Feed of about targetSize bytes with the RSS document's kind of items; the HTML is the
// CDATA form's (JSON has no entity escaping of its own).
static std::string makeJsonFeed(size_t targetSize) {
    Random random{0x9E3779B97F4A7C15ull ^ targetSize ^ 0x4A534F4Eull};
    std::string body = "{\n  \"version\": \"https://jsonfeed.org/version/1.1\",\n"
                       "  \"title\": \"Example News \\u2013 Top Stories\",\n"
                       "  \"home_page_url\": \"http://news.example.com/\",\n"
                       "  \"feed_url\": \"http://news.example.com/feed.json\",\n  \"items\": [";
    for (int story = 1; body.size() + 8 < targetSize; ++story) {
        char link[96];
        std::snprintf(link, sizeof link, "http://news.example.com/2026/12/%02d/story-%06d.html",
                      1 + story % 28, story);
        char date[48];
        std::snprintf(date, sizeof date, "2026-12-%02dT%02d:%02d:%02d+01:00", 1 + story % 28,
                      randomBetween(random, 0, 23), randomBetween(random, 0, 59),
                      randomBetween(random, 0, 59));
        std::string html = makeDescription(random, true, story);
        html = html.substr(9, html.size() - 12); // without "<![CDATA[" and "]]>"
        body += story == 1 ? "\n    {" : ",\n    {";
        body += "\"id\": \"" + std::to_string(story) + "\", \"url\": \"" + link + "\",\n      ";
        body += "\"title\": ";
        appendJsonString(body, makeTitle(random));
        body += ",\n      \"content_html\": ";
        appendJsonString(body, html);
        body += std::string(",\n      \"date_published\": \"") + date + "\"}";
    }
    body += "\n  ]\n}\n";
    return body;
}

static size_t runJsonFeed(Document& document) {
    FeedList* list = parseJsonFeed(document.work.data(), document.text.size(), document.url);
    size_t count = list != nullptr ? static_cast<size_t>(list->count) : 0;
    releaseFeedList(list);
    return count;
}

static char* copyJsonString(const rapidjson::Value& object, const char* name) {
    rapidjson::Value::ConstMemberIterator member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return nullptr;
    return copyText(std::string(member->value.GetString(), member->value.GetStringLength()));
}

// The member's HTML as plain text, converted in place in the tree (parsed in situ, so its strings
// stand in the working copy) and then copied out.
static char* copyJsonHtmlAsText(const rapidjson::Value& object, const char* name) {
    rapidjson::Value::ConstMemberIterator member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return nullptr;
    char* html = const_cast<char*>(member->value.GetString());
    size_t length = descriptionToText(html, member->value.GetStringLength(), html, true);
    return copyText(std::string(html, length));
}

static size_t runRapidJsonDom(Document& document) {
    // The JSON the reader accepts: comments and trailing commas let through, numbers as text.
    const unsigned flags = rapidjson::kParseInsituFlag | rapidjson::kParseCommentsFlag |
                           rapidjson::kParseTrailingCommasFlag | rapidjson::kParseStopWhenDoneFlag |
                           rapidjson::kParseNumbersAsStringsFlag;
    rapidjson::Document tree;
    tree.ParseInsitu<flags>(document.work.data());
    if (tree.HasParseError() || !tree.IsObject())
        return 0;
    rapidjson::Value::ConstMemberIterator items = tree.FindMember("items");
    if (items == tree.MemberEnd() || !items->value.IsArray())
        return 0;
    size_t count = 0;
    for (const rapidjson::Value& item : items->value.GetArray()) {
        if (!item.IsObject())
            continue;
        char* fields[] = {copyJsonString(item, "title"), copyJsonString(item, "url"),
                          copyJsonHtmlAsText(item, "content_html"),
                          copyJsonString(item, "date_published"), copyJsonString(item, "id")};
        for (char* field : fields)
            std::free(field);
        ++count;
    }
    return count;
}

// Seconds per run of each of the two readers over the document, medians of interleaved batches.
static void measureJson(Document& document, double budgetSeconds, double* medians) {
    size_t (*const runs[2])(Document&) = {runJsonFeed, runRapidJsonDom};
    int batchRuns[2];
    double slowest = 0;
    for (int c = 0; c < 2; ++c) {
        double once = std::max(timeRuns(runs[c], true, document, 1), 1e-7);
        batchRuns[c] = std::max(1, static_cast<int>(0.002 / once));
        slowest = std::max(slowest, once * batchRuns[c]);
    }
    int batches = std::clamp(static_cast<int>(budgetSeconds / (slowest * 2)), 7, 41);
    std::vector<double> samples[2];
    for (int b = 0; b < batches; ++b) {
        for (int c = 0; c < 2; ++c) {
            samples[c].push_back(timeRuns(runs[c], true, document, batchRuns[c]) / batchRuns[c]);
        }
    }
    for (int c = 0; c < 2; ++c) {
        std::sort(samples[c].begin(), samples[c].end());
        medians[c] = samples[c][samples[c].size() / 2];
    }
}

#ifndef FM_SANITIZED_ALLOCATOR
static long long peakOf(const Contender& contender, Document& document) {
    if (contender.copies)
        prepareCopy(document);
    startCounting();
    observed = contender.run(document);
    return stopCounting();
}
#endif

// The JSON Feed reader against RapidJSON's DOM on the JSON document; prints the figures.
static void measureJsonFeed(Document& json) {
    prepareCopy(json);
    size_t jsonEntries = runJsonFeed(json);
    prepareCopy(json);
    size_t domItems = runRapidJsonDom(json);
    double jsonMedians[2];
    measureJson(json, 8.0, jsonMedians);
    double jsonMB = static_cast<double>(json.text.size()) / 1e6;
    std::printf("10 MB JSON Feed: %zu bytes; items: RapidJSON DOM %zu, parseJsonFeed %zu entries "
                "(header included)\n",
                json.text.size(), domItems, jsonEntries);
    std::printf("MB/s: parseJsonFeed %.1f, RapidJSON DOM parse %.1f\n", jsonMB / jsonMedians[0],
                jsonMB / jsonMedians[1]);
    std::printf("JSON Feed/DOM ratio on 10 MB: %.2f\n\n", jsonMedians[1] / jsonMedians[0]);
}

// Writes the generated responses (and the JSON Feed last) to files, for a look at them or a run
// through feedmarquee-inspect or parse_file_bench.
static int writeDocuments(const char* folder, const Document* documents, int count) {
    const char* names[] = {"bench-50KB.http", "bench-1MB.http", "bench-10MB.http",
                           "bench-10MB-atom.http", "bench-10MB.json"};
    for (int s = 0; s < count; ++s) {
        std::string path = std::string(folder) + "/" + names[s];
        FILE* file = std::fopen(path.c_str(), "wb");
        bool written = file && std::fwrite(documents[s].text.data(), 1, documents[s].text.size(),
                                           file) == documents[s].text.size();
        if (file && std::fclose(file) != 0)
            written = false;
        if (!written) {
            std::fprintf(stderr, "parse_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}

// usage: parse_bench                        runs the benchmark
//        parse_bench --write-documents DIR  only writes the generated documents to DIR
//        parse_bench --json-only            only compares the JSON Feed readers
int main(int argc, char** argv) {
    xmlInitParser();
    struct Size {
        const char* label;
        size_t bytes;
        double budget;
        bool atom;
    } sizes[] = {{"50 KB", 50 * 1024, 2.0, false},
                 {"1 MB", 1024 * 1024, 3.0, false},
                 {"10 MB", 10 * 1024 * 1024, 8.0, false},
                 {"10 MB Atom", 10 * 1024 * 1024, 8.0, true}};
    const int sizeCount = sizeof sizes / sizeof sizes[0];
    const int rss10MB = 2, atom10MB = 3;
    Document documents[sizeCount];
    for (int s = 0; s < sizeCount; ++s) {
        documents[s].text =
            sizes[s].atom ? makeAtomResponse(sizes[s].bytes) : makeResponse(sizes[s].bytes);
        documents[s].work.resize(documents[s].text.size() + 1);
        documents[s].url =
            sizes[s].atom ? "http://blog.example.org/feed.atom" : "http://news.example.com/rss.xml";
    }
    Document json;
    json.text = makeJsonFeed(10 * 1024 * 1024);
    json.work.resize(json.text.size() + 1);
    json.url = "http://news.example.com/feed.json";
    if (argc == 3 && std::strcmp(argv[1], "--write-documents") == 0) {
        Document all[] = {documents[0], documents[1], documents[2], documents[3], json};
        return writeDocuments(argv[2], all, sizeCount + 1);
    }

    if (argc == 2 && std::strcmp(argv[1], "--json-only") == 0) {
        measureJsonFeed(json);
        return 0;
    }
    std::printf(
        "FeedMarquee parser benchmark: MB/s with MB = 10^6 bytes, median of interleaved "
        "batches;\nevery run but the memchr floor's parses a fresh copy of the response, made "
        "untimed.\n\n");
    for (int s = 0; s < sizeCount; ++s) {
        prepareCopy(documents[s]);
        size_t parsed = runParseFeed(documents[s]);
        prepareCopy(documents[s]);
        size_t expat = runExpat(documents[s]);
        prepareCopy(documents[s]);
        size_t libxml2 = runLibxml2(documents[s]);
        std::printf("%-10s document: %zu bytes; items: libexpat %zu, libxml2 %zu, parseFeed %zu "
                    "entries (header included)\n",
                    sizes[s].label, documents[s].text.size(), expat, libxml2, parsed);
    }
    size_t agreeing = 0, items = 0;
    compareWithExpat(documents[1], &agreeing, &items);
    std::printf("1 MB document: parseFeed agrees with libexpat on title, link and date for %zu of "
                "%zu items\n",
                agreeing, items);
    compareWithExpat(documents[atom10MB], &agreeing, &items);
    std::printf("10 MB Atom document: parseFeed agrees with libexpat on title, link and date for "
                "%zu of %zu entries\n\n",
                agreeing, items);

    double throughput[sizeCount][contenderCount];
    for (int s = 0; s < sizeCount; ++s) {
        double medians[contenderCount];
        measure(documents[s], sizes[s].budget, medians);
        for (int c = 0; c < contenderCount; ++c)
            throughput[s][c] = static_cast<double>(documents[s].text.size()) / medians[c] / 1e6;
    }

    std::printf("%-16s", "MB/s");
    for (int s = 0; s < sizeCount; ++s)
        std::printf("%12s", sizes[s].label);
    std::printf("\n");
    for (int c = 0; c < contenderCount; ++c) {
        std::printf("%-16s", contenders[c].name);
        for (int s = 0; s < sizeCount; ++s)
            std::printf("%12.1f", throughput[s][c]);
        std::printf("\n");
    }
    std::printf("\n%-16s", "parseFeed/peer");
    double peerRatio[sizeCount];
    for (int s = 0; s < sizeCount; ++s) {
        double peer = std::max(throughput[s][expatIndex], throughput[s][libxml2Index]);
        peerRatio[s] = throughput[s][parseFeedIndex] / peer;
        std::printf("%12.2f", peerRatio[s]);
    }
    std::printf("   (over the faster of libexpat and libxml2 SAX2)\n%-16s", "parseFeed/memchr");
    for (int s = 0; s < sizeCount; ++s)
        std::printf("%12.3f", throughput[s][parseFeedIndex] / throughput[s][memchrIndex]);
    std::printf("\n\n");

#ifdef FM_SANITIZED_ALLOCATOR
    std::printf("peak memory: not measured under AddressSanitizer (use scripts/bench.sh)\n");
#else
    Document& largest = documents[rss10MB];
    double documentMB = static_cast<double>(largest.text.size()) / 1e6;
    std::printf("peak heap beyond the document and its working copy, %s parse:\n",
                sizes[rss10MB].label);
    for (int c = 0; c < memchrIndex; ++c) {
        long long peak = peakOf(contenders[c], largest);
        std::printf("  %-14s %8.2f MB (%.2f of the document's size)\n", contenders[c].name,
                    static_cast<double>(peak) / 1e6, static_cast<double>(peak) / 1e6 / documentMB);
    }
    std::printf("\n");
#endif
    measureJsonFeed(json);
    xmlCleanupParser();
    std::printf("parseFeed/peer ratio on 10 MB Atom: %.2f\n", peerRatio[atom10MB]);
    std::printf("parseFeed/peer ratio on 10 MB: %.2f\n", peerRatio[rss10MB]);
    return 0;
}
