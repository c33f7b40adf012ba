// The RSS item parser: finds the feed's entries in a received HTTP response (or a bare feed) in
// one pass over the text. Portable: no Win32 headers.
#pragma once

#include <cstdint>

// Parses the zero-terminated document (which it may overwrite) and appends the header entry (the
// first title) and one entry per titled item to the FetchList, which the caller has emptied; sets
// entryCount to the number of entries created and feedTtlMinutes. Any text is accepted; none
// (null) creates nothing. baseUrl: the address the document came from, against which relative
// links are resolved (null: links are kept as written).
void parseFeed(char* document, const char* baseUrl);

// The feed's own update schedule from the last parse, in minutes (RSS ttl, or the RSS 1.0
// syndication period and frequency); 0 when the feed names none.
extern int32_t feedTtlMinutes;
