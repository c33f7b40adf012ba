// Character sets of feed documents: finds the one a body declares (HTTP Content-Type, then the XML
// declaration, then a byte-order mark, else UTF-8) and converts the body to UTF-8 before parsing.
// The interface is portable; the conversion is done by the system (code pages on Windows, iconv
// natively).
#pragma once
#include <cstddef>

// Converts body (length bytes, need not be zero-terminated) to UTF-8 as its charset says. Returns
// a new zero-terminated text (free() it) and its length in *converted; null when the body is UTF-8
// already (or its charset is unknown) and can be used as it is, or when memory runs out (then
// *converted is 0). Bytes not valid in the charset become U+FFFD. An XML declaration's encoding
// name is left as written.
char* convertToUtf8(const char* body, size_t length, const char* contentType, size_t* converted);
