// convertToUtf8's system half in the Windows build: MultiByteToWideChar with the charset's code
// page, then WideCharToMultiByte to UTF-8. The body is converted whole, refusing invalid
// characters; only when that fails is it converted a piece at a time, and a piece that fails a
// character at a time, so that each character the code page cannot convert becomes U+FFFD.
#include "content/charset_system.h"

#include <cstdlib>
#include <windows.h>

namespace {

// UTF-8 of length bytes in the code page, strictly, into out; -1 when any is invalid.
int convertStrictly(UINT codePage, const unsigned char* p, int length, wchar_t* wide, char* out,
                    int outSize) {
    int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS,
                                    reinterpret_cast<const char*>(p), length, wide, length);
    if (units <= 0)
        return -1;
    for (int i = 0; i < units; ++i)
        if (isC1Control(wide[i]))
            wide[i] = 0xFFFD;
    int written = WideCharToMultiByte(CP_UTF8, 0, wide, units, out, outSize, nullptr, nullptr);
    return written > 0 ? written : -1;
}

} // namespace

size_t convertWithSystem(const SystemCharset& charset, const unsigned char* body, size_t length,
                         char* out) {
    UINT codePage = charset.codePage;
    // Systems without GB18030's own code page read its one- and two-byte characters as GBK.
    if (codePage == 54936 && !IsValidCodePage(codePage))
        codePage = 936;
    if (!IsValidCodePage(codePage))
        return static_cast<size_t>(-1);
    const size_t piece = 4096;
    // Whole when it fits an int, else piece by piece; either way into a UTF-16 buffer of as many
    // units as bytes (no character of these code pages takes more units than bytes).
    size_t wideSize = length <= 0x3FFFFFFF / 3 ? length : piece;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(wideSize * sizeof(wchar_t)));
    if (wide == nullptr)
        return static_cast<size_t>(-1);
    char* start = out;
    int written = -1;
    if (wideSize == length)
        written = convertStrictly(codePage, body, static_cast<int>(length), wide, out,
                                  static_cast<int>(3 * length));
    if (written >= 0) {
        out += written;
    } else {
        const unsigned char* p = body;
        const unsigned char* end = body + length;
        while (p < end) {
            const unsigned char* stop = pieceEnd(charset.units, p, end, piece);
            int n = static_cast<int>(stop - p);
            written = convertStrictly(codePage, p, n, wide, out, 3 * n);
            if (written >= 0) {
                out += written;
                p = stop;
                continue;
            }
            while (p < stop) {
                int one = static_cast<int>(charsetCharacterLength(charset.units, p, end));
                written = convertStrictly(codePage, p, one, wide, out, 3 * one + 1);
                if (written >= 0) {
                    out += written;
                } else {
                    out += writeReplacementCharacter(out);
                    one = static_cast<int>(brokenCharacterLength(charset.units, p, end));
                }
                p += one;
            }
        }
    }
    std::free(wide);
    return static_cast<size_t>(out - start);
}
