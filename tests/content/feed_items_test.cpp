// The list model: entries and texts in the list's own blocks, placeholders, sharing by count.
#include "content/feed_items.h"
#include "content/key_hash.h"
#include "content/stored_link.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <cstring>
#include <string>

TEST(duplicateTextCopiesWholeOrPrefix) {
    char* whole = duplicateText("Connecting...", 0);
    CHECK_EQ(whole, "Connecting...");
    char* prefix = duplicateText("HTTP/1.0 200 OK", 8);
    CHECK_EQ(prefix, "HTTP/1.0");
    CHECK_EQ(duplicateText(nullptr, 0), static_cast<const char*>(nullptr));
    CHECK_EQ(duplicateText("", 0), static_cast<const char*>(nullptr));
    std::free(whole);
    std::free(prefix);
}

TEST(aListHoldsItsEntriesAndTextsInFewBlocks) {
    FeedList* list = newFeedList(0);
    REQUIRE(list != nullptr);
    CHECK_EQ(list->count, 0);
    CHECK(firstItem(list) == nullptr && itemCount(list) == 0);
    // 5,000 entries with texts of every size, one of them larger than any block.
    std::string huge(600 * 1024, 'h');
    for (int i = 0; i < 5000; ++i) {
        FeedItem* e = appendEntry(list);
        REQUIRE(e != nullptr);
        CHECK(e->title == nullptr && e->next == nullptr && e->entryIndex == 0);
        e->entryIndex = i;
        std::string title = "Headline " + std::to_string(i) + std::string(i % 300, 'x');
        e->title = listText(list, title.c_str(), 0);
        e->link = storedLinkText(listText(list, "http://example.com/item?with=a&long=query", 18));
        e->description = i == 4000 ? listText(list, huge.c_str(), 0) : nullptr;
        e->key = keyHashOf(e->link.bytes);
    }
    CHECK_EQ(list->count, 5000);
    CHECK_EQ(itemCount(list), 4999);
    int n = 0;
    for (const FeedItem* e = list->first; e != nullptr; e = e->next, ++n) {
        CHECK_EQ(e->entryIndex, n);
        CHECK_EQ(std::string(e->title),
                 "Headline " + std::to_string(n) + std::string(n % 300, 'x'));
        CHECK_EQ(std::string(e->link.bytes), "http://example.com");
        CHECK(reinterpret_cast<uintptr_t>(e) % alignof(FeedItem) == 0);
    }
    CHECK_EQ(n, 5000);
    CHECK(list->last->next == nullptr && list->last->entryIndex == 4999);
    // The huge text is whole; the blocks stay few (not one allocation per field).
    const FeedItem* e = list->first;
    while (e->entryIndex != 4000)
        e = e->next;
    CHECK_EQ(std::strlen(e->description), huge.size());
    size_t needed = huge.size();
    for (const FeedItem* it = list->first; it != nullptr; it = it->next)
        needed += std::strlen(it->title) + 19 + sizeof(FeedItem);
    CHECK(list->blockBytes >= needed && list->blockBytes < needed * 2);
    // Absent and empty texts take nothing.
    CHECK(listText(list, nullptr, 0) == nullptr && listText(list, "", 0) == nullptr);
    releaseFeedList(list);
}

TEST(aSharedListLivesUntilItsLastOwnerLetsGo) {
    FeedList* placeholder = placeholderList("Connecting...");
    REQUIRE(placeholder != nullptr);
    CHECK_EQ(placeholder->count, 1);
    CHECK_EQ(placeholder->first->title, "Connecting...");
    CHECK_EQ(placeholder->first->titleLength, 13);
    CHECK(placeholder->first == placeholder->last && placeholder->first->next == nullptr);
    CHECK(placeholder->first->link.bytes == nullptr && placeholder->first->date.bits == 0);
    // Two owners (the engine's last good list and the window's): the first release keeps it.
    CHECK(retainFeedList(placeholder) == placeholder);
    releaseFeedList(placeholder);
    CHECK_EQ(placeholder->first->title, "Connecting..."); // still whole (the sanitizer would tell)
    releaseFeedList(placeholder);
    releaseFeedList(nullptr);
    CHECK(retainFeedList(nullptr) == nullptr);
}

// A decoder writes into room reserved for its whole source and keeps only what it wrote: the rest
// goes back to the list, so thousands of texts that shrink on decoding do not each cost their
// source's size; a dropped text leaves nothing behind, and a text after a kept one is intact.
TEST(reservedTextsGiveBackWhatTheyDoNotKeep) {
    FeedList* list = newFeedList(0);
    REQUIRE(list != nullptr);
    std::string large(300 * 1024, 'x'); // larger than any block: a block of its own
    const char* kept[3000];
    for (int i = 0; i < 3000; ++i) {
        size_t source = i % 100 == 0 ? large.size() : 2000;
        char* text = reserveListText(list, source);
        REQUIRE(text != nullptr);
        std::string written = "text " + std::to_string(i);
        std::memcpy(text, written.c_str(), written.size());
        keepListText(list, text, source + 1, written.size());
        char* dropped = reserveListText(list, 500);
        REQUIRE(dropped != nullptr);
        dropListText(list, dropped, 501);
        kept[i] = text;
    }
    for (int i = 0; i < 3000; ++i)
        CHECK_EQ(kept[i], "text " + std::to_string(i));
    // Kept: ~30,000 bytes of text; the 30 large sources' blocks are held whole.
    CHECK(list->blockBytes < 30 * (large.size() + 64) + 256 * 1024);
    releaseFeedList(list);
}
