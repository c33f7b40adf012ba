// JSON that RapidJSON refuses but other JSON readers read: each fault is rewritten in the bytes it
// takes, so that nothing moves, just before the reader comes to it (see JsonRepairStream).
#include "content/json_repair.h"

#include <cstring>

#include "content/byte_scan.h"

#if defined(__i386__) || defined(__x86_64__)
#define FM_RUN_BLOCKS 1
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

// Whether a byte of a string stands for itself: no quote, backslash or control character.
inline bool isPlain(char c) {
    return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20;
}

} // namespace

void repairJsonEscape(char* p, JsonRepairs* repairs) {
    char* end = repairs->end;
    if (end - p >= 2 && (p[1] == 'b' || p[1] == 'f'))
        repairs->controls = true;
    long unit = escapedUnit(p, end);
    if (unit >= 0 && unit < 0x20 && unit != '\t' && unit != '\n' && unit != '\r')
        repairs->controls = true;
    if (unit < 0xD800 || unit > 0xDFFF)
        return;
    long low = unit <= 0xDBFF ? escapedUnit(p + 6, end) : -1;
    if (low < 0xDC00 || low > 0xDFFF) // else a whole pair, which the reader decodes at once
        std::memcpy(p + 2, "fffd", 4);
}

// More than 300 digits before the point, or an exponent above 300: generous, a real feed's
// numbers are far smaller.
void repairJsonNumber(char* p, char* end) {
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
}

#if FM_RUN_BLOCKS
namespace {

// The quotes, backslashes and control characters of a block, one bit a byte.
FM_SSE2 inline unsigned specialBytes(__m128i x) {
    const __m128i control = _mm_set1_epi8(0x1F);
    __m128i special =
        _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('"')), _mm_cmpeq_epi8(x, _mm_set1_epi8('\\')));
    special = _mm_or_si128(special, _mm_cmpeq_epi8(_mm_max_epu8(x, control), control));
    return static_cast<unsigned>(_mm_movemask_epi8(special));
}

// The plain run from p, 16 bytes at a time while a whole block lies before end, moved to *to
// when that is not p. Returns where the blocks stopped: at the run's end, or before the last 15
// bytes of the document, which the byte loop finishes.
FM_SSE2 char* passRunSse2(char* p, char* end, char** to) {
    char* out = *to;
    if (out == p) {
        for (; end - p >= 16; p += 16) {
            unsigned special = specialBytes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
            if (special != 0) {
                p += __builtin_ctz(special);
                break;
            }
        }
        *to = p;
        return p;
    }
    for (; end - p >= 16; p += 16, out += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned special = specialBytes(x);
        if (special != 0) {
            // Only the plain bytes move: a whole block stored would overwrite bytes ahead of p
            // that are still to be read.
            size_t n = static_cast<size_t>(__builtin_ctz(special));
            std::memmove(out, p, n);
            *to = out + n;
            return p + n;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x); // all of it read before
    }
    *to = out;
    return p;
}

} // namespace
#endif

void readJsonStringRun(JsonRepairStream& is) {
    // The pointers are kept in locals: a character stored through one could be the stream itself
    // as far as the compiler knows, which would have it store and load them again every byte.
    char* p = is.src_;
    char* to = is.dst_;
#if FM_RUN_BLOCKS
    if (processorHasSse2())
        p = passRunSse2(p, is.repairs->end, &to);
#endif
    if (to == p) { // nothing escaped so far: the run stands where it is
        while (isPlain(*p))
            ++p;
        to = p;
    } else {
        while (isPlain(*p))
            *to++ = *p++;
    }
    is.src_ = p;
    is.dst_ = to;
    if (*p == '\\')
        repairJsonEscape(p, is.repairs);
}
