#include "content/key_hash.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

uint64_t continueTextHash(uint64_t hash, const char* text, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

uint64_t keyHashOf(const char* text, size_t length) {
    if (text == nullptr)
        return 0;
    uint64_t hash = textHash(text, length);
    // A text whose hash is 0 would read as no key at all; it takes the next value instead.
    return hash != 0 ? hash : 1;
}

namespace {

inline bool isPlainByte(unsigned char c) {
    return c > ' ' && c < 0x7F && c != '&' && c != '<';
}

// Whether each of the length bytes at p is printable ASCII other than a blank, '&' and '<'. Looked
// at a block at a time where the processor has SSE2, so that the hash after it is a short loop of
// its own whose multiplications the processor can carry on with while the parse goes on.
bool isPlainKeyText(const unsigned char* p, size_t length) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; length - i >= 16; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i t = _mm_sub_epi8(x, _mm_set1_epi8(0x21)); // '!' to '~' become 0 to 0x5D
        __m128i outside = _mm_cmpeq_epi8(_mm_max_epu8(t, _mm_set1_epi8(0x5E)), t);
        __m128i marked = _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('&')),
                                      _mm_cmpeq_epi8(x, _mm_set1_epi8('<')));
        if (_mm_movemask_epi8(_mm_or_si128(outside, marked)) != 0)
            return false;
    }
#endif
    for (; i < length; ++i)
        if (!isPlainByte(p[i]))
            return false;
    return true;
}

} // namespace

uint64_t plainKeyHashOf(const char* text, size_t length) {
    if (text == nullptr || length == 0 ||
        !isPlainKeyText(reinterpret_cast<const unsigned char*>(text), length))
        return 0;
    return keyHashOf(text, length);
}

uint64_t keyHashOf(const char* text) {
    return text != nullptr ? keyHashOf(text, std::strlen(text)) : 0;
}
