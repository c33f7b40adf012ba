// Fuzzes resolveUrl as the parser uses it: a base address and a reference from a feed, and an
// output buffer of any size. The input's first byte chooses the buffer (below 128: that many bytes
// plus one, else 4096); the rest is the base up to the first line feed and the reference after it.
// Base, reference and buffer are heap blocks of exactly their size, so a read or write past any of
// them crashes.
#include "content/url_resolve.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

static char* copyOf(const uint8_t* data, size_t length) {
    char* text = static_cast<char*>(std::malloc(length + 1));
    if (text) {
        std::memcpy(text, data, length);
        text[length] = 0;
    }
    return text;
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The length of the scheme at the start of text (without its ':'), or 0 when it has none.
static size_t schemeLength(const char* text) {
    const char* p = text;
    if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
        return 0;
    while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
           *p == '+' || *p == '-' || *p == '.')
        ++p;
    return *p == ':' ? size_t(p - text) : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    size_t outSize = data[0] < 128 ? size_t(data[0]) + 1 : 4096;
    const uint8_t* rest = data + 1;
    size_t restLength = size - 1;
    const void* lineFeed = std::memchr(rest, '\n', restLength);
    size_t baseLength =
        lineFeed ? size_t(static_cast<const uint8_t*>(lineFeed) - rest) : restLength;
    char* base = copyOf(rest, baseLength);
    size_t referenceStart = lineFeed ? baseLength + 1 : restLength;
    char* reference = copyOf(rest + referenceStart, restLength - referenceStart);
    char* out = static_cast<char*>(std::malloc(outSize));
    if (!base || !reference || !out) {
        std::free(base);
        std::free(reference);
        std::free(out);
        return 0;
    }
    std::memset(out, 0xAA, outSize);

    bool resolved = resolveUrl(base, reference, out, outSize);
    // The result is a zero-terminated text within the buffer; a failure leaves it empty.
    FUZZ_CHECK(std::memchr(out, 0, outSize) != nullptr);
    FUZZ_CHECK(resolved || out[0] == '\0');

    // An absolute http(s) base and a relative reference give an absolute address with the base's
    // scheme, and with room enough the resolution never fails.
    const char* trimmed = reference;
    while (isBlank(*trimmed))
        ++trimmed;
    size_t baseScheme = schemeLength(base);
    bool httpBase = (baseScheme == 4 && strncasecmp(base, "http", 4) == 0) ||
                    (baseScheme == 5 && strncasecmp(base, "https", 5) == 0);
    if (httpBase && schemeLength(trimmed) == 0) {
        if (outSize == 4096 && baseLength + restLength + 8 < outSize)
            FUZZ_CHECK(resolved);
        if (resolved)
            FUZZ_CHECK(strncasecmp(out, base, baseScheme + 1) == 0);
    }
    std::free(base);
    std::free(reference);
    std::free(out);
    return 0;
}
