// Internationalised host names in the native build, through the system's libidn2.
#pragma once
#include <cstddef>

// A HostToAscii (feed/feed_address.h) for UTF-8 host names (IDNA 2008, non-transitional); false
// for bytes that are not UTF-8, a name libidn2 refuses, or one that does not fit.
bool nativeHostToAscii(const char* host, size_t length, char* out, size_t outSize);
