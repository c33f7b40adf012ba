// JSON Feed (versions 1 and 1.1): the feed's title and home page, and per item its title, address,
// text and date, made into the same entries the XML parser makes. Portable: no Win32 headers.
#pragma once
#include <cstddef>

#include "content/feed_items.h"

// Whether a received body is to be read as JSON Feed rather than XML: its first character after a
// byte-order mark and blanks is '{', or the Content-Type (may be null) names JSON
// (application/feed+json, application/json) and the body does not start with '<'.
bool isJsonDocument(const char* body, size_t length, const char* contentType);

// Parses the JSON text (length bytes, UTF-8, zero-terminated; it is overwritten in places) into a
// new list (one reference, the caller's; null only when memory runs out), as parseFeed does: the
// header entry (the feed's title and home page) and one entry per item that has a title, a text or
// an address, each keyed by its id (else its address, else its title); list->ttlMinutes is 0
// (JSON Feed names no schedule). A text that is not JSON, nests deeper than a feed does, or is
// JSON but no feed (no "version" naming jsonfeed.org) gives an empty list. baseUrl: the address
// the feed came from, for relative addresses (null: as written). With sources (see
// content/description_source.h) every item's description source is collected there as well.
struct DescriptionSources;
FeedList* parseJsonFeed(char* document, size_t length, const char* baseUrl,
                        DescriptionSources* sources = nullptr);
