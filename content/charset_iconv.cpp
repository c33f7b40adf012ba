// convertToUtf8's system half in the native build: glibc iconv to UTF-32, then UTF-8 written here.
// A character iconv cannot convert becomes U+FFFD and conversion goes on after it, grouped as
// brokenCharacterLength says, so that the result is the Windows build's.
#include "content/charset_system.h"
#include "content/utf8.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace {

// A character as UTF-8, or U+FFFD for one that no feed text may hold.
size_t writeCharacter(char* out, uint32_t c) {
    if (isC1Control(c) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return writeReplacementCharacter(out);
    return writeUtf8(out, c);
}

// Converts n bytes from the initial state, refusing any character iconv cannot convert: true (and
// out moved on) when all of them convert. glibc may step over a broken character before it
// reports it, so the place of a failure is never trusted; the caller narrows it down instead.
bool convertStrictly(iconv_t converter, const unsigned char* p, size_t n, char*& out) {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t inLeft = n;
    char* written = out;
    unsigned char characters[4096];
    while (inLeft > 0) {
        char* next = reinterpret_cast<char*>(characters);
        size_t room = sizeof characters;
        size_t result = iconv(converter, &in, &inLeft, &next, &room);
        int error = result == static_cast<size_t>(-1) ? errno : 0;
        for (const unsigned char* c = characters; c + 4 <= reinterpret_cast<unsigned char*>(next);
             c += 4)
            written +=
                writeCharacter(written, static_cast<uint32_t>(c[0] | c[1] << 8 | c[2] << 16) |
                                            static_cast<uint32_t>(c[3]) << 24);
        if (error != 0 && error != E2BIG)
            return false;
    }
    out = written;
    return true;
}

} // namespace

size_t convertWithSystem(const SystemCharset& charset, const unsigned char* body, size_t length,
                         char* out) {
    // UTF-32, little-endian as written, so that the characters can be read as numbers.
    iconv_t converter = iconv_open("UTF-32LE", charset.iconvName);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return static_cast<size_t>(-1);
    char* start = out;
    // The body whole; when that fails, a piece at a time (ending at characters' ends), and a
    // piece that fails a character at a time, as the Windows build does.
    if (!convertStrictly(converter, body, length, out)) {
        const size_t piece = 4096;
        const unsigned char* p = body;
        const unsigned char* end = body + length;
        while (p < end) {
            const unsigned char* stop = pieceEnd(charset.units, p, end, piece);
            if (convertStrictly(converter, p, static_cast<size_t>(stop - p), out)) {
                p = stop;
                continue;
            }
            while (p < stop) {
                size_t one = charsetCharacterLength(charset.units, p, end);
                if (!convertStrictly(converter, p, one, out)) {
                    out += writeReplacementCharacter(out);
                    one = brokenCharacterLength(charset.units, p, end);
                }
                p += one;
            }
        }
    }
    iconv_close(converter);
    return static_cast<size_t>(out - start);
}
