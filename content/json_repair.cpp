// JSON that RapidJSON refuses but other JSON readers read: each fault is rewritten in the bytes it
// takes, so that nothing moves, just before the reader comes to it (see JsonRepairStream).
#include "content/json_repair.h"

#include <cstring>

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

void readJsonStringRun(JsonRepairStream& is) {
    // The pointers are kept in locals: a character stored through one could be the stream itself
    // as far as the compiler knows, which would have it store and load them again every byte.
    char* p = is.src_;
    char* to = is.dst_;
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
