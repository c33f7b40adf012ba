// An item's date as the list stores it. Dates are shown as written, so the text must come back
// byte for byte; most feeds write every date in one of two machine forms ("Tue, 08 Dec 2026
// 21:38:00 GMT", "2026-12-08T21:38:00+01:00"), and such a date is held as its parts packed in the
// entry's eight bytes, its text made again when it is read. A date that would not come back
// exactly that way (another form, another spelling, a year outside 1900-2155) keeps its text in
// the list. Portable: no Win32 headers.
#pragma once
#include <cstddef>

#include "content/feed_items.h"

// Room for a date made from its parts ("Tue, 08 Dec 2026 21:38:00 +0000" and the numeric form
// with fractions and an offset are far shorter).
struct DateText {
    char text[40];
};

// The item's date as written, or null when it has none. A date held as parts is written into
// buffer, which the result then points into.
const char* itemDate(const FeedItem* item, DateText* buffer);

// A date kept as the text it points to (null: none); the text must live as long as the entry.
StoredDate storedDateText(const char* text);

// Holds the date written as the length bytes at text (not zero-terminated) as parts when they make
// exactly that text again; false, entry untouched, otherwise. Such a date holds only digits,
// letters and ", :+-." with single blanks inside, so a feed's text of it needs no decoding.
bool holdDateParts(FeedItem* entry, const char* text, size_t length);

// Sets the entry's date from text, the text last taken from the list's storage (null: none):
// held as parts, its storage given back, when the parts make exactly the same text again; kept as
// text otherwise.
void keepItemDate(FeedList* list, FeedItem* entry, char* text);
// The same for a text not yet in the list: copied into it unless it is held as parts.
void setItemDate(FeedList* list, FeedItem* entry, const char* text);
