// Text transformations of feed content: character references and HTML descriptions to plain text
// (short dates are in short_date.h, included here for the callers that show both). Portable: no
// Win32 headers. utf8ToAnsi lives in utf8_ansi.h (Win32 build only).
#pragma once
#include "content/short_date.h"

#include <cstddef>

// Decodes the first count bytes of source into destination (count + 1 bytes, zero-terminated by
// the call): drops CR and LF, decodes "&amp;", "&quot;", "&lt;", "&gt;", "&apos;", numeric
// references (as UTF-8 from 128 on) and the double-escaped "&amp;quot;", "&amp;lt;", "&amp;gt;",
// "&amp;#N;". Never writes more bytes than it consumes, so destination may be source (in place).
void decodeEntities(const char* source, size_t count, char* destination);

// Makes plain text of an HTML description: a CDATA one (fromCdata) loses its tags and then has its
// references decoded; an entity-escaped one is decoded and then loses its tags (a '<' written as a
// reference starts a tag when a letter, '/', '!' or '?' follows, itself perhaps a reference).
// Every named HTML reference becomes UTF-8, also double-escaped ("&amp;eacute;"); a legacy name
// without ';' ("&copy 2006") counts only where the word ends with it; "&#38;" is a plain '&'.
// Line breaks and removed block tags become single blanks, blanks at either end go. Writes into
// destination (count + 1 bytes; may be source) and returns the length.
size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata);
// The same, in place on a zero-terminated text (null: nothing).
void descriptionToText(char* text, bool fromCdata);
