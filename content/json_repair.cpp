// JSON that RapidJSON refuses but other JSON readers read. The document is scanned once, strings,
// numbers and comments told apart as the reader tells them, and each fault is rewritten in the
// bytes it takes, so that nothing moves.
#include "content/json_repair.h"

#include <cstdint>
#include <cstring>

#include "content/byte_scan.h"

#if defined(__i386__) || defined(__x86_64__)
#define FM_GAP_BLOCKS 1
#include <emmintrin.h>
#if defined(__GNUC__)
#define FM_SSE2 __attribute__((target("sse2")))
#else
#define FM_SSE2
#endif
#endif

namespace {

inline int hexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// The code unit of the escape "\uXXXX" at p (before end), or -1.
inline long escapedUnit(const char* p, const char* end) {
    if (end - p < 6 || p[0] != '\\' || p[1] != 'u')
        return -1;
    long unit = 0;
    for (int i = 2; i < 6; ++i) {
        int digit = hexValue(p[i]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// Rewrites a lone surrogate escape at p (a '\\' before end) as U+FFFD; returns the position after
// the escape (the code unit of a pair, after both). Notes in *controls an escaped control
// character other than a tab or a line break.
char* repairEscape(char* p, char* end, bool* controls) {
    if (end - p >= 2 && (p[1] == 'b' || p[1] == 'f'))
        *controls = true;
    long unit = escapedUnit(p, end);
    if (unit >= 0 && unit < 0x20 && unit != '\t' && unit != '\n' && unit != '\r')
        *controls = true;
    if (unit < 0xD800 || unit > 0xDFFF)
        return end - p >= 2 ? p + 2 : end; // another escape: its character is never a quote
    long low = unit <= 0xDBFF ? escapedUnit(p + 6, end) : -1;
    if (low >= 0xDC00 && low <= 0xDFFF)
        return p + 12; // a whole pair
    std::memcpy(p + 2, "fffd", 4);
    return p + 6;
}

// Rewrites the escapes of a string whose inside starts at p; returns the position after its
// closing quote (or end). Strings are most of a feed: the next quote or backslash is found by one
// block search, from the string's start and again after each escape.
char* repairString(char* p, char* end, bool* controls) {
    for (;;) {
        char* next = const_cast<char*>(findEitherBefore(p, end, '"', '\\'));
        if (next == end)
            return end;
        if (*next == '"')
            return next + 1;
        p = repairEscape(next, end, controls);
    }
}

// Rewrites a number that starts at p when no double holds it (more than 300 digits before its
// point, or an exponent above 300: generous, a real feed's numbers are far smaller) as "0" and
// blanks; returns the position after it.
char* repairNumber(char* p, char* end) {
    char* start = p;
    if (*p == '-')
        ++p;
    size_t digits = 0;
    while (p < end && *p >= '0' && *p <= '9')
        ++p, ++digits;
    if (p < end && *p == '.')
        while (++p < end && *p >= '0' && *p <= '9') {
        }
    long exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p)
            if (!negative && exponent <= 100000)
                exponent = exponent * 10 + (*p - '0');
    }
    if (digits > 300 || exponent > 300) {
        *start = '0';
        std::memset(start + 1, ' ', static_cast<size_t>(p - start - 1));
    }
    return p;
}

#if FM_GAP_BLOCKS
// The first byte from p up to end that may start a string, a number or a comment ('"', '-', a
// digit, '/'), or end: the blanks and punctuation between the values are passed over a block at
// a time, which also spares the processor a guess at every one of them.
FM_SSE2 char* nextTokenSse2(char* p, char* end) {
    const __m128i quote = _mm_set1_epi8('"'), minus = _mm_set1_epi8('-'),
                  slash = _mm_set1_epi8('/'), zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    for (; end - p >= 16; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i digit = _mm_sub_epi8(x, zero);
        digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit);
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, minus)),
                                   _mm_or_si128(_mm_cmpeq_epi8(x, slash), digit));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0)
            return p + __builtin_ctz(mask);
    }
    while (p < end && *p != '"' && *p != '-' && *p != '/' && !(*p >= '0' && *p <= '9'))
        ++p;
    return p;
}

// Whether the escape whose backslash is just before next (before end) may be one the exact pass
// rewrites or reports: "\b", "\f", a surrogate "\uD800" to "\uDFFF" or a control "\u0000" to
// "\u001F" (an escape cut by the end counts too).
inline bool mayRepairEscape(const char* next, const char* end) {
    if (next >= end)
        return false;
    if (*next == 'b' || *next == 'f')
        return true;
    if (*next != 'u')
        return false;
    if (end - next < 4)
        return true;
    char a = next[1], b = next[2];
    bool surrogate = (a == 'd' || a == 'D') && ((b >= '8' && b <= '9') || (b | 0x20) >= 'a');
    return surrogate || (a == '0' && b == '0' && (next[3] == '0' || next[3] == '1'));
}

inline bool isLetter(char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// Whether the byte at before (within the text that starts at text) may be the last of a number's
// mantissa, so that an 'e' after it starts an exponent: a digit, or a '.' or '-' after no letter.
inline bool mayEndNumber(const char* before, const char* text) {
    char c = *before;
    return (c >= '0' && c <= '9') ||
           ((c == '.' || c == '-') && (before == text || !isLetter(before[-1])));
}

// The bits of x's digits (one a byte, as _mm_movemask_epi8 gives them), as a vector.
FM_SSE2 inline __m128i digitBytes(__m128i x) {
    __m128i d = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    return _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
}

// The bytes of a block that ask for a closer look: a backslash, or an 'e' or 'E' after a digit,
// '.' or '-' (before: the same block read one byte earlier, digitsBefore: its digits).
FM_SSE2 inline __m128i suspectBytes(__m128i x, __m128i before, __m128i digitsBefore) {
    __m128i mark = _mm_or_si128(_mm_cmpeq_epi8(before, _mm_set1_epi8('.')),
                                _mm_cmpeq_epi8(before, _mm_set1_epi8('-')));
    __m128i exponent = _mm_cmpeq_epi8(_mm_or_si128(x, _mm_set1_epi8(0x20)), _mm_set1_epi8('e'));
    return _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('\\')),
                        _mm_and_si128(exponent, _mm_or_si128(digitsBefore, mark)));
}

// Whether the byte at p (within the text from text to end) makes the text one the exact pass may
// change: an escape mayRepairEscape names, or an exponent's 'e'.
inline bool needsRepairAt(const char* p, const char* text, const char* end) {
    if (*p == '\\')
        return mayRepairEscape(p + 1, end);
    return (*p == 'e' || *p == 'E') && p > text && mayEndNumber(p - 1, text);
}

// Whether the text may hold anything the exact pass below rewrites or reports, looked for a block
// at a time without telling strings from the rest, so that most feeds are not read a second time:
// an escape mayRepairEscape names, an 'e' or 'E' after a digit or after a '.' or '-' that follows
// no letter (every exponent; a host name's ".example" is none), or a block of 16 digits (every
// number of more than 300 digits holds one). A false alarm only costs the exact pass.
FM_SSE2 bool mayNeedRepairSse2(const char* text, const char* end) {
    const char* p = text;
    for (; p < end && (p == text || end - p < 16); ++p) // the first byte has none before it
        if (needsRepairAt(p, text, end))
            return true;
    for (; end - p >= 16; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
        __m128i digits = digitBytes(before);
        if (_mm_movemask_epi8(digits) == 0xFFFF)
            return true;
        unsigned suspects =
            static_cast<unsigned>(_mm_movemask_epi8(suspectBytes(x, before, digits)));
        for (; suspects != 0; suspects &= suspects - 1)
            if (needsRepairAt(p + __builtin_ctz(suspects), text, end))
                return true;
    }
    for (; p < end; ++p)
        if (needsRepairAt(p, text, end))
            return true;
    return false;
}
#endif

} // namespace

bool repairJsonForReader(char* text, size_t length) {
    char* p = text;
    char* end = text + length;
    bool controls = false;
#if FM_GAP_BLOCKS
    const bool blocks = processorHasSse2();
    if (blocks && !mayNeedRepairSse2(text, end))
        return false;
#endif
    while (p < end) {
#if FM_GAP_BLOCKS
        if (blocks) {
            p = nextTokenSse2(p, end);
            if (p == end)
                break;
        }
#endif
        char c = *p;
        if (c == '"') {
            p = repairString(p + 1, end, &controls);
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            p = repairNumber(p, end);
        } else if (c == '/' && end - p >= 2 && p[1] == '/') {
            char* lineEnd = static_cast<char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            p = lineEnd != nullptr ? lineEnd : end;
        } else if (c == '/' && end - p >= 2 && p[1] == '*') {
            for (p += 2; p < end && !(*p == '*' && end - p >= 2 && p[1] == '/'); ++p) {
            }
            p = p < end ? p + 2 : end;
        } else {
            ++p;
        }
    }
    return controls;
}
