// A received feed document on its way to the entries: read in its own character set, then parsed.
// Portable: no Win32 headers.
#pragma once
#include <cstddef>

// Parses body (length bytes, zero-terminated; it may be overwritten) into the FetchList as
// parseFeed does (or parseJsonFeed, for a JSON body), with baseUrl for relative links. With
// convertCharset the body is first read in the character set that contentType (may be null), its
// XML declaration or its byte-order mark names; without it the bytes are taken as they come.
void parseFeedBody(char* body, size_t length, const char* contentType, const char* baseUrl,
                   bool convertCharset);
