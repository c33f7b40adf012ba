// The two entry lists and their operations. The FetchList is handed between the window thread and
// the update worker (never shared at the same time); the DisplayList is the window thread's own.
#include "content/feed_items.h"

#include <cstdlib>
#include <cstring>

ItemList FetchList;
ItemList DisplayList;
int32_t entryCount;

char* duplicateText(const char* text, size_t n) {
    if (text == nullptr || text[0] == '\0')
        return nullptr;
    if (n == 0)
        n = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

FeedItem* appendEntry(ItemList* list) {
    FeedItem* entry = static_cast<FeedItem*>(std::calloc(1, sizeof(FeedItem)));
    if (entry == nullptr)
        return nullptr;
    if (list->last != nullptr)
        list->last->next = entry;
    else
        list->first = entry;
    list->last = entry;
    return entry;
}

void setSingleEntry(const char* text) {
    // Callers empty the list first; emptying it here as well keeps the result a single entry.
    freeFetchList();
    FeedItem* entry = appendEntry(&FetchList);
    if (entry == nullptr)
        return;
    entry->title = duplicateText(text, 0);
    entry->titleLength = text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
}

void freeFetchList() {
    FeedItem* entry = FetchList.first;
    while (entry != nullptr) {
        FeedItem* next = entry->next;
        std::free(entry->title);
        std::free(entry->link);
        std::free(entry->description);
        std::free(entry->date);
        std::free(entry);
        entry = next;
    }
    FetchList.first = nullptr;
    FetchList.last = nullptr;
}

// A copy of a present text, the empty text included (duplicateText gives none for that).
static char* copyText(const char* text) {
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

void copyToDisplayList(const FeedItem* first) {
    for (const FeedItem* source = first; source != nullptr; source = source->next) {
        FeedItem* entry = appendEntry(&DisplayList);
        if (entry == nullptr)
            return;
        *entry = *source;
        entry->next = nullptr;
        // The date stays the FetchList's text; the other three are the DisplayList's own copies.
        entry->title = copyText(source->title);
        entry->link = copyText(source->link);
        entry->description = copyText(source->description);
    }
}

void freeDisplayList() {
    FeedItem* entry = DisplayList.first;
    while (entry != nullptr) {
        FeedItem* next = entry->next;
        std::free(entry->title);
        std::free(entry->link);
        std::free(entry->description);
        std::free(entry);
        entry = next;
    }
    DisplayList.first = nullptr;
    DisplayList.last = nullptr;
}
