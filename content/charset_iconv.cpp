// convertToUtf8's system half in the native build: glibc iconv. A character iconv cannot convert
// becomes U+FFFD and conversion goes on after it, grouped as brokenCharacterLength says, so that
// the result is the Windows build's.
#include "content/charset_system.h"

#include <cerrno>
#include <iconv.h>

size_t convertWithSystem(const SystemCharset& charset, const unsigned char* body, size_t length,
                         char* out) {
    iconv_t converter = iconv_open("UTF-8", charset.iconvName);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return static_cast<size_t>(-1);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(body));
    size_t inLeft = length;
    char* start = out;
    size_t outLeft = 3 * length;
    while (inLeft > 0) {
        if (iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno != EILSEQ && errno != EINVAL)
            break; // E2BIG cannot happen: no character takes more than three bytes per byte
        const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
        size_t skip = brokenCharacterLength(charset.units, p, p + inLeft);
        size_t written = writeReplacementCharacter(out);
        out += written;
        outLeft -= written;
        in += skip;
        inLeft -= skip;
        iconv(converter, nullptr, nullptr, nullptr, nullptr); // back to the initial state
    }
    iconv_close(converter);
    return static_cast<size_t>(out - start);
}
