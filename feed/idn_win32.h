// Internationalised host names through the system's conversion (IdnToAscii, in kernel32 from
// Windows 7 and in normaliz.dll before), found at run time.
#pragma once
#include <cstddef>

// A HostToAscii (feed/feed_address.h): host's bytes are read as UTF-8 when they are valid UTF-8,
// else in the system's code page. False when the system has no conversion or refuses the name.
bool systemHostToAscii(const char* host, size_t length, char* out, size_t outSize);
