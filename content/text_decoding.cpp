// Character references, HTML descriptions to plain text, and short dates. Every function here works
// on pointer and length (or a zero-terminated text), never reads outside it, and writes at most as
// many bytes as it reads, so decoding can happen in place.
#include "content/text_decoding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Compares the n characters at p with the lower-case word, without regard to case; false when fewer
// than n characters remain before end.
inline bool matchNoCase(const char* p, const char* end, const char* word, size_t n) {
    if (static_cast<size_t>(end - p) < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(p[i]) != word[i])
            return false;
    return true;
}

// First position at or after p holding '&', CR, LF or tab, or end. The text between is copied
// unchanged by the decoder, so this scan is where decoding spends its time.
inline const char* findSpecial(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i amp = _mm_set1_epi8('&');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i tab = _mm_set1_epi8('\t');
    while (end - p >= 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, amp), _mm_cmpeq_epi8(x, cr)),
                                   _mm_or_si128(_mm_cmpeq_epi8(x, lf), _mm_cmpeq_epi8(x, tab)));
        int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#else
    const uint64_t ones = 0x0101010101010101ull;
    const uint64_t highs = 0x8080808080808080ull;
    while (end - p >= 8) {
        uint64_t x;
        std::memcpy(&x, p, 8);
        uint64_t a = x ^ (ones * '&'), b = x ^ (ones * '\r'), c = x ^ (ones * '\n'),
                 d = x ^ (ones * '\t');
        uint64_t zero =
            ((a - ones) & ~a) | ((b - ones) & ~b) | ((c - ones) & ~c) | ((d - ones) & ~d);
        if ((zero & highs) != 0)
            break;
        p += 8;
    }
#endif
    while (p < end && *p != '&' && *p != '\r' && *p != '\n' && *p != '\t')
        ++p;
    return p;
}

// Writes the character as UTF-8 and returns the bytes written (1 to 4).
size_t writeUtf8(char* out, uint32_t c) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

inline int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A numeric reference whose digits (or 'x' and hexadecimal digits) begin at p. Returns where
// scanning goes on, or null when there are no digits (then it is no reference at all). Characters
// below 20, surrogates and values beyond the Unicode range write nothing.
const char* decodeNumeric(const char* p, const char* end, char*& out) {
    const uint32_t tooLarge = 0x110000;
    uint32_t value = 0;
    const char* digits = p;
    const char* q;
    if (p < end && (*p == 'x' || *p == 'X')) {
        digits = q = p + 1;
        int v;
        while (q < end && (v = hexValue(*q)) >= 0) {
            value = value * 16 + static_cast<uint32_t>(v);
            if (value > tooLarge)
                value = tooLarge;
            ++q;
        }
    } else {
        q = p;
        while (q < end && isDigit(*q)) {
            value = value * 10 + static_cast<uint32_t>(*q - '0');
            if (value > tooLarge)
                value = tooLarge;
            ++q;
        }
    }
    if (q == digits)
        return nullptr;
    if (q < end && *q == ';')
        ++q;
    if (value >= 20 && value < 0x80)
        *out++ = static_cast<char>(value);
    else if (value >= 0x80 && value < tooLarge && (value < 0xD800 || value > 0xDFFF))
        out += writeUtf8(out, value);
    return q;
}

// Decodes the reference that starts with the '&' at p and returns where scanning goes on.
const char* decodeReference(const char* p, const char* end, char*& out) {
    auto advance = [end](const char* q, size_t n) {
        return static_cast<size_t>(end - q) < n ? end : q + n;
    };
    if (matchNoCase(p, end, "&amp;", 5)) {
        const char* after = p + 5;
        if (matchNoCase(after, end, "quot;", 5)) {
            *out++ = '"';
            return after + 5;
        }
        // The double-escaped '<' and '>': the character after the name (normally ';') is consumed.
        if (matchNoCase(after, end, "lt", 2)) {
            *out++ = '<';
            return advance(p, 8);
        }
        if (matchNoCase(after, end, "gt", 2)) {
            *out++ = '>';
            return advance(p, 8);
        }
        if (after < end && *after == '#') {
            if (const char* next = decodeNumeric(after + 1, end, out))
                return next;
        }
        *out++ = '&';
        return after;
    }
    if (matchNoCase(p, end, "&quot", 5)) {
        *out++ = '"';
        return advance(p, 6);
    }
    if (matchNoCase(p, end, "&#", 2)) {
        if (const char* next = decodeNumeric(p + 2, end, out))
            return next;
    } else if (matchNoCase(p, end, "&lt;", 4)) {
        *out++ = '<';
        return p + 4;
    } else if (matchNoCase(p, end, "&gt;", 4)) {
        *out++ = '>';
        return p + 4;
    } else if (matchNoCase(p, end, "&apos;", 6)) {
        *out++ = '\'';
        return p + 6;
    }
    *out++ = '&';
    return p + 1;
}

// The decoder behind decodeEntities. With asHtml, line breaks and tabs count as white space between
// words: a run of them (and of the blanks after them) becomes one blank, and none at the start.
// Returns the decoded length; sets ampersandLeft when an '&' stands in the result.
size_t decodeText(const char* source, size_t count, char* destination, bool asHtml,
                  bool* ampersandLeft) {
    const char* p = source;
    const char* end = source + count;
    char* out = destination;
    bool ampersand = false;
    while (p < end) {
        const char* special = findSpecial(p, end);
        if (special != p) {
            size_t n = static_cast<size_t>(special - p);
            if (out != p)
                std::memmove(out, p, n);
            out += n;
            p = special;
            if (p == end)
                break;
        }
        char c = *p;
        if (c == '&') {
            char* before = out;
            p = decodeReference(p, end, out);
            if (out != before && out[-1] == '&')
                ampersand = true;
        } else if (!asHtml) {
            if (c == '\t')
                *out++ = c;
            ++p;
        } else {
            if (out != destination && out[-1] != ' ' && out[-1] != '\t')
                *out++ = ' ';
            ++p;
            while (p < end && isBlank(*p))
                ++p;
        }
    }
    *out = '\0';
    if (ampersandLeft != nullptr)
        *ampersandLeft = ampersand;
    return static_cast<size_t>(out - destination);
}

// Tags after which a browser starts a new line or cell: removing them leaves a blank.
bool isBreakingTag(const char* name, size_t n) {
    static const char* const names[] = {"br", "p",  "div", "li", "h1",  "h2",    "h3",
                                        "h4", "h5", "h6",  "hr", "tr",  "td",    "th",
                                        "ul", "ol", "dd",  "dt", "pre", "table", "blockquote"};
    for (const char* candidate : names)
        if (std::strlen(candidate) == n && matchNoCase(name, name + n, candidate, n))
            return true;
    return false;
}

// Removes HTML tags and comments: a '<' followed by a letter, '/', '!' or '?' up to the next '>'
// (a comment up to its "-->"); an unterminated one runs to the end. Any other '<' is text.
// destination may be source itself. Returns the new length.
size_t removeTags(const char* source, size_t count, char* destination) {
    const char* p = source;
    const char* end = source + count;
    char* out = destination;
    bool afterTag = false;
    while (p < end) {
        const char* open =
            static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
        if (open == nullptr)
            open = end;
        // After a removed tag, blanks that would double the blank already written go too.
        if (afterTag && out != destination && isBlank(out[-1]))
            while (p < open && isBlank(*p))
                ++p;
        size_t n = static_cast<size_t>(open - p);
        if (out != p && n != 0)
            std::memmove(out, p, n);
        out += n;
        p = open;
        afterTag = false;
        if (p == end)
            break;
        char next = p + 1 < end ? p[1] : '\0';
        if (!(isLetter(next) || next == '/' || next == '!' || next == '?')) {
            *out++ = '<';
            ++p;
            continue;
        }
        const char* close;
        if (matchNoCase(p, end, "<!--", 4)) {
            close = p + 4;
            for (;;) {
                close = static_cast<const char*>(
                    std::memchr(close, '>', static_cast<size_t>(end - close)));
                if (close == nullptr || (close - p >= 6 && close[-1] == '-' && close[-2] == '-'))
                    break;
                ++close;
            }
        } else {
            close = static_cast<const char*>(std::memchr(p, '>', static_cast<size_t>(end - p)));
        }
        const char* name = p + (next == '/' ? 2 : 1);
        const char* nameEnd = name;
        while (nameEnd < end && (isLetter(*nameEnd) || isDigit(*nameEnd)))
            ++nameEnd;
        if (isBreakingTag(name, static_cast<size_t>(nameEnd - name)) && out != destination &&
            !isBlank(out[-1]))
            *out++ = ' ';
        p = close != nullptr ? close + 1 : end;
        afterTag = true;
    }
    *out = '\0';
    return static_cast<size_t>(out - destination);
}

struct NamedReference {
    const char* name;
    uint32_t character;
};

// The named references that descriptions commonly carry (names are case-sensitive in HTML).
const NamedReference namedReferences[] = {
    {"amp", '&'},      {"quot", '"'},     {"lt", '<'},        {"gt", '>'},
    {"apos", '\''},    {"nbsp", 0xA0},    {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019},  {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"sbquo", 0x201A}, {"bdquo", 0x201E},  {"laquo", 0xAB},
    {"raquo", 0xBB},   {"copy", 0xA9},    {"reg", 0xAE},      {"trade", 0x2122},
    {"euro", 0x20AC},  {"pound", 0xA3},   {"cent", 0xA2},     {"yen", 0xA5},
    {"sect", 0xA7},    {"para", 0xB6},    {"deg", 0xB0},      {"plusmn", 0xB1},
    {"times", 0xD7},   {"divide", 0xF7},  {"middot", 0xB7},   {"bull", 0x2022},
    {"iexcl", 0xA1},   {"iquest", 0xBF},  {"frac12", 0xBD},   {"frac14", 0xBC},
    {"frac34", 0xBE},  {"sup2", 0xB2},    {"sup3", 0xB3},     {"micro", 0xB5},
    {"ensp", 0x2002},  {"emsp", 0x2003},  {"thinsp", 0x2009}, {"dagger", 0x2020},
    {"prime", 0x2032}, {"larr", 0x2190},  {"rarr", 0x2192},   {"minus", 0x2212},
    {"agrave", 0xE0},  {"aacute", 0xE1},  {"acirc", 0xE2},    {"atilde", 0xE3},
    {"auml", 0xE4},    {"aring", 0xE5},   {"aelig", 0xE6},    {"ccedil", 0xE7},
    {"egrave", 0xE8},  {"eacute", 0xE9},  {"ecirc", 0xEA},    {"euml", 0xEB},
    {"igrave", 0xEC},  {"iacute", 0xED},  {"icirc", 0xEE},    {"iuml", 0xEF},
    {"ntilde", 0xF1},  {"ograve", 0xF2},  {"oacute", 0xF3},   {"ocirc", 0xF4},
    {"otilde", 0xF5},  {"ouml", 0xF6},    {"oslash", 0xF8},   {"ugrave", 0xF9},
    {"uacute", 0xFA},  {"ucirc", 0xFB},   {"uuml", 0xFC},     {"yacute", 0xFD},
    {"yuml", 0xFF},    {"szlig", 0xDF},   {"Agrave", 0xC0},   {"Aacute", 0xC1},
    {"Acirc", 0xC2},   {"Auml", 0xC4},    {"Aring", 0xC5},    {"Ccedil", 0xC7},
    {"Egrave", 0xC8},  {"Eacute", 0xC9},  {"Ecirc", 0xCA},    {"Ntilde", 0xD1},
    {"Oacute", 0xD3},  {"Ouml", 0xD6},    {"Oslash", 0xD8},   {"Uacute", 0xDA},
    {"Uuml", 0xDC},
};

// Replaces the named references left in text (in place) by their characters; every name is longer
// than its UTF-8 form, so the text never grows. Returns the new length.
size_t decodeNamedReferences(char* text, size_t count) {
    const char* p = text;
    const char* end = text + count;
    char* out = text;
    while (p < end) {
        const char* amp =
            static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
        if (amp == nullptr)
            amp = end;
        size_t n = static_cast<size_t>(amp - p);
        if (out != p && n != 0)
            std::memmove(out, p, n);
        out += n;
        p = amp;
        if (p == end)
            break;
        const char* name = p + 1;
        const char* nameEnd = name;
        while (nameEnd < end && nameEnd - name <= 6 && (isLetter(*nameEnd) || isDigit(*nameEnd)))
            ++nameEnd;
        size_t length = static_cast<size_t>(nameEnd - name);
        const NamedReference* found = nullptr;
        if (nameEnd < end && *nameEnd == ';' && length != 0) {
            for (const NamedReference& r : namedReferences)
                if (std::strncmp(r.name, name, length) == 0 && r.name[length] == '\0') {
                    found = &r;
                    break;
                }
        }
        if (found == nullptr) {
            *out++ = '&';
            ++p;
        } else {
            out += writeUtf8(out, found->character);
            p = nameEnd + 1;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - text);
}

// Drops blanks and tabs from both ends of text (length count), in place; returns the new length.
size_t trimBlanks(char* text, size_t count) {
    size_t start = 0;
    while (start < count && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    while (count > start && (text[count - 1] == ' ' || text[count - 1] == '\t'))
        --count;
    count -= start;
    if (start != 0)
        std::memmove(text, text + start, count);
    text[count] = '\0';
    return count;
}

} // namespace

void decodeEntities(const char* source, size_t count, char* destination) {
    decodeText(source, count, destination, false, nullptr);
}

size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata) {
    size_t length;
    bool ampersandLeft;
    if (fromCdata) {
        // The section holds HTML as it stands: its tags go first, then its references.
        length = removeTags(source, count, destination);
        length = decodeText(destination, length, destination, true, &ampersandLeft);
    } else {
        // Entity-escaped HTML: decoding reveals the tags, which then go.
        length = decodeText(source, count, destination, true, &ampersandLeft);
        if (std::memchr(destination, '<', length) != nullptr)
            length = removeTags(destination, length, destination);
    }
    if (ampersandLeft)
        length = decodeNamedReferences(destination, length);
    return trimBlanks(destination, length);
}

void descriptionToText(char* text, bool fromCdata) {
    if (text != nullptr)
        descriptionToText(text, std::strlen(text), text, fromCdata);
}

char* abbreviateDate(const char* date) {
    if (date == nullptr)
        return nullptr;
    size_t length = std::strlen(date);
    char* result = static_cast<char*>(std::malloc(length + 16));
    if (result == nullptr)
        return nullptr;
    const char* p = date;
    const char* end = date + length;
    char* out = result;
    auto copyTo = [&](char c) {
        while (p < end && *p != c)
            *out++ = *p++;
    };

    // The numeric form (2006-12-06T12:34:56) has its first '-' before the first ':'; an RFC 822
    // date may carry a '-' only in its zone, after the time.
    const char* dash = static_cast<const char*>(std::memchr(date, '-', length));
    const char* colon = static_cast<const char*>(std::memchr(date, ':', length));
    if (dash != nullptr && (colon == nullptr || dash < colon)) {
        p = dash + 1;
        copyTo('-'); // month
        if (p < end)
            ++p;
        *out++ = '/';
        while (p < end && *p != 'T' && *p != ' ') // day, ended by the 'T' or a blank
            *out++ = *p++;
        if (p < end)
            ++p;
        *out++ = ' ';
    } else {
        while (p < end && !isDigit(*p))
            ++p;
        int day = 0;
        if (p < end) {
            day = *p++ - '0';
            if (p < end && isDigit(*p))
                day = day * 10 + (*p++ - '0');
        }
        while (p < end && !(*p >= 'A' && *p <= 'Z'))
            ++p;
        int month = 0;
        static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
        if (end - p >= 3) {
            for (int m = 0; m < 12; ++m)
                if (std::memcmp(p, months + 3 * m, 3) == 0) {
                    month = m + 1;
                    break;
                }
        }
        while (p < end && !isDigit(*p))
            ++p;
        while (p < end && isDigit(*p)) // the year, two digits or four
            ++p;
        out += std::snprintf(out, 8, "%02d/%02d", month, day);
    }
    copyTo(':'); // hour
    if (p < end)
        ++p;
    *out++ = ':';
    // Minutes: their digits only, so that a zone written right after them (no seconds) is dropped.
    while (p < end && isDigit(*p))
        *out++ = *p++;
    *out = '\0';
    return result;
}
