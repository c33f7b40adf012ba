// Character sets of feed documents: finds the one a body is written in and converts the body to
// UTF-8 before parsing. The charset is a byte-order mark's when the body starts with one (it cannot
// be mistaken), else the HTTP Content-Type's, else the XML declaration's, else UTF-8. The interface
// and the detection are portable; the conversion is done by the system (code pages on Windows,
// iconv natively).
#pragma once
#include <cstddef>

// Converts body (length bytes, need not be zero-terminated) to UTF-8 as its charset says;
// contentType is the response's Content-Type value or null. Returns a new zero-terminated text
// (free() it) and its length in *converted; null when the body is UTF-8 already (or its charset
// is unknown) and can be used as it is, or when memory runs out (then *converted is 0). A UTF-8
// byte-order mark is dropped (a copy without it). A returned text is valid UTF-8: a character not
// valid in the charset becomes U+FFFD (an ASCII byte after a broken lead byte is read again on its
// own, so markup survives), and so does a C1 control. An XML declaration's encoding name is left
// as written.
char* convertToUtf8(const char* body, size_t length, const char* contentType, size_t* converted);
