// Fuzzes convertToUtf8. The first byte chooses the charset label and where it stands (the
// Content-Type, an XML declaration put before the body, or nowhere); the rest is the body, in a
// heap buffer of exactly its size with no terminator, so reading past it crashes. The result must
// be null (with nothing converted) or valid UTF-8 of the counted length, zero-terminated, no
// longer than three bytes for each byte of the body.
#include "content/charset.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

static const char* const labels[] = {
    "utf-8",      "utf-16",     "utf-16le",     "utf-16be",     "iso-8859-1",
    "iso-8859-2", "iso-8859-7", "windows-1251", "windows-1252", "koi8-r",
    "koi8-u",     "shift_jis",  "euc-jp",       "gb2312",       "gbk",
    "gb18030",    "big5",       "euc-kr",       "x-unknown",
};

// Whether the length bytes at text are UTF-8 as it is written today: no overlong forms, no
// surrogates, nothing beyond U+10FFFF.
static bool isValidUtf8(const unsigned char* text, size_t length) {
    size_t i = 0;
    while (i < length) {
        unsigned c = text[i];
        size_t n;
        unsigned minimum;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 1, minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2, minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3, minimum = 0x10000;
        } else {
            return false;
        }
        if (length - i <= n)
            return false;
        unsigned value = c & (0x3F >> n);
        for (size_t k = 1; k <= n; ++k) {
            if ((text[i + k] & 0xC0) != 0x80)
                return false;
            value = value << 6 | (text[i + k] & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const char* label = labels[data[0] % (sizeof labels / sizeof labels[0])];
    int place = (data[0] / 32) % 3; // 0 the Content-Type, 1 an XML declaration, 2 none
    std::string contentType = std::string("text/xml; charset=") + label;
    std::string body;
    if (place == 1)
        body = std::string("<?xml version=\"1.0\" encoding=\"") + label + "\"?>";
    body.append(reinterpret_cast<const char*>(data + 1), size - 1);

    char* exact = static_cast<char*>(std::malloc(body.size() ? body.size() : 1));
    if (exact == nullptr)
        return 0;
    std::memcpy(exact, body.data(), body.size());
    size_t converted = 99;
    char* result =
        convertToUtf8(exact, body.size(), place == 0 ? contentType.c_str() : nullptr, &converted);
    if (result == nullptr) {
        FUZZ_CHECK(converted == 0);
    } else {
        FUZZ_CHECK(result[converted] == '\0');
        FUZZ_CHECK(converted <= 3 * body.size());
        FUZZ_CHECK(isValidUtf8(reinterpret_cast<const unsigned char*>(result), converted));
        std::free(result);
    }
    std::free(exact);
    return 0;
}
