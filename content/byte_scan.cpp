// The byte searches. Both forms read whole aligned blocks (16 bytes, or a machine word), which
// may hold bytes before the text's start or after its terminating zero; an aligned block never
// crosses a page, so those reads are harmless, but the address sanitizer would report them and is
// told to leave these functions alone.
#include "content/byte_scan.h"

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define FM_X86 1
#include <cpuid.h>
#include <emmintrin.h>
#if defined(__GNUC__)
#include <immintrin.h>
#define FM_AVX2_SCAN 1
#endif
#endif

#if defined(__clang__)
#define FM_WHOLE_BLOCKS __attribute__((no_sanitize("address")))
#elif defined(__GNUC__)
#define FM_WHOLE_BLOCKS __attribute__((no_sanitize_address))
#else
#define FM_WHOLE_BLOCKS
#endif

namespace {

// ---- A machine word at a time -----------------------------------------------------------------
typedef uintptr_t Word;
const Word ones = ~static_cast<Word>(0) / 0xFF; // 0x0101...
const Word highs = ones * 0x80;                 // 0x8080...

// The bits 0x80 of the zero bytes of w; exact for the lowest zero byte (higher ones may be
// reported falsely after a borrow, which never matters here: only the lowest counts).
inline Word zeroBytes(Word w) {
    return (w - ones) & ~w & highs;
}

// The index, in memory order, of the lowest flagged byte of a little-endian word.
inline size_t firstFlagged(Word flags) {
#if defined(__GNUC__)
    return static_cast<size_t>(__builtin_ctzll(static_cast<unsigned long long>(flags))) / 8;
#else
    size_t i = 0;
    while ((flags & 0x80) == 0)
        flags >>= 8, ++i;
    return i;
#endif
}

// An aligned word read straight, never through memcpy (which the sanitizer would check).
#if defined(__GNUC__)
typedef Word __attribute__((may_alias)) AliasedWord;
#else
typedef Word AliasedWord;
#endif
inline Word loadWord(const char* p) {
    return *reinterpret_cast<const AliasedWord*>(p);
}

} // namespace

FM_WHOLE_BLOCKS const char* findByteOrZeroWordwise(const char* p, char c) {
    while (reinterpret_cast<uintptr_t>(p) % sizeof(Word) != 0) {
        if (*p == c || *p == '\0')
            return p;
        ++p;
    }
    const Word pattern = ones * static_cast<unsigned char>(c);
    for (;; p += sizeof(Word)) {
        Word w = loadWord(p);
        Word flags = zeroBytes(w) | zeroBytes(w ^ pattern);
        if (flags != 0)
            return p + firstFlagged(flags);
    }
}

FM_WHOLE_BLOCKS const char* findEitherBeforeWordwise(const char* p, const char* end, char a,
                                                     char b) {
    while (p < end && reinterpret_cast<uintptr_t>(p) % sizeof(Word) != 0) {
        if (*p == a || *p == b)
            return p;
        ++p;
    }
    const Word patternA = ones * static_cast<unsigned char>(a);
    const Word patternB = ones * static_cast<unsigned char>(b);
    for (; end - p >= static_cast<ptrdiff_t>(sizeof(Word)); p += sizeof(Word)) {
        Word w = loadWord(p);
        Word flags = zeroBytes(w ^ patternA) | zeroBytes(w ^ patternB);
        if (flags != 0)
            return p + firstFlagged(flags);
    }
    while (p < end && *p != a && *p != b)
        ++p;
    return p;
}

FM_WHOLE_BLOCKS size_t lengthUpTo(const char* p, size_t limit) {
    const char* start = p;
    for (; reinterpret_cast<uintptr_t>(p) % sizeof(Word) != 0; ++p) {
        if (static_cast<size_t>(p - start) >= limit)
            return limit;
        if (*p == '\0')
            return static_cast<size_t>(p - start);
    }
    for (; static_cast<size_t>(p - start) < limit; p += sizeof(Word)) {
        // Read here rather than through loadWord, so that the sanitizer's exemption covers it.
        Word flags = zeroBytes(*reinterpret_cast<const AliasedWord*>(p));
        if (flags != 0) {
            size_t length = static_cast<size_t>(p - start) + firstFlagged(flags);
            return length < limit ? length : limit;
        }
    }
    return limit;
}

const char* findByteBeforeWordwise(const char* p, const char* end, char c) {
    return findEitherBeforeWordwise(p, end, c, c);
}

bool hasControlByteBytewise(const char* p, const char* end) {
    for (; p < end; ++p) {
        unsigned char u = static_cast<unsigned char>(*p);
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0x7F)
            return true;
    }
    return false;
}

bool hasControlOrDoubleBlankBytewise(const char* p, const char* end) {
    for (bool blank = false; p < end; ++p) {
        unsigned char u = static_cast<unsigned char>(*p);
        if (u > 0x20 && u != 0x7F)
            blank = false;
        else if (u == ' ' && !blank)
            blank = true;
        else
            return true;
    }
    return false;
}

namespace {

#if FM_X86
// ---- SSE2: 16 bytes at a time ------------------------------------------------------------------
#if defined(__GNUC__)
#define FM_SSE2 __attribute__((target("sse2")))
#else
#define FM_SSE2
#endif

FM_SSE2 FM_WHOLE_BLOCKS const char* findByteOrZeroSse2Blocks(const char* p, char c) {
    const __m128i wanted = _mm_set1_epi8(c), zero = _mm_setzero_si128();
    size_t offset = reinterpret_cast<uintptr_t>(p) & 15;
    const char* block = p - offset;
    __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
                        _mm_or_si128(_mm_cmpeq_epi8(x, wanted), _mm_cmpeq_epi8(x, zero)))) >>
                    offset;
    if (mask != 0)
        return p + __builtin_ctz(mask);
    // Then 32 aligned bytes a round, after one more block where needed to reach a multiple of 32:
    // the two blocks of a round lie within one page, and the round is read only when the text
    // reaches into it.
    block += 16;
    if ((reinterpret_cast<uintptr_t>(block) & 31) != 0) {
        x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, wanted), _mm_cmpeq_epi8(x, zero))));
        if (mask != 0)
            return block + __builtin_ctz(mask);
        block += 16;
    }
    for (;; block += 32) {
        __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 16));
        __m128i hitA = _mm_or_si128(_mm_cmpeq_epi8(a, wanted), _mm_cmpeq_epi8(a, zero));
        __m128i hitB = _mm_or_si128(_mm_cmpeq_epi8(b, wanted), _mm_cmpeq_epi8(b, zero));
        if (_mm_movemask_epi8(_mm_or_si128(hitA, hitB)) != 0) {
            mask = static_cast<unsigned>(_mm_movemask_epi8(hitA)) |
                   static_cast<unsigned>(_mm_movemask_epi8(hitB)) << 16;
            return block + __builtin_ctz(mask);
        }
    }
}

// Aligned blocks here too, so that a short text (most are) costs one block and no byte loop: the
// first block's bytes before p are shifted out, and a hit at or after end is none.
FM_SSE2 FM_WHOLE_BLOCKS const char* findEitherBeforeSse2(const char* p, const char* end, char a,
                                                         char b) {
    if (p >= end)
        return end;
    const __m128i wantedA = _mm_set1_epi8(a), wantedB = _mm_set1_epi8(b);
    size_t offset = reinterpret_cast<uintptr_t>(p) & 15;
    const char* block = p - offset;
    __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
                        _mm_or_si128(_mm_cmpeq_epi8(x, wantedA), _mm_cmpeq_epi8(x, wantedB)))) >>
                    offset;
    const char* found = p;
    while (mask == 0) {
        block += 16;
        if (block >= end)
            return end;
        x = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(x, wantedA), _mm_cmpeq_epi8(x, wantedB))));
        found = block;
    }
    found += __builtin_ctz(mask);
    return found < end ? found : end;
}

// Walks the aligned blocks that hold the text from p up to end and asks found(x, valid) of each:
// x the block, valid the bits (one a byte, as _mm_movemask_epi8 gives them) of the text's bytes
// in it. True as soon as one answers true.
template <typename Found>
FM_SSE2 FM_WHOLE_BLOCKS inline bool anyBlock(const char* p, const char* end, Found found) {
    if (p >= end)
        return false;
    size_t offset = reinterpret_cast<uintptr_t>(p) & 15;
    const char* block = p - offset;
    unsigned valid = 0xFFFFu & ~((1u << offset) - 1); // the first block's bytes before p are not
    for (; block < end; block += 16, valid = 0xFFFF) {
        if (end - block < 16)
            valid &= (1u << (end - block)) - 1; // nor are bytes at or after end
        if (found(_mm_load_si128(reinterpret_cast<const __m128i*>(block)), valid))
            return true;
    }
    return false;
}

// The bits of the bytes below 32 or equal to 127: blank or control for the checks below.
FM_SSE2 inline unsigned lowOrDeleteBits(__m128i x) {
    __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(0x1F)), x);
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(low, _mm_cmpeq_epi8(x, _mm_set1_epi8(0x7F)))));
}

FM_SSE2 bool hasControlByteSse2(const char* p, const char* end) {
    return anyBlock(p, end, [](__m128i x, unsigned valid) FM_SSE2 {
        unsigned low = lowOrDeleteBits(x) & valid;
        if (low == 0)
            return false; // the usual block: nothing below 32 at all
        __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\t')),
                                                    _mm_cmpeq_epi8(x, _mm_set1_epi8('\n'))),
                                       _mm_cmpeq_epi8(x, _mm_set1_epi8('\r')));
        return (low & ~static_cast<unsigned>(_mm_movemask_epi8(allowed))) != 0;
    });
}

FM_SSE2 bool hasControlOrDoubleBlankSse2(const char* p, const char* end) {
    unsigned blankBefore = 0; // the last byte of the block before was a blank
    return anyBlock(p, end, [&blankBefore](__m128i x, unsigned valid) FM_SSE2 {
        unsigned blanks =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(' ')))) & valid;
        unsigned low = lowOrDeleteBits(x) & valid;
        bool found = (low & ~blanks) != 0 || (blanks & ((blanks << 1) | blankBefore)) != 0;
        blankBefore = blanks >> 15;
        return found;
    });
}

#if FM_AVX2_SCAN
// ---- AVX2: 32 bytes at a time, for the long searches (a description's end) -----------------
#define FM_AVX2 __attribute__((target("avx2")))

FM_AVX2 inline unsigned byteOrZeroBits(__m256i x, __m256i wanted) {
    return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(
        _mm256_cmpeq_epi8(x, wanted), _mm256_cmpeq_epi8(x, _mm256_setzero_si256()))));
}

FM_AVX2 FM_WHOLE_BLOCKS const char* findByteOrZeroAvx2Blocks(const char* p, char c) {
    const __m256i wanted = _mm256_set1_epi8(c);
    size_t offset = reinterpret_cast<uintptr_t>(p) & 31;
    const char* block = p - offset;
    unsigned mask =
        byteOrZeroBits(_mm256_load_si256(reinterpret_cast<const __m256i*>(block)), wanted) >>
        offset;
    if (mask != 0)
        return p + __builtin_ctz(mask);
    // Then 64 aligned bytes a round, after one more block where needed to reach a multiple of 64:
    // the two blocks of a round lie within one page.
    block += 32;
    if ((reinterpret_cast<uintptr_t>(block) & 63) != 0) {
        mask = byteOrZeroBits(_mm256_load_si256(reinterpret_cast<const __m256i*>(block)), wanted);
        if (mask != 0)
            return block + __builtin_ctz(mask);
        block += 32;
    }
    for (;; block += 64) {
        __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
        __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + 32));
        __m256i zero = _mm256_setzero_si256();
        __m256i hits = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(a, wanted), _mm256_cmpeq_epi8(a, zero)),
            _mm256_or_si256(_mm256_cmpeq_epi8(b, wanted), _mm256_cmpeq_epi8(b, zero)));
        if (_mm256_movemask_epi8(hits) != 0) {
            mask = byteOrZeroBits(a, wanted);
            return mask != 0 ? block + __builtin_ctz(mask)
                             : block + 32 + __builtin_ctz(byteOrZeroBits(b, wanted));
        }
    }
}

// Whether the processor has AVX2 and the system saves its registers across thread switches.
bool askProcessorForAvx2() {
    unsigned a, b, c, d;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0)
        return false;
    unsigned low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 6) != 6) // the system keeps the SSE and AVX state
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_AVX2) != 0;
}
#endif

bool askProcessorForSse2() {
#if defined(__x86_64__) || defined(_M_X64) || defined(__SSE2__)
    return true;
#else
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) != 0 && (d & bit_SSE2) != 0;
#endif
}
#endif

} // namespace

#if FM_X86
// Asked once, when the module starts: a search that runs before that (from another module's
// start) takes the word-at-a-time path, which finds the same.
static const bool hasSse2 = askProcessorForSse2();
#endif
#if FM_AVX2_SCAN
static const bool hasAvx2 = askProcessorForAvx2();
#else
static const bool hasAvx2 = false;
#endif

bool processorHasSse2() {
#if FM_X86
    return hasSse2;
#else
    return false;
#endif
}

// The search by 16-byte blocks where the processor has SSE2 (asked at run time in the 32-bit
// build), else the one a word or byte at a time: each expression is compiled only where it can run.
#if FM_X86 && !defined(__SSE2__)
#define FM_SSE2_OR(blocks, plain) (processorHasSse2() ? (blocks) : (plain))
#elif FM_X86
#define FM_SSE2_OR(blocks, plain) (blocks)
#else
#define FM_SSE2_OR(blocks, plain) (plain)
#endif

const char* findByteOrZeroFar(const char* p, char c) {
    return findByteOrZeroAvx2(p, c); // which takes 16-byte blocks or words where it must
}

const char* findEitherBefore(const char* p, const char* end, char a, char b) {
    return FM_SSE2_OR(findEitherBeforeSse2(p, end, a, b), findEitherBeforeWordwise(p, end, a, b));
}

const char* findByteBefore(const char* p, const char* end, char c) {
    return findEitherBefore(p, end, c, c);
}

bool hasControlOrDoubleBlank(const char* p, const char* end) {
    return FM_SSE2_OR(hasControlOrDoubleBlankSse2(p, end), hasControlOrDoubleBlankBytewise(p, end));
}

bool hasControlByte(const char* p, const char* end) {
    return FM_SSE2_OR(hasControlByteSse2(p, end), hasControlByteBytewise(p, end));
}

bool processorHasAvx2() {
    return hasAvx2;
}

const char* findByteOrZeroSse2(const char* p, char c) {
    return FM_SSE2_OR(findByteOrZeroSse2Blocks(p, c), findByteOrZeroWordwise(p, c));
}

const char* findByteOrZeroAvx2(const char* p, char c) {
#if FM_AVX2_SCAN
    if (hasAvx2)
        return findByteOrZeroAvx2Blocks(p, c);
#endif
    return findByteOrZeroSse2(p, c);
}
