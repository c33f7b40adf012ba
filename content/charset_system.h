// The system's half of convertToUtf8: charset.cpp finds the charset and calls one of these, from
// charset_win32.cpp (code pages) in the Windows build or charset_iconv.cpp (glibc iconv) natively.
#pragma once
#include <cstddef>

// How the bytes of a charset group into characters, so that a broken character is replaced by
// one U+FFFD and the bytes after it are read again the same way in both builds.
enum CharsetUnits {
    SingleByteUnits, // every byte a character
    ShiftJisUnits,   // lead 81-9F, E0-FC; trail 40-7E, 80-FC
    GbkUnits,        // lead 81-FE; trail 40-7E, 80-FE
    Gb18030Units,    // as GBK, and four-byte forms: 81-FE 30-39 81-FE 30-39
    Big5Units,       // lead 81-FE; trail 40-7E, A1-FE
    EucKrUnits,      // lead 81-FE; trail 41-5A, 61-7A, 81-FE
    EucJpUnits,      // 8E A1-DF; 8F A1-FE A1-FE; A1-FE A1-FE
};

struct SystemCharset {
    unsigned codePage;     // Windows
    const char* iconvName; // glibc
    CharsetUnits units;
};

// The bytes of the character at p (1 to 4, never past end; end > p): a lead byte without a valid
// continuation is a character of one byte, which the system then finds invalid.
size_t charsetCharacterLength(CharsetUnits units, const unsigned char* p, const unsigned char* end);

// Where a piece of at most about pieceSize bytes that starts at p ends: at a character's end, so
// that a conversion piece by piece never cuts a character in two.
inline const unsigned char* pieceEnd(CharsetUnits units, const unsigned char* p,
                                     const unsigned char* end, size_t pieceSize) {
    const unsigned char* q = p;
    while (q < end && static_cast<size_t>(q - p) < pieceSize - 4)
        q += charsetCharacterLength(units, q, end);
    return q;
}

// The bytes a broken character at p stands for, to be replaced by one U+FFFD: the character's
// length, but only its lead byte when an ASCII byte follows it ("\x82<"), which is read again on
// its own so that no markup is lost.
inline size_t brokenCharacterLength(CharsetUnits units, const unsigned char* p,
                                    const unsigned char* end) {
    size_t n = charsetCharacterLength(units, p, end);
    return n > 1 && p[1] < 0x80 ? 1 : n;
}

// Converts length bytes (length > 0) to UTF-8 into out, which holds 3 * length bytes, and returns
// the bytes written: each character the system cannot convert becomes U+FFFD, and so does a C1
// control (U+0080 to U+009F), which no feed means to show and which one system gives for a byte
// that the other finds undefined (0x81 in windows-1252). Returns
// static_cast<size_t>(-1) when the system does not know the charset.
size_t convertWithSystem(const SystemCharset& charset, const unsigned char* body, size_t length,
                         char* out);

inline bool isC1Control(unsigned c) {
    return c >= 0x80 && c <= 0x9F;
}

// Writes U+FFFD and returns its length in bytes.
inline size_t writeReplacementCharacter(char* out) {
    out[0] = '\xEF';
    out[1] = '\xBF';
    out[2] = '\xBD';
    return 3;
}
