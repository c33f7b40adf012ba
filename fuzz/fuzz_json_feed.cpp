// Fuzzes the JSON Feed reader as an update pass reaches it: a body taken for JSON becomes a list
// (checked for the invariants every parse keeps), then the list is released, so anything the parse
// leaks is reported. The document's address varies with the input's length: none, an http
// address with a path, an https one with a port and query; relative addresses resolve against it.
// The input is copied up to its first zero byte into a heap buffer of exactly that length plus the
// terminator, so any read past the document crashes.
#include "content/stored_link.h"
#include "content/feed_items.h"
#include "content/json_feed.h"
#include "content/rss_parser.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

static const char* const bases[] = {nullptr, "http://feeds.example.com/news/feed.json",
                                    "https://Example.org:8443/a/b/c?q=1"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = 0;
    char* document = fuzzText(data, size, &length);
    if (!document)
        return 0;

    const char* base = bases[size % 3];
    FUZZ_CHECK(isJsonDocument(document, length, size % 2 ? "application/feed+json" : nullptr) ||
               length == 0 || document[0] != '{');
    FeedList* list = parseJsonFeed(document, length, base);
    std::free(document); // the entries hold copies
    if (list == nullptr)
        return 0;

    int32_t count = 0;
    const FeedItem* last = nullptr;
    for (const FeedItem* entry = list->first; entry; entry = entry->next) {
        FUZZ_CHECK(entry->entryIndex == count);
        // Every item shows something; only the header may have no title.
        FUZZ_CHECK(count == 0 || (entry->title && entry->title[0] != '\0'));
        FUZZ_CHECK(!entry->title || int32_t(std::strlen(entry->title)) == entry->titleLength);
        LinkText whole;
        const char* link = itemLink(entry, &whole);
        FUZZ_CHECK((link != nullptr) == (entry->link.bytes != nullptr));
        FUZZ_CHECK(!link || link[0] != '\0');
        FUZZ_CHECK(!entry->title || !std::strpbrk(entry->title, "\r\n\t"));
        FUZZ_CHECK(!entry->description || entry->description[0] != '\0');
        FUZZ_CHECK(!entry->description ||
                   paragraphsWellFormed(entry->description, std::strlen(entry->description)));
        FUZZ_CHECK(count == 0 || entry->key != 0);
        last = entry;
        ++count;
    }
    FUZZ_CHECK(list->last == last);
    FUZZ_CHECK(list->count == count);
    FUZZ_CHECK(list->ttlMinutes == 0);
    releaseFeedList(list);
    return 0;
}
