// Text transformations of feed content: entity references, HTML descriptions to plain text, and
// short dates. Portable: no Win32 headers. utf8ToAnsi lives in utf8_ansi.h (Win32 build only).
#pragma once
#include <cstddef>

// Decodes the first count bytes of source into destination, which the caller provides with
// count + 1 zero bytes; never writes more bytes than it consumes, so source and destination may be
// the same buffer (decoding in place).
void decodeEntities(const char* source, size_t count, char* destination);

// Makes a plain-text description in place from a description that carries HTML: fromCdata tells
// whether the text came from a CDATA section (tags removed, then references decoded) or was
// entity-escaped (decoded, then tags removed).
void descriptionToText(char* text, bool fromCdata);

// A new text with the date shortened to "MM/DD HH:MM" (or what of it the date allows); the caller
// frees it with free(). Null for a null date or when memory runs out.
char* abbreviateDate(const char* date);
