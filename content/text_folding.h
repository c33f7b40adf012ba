// Text folded for matching without regard to case in any script and, by a switch, without regard
// to diacritics: "Straße" matches "STRASSE", "Новости" matches "новости", "ΣΟΦΌΣ" matches "σοφός",
// and with diacritics ignored "Café" matches "cafe". Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

// Writes what the code point c folds to into out (up to 3 code points) and returns how many: 0
// for a diacritical mark dropped because ignoreDiacritics is set.
size_t foldCodePoint(uint32_t c, bool ignoreDiacritics, uint32_t out[3]);

// Folded text as code points: every run of white space is one space, none at either end.
struct FoldedText {
    uint32_t* chars; // malloc'd; null while empty
    size_t length;
    size_t capacity;
};

// Replaces out's text with the first length bytes of the UTF-8 text folded (a malformed sequence
// becomes U+FFFD). False when memory runs out (out is then empty).
bool foldUtf8(const char* text, size_t length, bool ignoreDiacritics, FoldedText* out);
void releaseFoldedText(FoldedText* text);
