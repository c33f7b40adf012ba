// An item's description as its feed wrote it (escaped HTML, CDATA, Atom html or xhtml, JSON Feed
// content_html or plain text), found again in a saved feed document when its tooltip is about to
// show, so the entries themselves keep only the plain text. The document is read by the same
// parsers that made the entries, in a mode where each entry's description source is collected as
// it stands before it is made plain. Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "content/feed_items.h"
#include "content/formatted_description.h"

// The description sources of one document's items, with the key and position of each item.
struct DescriptionSources;

// Called by a collecting parse for each entry it makes: text (length bytes; null: none) is the
// source of the description the entry shows, in form. The text is copied; a collector that runs
// out of memory stops collecting.
void collectDescriptionSource(DescriptionSources* sources, const FeedItem* entry, const char* text,
                              size_t length, DescriptionForm form);

// A new empty collector for parseFeedBody (null when memory runs out).
DescriptionSources* newDescriptionSources();
// Reads body (length bytes, zero-terminated; overwritten in places) as parseFeedBody does with
// its character set converted (contentType may be null; baseUrl: the address it came from, so
// the items' keys come out as the shown list's did) and keeps every item's description source.
// Null when memory runs out. Free with freeDescriptionSources.
DescriptionSources* readDescriptionSources(char* body, size_t length, const char* contentType,
                                           const char* baseUrl);
void freeDescriptionSources(DescriptionSources* sources);

struct DescriptionSource {
    const char* text; // lives as long as the sources it was found in
    size_t length;
    DescriptionForm form;
};

// The source of the item whose key (FeedItem::key) is key that was the entryIndex-th entry of its
// list: the item of that key at that position, else the only item of that key in the document.
// False when the document has no such item, holds the key more than once elsewhere (which of them
// is meant cannot be told), or the item has no description.
bool findDescriptionSource(const DescriptionSources* sources, uint64_t key, int32_t entryIndex,
                           DescriptionSource* out);
