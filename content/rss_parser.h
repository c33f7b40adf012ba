// The RSS item parser: cuts a received HTTP response (or a bare feed) into tags in place and
// appends the feed's entries to the FetchList. Portable: no Win32 headers.
#pragma once

// Parses document in place (its bytes are overwritten) and appends the header entry and one
// entry per item to the FetchList, which the caller has emptied; sets entryCount.
void parseFeed(char* document);
