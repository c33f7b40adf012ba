// The feed's entries and the two lists that hold them: the FetchList, built by one update pass on
// the worker thread, and the DisplayList, the window thread's own copy from which it paints.
// Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

// Same layout as the Win32 RECT, so painting can hand &itemRect to GDI directly.
struct ItemRect {
    int32_t left, top, right, bottom;
};

struct FeedItem {
    char* title;         // the headline; for the header entry the feed's title or a placeholder
    char* link;          // address opened on a double-click
    char* description;   // plain text shown under the title and in the tooltip
    char* date;          // as the feed gives it; in the DisplayList shared with the FetchList
    int32_t titleLength; // bytes of the title's source text before entity decoding
    int32_t entryIndex;  // position among the entries the parse created, from 0
    ItemRect itemRect;   // client rectangle, set by painting on DisplayList entries only
    FeedItem* next;
};

// A singly linked list with a first and a last pointer; empty when both are null.
struct ItemList {
    FeedItem* first;
    FeedItem* last;
};

extern ItemList FetchList;   // owned by the worker while a pass runs, else by the window thread
extern ItemList DisplayList; // window thread only
extern int32_t entryCount;   // entries of the last parse, header included; 0 before the first

// A new zero-terminated copy of the first n bytes of text (n 0: the whole text); null for a null
// or empty text or when memory runs out. The caller frees it with free().
char* duplicateText(const char* text, size_t n);

// Appends a new entry to list and returns it (zeroed fields), or null when memory runs out.
FeedItem* appendEntry(ItemList* list);

// Makes the (empty) FetchList a single placeholder entry titled text.
void setSingleEntry(const char* text);
// Frees every FetchList entry with its four texts; both pointers become null.
void freeFetchList();
// Appends a copy of the chain starting at first to the DisplayList; title, link and description
// are copied, date is shared with the source entry.
void copyToDisplayList(const FeedItem* first);
// Frees every DisplayList entry with its own title, link and description (never date).
void freeDisplayList();
