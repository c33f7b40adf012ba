// The RSS item parser: finds the feed's entries in a received HTTP response (or a bare feed) in
// one pass over the text. Portable: no Win32 headers.
#pragma once

// Parses the zero-terminated document (which it may overwrite) and appends the header entry (the
// first title) and one entry per titled item to the FetchList, which the caller has emptied; sets
// entryCount to the number of entries created. Any text is accepted; none (null) creates nothing.
void parseFeed(char* document);
