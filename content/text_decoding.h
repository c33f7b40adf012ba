// Text transformations of feed content: character references, HTML descriptions to plain text, and
// short dates. Portable: no Win32 headers. utf8ToAnsi lives in utf8_ansi.h (Win32 build only).
#pragma once
#include <cstddef>

// Decodes the first count bytes of source into destination (count + 1 bytes, zero-terminated by
// the call): drops CR and LF, decodes "&amp;", "&quot;", "&lt;", "&gt;", "&apos;", numeric
// references (as UTF-8 from 128 on) and the double-escaped "&amp;quot;", "&amp;lt;", "&amp;gt;",
// "&amp;#N;". Never writes more bytes than it consumes, so destination may be source (in place).
void decodeEntities(const char* source, size_t count, char* destination);

// Makes plain text of an HTML description: a CDATA one (fromCdata) loses its tags and then has its
// references decoded; an entity-escaped one is decoded and then loses its tags. Named HTML
// references left become UTF-8, line breaks and removed block tags become single blanks, blanks at
// either end go. Writes into destination (count + 1 bytes; may be source) and returns the length.
size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata);
// The same, in place on a zero-terminated text (null: nothing).
void descriptionToText(char* text, bool fromCdata);

// A new text with the date shortened to "MM/DD HH:MM" (or what of it the date allows); the caller
// frees it with free(). Null for a null date or when memory runs out.
char* abbreviateDate(const char* date);
