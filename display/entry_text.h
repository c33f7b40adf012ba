// The feed texts as the window draws them: UTF-16, made from each entry's UTF-8 bytes (with
// encoding 0, from its bytes in the ANSI code page, as the narrow text functions would show them).
// Painting runs on every mouse move, so each laid-out position keeps the wide texts it was last
// given and converts again only when the entry's bytes, the encoding or the date form change.
// Also the growable wide text that painting composes lines and tips into.
#pragma once
#include <cstddef>

#include "content/feed_items.h"

// Bytes of one feed text that are converted and drawn; no window shows more of a single text, and
// a huge description must not cost every paint.
const size_t drawnTextLimit = 128 * 1024;

// A UTF-16 text composed piece by piece; clearText keeps its memory for the next composition.
struct WideText {
    wchar_t* text = nullptr; // zero-terminated once anything was appended
    size_t length = 0;
    size_t capacity = 0;
};
// Empties out without releasing the memory.
void clearText(WideText& out);
// Appends at most limit units of text (a zero-terminated text). When memory runs out the text keeps
// what it had.
void appendWide(WideText& out, const wchar_t* text, size_t limit = static_cast<size_t>(-1));
// Appends a narrow text read in the ANSI code page (numbers, times, the system's messages).
void appendAnsi(WideText& out, const char* text);
// The composed text; "" while empty.
const wchar_t* textOf(const WideText& out);
// Frees the memory; the text is empty afterwards.
void releaseText(WideText& out);

struct EntryTexts {
    const wchar_t* title;       // null when the entry has none (or memory ran out)
    const wchar_t* description; // null when none
    const wchar_t* date;        // as shown: shortened when abbreviated; null when none
    const wchar_t* feedName;    // null when none
};
// The wide texts of entry and of the feed name shown with it, laid out at position (0 the header
// entry), converted from UTF-8 (utf8) or the ANSI code page, the date shortened when abbreviated
// (in the reader's time zone with localTime).
// They stay valid until the next call for that position or until forgetTextsFrom drops it.
EntryTexts textsAt(size_t position, const FeedItem* entry, const char* feedName, bool utf8,
                   bool abbreviated, bool localTime);
// The date as the window shows it, in bytes: shortened when abbreviated (in the reader's time zone
// with localTime); null when it is shown as written. A screen reader is told the same. free() it.
char* shownDateBytes(const char* date, bool abbreviated, bool localTime);
// Frees the texts kept for the positions from first on.
void forgetTextsFrom(size_t first);
