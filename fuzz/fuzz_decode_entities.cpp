// Fuzzes decodeEntities, and descriptionToText which builds on the same decoder, over exactly
// count bytes: the source sits in a heap buffer of that size with no terminator, so reading past
// the counted bytes crashes. The same text is then decoded in place, as the header allows, and
// must give the same result.
#include "content/text_decoding.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// A source of exactly size bytes, a zeroed destination of size + 1 bytes, and a terminated copy
// of the source for decoding in place.
struct Buffers {
    char* source;
    char* destination;
    char* inPlace;
};

static bool makeBuffers(const uint8_t* data, size_t size, Buffers* buffers) {
    buffers->source = static_cast<char*>(std::malloc(size ? size : 1));
    buffers->destination = static_cast<char*>(std::calloc(size + 1, 1));
    buffers->inPlace = static_cast<char*>(std::malloc(size + 1));
    if (!buffers->source || !buffers->destination || !buffers->inPlace)
        return false;
    std::memcpy(buffers->source, data, size);
    std::memcpy(buffers->inPlace, data, size);
    buffers->inPlace[size] = 0;
    return true;
}

static void freeBuffers(Buffers* buffers) {
    std::free(buffers->source);
    std::free(buffers->destination);
    std::free(buffers->inPlace);
}

static void fuzzDecodeEntities(const uint8_t* data, size_t size) {
    Buffers b;
    if (makeBuffers(data, size, &b)) {
        decodeEntities(b.source, size, b.destination);
        // Never longer than the source: the byte after count bytes is still the terminator.
        FUZZ_CHECK(b.destination[size] == 0);
        size_t length = std::strlen(b.destination);
        FUZZ_CHECK(std::memchr(b.destination, '\r', length) == nullptr);
        FUZZ_CHECK(std::memchr(b.destination, '\n', length) == nullptr);
        // Without a reference (or a zero byte) the text is copied as it is, line breaks dropped.
        if (!std::memchr(b.source, '&', size) && !std::memchr(b.source, 0, size)) {
            size_t kept = 0;
            for (size_t i = 0; i < size; ++i) {
                if (b.source[i] != '\r' && b.source[i] != '\n')
                    FUZZ_CHECK(b.destination[kept++] == b.source[i]);
            }
            FUZZ_CHECK(kept == length);
        }
        decodeEntities(b.inPlace, size, b.inPlace);
        FUZZ_CHECK(std::strcmp(b.inPlace, b.destination) == 0);
    }
    freeBuffers(&b);
}

static void fuzzDescriptionToText(const uint8_t* data, size_t size, bool fromCdata) {
    Buffers b;
    if (makeBuffers(data, size, &b)) {
        size_t length = descriptionToText(b.source, size, b.destination, fromCdata);
        FUZZ_CHECK(length <= size);
        FUZZ_CHECK(b.destination[length] == 0);
        // Plain text in paragraphs: single "\n" between them, no blanks at either end (a zero
        // byte of the source stays, so the whole length is looked at).
        size_t visible = std::strlen(b.destination);
        FUZZ_CHECK(paragraphsWellFormed(b.destination, length));
        FUZZ_CHECK(std::memchr(b.destination, '\t', length) == nullptr);
        if (length != 0 && visible == length) {
            FUZZ_CHECK(b.destination[0] != ' ' && b.destination[length - 1] != ' ');
        }
        size_t inPlaceLength = descriptionToText(b.inPlace, size, b.inPlace, fromCdata);
        FUZZ_CHECK(inPlaceLength == length);
        FUZZ_CHECK(std::memcmp(b.inPlace, b.destination, length + 1) == 0);
    }
    freeBuffers(&b);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzDecodeEntities(data, size);
    fuzzDescriptionToText(data, size, true);
    fuzzDescriptionToText(data, size, false);
    return 0;
}
