// A feed's entries as one value: a FeedList holds the header entry and one entry per item, and
// owns every entry and text in a few large blocks (never one allocation per field). A finished
// list is read-only and shared by reference count: the engine's last good list, the list on show
// and a saved copy's list are the same object, never copies. Portable: no Win32 headers.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// A laid-out entry's client rectangle. Client coordinates fit in 16 bits (painting clamps an
// entry taller than that at the limit, far below any window).
struct ItemRect {
    int16_t left, top, right, bottom;
};

// An item's date: the address of its text, or its parts packed when they make exactly that text
// again (content/stored_date.h reads both). Zero: no date.
struct StoredDate {
    uint64_t bits;
};

// An item's link: its text, or its end and a reference to a link it begins like
// (content/stored_link.h reads both). Null: no link.
struct StoredLink {
    const char* bytes;
};

struct FeedItem {
    // Identifies the item across updates: the hash (content/key_hash.h) of its guid, else of its
    // link, else of its title; 0 for none (the header and placeholder entries).
    uint64_t key;
    StoredDate date;         // as the feed gives it
    const char* title;       // the headline; for the header entry the feed's title or a placeholder
    StoredLink link;         // address opened on a double-click
    const char* description; // plain text shown under the title and in the tooltip
    int32_t titleLength; // bytes of the title's source text before entity decoding
    int32_t entryIndex;  // position among the entries the parse created, from 0
    FeedItem* next;
};

struct TextBlock; // one block of a list's storage (private to feed_items.cpp)

struct FeedList {
    std::atomic<int32_t> references; // owners; the last release frees the list
    FeedItem* first;                 // the header entry, then the items; null when empty
    FeedItem* last;
    int32_t count;      // entries, header included (0: nothing was parsed)
    int32_t ttlMinutes; // the feed's own schedule (RSS ttl or sy: period), at most 1440; 0: none
    TextBlock* blocks;  // the storage of every entry and text, newest block first
    const char* linkStem; // the item link stored whole last, which later ones may begin like
    size_t blockBytes;  // bytes of storage held (for the footprint figures)
    size_t nextBlock;   // the size of the next block to take
    bool hinted;        // blocks keep the hinted size instead of growing
};

// A new empty list with one reference, or null when memory runs out. sizeHint: the bytes the
// texts will roughly need (0: unknown), so a large document's texts take few blocks.
FeedList* newFeedList(size_t sizeHint);
// Gives back the unused end of the newest block where the runtime can shrink it in place; for a
// finished list (nothing is added afterwards, or only into new blocks).
void trimFeedList(FeedList* list);
// Adds a reference (list may be null) and returns list.
FeedList* retainFeedList(FeedList* list);
// Drops a reference (list may be null); the last one frees the list with all its entries and texts.
void releaseFeedList(FeedList* list);

// Appends a new entry (zeroed fields) to list and returns it, or null when memory runs out. The
// entry lives as long as the list. Counts it in list->count.
FeedItem* appendEntry(FeedList* list);
// A zero-terminated copy of the first n bytes of text (n 0: the whole text) in the list's own
// storage; null for a null or empty text or when memory runs out.
const char* listText(FeedList* list, const char* text, size_t n);

// Room for a text of up to n bytes and its terminating zero, at the end of the list's storage, for
// a text written straight into the list (a decoder's output) instead of into an allocation of its
// own; null when memory runs out. Settle it with keepListText before anything else is added.
char* reserveListText(FeedList* list, size_t n);
// Keeps the first length bytes of text (zero-terminating it), whose size bytes were the last taken
// from the list, and gives the rest back to the list's storage; dropListText gives them all back
// (a text not kept). Nothing is given back when other storage was taken after text.
void keepListText(FeedList* list, char* text, size_t size, size_t length);
inline void dropListText(FeedList* list, char* text, size_t size) {
    keepListText(list, text, size, static_cast<size_t>(-1));
}

// A new list of a single entry titled text (a placeholder such as "Connecting..."), count 1.
FeedList* placeholderList(const char* text);

// A malloc'd zero-terminated copy of the first n bytes of text (n 0: the whole text), for texts
// still being worked on; null for a null or empty text or when memory runs out. free() it.
char* duplicateText(const char* text, size_t n);

// The entries of list after the header (null when it has none).
inline const FeedItem* firstItem(const FeedList* list) {
    return list != nullptr && list->first != nullptr ? list->first->next : nullptr;
}
// The number of items (entries after the header) of list; 0 for null.
inline int32_t itemCount(const FeedList* list) {
    return list != nullptr && list->count > 1 ? list->count - 1 : 0;
}
