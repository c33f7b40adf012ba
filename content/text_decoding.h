// Text transformations of feed content: character references and HTML descriptions to plain text
// (short dates are in short_date.h, included here for the callers that show both). Portable: no
// Win32 headers. utf8ToAnsi lives in utf8_ansi.h (Win32 build only).
#pragma once
#include "content/short_date.h"

#include <cstddef>

// Decodes the first count bytes of source into destination (count + 1 bytes, zero-terminated by
// the call): drops CR and LF, decodes "&amp;", "&quot;", "&lt;", "&gt;", "&apos;" (each with its
// ';'), numeric references and the double-escaped "&amp;quot;", "&amp;lt;", "&amp;gt;",
// "&amp;#N;". A numeric reference from 128 to 159 is read as windows-1252 (as browsers do), a
// tab or line break as a blank, other control characters below 32 write nothing, a pair of
// surrogates written as two references is its one character, and NUL, a lone surrogate, an
// undefined windows-1252 value and values beyond Unicode are U+FFFD. Never writes more bytes than
// it consumes, so destination may be source (in place). Returns the decoded text's length.
size_t decodeEntities(const char* source, size_t count, char* destination);

// Makes plain text of an HTML description: a CDATA one (fromCdata) loses its tags and then has its
// references decoded; an entity-escaped one is decoded and then loses its tags (a '<' written as a
// reference starts a tag when a letter, '/', '!' or '?' follows, itself perhaps a reference).
// Every named HTML reference becomes UTF-8, also double-escaped ("&amp;eacute;", "&#38;eacute;":
// "&#38;" is "&amp;" to XML); a legacy name without ';' ("&copy 2006") counts only where the word
// ends with it; numeric references as decodeEntities reads them. Script and style elements go
// with their contents. Where a paragraph-level block begins or ends (p, div, li, h1-h6,
// blockquote, pre, tr, table, ul, ol, hr) or a br breaks the line, the text holds one "\n", the
// white space around it folded into it; other removed tags (cells, inline ones) and line breaks
// in the source become single blanks. White space at either end goes, Unicode spaces (no-break
// and the like) included, so the text never begins or ends with "\n" nor holds two in a row.
// Writes into destination (count + 1 bytes; may be source) and returns the length.
size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata);
// Makes a title's text plain: references decoded as in descriptions (every named HTML one, double
// escapes), but no tags removed (an escaped "&lt;b&gt;" is text in a title); every run of white
// space, line breaks and references to them included, becomes one blank; white space at either
// end goes as in descriptions. Writes into destination (count + 1 bytes; may be source) and
// returns the length.
size_t titleToText(const char* source, size_t count, char* destination);
// The same, in place on a zero-terminated text (null: nothing).
void descriptionToText(char* text, bool fromCdata);
