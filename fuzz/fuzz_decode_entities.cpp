// Fuzzes decodeEntities over exactly count bytes: the source sits in a heap buffer of that size
// with no terminator, so reading past the counted bytes crashes. The same text is then decoded
// in place, as the header allows, and must give the same result.
#include "content/text_decoding.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* source = static_cast<char*>(std::malloc(size ? size : 1));
    char* destination = static_cast<char*>(std::calloc(size + 1, 1));
    char* inPlace = static_cast<char*>(std::malloc(size + 1));
    if (!source || !destination || !inPlace) {
        std::free(source);
        std::free(destination);
        std::free(inPlace);
        return 0;
    }
    std::memcpy(source, data, size);
    std::memcpy(inPlace, data, size);
    inPlace[size] = 0;

    decodeEntities(source, size, destination);
    // Never longer than the source: the byte after count bytes is still the terminator.
    FUZZ_CHECK(destination[size] == 0);
    size_t length = std::strlen(destination);
    FUZZ_CHECK(std::memchr(destination, '\r', length) == nullptr);
    FUZZ_CHECK(std::memchr(destination, '\n', length) == nullptr);
    // Without a reference (or a zero byte) the text is copied as it is, line breaks dropped.
    if (!std::memchr(source, '&', size) && !std::memchr(source, 0, size)) {
        size_t kept = 0;
        for (size_t i = 0; i < size; ++i) {
            if (source[i] != '\r' && source[i] != '\n')
                FUZZ_CHECK(destination[kept++] == source[i]);
        }
        for (size_t i = kept; i <= size; ++i)
            FUZZ_CHECK(destination[i] == 0);
    }

    decodeEntities(inPlace, size, inPlace);
    FUZZ_CHECK(std::memcmp(inPlace, destination, length) == 0);

    std::free(source);
    std::free(destination);
    std::free(inPlace);
    return 0;
}
