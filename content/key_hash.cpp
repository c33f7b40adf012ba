#include "content/key_hash.h"

#include <cstring>

uint64_t keyHashOf(const char* text, size_t length) {
    if (text == nullptr)
        return 0;
    uint64_t hash = 14695981039346656037ull;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ p[i]) * 1099511628211ull;
    // A text whose hash is 0 would read as no key at all; it takes the next value instead.
    return hash != 0 ? hash : 1;
}

uint64_t plainKeyHashOf(const char* text, size_t length) {
    if (text == nullptr || length == 0)
        return 0;
    // One pass: the hash is made while the bytes are checked.
    uint64_t hash = 14695981039346656037ull;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length; ++i) {
        if (p[i] <= ' ' || p[i] >= 0x7F || p[i] == '&' || p[i] == '<')
            return 0;
        hash = (hash ^ p[i]) * 1099511628211ull;
    }
    return hash != 0 ? hash : 1;
}

uint64_t keyHashOf(const char* text) {
    return text != nullptr ? keyHashOf(text, std::strlen(text)) : 0;
}
