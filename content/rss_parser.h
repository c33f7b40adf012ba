// The feed parser: finds the feed's entries in a received body (or a saved HTTP response) in one
// pass over the text; RSS 2.0, RSS 1.0 and Atom 1.0. Portable: no Win32 headers.
#pragma once

#include <cstdint>

#include "content/feed_items.h"

// Parses the zero-terminated document (which it overwrites in places) into a new list (one
// reference, the caller's; null only when memory runs out): the header entry (the feed's title and
// own link; no title when the feed has none) and one entry per item or Atom entry that has a title,
// a description or a link (an untitled one is named by the start of its description, else by its
// link); list->count is the number of entries created and list->ttlMinutes the feed's own
// update schedule (RSS ttl, or the RSS 1.0 syndication period over its frequency, at most 1440;
// 0 when the feed names none). Any text is accepted; none (null) gives an empty list. baseUrl: the
// address the document came from, against which relative links are resolved where the feed declares
// no xml:base (null: links are kept as written). With sources (see content/description_source.h)
// every item's description source is collected there as well.
struct DescriptionSources;
FeedList* parseFeed(char* document, const char* baseUrl, DescriptionSources* sources = nullptr);

// The title an untitled item is shown with: the start of its description's plain text (text), cut
// after a word and marked with an ellipsis when it is long. A new text (free() it); null for a null
// or blank text.
char* titleFromDescription(const char* text);
