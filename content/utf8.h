// UTF-8 in both directions, shared by the text decoding, the charset conversion and the
// inspector. Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

// Writes the character c as UTF-8 and returns the bytes written (1 to 4).
inline size_t writeUtf8(char* out, uint32_t c) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// The length of the valid UTF-8 sequence at p (1 to 4, never past end; end > p), or 0 when the
// byte there starts none: overlong forms, surrogates and values beyond U+10FFFF are not valid.
inline size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    unsigned c = p[0];
    if (c < 0x80)
        return 1;
    size_t n;
    unsigned low = 0x80, high = 0xBF; // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            low = 0xA0; // no overlong forms
        else if (c == 0xED)
            high = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < n || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return n;
}

// The character of the valid n-byte UTF-8 sequence at p (n as utf8SequenceLength gives it).
inline uint32_t utf8CodePoint(const unsigned char* p, size_t n) {
    uint32_t c = n == 1 ? p[0] : p[0] & (0x7F >> n);
    for (size_t i = 1; i < n; ++i)
        c = (c << 6) | (p[i] & 0x3F);
    return c;
}
