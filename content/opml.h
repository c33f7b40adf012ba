// OPML subscription lists (1.0 and 2.0): reading the feed addresses and names from a file another
// reader exported, and writing a list that other readers import. Portable: no Win32 headers.
#pragma once
#include <cstddef>

// One subscription: both texts UTF-8, zero-terminated, owned by the list.
struct OpmlFeed {
    char* title; // the outline's text, else its title; "" when it has neither
    char* url;   // its xmlUrl, references decoded, blanks at either end removed
};

struct OpmlFeeds {
    OpmlFeed* feeds;
    size_t count;
    size_t capacity;
};

enum OpmlStatus {
    opmlRead,      // feeds holds every outline with an xmlUrl, in document order
    opmlNotOpml,   // the document's root element is no <opml> (HTML, another XML, not XML)
    opmlTruncated, // the document ends before its </opml>
    opmlNoMemory,
};

// The largest document readOpml is given; callers refuse larger files before reading them.
const size_t opmlLargestFile = 8u << 20;

// Reads the UTF-8 document (length bytes; need not be zero-terminated) into feeds, which starts
// empty. Element and attribute names are matched without regard to case; outlines nest to any
// depth (folders); outlines in comments do not count. On any status but opmlRead, feeds is empty.
OpmlStatus readOpml(const char* document, size_t length, OpmlFeeds* feeds);
void freeOpmlFeeds(OpmlFeeds* feeds);

// Adds a copy of title and url to feeds; false when memory runs out.
bool addOpmlFeed(OpmlFeeds* feeds, const char* title, const char* url);

// A new OPML 2.0 document (UTF-8, zero-terminated, free() it) listing the feeds under listTitle,
// every text escaped for an attribute; dateCreated is written as given (an RFC 822 date) when not
// null. A feed without a title gets an empty text. Null when memory runs out.
char* writeOpml(const OpmlFeeds* feeds, const char* listTitle, const char* dateCreated);
