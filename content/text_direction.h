// The direction a text reads in, taken from its first strong character (a letter of a script
// written left to right, or of Hebrew, Arabic and the other right-to-left scripts), as browsers
// decide it for text whose direction is "auto". Digits, punctuation, symbols and blanks decide
// nothing; characters inside an isolate (U+2066 to U+2068 up to the matching U+2069) are skipped,
// as their own direction is kept apart from the text around them. Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

enum class TextDirection {
    neutral,     // no strong character: the caller's default applies
    leftToRight, //
    rightToLeft,
};

// The strong direction of one character, or neutral.
TextDirection characterDirection(uint32_t c);
// The direction of length bytes of UTF-8 text (stopping early at a zero byte). Bytes that start
// no valid sequence are skipped.
TextDirection utf8Direction(const char* text, size_t length);
// The direction of length units of UTF-16 text (stopping early at a zero unit). A lone surrogate
// decides nothing.
TextDirection utf16Direction(const char16_t* text, size_t length);
