// A feed item's date as a point in time, so that items of several feeds can be put in one order.
// Portable: no Win32 headers.
#pragma once
#include <cstdint>

// Reads date as RFC 822 ("Wed, 06 Dec 2006 12:34:56 +0900", "GMT", "EST", military zones, a
// two-digit year) or RFC 3339 ("2006-12-06T12:34:56+09:00", "Z", fractions, a date alone) and
// stores the seconds since 1970-01-01 UTC in seconds. A date without a zone is read as UTC. False,
// with seconds untouched, for a null date or one that does not read as a valid day and time.
bool parseItemTime(const char* date, int64_t* seconds);
