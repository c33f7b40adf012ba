// Fuzzes readOpml over any bytes, as an import reads a file the user picked. The document is an
// exact-size heap copy without a terminator, so any read past it crashes. A list that reads holds
// addresses that are neither empty nor blank at either end and titles without line breaks, tabs
// or blanks at either end; any other status leaves the list empty. A list that reads is written
// again, and the written document reads as a list too.
#include "content/opml.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

static bool trimmed(const char* text) {
    size_t n = std::strlen(text);
    return n == 0 || (text[0] != ' ' && text[n - 1] != ' ');
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* document = static_cast<char*>(std::malloc(size != 0 ? size : 1));
    if (document == nullptr)
        return 0;
    std::memcpy(document, data, size);
    OpmlFeeds feeds;
    OpmlStatus status = readOpml(document, size, &feeds);
    std::free(document);
    if (status != opmlRead) {
        FUZZ_CHECK(feeds.count == 0 && feeds.feeds == nullptr);
        return 0;
    }
    for (size_t i = 0; i < feeds.count; ++i) {
        const OpmlFeed& feed = feeds.feeds[i];
        FUZZ_CHECK(feed.url[0] != '\0' && trimmed(feed.url));
        FUZZ_CHECK(trimmed(feed.title) && std::strpbrk(feed.title, "\r\n\t") == nullptr);
    }
    char* written = writeOpml(&feeds, "Fuzzed", "Mon, 07 Dec 2026 21:15:00 GMT");
    if (written != nullptr) {
        OpmlFeeds again;
        FUZZ_CHECK(readOpml(written, std::strlen(written), &again) == opmlRead);
        freeOpmlFeeds(&again);
        std::free(written);
    }
    freeOpmlFeeds(&feeds);
    return 0;
}
