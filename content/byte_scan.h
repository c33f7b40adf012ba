// Searches for one byte in a text, done by this code rather than by the C runtime: the parser's
// scans for '<', ']' and '>' and the text decoding's for '&' and '<'. The shipped 32-bit build
// cannot assume SSE2 (Windows 7 runs without it), so the SSE2 search is taken only when the
// processor has it, else a portable search a machine word at a time. Portable: no Win32 headers.
#pragma once
#include <cstddef>

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The first c at or after p in a zero-terminated text, or the terminating zero.
const char* findByteOrZeroFar(const char* p, char c);
#if defined(__SSE2__)
#if defined(__clang__)
#define FM_READS_PAST_ZERO __attribute__((no_sanitize("address")))
#elif defined(__GNUC__)
#define FM_READS_PAST_ZERO __attribute__((no_sanitize_address))
#endif
// Whether 16 bytes can be read from p without passing the end of p's page: such a read may pass a
// text's terminating zero but can never fault (the sanitizer is told to allow it).
inline bool blockInPage(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16;
}
// Most searches end within a few bytes: the first 16 are looked at inline, in one read.
FM_READS_PAST_ZERO inline const char* findByteOrZero(const char* p, char c) {
    if (blockInPage(p)) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_cmpeq_epi8(x, _mm_set1_epi8(c)), _mm_cmpeq_epi8(x, _mm_setzero_si128()))));
        if (mask != 0)
            return p + __builtin_ctz(mask);
        p += 16;
    }
    return findByteOrZeroFar(p, c);
}
// The first a or b at or after p in a zero-terminated text, or the terminating zero: the end of
// a tag (its '>', or a '<' that cuts it short).
FM_READS_PAST_ZERO inline const char* findEitherOrZero(const char* p, char a, char b) {
    for (;;) {
        if (!blockInPage(p)) { // the bytes up to the page's end one at a time
            const char* pageEnd = p + (4096 - (reinterpret_cast<uintptr_t>(p) & 4095));
            for (; p < pageEnd; ++p)
                if (*p == '\0' || *p == a || *p == b)
                    return p;
        }
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(a)), _mm_cmpeq_epi8(x, _mm_set1_epi8(b))),
            _mm_cmpeq_epi8(x, _mm_setzero_si128()))));
        if (mask != 0)
            return p + __builtin_ctz(mask);
        p += 16;
    }
}
// Whether the n bytes at p are those at name (a zero in p ends the comparison: name has none in
// its first n bytes). A short name is compared in one step where both blocks lie inside their
// pages, instead of by a loop whose length the processor would have to guess.
FM_READS_PAST_ZERO inline bool sameShortBytes(const char* p, const char* name, size_t n) {
    if (n < 16 && blockInPage(p) && blockInPage(name)) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
        unsigned wanted = (1u << n) - 1;
        return (static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & wanted) == wanted;
    }
    size_t i = 0;
    while (i < n && p[i] == name[i]) // stops at a zero in p, which name's byte there is not
        ++i;
    return i == n;
}
// How many bytes two zero-terminated texts have in common at their start, at most limit (a's
// zero ends it), compared a block at a time where both blocks lie inside their pages.
FM_READS_PAST_ZERO inline size_t sharedPrefix(const char* a, const char* b, size_t limit) {
    size_t n = 0;
    while (n < limit) {
        if (!blockInPage(a + n) || !blockInPage(b + n)) {
            if (a[n] == '\0' || a[n] != b[n])
                return n;
            ++n;
            continue;
        }
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n));
        unsigned stop =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) |
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_setzero_si128())));
        if ((stop & 0xFFFF) != 0) {
            n += static_cast<size_t>(__builtin_ctz(stop));
            return n < limit ? n : limit;
        }
        n += 16;
    }
    return limit;
}
// The same for a lower-case word, without regard to the case of p's letters.
FM_READS_PAST_ZERO inline bool sameShortBytesNoCase(const char* p, const char* word, size_t n) {
    if (n < 16 && blockInPage(p) && blockInPage(word)) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(word));
        __m128i above = _mm_sub_epi8(x, _mm_set1_epi8('A'));
        __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(above, _mm_set1_epi8(25)), above);
        x = _mm_or_si128(x, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
        unsigned wanted = (1u << n) - 1;
        return (static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & wanted) == wanted;
    }
    for (size_t i = 0; i < n; ++i) {
        char c = p[i] >= 'A' && p[i] <= 'Z' ? static_cast<char>(p[i] + 32) : p[i];
        if (c != word[i])
            return false;
    }
    return true;
}
#else
inline const char* findByteOrZero(const char* p, char c) {
    return findByteOrZeroFar(p, c);
}
inline const char* findEitherOrZero(const char* p, char a, char b) {
    while (*p != '\0' && *p != a && *p != b)
        ++p;
    return p;
}
inline bool sameShortBytes(const char* p, const char* name, size_t n) {
    size_t i = 0;
    while (i < n && p[i] == name[i])
        ++i;
    return i == n;
}
inline size_t sharedPrefix(const char* a, const char* b, size_t limit) {
    size_t n = 0;
    while (n < limit && a[n] != '\0' && a[n] == b[n])
        ++n;
    return n;
}
inline bool sameShortBytesNoCase(const char* p, const char* word, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char c = p[i] >= 'A' && p[i] <= 'Z' ? static_cast<char>(p[i] + 32) : p[i];
        if (c != word[i])
            return false;
    }
    return true;
}
#endif
inline char* findByteOrZero(char* p, char c) {
    return const_cast<char*>(findByteOrZero(static_cast<const char*>(p), c));
}

// The first c from p up to end (not included), or end.
const char* findByteBefore(const char* p, const char* end, char c);
// The first a or b from p up to end (not included), or end.
const char* findEitherBefore(const char* p, const char* end, char a, char b);

// The length of the zero-terminated text at p, or limit when it is at least that long: reads no
// further than the aligned word that holds byte limit.
size_t lengthUpTo(const char* p, size_t limit);

// Whether the text from p up to end holds a control character: a byte below 32 other than a tab
// or a line break, or 127.
bool hasControlByte(const char* p, const char* end);
// Whether the text from p up to end holds any byte below 32 (tabs and line breaks included), 127,
// or two blanks in a row: whether it is other than words and single blanks.
bool hasControlOrDoubleBlank(const char* p, const char* end);

// The same searches a machine word (or byte) at a time, as on a processor without SSE2 (tests use
// them).
const char* findByteOrZeroWordwise(const char* p, char c);
const char* findByteBeforeWordwise(const char* p, const char* end, char c);
const char* findEitherBeforeWordwise(const char* p, const char* end, char a, char b);
bool hasControlByteBytewise(const char* p, const char* end);
bool hasControlOrDoubleBlankBytewise(const char* p, const char* end);

// Whether the processor runs SSE2 instructions (always on x86-64).
bool processorHasSse2();
// Whether it runs AVX2 instructions, with the system's support: findByteOrZeroFar then reads 32
// bytes at a time.
bool processorHasAvx2();
// findByteOrZeroFar by 16-byte blocks (word at a time without SSE2), and by 32-byte blocks (16
// without AVX2), whichever the processor would take (tests use them).
const char* findByteOrZeroSse2(const char* p, char c);
const char* findByteOrZeroAvx2(const char* p, char c);
