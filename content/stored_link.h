// An item's link as the list stores it. The links of one feed mostly begin alike (the site's
// address and the path of its articles), so a link that begins like the last one stored in full
// keeps only the rest of its text and a reference to that one; readers get the whole text back
// from itemLink. Portable: no Win32 headers.
#pragma once
#include <cstddef>

#include "content/feed_items.h"

// Links kept by their rest are at most this long; a longer one is stored whole.
const size_t sharedLinkLimit = 2048;

// Room for a link made whole again.
struct LinkText {
    char text[sharedLinkLimit + 1];
};

// The link's whole text, or null for none. A link kept by its rest is made in buffer, which the
// result then points into.
const char* linkOf(StoredLink link, LinkText* buffer);
inline const char* itemLink(const FeedItem* item, LinkText* buffer) {
    return item != nullptr ? linkOf(item->link, buffer) : nullptr;
}

// A link kept as the whole text it points to (null: none), which must live as long as the entry.
// Not for a text that begins with the byte 0x01 (a list's links go through storeLink).
StoredLink storedLinkText(const char* text);

// Stores text, the text last taken from the list's storage (null: none), as one of its links. An
// item's link (itemLink) is kept by its rest when it begins like the last item link stored whole
// (the rest's storage is given back), else whole, becoming the one later links are compared
// with. The feed's own link is stored whole: it is the site's address, which would make a poor
// stem.
StoredLink storeLink(FeedList* list, char* text, bool itemLink);
// The same for a text not yet in the list (null or empty: none), copied into it first.
StoredLink copyLink(FeedList* list, const char* text, bool itemLink);
