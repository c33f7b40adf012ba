// A received feed document on its way to the entries: read in its own character set, then parsed.
// Portable: no Win32 headers.
#pragma once
#include <cstddef>

#include "content/feed_items.h"

// Parses body (length bytes, zero-terminated; it may be overwritten) into a new list as parseFeed
// does (or parseJsonFeed, for a JSON body; the caller's reference; null only when memory runs out),
// with baseUrl for relative links. With convertCharset the body is first read in the character set
// that contentType (may be null), its XML declaration or its byte-order mark names; without it the
// bytes are taken as they come. With sources (see content/description_source.h) every item's
// description source is collected there as well.
struct DescriptionSources;
FeedList* parseFeedBody(char* body, size_t length, const char* contentType, const char* baseUrl,
                        bool convertCharset, DescriptionSources* sources = nullptr);
