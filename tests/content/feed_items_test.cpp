// The entry lists: placeholder entries, copying into the DisplayList and releasing both lists.
#include "content/feed_items.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <cstring>

static int countEntries(const ItemList& list) {
    int n = 0;
    for (FeedItem* e = list.first; e != nullptr; e = e->next)
        ++n;
    return n;
}

static FeedItem* addEntry(const char* title, const char* link, const char* description,
                          const char* date, int32_t index) {
    FeedItem* e = appendEntry(&FetchList);
    REQUIRE(e != nullptr);
    e->title = title ? duplicateText(title, 0) : nullptr;
    e->link = link ? duplicateText(link, 0) : nullptr;
    e->description = description ? duplicateText(description, 0) : nullptr;
    e->date = date ? duplicateText(date, 0) : nullptr;
    e->titleLength = title ? static_cast<int32_t>(std::strlen(title)) : 0;
    e->entryIndex = index;
    return e;
}

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

TEST(placeholderListHasOneEntryAndKeepsEntryCount) {
    entryCount = 7;
    setSingleEntry("Connecting...");
    REQUIRE(countEntries(FetchList) == 1);
    FeedItem* e = FetchList.first;
    CHECK(FetchList.last == e);
    CHECK_EQ(e->title, "Connecting...");
    CHECK_EQ(e->titleLength, 13);
    CHECK_EQ(e->entryIndex, 0);
    CHECK(e->link == nullptr && e->description == nullptr && e->date == nullptr);
    CHECK(e->next == nullptr);
    CHECK_EQ(entryCount, 7);
    freeFetchList();
    // A second placeholder on top of a leftover list still leaves exactly one entry.
    setSingleEntry("Connecting...");
    setSingleEntry("Couldn't connect!");
    CHECK_EQ(countEntries(FetchList), 1);
    CHECK_EQ(FetchList.first->title, "Couldn't connect!");
    freeFetchList();
    entryCount = 0;
}

TEST(copyKeepsFieldsAndSharesOnlyTheDate) {
    addEntry("Feed", "http://example.com/", nullptr, nullptr, 0);
    FeedItem* item = addEntry("Headline", nullptr, "Body", "Wed, 06 Dec 2006 12:34:56 GMT", 1);
    item->itemRect = ItemRect{1, 2, 3, 4};
    freeDisplayList();
    copyToDisplayList(FetchList.first);
    REQUIRE(countEntries(DisplayList) == 2);
    FeedItem* header = DisplayList.first;
    FeedItem* copy = header->next;
    CHECK(DisplayList.last == copy);
    CHECK(copy->next == nullptr);
    CHECK_EQ(header->title, "Feed");
    CHECK_EQ(header->link, "http://example.com/");
    CHECK(header->description == nullptr && header->date == nullptr);
    CHECK(copy->link == nullptr); // absent stays absent, not an empty copy
    CHECK_EQ(copy->description, "Body");
    CHECK_EQ(copy->titleLength, 8);
    CHECK_EQ(copy->entryIndex, 1);
    CHECK_EQ(copy->itemRect.right, 3);
    CHECK(copy->date == item->date);
    CHECK(copy->title != item->title && copy->description != item->description);

    // Changing or releasing the copies leaves the FetchList as it was.
    copy->title[0] = 'X';
    freeDisplayList();
    CHECK(DisplayList.first == nullptr && DisplayList.last == nullptr);
    CHECK_EQ(item->title, "Headline");
    CHECK_EQ(item->description, "Body");
    CHECK_EQ(item->date, "Wed, 06 Dec 2006 12:34:56 GMT");
    freeFetchList();
    CHECK(FetchList.first == nullptr && FetchList.last == nullptr);
}

TEST(copyAppendsAndNullCopiesNothing) {
    copyToDisplayList(nullptr);
    CHECK(DisplayList.first == nullptr && DisplayList.last == nullptr);
    FeedItem* e = addEntry("", nullptr, nullptr, nullptr, 0);
    e->title = static_cast<char*>(std::calloc(1, 1)); // present but empty
    copyToDisplayList(FetchList.first);
    copyToDisplayList(FetchList.first);
    CHECK_EQ(countEntries(DisplayList), 2);
    CHECK_EQ(DisplayList.first->title, "");
    freeDisplayList();
    freeFetchList();
}

TEST(freeingEmptyListsDoesNothing) {
    freeFetchList();
    freeDisplayList();
    CHECK(FetchList.first == nullptr && FetchList.last == nullptr);
    CHECK(DisplayList.first == nullptr && DisplayList.last == nullptr);
}
