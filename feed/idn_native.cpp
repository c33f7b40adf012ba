#include "feed/idn_native.h"
#include <idn2.h>
#include <cstdlib>
#include <cstring>

bool nativeHostToAscii(const char* host, size_t length, char* out, size_t outSize) {
    if (length == 0 || length > 255 || outSize == 0 || std::memchr(host, '\0', length))
        return false;
    char name[256];
    std::memcpy(name, host, length);
    name[length] = '\0';
    char* ascii = nullptr;
    if (idn2_to_ascii_8z(name, &ascii, IDN2_NONTRANSITIONAL) != IDN2_OK || ascii == nullptr)
        return false;
    size_t asciiLength = std::strlen(ascii);
    bool fits = asciiLength < outSize;
    if (fits)
        std::memcpy(out, ascii, asciiLength + 1);
    idn2_free(ascii);
    return fits;
}
