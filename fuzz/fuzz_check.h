// A check for the fuzz targets: a broken invariant prints where it broke and aborts, which
// libFuzzer reports as a crash and saves the input that caused it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The input up to its first zero byte, copied into a heap buffer of exactly that length plus the
// terminator (so any read past the text crashes), its length left in *length. Null when memory
// runs out; the caller frees it.
inline char* fuzzText(const uint8_t* data, size_t size, size_t* length) {
    const void* zero = std::memchr(data, 0, size);
    *length = zero ? size_t(static_cast<const uint8_t*>(zero) - data) : size;
    char* text = static_cast<char*>(std::malloc(*length + 1));
    if (text) {
        std::memcpy(text, data, *length);
        text[*length] = 0;
    }
    return text;
}

// Whether a description's plain text keeps its paragraphs as the window and the tooltip read
// them: one "\n" between two paragraphs, never two in a row nor at either end, and no "\r".
inline bool paragraphsWellFormed(const char* text, size_t length) {
    if (std::memchr(text, '\r', length) != nullptr)
        return false;
    if (length != 0 && (text[0] == '\n' || text[length - 1] == '\n'))
        return false;
    for (size_t i = 0; i + 1 < length; ++i)
        if (text[i] == '\n' && text[i + 1] == '\n')
            return false;
    return true;
}
