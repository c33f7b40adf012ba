// Fuzzes parseFeed as an update pass uses it: the received text, cut in place, becomes a list
// whose texts outlive the document (the window paints them, short dates included); then the list
// is released, so anything the parse leaks is reported. The document's address
// varies with the input's length: none, an http address with a path, an https one with a port,
// query and fragment; relative links are resolved against it.
//
// The fetched response is a zero-terminated text, so a zero byte ends the document just as it
// would for a real response: the input is copied up to its first zero into a heap buffer of
// exactly that length plus the terminator, and any read past the terminator crashes.
#include "content/feed_items.h"
#include "content/rss_parser.h"
#include "content/stored_date.h"
#include "content/stored_link.h"
#include "content/text_decoding.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

static bool hasLineBreak(const char* text) {
    return text && std::strpbrk(text, "\r\n") != nullptr;
}

static const char* const bases[] = {nullptr, "http://feeds.example.com/news/rss.xml",
                                    "https://Example.org:8443/a/b/c?q=1#top"};

static bool startsWithScheme(const char* text) {
    const char* p = text;
    if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
        return false;
    while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
           *p == '+' || *p == '-' || *p == '.')
        ++p;
    return *p == ':';
}

static void checkList(const FeedList* list, size_t documentLength, const char* base) {
    int32_t count = 0;
    const FeedItem* last = nullptr;
    // A title made from a link resolved against the base may outgrow the document by the base.
    size_t longestTitle = documentLength + (base ? std::strlen(base) : 0) + 8;
    for (const FeedItem* entry = list->first; entry; entry = entry->next) {
        FUZZ_CHECK(entry->entryIndex == count);
        FUZZ_CHECK(entry->titleLength >= 0 && size_t(entry->titleLength) <= longestTitle);
        // Every item has a title that shows something; only the header may have none.
        FUZZ_CHECK(count == 0 || (entry->title && entry->title[0] != '\0'));
        // Links are never empty, and with an absolute base every relative one was resolved.
        LinkText whole;
        const char* link = itemLink(entry, &whole);
        FUZZ_CHECK((link != nullptr) == (entry->link.bytes != nullptr));
        FUZZ_CHECK(!link || link[0] != '\0');
        FUZZ_CHECK(!link || !base || startsWithScheme(link));
        // Decoding never lengthens a text, so the title fits in its source's length.
        FUZZ_CHECK(!entry->title || std::strlen(entry->title) <= size_t(entry->titleLength));
        // Every kept text went through the decoders, which drop or fold line breaks; only a
        // description keeps its paragraphs, one "\n" between two.
        FUZZ_CHECK(!hasLineBreak(entry->title));
        FUZZ_CHECK(!hasLineBreak(link));
        FUZZ_CHECK(!entry->description ||
                   paragraphsWellFormed(entry->description, std::strlen(entry->description)));
        DateText held;
        const char* date = itemDate(entry, &held);
        FUZZ_CHECK(!hasLineBreak(date));
        // Every item can be told from the others across updates.
        FUZZ_CHECK(count == 0 || entry->key != 0);
        if (date) {
            char* shortDate = abbreviateDate(date);
            std::free(shortDate);
        }
        last = entry;
        ++count;
    }
    FUZZ_CHECK(list->last == last);
    FUZZ_CHECK(list->count == count);
    FUZZ_CHECK(list->ttlMinutes >= 0 && list->ttlMinutes <= 1440);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = 0;
    char* document = fuzzText(data, size, &length);
    if (!document)
        return 0;

    const char* base = bases[size % 3];
    FeedList* list = parseFeed(document, base);
    if (!list) {
        std::free(document);
        return 0;
    }
    // The texts are the list's own: the document can go before they are used.
    std::free(document);
    checkList(list, length, base);
    releaseFeedList(list);
    return 0;
}
