// Character references and HTML descriptions to plain text. Every function here works
// on pointer and length (or a zero-terminated text), never reads outside it, and writes at most as
// many bytes as it reads, so decoding can happen in place. The parser runs every text it keeps
// through this code, so the loops copy runs of ordinary bytes a block at a time and handle each
// special byte with direct comparisons, without calls per byte.
#include "content/text_decoding.h"

#include "content/byte_scan.h"
#include "content/html_entities.h"
#include "content/utf8.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

// The block loops use SSE2 where the compiler may assume it (x86-64), and in the second copy of
// this file that text_decoding_sse2.cpp compiles for 32-bit processors that have it; the public
// functions at the end pick that copy when the processor has SSE2.
// FM_NO_BLOCKS (a test build) takes the portable loops on x86-64 too.
#if (defined(__SSE2__) && !defined(FM_NO_BLOCKS)) || defined(FM_TEXT_DECODING_SSE2)
#define FM_BLOCKS 1
#include <emmintrin.h>
#endif
#if !defined(FM_TEXT_DECODING_SSE2) && defined(__i386__) && !defined(__SSE2__) &&                  \
    defined(__GNUC__) && !defined(__clang__) && !defined(FM_GENERAL_STEPS_ONLY)
#define FM_PICK_SSE2_COPY 1
#endif
// FM_GENERAL_STEPS_ONLY (a test build) leaves out the fast steps for the usual tags and
// references, so that a test can hold them to the general steps' results.
#if defined(FM_GENERAL_STEPS_ONLY)
#define FM_FAST_STEPS 0
#else
#define FM_FAST_STEPS 1
#endif
#if defined(FM_TEXT_DECODING_SSE2)
#define FM_DECODING_COPY textDecodingSse2
#else
#define FM_DECODING_COPY textDecodingPlain
#endif

namespace FM_DECODING_COPY {
namespace {

// The reference decoder sits in the innermost loops; the compilers are told to inline it there.
// What is rare stays out of the conversion's loop (FM_OUT_OF_LOOP), so that the loop is small
// enough for its own state to stay in registers.
#if defined(__GNUC__)
#define FM_ALWAYS_INLINE inline __attribute__((always_inline))
#define FM_OUT_OF_LOOP __attribute__((noinline))
#else
#define FM_ALWAYS_INLINE inline
#define FM_OUT_OF_LOOP
#endif

// Where a step of the conversion leaves the input and the output. Handed back by value: an output
// position whose address a call takes would live in memory, and every byte written would wait for
// it to be stored and read back.
struct Step {
    const char* p;
    char* out;
};

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

// The bytes that end a run of plain text: '&', '<' where tags are removed (otherwise '&' stands in
// for it), and every byte up to '\r': the white space that HTML folds, found by one comparison
// together with the control characters around it, which the loops then copy as they stand.
struct Specials {
    char c[2];
};
const Specials referenceSpecials = {{'&', '&'}};
const Specials htmlSpecials = {{'&', '<'}};
const unsigned char lastLowSpecial = '\r';

inline bool isSpecial(char c, const Specials& s) {
    return c == s.c[0] || c == s.c[1] || static_cast<unsigned char>(c) <= lastLowSpecial;
}
// Whether a low special byte is white space that folds (a tab, a line break), not another control
// character.
inline bool isFoldedSpace(char c) {
    return c == '\t' || c == '\n' || c == '\r';
}

#if FM_BLOCKS
// Moves n bytes (fewer than 16) from p to out, which may overlap: both ends are read before
// anything is written, in at most two moves of 8, 4 or 2 bytes (a call of the runtime's memmove
// costs more than such a run).
template <typename Word> inline void moveEnds(char* out, const char* p, size_t n) {
    Word first, last;
    std::memcpy(&first, p, sizeof first);
    std::memcpy(&last, p + n - sizeof last, sizeof last);
    std::memcpy(out, &first, sizeof first);
    std::memcpy(out + n - sizeof last, &last, sizeof last);
}
inline void moveShort(char* out, const char* p, size_t n) {
    if (n >= 8)
        moveEnds<uint64_t>(out, p, n);
    else if (n >= 4)
        moveEnds<uint32_t>(out, p, n);
    else if (n >= 2)
        moveEnds<uint16_t>(out, p, n);
    else if (n == 1)
        *out = *p;
}
#endif

// Copies the bytes from p up to the first special one (or end) to out and returns that position;
// out moves on by as many bytes. out never stands after p; a block store is used where it cannot
// overwrite source bytes not yet read (out is in another buffer, or at least a block behind p).
inline const char* copyRun(const char* start, const char* p, const char* end, char*& out,
                           const Specials& s, bool separate) {
#if FM_BLOCKS
    const __m128i s0 = _mm_set1_epi8(s.c[0]), s1 = _mm_set1_epi8(s.c[1]),
                  low = _mm_set1_epi8(static_cast<char>(lastLowSpecial));
    while (end - p >= 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, s0), _mm_cmpeq_epi8(x, s1)),
                                   _mm_cmpeq_epi8(_mm_min_epu8(x, low), x));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        size_t n = mask != 0 ? static_cast<size_t>(__builtin_ctz(mask)) : 16;
        if (out != p) {
            if (separate || p - out >= 16) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
            } else {
                for (size_t i = 0; i < n; ++i) // forward: out stands before p
                    out[i] = p[i];
            }
        }
        out += n;
        p += n;
        if (mask != 0)
            return p;
    }
    // The last bytes: the block that ends at end, read from where the text allows it, its bytes
    // before p left out.
    if (p < end && end - start >= 16) {
        const char* block = end - 16;
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, s0), _mm_cmpeq_epi8(x, s1)),
                                   _mm_cmpeq_epi8(_mm_min_epu8(x, low), x));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)) >> (p - block);
        size_t n =
            mask != 0 ? static_cast<size_t>(__builtin_ctz(mask)) : static_cast<size_t>(end - p);
        if (out != p)
            moveShort(out, p, n); // out stands before p
        out += n;
        return p + n;
    }
#else
    (void)start;
    (void)separate;
#endif
    while (p < end && !isSpecial(*p, s))
        *out++ = *p++;
    return p;
}

// The first c at or after p, or end. Markup and the text between it are mostly short, so the
// search is inline a block at a time; without blocks it is byte_scan.h's word-at-a-time one.
inline const char* findByte(const char* p, const char* end, char c) {
#if FM_BLOCKS
    const __m128i wanted = _mm_set1_epi8(c);
    for (; end - p >= 16; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, wanted)));
        if (mask != 0)
            return p + __builtin_ctz(mask);
    }
    while (p < end && *p != c)
        ++p;
    return p;
#else
    return findByteBeforeWordwise(p, end, c);
#endif
}

inline int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The characters that references 128 to 159 name, as browsers read them: windows-1252's (old
// feeds write "&#146;" for an apostrophe); 0 for the five that windows-1252 leaves undefined.
const uint16_t windows1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

const uint32_t replacementCharacter = 0xFFFD;

// Writes the character a numeric reference names: 128 to 159 through windows-1252, a tab or line
// break as a blank, no other control character below 32 (NUL, a lone surrogate, an undefined
// windows-1252 one and values beyond Unicode as U+FFFD). At most 4 bytes, and never more than the
// reference's own length (3 bytes at least: "&#0").
FM_ALWAYS_INLINE void writeReferenced(uint32_t value, char*& out) {
    if (value >= 0xA0) {
        if ((value >= 0xD800 && value <= 0xDFFF) || value >= 0x110000)
            value = replacementCharacter;
        out += writeUtf8(out, value);
    } else if (value >= 0x80) {
        uint32_t c = windows1252[value - 0x80];
        out += writeUtf8(out, c != 0 ? c : replacementCharacter);
    } else if (value >= 0x20) {
        *out++ = static_cast<char>(value);
    } else if (value == '\t' || value == '\n' || value == '\r') {
        *out++ = ' ';
    } else if (value == 0) {
        out += writeUtf8(out, replacementCharacter);
    }
}

// Reads the digits of a numeric reference (or 'x' and hexadecimal digits) that begin at p into
// *value (values beyond Unicode stop growing at 0x110000). Returns where scanning goes on (past
// the ';' when there is one), or null when there are no digits (then it is no reference at all).
FM_ALWAYS_INLINE const char* readNumeric(const char* p, const char* end, uint32_t* value) {
    const uint32_t tooLarge = 0x110000;
    uint32_t v = 0;
    const char* digits = p;
    const char* q;
    if (p < end && (*p == 'x' || *p == 'X')) {
        digits = q = p + 1;
        int h;
        while (q < end && (h = hexValue(*q)) >= 0) {
            v = v * 16 + static_cast<uint32_t>(h);
            if (v > tooLarge)
                v = tooLarge;
            ++q;
        }
    } else {
        q = p;
        while (q < end && isDigit(*q)) {
            v = v * 10 + static_cast<uint32_t>(*q - '0');
            if (v > tooLarge)
                v = tooLarge;
            ++q;
        }
    }
    if (q == digits)
        return nullptr;
    if (q < end && *q == ';')
        ++q;
    *value = v;
    return q;
}

// A numeric reference whose digits begin at p, written as writeReferenced does. A high surrogate
// followed by a reference to a low one (a character beyond the first plane written as two
// references, also double-escaped) is that one character. Returns where scanning goes on, or
// null when there are no digits.
FM_ALWAYS_INLINE const char* decodeNumeric(const char* p, const char* end, char*& out) {
    uint32_t value;
    const char* next = readNumeric(p, end, &value);
    if (next == nullptr)
        return nullptr;
    if (value >= 0xD800 && value <= 0xDBFF && end - next >= 3 && next[0] == '&') {
        const char* low = next[1] == '#' ? next + 2 : nullptr;
        if (low == nullptr && matchNoCase(next, end, "&amp;#", 6))
            low = next + 6;
        uint32_t lowValue;
        const char* after = low != nullptr ? readNumeric(low, end, &lowValue) : nullptr;
        if (after != nullptr && lowValue >= 0xDC00 && lowValue <= 0xDFFF) {
            out += writeUtf8(out, 0x10000 + ((value - 0xD800) << 10) + (lowValue - 0xDC00));
            return after;
        }
    }
    writeReferenced(value, out);
    return next;
}

// Decodes the XML reference that starts with the '&' at p (as decodeEntities describes) and returns
// where scanning goes on. Named ones need their ';': "&quotation" and "M&amp;Ltd" keep their
// letters.
FM_ALWAYS_INLINE const char* decodeReference(const char* p, const char* end, char*& out) {
    size_t left = static_cast<size_t>(end - p);
    switch (left > 1 ? lowerAscii(p[1]) : '\0') {
    case 'a':
        if (left >= 5 && (p[2] | 0x20) == 'm' && (p[3] | 0x20) == 'p' && p[4] == ';') {
            const char* after = p + 5;
            size_t rest = left - 5;
            if (rest >= 1) {
                char c = lowerAscii(after[0]);
                if (c == 'q' && matchNoCase(after, end, "quot;", 5)) {
                    *out++ = '"';
                    return after + 5;
                }
                // The double-escaped '<' and '>'.
                if ((c == 'l' || c == 'g') && rest >= 3 && lowerAscii(after[1]) == 't' &&
                    after[2] == ';') {
                    *out++ = c == 'l' ? '<' : '>';
                    return after + 3;
                }
                if (c == '#') {
                    if (const char* next = decodeNumeric(after + 1, end, out))
                        return next;
                }
            }
            *out++ = '&';
            return after;
        }
        if (matchNoCase(p, end, "&apos;", 6)) {
            *out++ = '\'';
            return p + 6;
        }
        break;
    case 'q':
        if (matchNoCase(p, end, "&quot;", 6)) {
            *out++ = '"';
            return p + 6;
        }
        break;
    case '#':
        if (const char* next = decodeNumeric(p + 2, end, out))
            return next;
        break;
    case 'l':
        if (left >= 4 && (p[2] | 0x20) == 't' && p[3] == ';') {
            *out++ = '<';
            return p + 4;
        }
        break;
    case 'g':
        if (left >= 4 && (p[2] | 0x20) == 't' && p[3] == ';') {
            *out++ = '>';
            return p + 4;
        }
        break;
    default:
        break;
    }
    *out++ = '&';
    return p + 1;
}

// Writes the characters of the named reference whose name starts at p (right after an '&') and
// returns where scanning goes on, or null when there is no known reference there. The characters
// are never longer than the reference, so out may stand at its '&'.
inline const char* decodeNamed(const char* p, const char* end, char*& out) {
    const HtmlEntity* entity;
    size_t consumed = findHtmlEntity(p, end, &entity);
    if (consumed == 0)
        return nullptr;
    std::memcpy(out, entity->utf8, entity->utf8Length);
    out += entity->utf8Length;
    return p + consumed;
}

// Where the reference to '&' at p ends: "&amp;" or a numeric one ("&#38;", "&#x26;"), which to
// XML are the same character; null when there is none at p.
FM_ALWAYS_INLINE const char* afterAmpersandReference(const char* p, const char* end) {
    if (matchNoCase(p, end, "&amp;", 5))
        return p + 5;
    uint32_t value;
    const char* next;
    if (end - p >= 4 && p[1] == '#' && (next = readNumeric(p + 2, end, &value)) != nullptr &&
        value == '&')
        return next;
    return nullptr;
}

// After a reference that decoded to '&' and ended at p: a numeric or named reference right after
// it is decoded too (it was escaped once more), as with "&amp;"; else the '&' stays.
FM_ALWAYS_INLINE const char* decodeEscapedReference(const char* p, const char* end, char*& out) {
    if (p < end && *p == '#') {
        if (const char* next = decodeNumeric(p + 1, end, out))
            return next;
    }
    if (const char* next = decodeNamed(p, end, out))
        return next;
    *out++ = '&';
    return p;
}

// Decodes the reference of a description at the '&' at p and returns where scanning goes on:
// numeric references, every named HTML reference, and a reference to '&' ("&amp;", "&#38;") that
// escapes one more reference (double-escaped HTML, "&amp;lt;" or "&#38;#8217;"). An '&' that
// starts none stays.
FM_ALWAYS_INLINE const char* decodeHtmlReference(const char* p, const char* end, char*& out) {
    const char* name = p + 1;
    if (const char* after = afterAmpersandReference(p, end))
        return decodeEscapedReference(after, end, out);
    if (name < end && *name == '#') {
        if (const char* next = decodeNumeric(name + 1, end, out))
            return next;
        *out++ = '&';
        return name;
    }
    if (const char* next = decodeNamed(name, end, out))
        return next;
    *out++ = '&';
    return name;
}

// The single byte that the reference at p decodes to, or 0 when it decodes to none or to more;
// *next is set to where scanning goes on after it.
inline char decodedByte(const char* p, const char* end, const char** next) {
    char decoded[16];
    char* d = decoded;
    *next = decodeHtmlReference(p, end, d);
    return d == decoded + 1 ? decoded[0] : '\0';
}

// Folds a run of white space (at least the byte at p) into one blank, none at the start of the
// text or after a blank or paragraph break; returns the position after the run.
inline const char* foldWhiteSpace(const char* p, const char* end, char* destination, char*& out) {
    if (out != destination && out[-1] != ' ' && out[-1] != '\n')
        *out++ = ' ';
    ++p;
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

// The decoder behind decodeEntities: references decoded, CR and LF dropped.
size_t decodeText(const char* source, size_t count, char* destination) {
    const char* p = source;
    const char* end = source + count;
    char* out = destination;
    bool separate = destination + count <= source || source + count <= destination;
    while (p < end) {
        p = copyRun(source, p, end, out, referenceSpecials, separate);
        if (p == end)
            break;
        char c = *p;
        if (c == '&') {
            p = decodeReference(p, end, out);
        } else {
            if (c == '\t' || !isFoldedSpace(c))
                *out++ = c; // a tab stays, CR and LF go, other control characters stay
            ++p;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - destination);
}

// Byte classes looked up in one step: a chain of comparisons costs a mispredicted branch whenever
// the class of the next byte differs from the last one's ("<b>", then "</b>").
struct ByteClasses {
    bool startsTag[256]; // a letter, '/', '!' or '?': a '<' before it starts a tag
};
constexpr ByteClasses makeByteClasses() {
    ByteClasses classes{};
    for (int c = 0; c < 256; ++c)
        classes.startsTag[c] =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '/' || c == '!' || c == '?';
    return classes;
}
constexpr ByteClasses byteClasses = makeByteClasses();

inline bool startsTag(char c) {
    return byteClasses.startsTag[static_cast<unsigned char>(c)];
}

// The names of one or two characters that break the line, as bits of a word per first letter:
// bit 0 for the letter alone ("p"), bit (second letter & 31) for a second letter, bit 27 + d for
// a second character that is the digit d ("h1" to "h6"). This is that bit for the second byte b.
constexpr uint64_t shortBreakingName(char b) {
    return b == 0 ? 1ull : (b >= '0' && b <= '9') ? 1ull << (27 + (b - '0')) : 1ull << (b & 31);
}
// The names of cells and terms ("td", "dt": their second letters are d, h and t) break the line
// but not the paragraph: they have that bit once more, cellShift higher (no name's bit reaches it).
constexpr int cellShift = 40;
struct ShortBreakingNames {
    uint64_t bits[32]; // by the first letter & 31
};
constexpr ShortBreakingNames makeShortBreakingNames() {
    const char* const names[] = {"p",  "h1", "h2", "h3", "h4", "h5", "h6", "hr", "br",
                                 "li", "tr", "td", "th", "ul", "ol", "dd", "dt"};
    ShortBreakingNames table{};
    for (const char* name : names) {
        uint64_t bit = shortBreakingName(name[1]);
        bool cell = (name[0] == 't' && name[1] != 'r') || name[0] == 'd';
        table.bits[name[0] & 31] |= bit | (cell ? bit << cellShift : 0);
    }
    return table;
}
constexpr ShortBreakingNames shortBreakingNames = makeShortBreakingNames();

// How removing a tag separates the text around it: the byte written in its place, if any.
enum Breaking : unsigned char {
    Inline = 0,       // not at all ("<b>", "<a href=...>")
    Blank = ' ',      // by a blank: a new cell or term ("<td>", "<dt>")
    Paragraph = '\n', // by a paragraph break: a block begins or ends, or a line breaks
};

// How the tag named name (n bytes of letters and digits) breaks the text. The name is most often
// one or two letters, answered by the table above.
FM_ALWAYS_INLINE Breaking breakingOf(const char* name, size_t n) {
    if (n - 1 < 2) {
        char a = name[0], b = n == 2 ? lowerAscii(name[1]) : '\0';
        if (!isLetter(a))
            return Inline;
        uint64_t bit = shortBreakingName(b), word = shortBreakingNames.bits[a & 31];
        return static_cast<Breaking>(Paragraph * ((word & bit) != 0) +
                                     (Blank - Paragraph) * (((word >> cellShift) & bit) != 0));
    }
    switch (n) {
    case 3:
        return matchNoCase(name, name + n, "div", 3) || matchNoCase(name, name + n, "pre", 3)
                   ? Paragraph
                   : Inline;
    case 5:
        return matchNoCase(name, name + n, "table", 5) ? Paragraph : Inline;
    case 10:
        return matchNoCase(name, name + n, "blockquote", 10) ? Paragraph : Inline;
    default:
        return Inline;
    }
}

// After a removed tag: a tag that breaks the line leaves a blank or a paragraph break, and blanks
// that would double the separator already written are skipped. A paragraph break takes the place
// of the blanks right before it. Returns where scanning goes on.
// Whether a separator is written depends on the tag, which changes from tag to tag: it is written
// without a branch (out stands before the tag's '<', so the byte at out is free).
FM_ALWAYS_INLINE const char* endTag(const char* p, const char* end, char* destination, char*& out,
                                    Breaking breaking) {
    char last = out != destination ? out[-1] : '\n';
    if (breaking == Paragraph && last == ' ') {
        while (out != destination && out[-1] == ' ')
            --out;
        last = out != destination ? out[-1] : '\n';
    }
    bool afterBlank = last == ' ' || last == '\n';
    *out = static_cast<char>(breaking);
    out += breaking != Inline && !afterBlank;
    if (breaking != Inline || afterBlank)
        while (p < end && isBlank(*p))
            ++p;
    return p;
}

// The element's own name in a tag name that starts at p, past a namespace prefix: XHTML written
// with one ("<xhtml:div>", as Atom's xhtml content may be) is the same HTML.
inline const char* afterPrefix(const char* p, const char* end) {
    const char* q = p;
    while (q < end && (isLetter(*q) || isDigit(*q) || *q == '-' || *q == '_' || *q == '.'))
        ++q;
    return q != p && q < end && *q == ':' ? q + 1 : p;
}

// The element's own name in the tag name that starts at p (past a prefix): its start, and in
// *length the letters and digits it begins with. Most names are letters alone, so the prefix is
// looked for only when the first run of them stops at a byte a prefix may hold.
// The letters and digits from p up to end; most names are shorter than a block, and are measured
// without a loop whose end the processor would have to guess.
#if FM_BLOCKS
// The bytes of a block that are letters or digits, as a mask of 16 bits.
inline unsigned lettersAndDigits(__m128i x) {
    __m128i letter = _mm_sub_epi8(_mm_or_si128(x, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(25)), letter);
    __m128i digit = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit)));
}
#endif

inline const char* afterLettersAndDigits(const char* p, const char* end) {
#if FM_BLOCKS
    if (end - p >= 16) {
        unsigned other = ~lettersAndDigits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if ((other & 0xFFFF) != 0)
            return p + __builtin_ctz(other);
        p += 16;
    }
#endif
    while (p < end && (isLetter(*p) || isDigit(*p)))
        ++p;
    return p;
}

inline const char* localTagName(const char* p, const char* end, size_t* length) {
    const char* q = afterLettersAndDigits(p, end);
    if (q < end && (*q == ':' || *q == '-' || *q == '_' || *q == '.')) {
        const char* name = afterPrefix(p, end);
        if (name != p) {
            for (q = name; q < end && (isLetter(*q) || isDigit(*q));)
                ++q;
            *length = static_cast<size_t>(q - name);
            return name;
        }
    }
    *length = static_cast<size_t>(q - p);
    return p;
}

// What a tag's name (starting at p, after '<') tells, read in one scan: whether removing the tag
// breaks the line, and whether it opens an element whose contents are no text (script and style:
// hidden is the name's length, else 0).
struct TagKind {
    Breaking breaking;
    size_t hidden;
};

FM_ALWAYS_INLINE TagKind tagKind(const char* p, const char* end) {
    bool closing = p < end && *p == '/';
    size_t n;
    const char* name = localTagName(p + (closing ? 1 : 0), end, &n);
    TagKind kind{breakingOf(name, n), 0};
    if (!closing && n - 5 < 2 && (*name | 0x20) == 's' &&
        matchNoCase(name, end, n == 6 ? "script" : "style", n))
        kind.hidden = n;
    return kind;
}

// Where the contents of a script or style element (n: the length of its name) that start at p
// end: after its closing tag ("</script>", or escaped "&lt;/script&gt;"), or at end without one.
inline const char* afterHiddenElement(const char* p, const char* end, size_t n, bool escaped) {
    const char* name = n == 6 ? "script" : "style";
    for (;;) {
        p = findByte(p, end, escaped ? '&' : '<');
        if (p == end)
            return end;
        const char* q = escaped ? (matchNoCase(p, end, "&lt;/", 5) ? p + 5 : nullptr)
                                : (end - p >= 2 && p[1] == '/' ? p + 2 : nullptr);
        if (q != nullptr)
            q = afterPrefix(q, end);
        if (q != nullptr && matchNoCase(q, end, name, n)) {
            q += n;
            if (!escaped) {
                q = findByte(q, end, '>');
                return q != end ? q + 1 : end;
            }
            for (; q < end; ++q)
                if (matchNoCase(q, end, "&gt;", 4))
                    return q + 4;
            return end;
        }
        ++p;
    }
}

// Skips the tag or comment whose '<' is at p: a comment up to its "-->", anything else up to the
// next '>'; an unterminated one runs to the end. A script or style element goes whole.
inline const char* skipTag(const char* p, const char* end, char* destination, char*& out) {
    const char* close;
    Breaking breaking = Inline;
    if (p + 1 < end && p[1] == '!' && matchNoCase(p, end, "<!--", 4)) {
        close = p + 4;
        for (;;) {
            close = findByte(close, end, '>');
            if (close == end || (close - p >= 6 && close[-1] == '-' && close[-2] == '-'))
                break;
            ++close;
        }
    } else {
        close = findByte(p, end, '>');
        TagKind kind = tagKind(p + 1, end);
        breaking = kind.breaking;
        if (kind.hidden != 0 && close != end && close[-1] != '/')
            close = afterHiddenElement(close + 1, end, kind.hidden, false) - 1;
    }
    return endTag(close != end ? close + 1 : end, end, destination, out, breaking);
}

// The first '&' or '>' at or after p, or end.
inline const char* findAmpersandOrGreater(const char* p, const char* end) {
#if FM_BLOCKS
    const __m128i amp = _mm_set1_epi8('&'), gt = _mm_set1_epi8('>');
    while (end - p >= 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, amp), _mm_cmpeq_epi8(x, gt))));
        if (mask != 0)
            return p + __builtin_ctz(mask);
        p += 16;
    }
#endif
    while (p < end && *p != '&' && *p != '>')
        ++p;
    return p;
}

// What the name of an escaped tag that starts at p tells (see tagKind). Its first characters (the
// '/' of a closing tag, a letter) may themselves be references: they are decoded into a small
// buffer, as long as the longest breaking name; a name begun so opens no script or style.
inline TagKind escapedTagKind(const char* p, const char* end) {
    if (p == end || *p != '&')
        return tagKind(p, end);
    char name[12];
    size_t n = 0;
    while (p < end) {
        const char* next = p + 1;
        char c = *p == '&' ? decodedByte(p, end, &next) : *p;
        if (!(isLetter(c) || isDigit(c) || (c == '/' && n == 0)))
            break;
        if (n == sizeof name)
            return TagKind{Inline, 0}; // longer than any tag that breaks the line
        name[n++] = c;
        p = next;
    }
    return TagKind{tagKind(name, name + n).breaking, 0};
}

// Whether a tag starts at p, right after an escaped '<': a letter, '/', '!' or '?', written as it
// is or as a reference ("&lt;&#x2F;p&gt;").
inline bool startsEscapedTag(const char* p, const char* end) {
    if (p == end)
        return false;
    if (*p != '&')
        return startsTag(*p);
    const char* next;
    return startsTag(decodedByte(p, end, &next));
}

// Skips a tag of entity-escaped HTML whose '<' was a reference that ended right before p: the tag
// ends at the first '>' that the text decodes to (a comment at the first one after "--").
FM_OUT_OF_LOOP Step skipEscapedTag(const char* p, const char* end, char* destination, char* out) {
    // The commonest escaped tags are a name written out and the tag's end right after it, perhaps
    // after " /" ("&lt;b&gt;", "&lt;/p&gt;", "&lt;br /&gt;"): those are read here in one step.
    if (p < end && *p != '&' && *p != '!') {
        bool closing = *p == '/';
        const char* name = p + (closing ? 1 : 0);
        const char* nameEnd = afterLettersAndDigits(name, end);
        const char* q = nameEnd;
        if (end - q >= 2 && q[0] == ' ' && q[1] == '/')
            q += 2;
        else if (q < end && q[0] == '/')
            q += 1;
        bool selfClosing = q != nameEnd;
        if (nameEnd != name && end - q >= 4 && q[0] == '&' && q[1] == 'g' && q[2] == 't' &&
            q[3] == ';') {
            size_t n = static_cast<size_t>(nameEnd - name);
            const char* next = q + 4;
            if (!closing && !selfClosing && n - 5 < 2 && (*name | 0x20) == 's' &&
                matchNoCase(name, end, n == 6 ? "script" : "style", n))
                next = afterHiddenElement(next, end, n, true);
            next = endTag(next, end, destination, out, breakingOf(name, n));
            return Step{next, out};
        }
    }
    bool comment = p < end && *p == '!' && matchNoCase(p, end, "!--", 3);
    TagKind kind = comment ? TagKind{Inline, 0} : escapedTagKind(p, end);
    const char* q = comment ? p + 3 : p;
    char last = '\0', beforeLast = '\0'; // for a comment, the two characters before, as decoded
    while (q < end) {
        if (!comment)
            q = findAmpersandOrGreater(q, end);
        if (q == end)
            break;
        char c = *q;
        const char* next = q + 1;
        if (c == '&') {
            char n = end - q >= 2 ? q[1] : '\0';
            if (end - q >= 4 && n == 'g' && q[2] == 't' && q[3] == ';') {
                c = '>'; // the usual end of an escaped tag, read without the general decoder
                next = q + 4;
            } else if (n == 'g' || n == 'G' || n == '#' ||
                       (matchNoCase(q, end, "&amp;", 5) && end - q > 5 &&
                        (q[5] == 'g' || q[5] == 'G' || q[5] == '#'))) {
                c = decodedByte(q, end, &next); // only these can stand for '>'
            } else {
                c = '\0'; // a name of letters and digits follows: nothing here ends the tag
            }
        }
        if (c == '>' && (!comment || (last == '-' && beforeLast == '-'))) {
            if (kind.hidden != 0 && last != '/')
                next = afterHiddenElement(next, end, kind.hidden, true);
            next = endTag(next, end, destination, out, kind.breaking);
            return Step{next, out};
        }
        beforeLast = last;
        last = c;
        q = next;
    }
    return Step{end, out};
}

// A reference that usualReference does not read (in a build without the fast steps, every one),
// as decodeHtmlReference reads it: numeric ones ("&#38;" escapes the reference after it, as
// "&amp;" does), named ones, double-escaped ones.
FM_OUT_OF_LOOP Step otherReference(const char* p, const char* end, char* out) {
    char* before = out;
    if (end - p >= 3 && p[1] == '#' && isDigit(p[2])) {
        p = decodeNumeric(p + 2, end, out);
        if (out == before + 1 && *before == '&') {
            out = before; // "&#38;" is "&amp;": it escapes the reference after it
            p = decodeEscapedReference(p, end, out);
        }
    } else {
        p = decodeHtmlReference(p, end, out);
    }
    return Step{p, out};
}

// The first byte at or after p that may end an escaped tag, or end: a '>', or an '&' followed by
// 'g', 'G', '#' (a reference to '>') or 'a', 'A' (an "&amp;" that may escape one). The '&'s of
// other references ("&quot;" around an attribute's value) are passed over.
inline const char* findTagEndCandidate(const char* p, const char* end) {
#if FM_BLOCKS
    const __m128i amp = _mm_set1_epi8('&'), greater = _mm_set1_epi8('>'),
                  lowerG = _mm_set1_epi8('g'), lowerA = _mm_set1_epi8('a'),
                  hash = _mm_set1_epi8('#'), caseBit = _mm_set1_epi8(0x20);
    for (; end - p >= 17; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        __m128i folded = _mm_or_si128(next, caseBit);
        __m128i mayEnd = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(folded, lowerG), _mm_cmpeq_epi8(folded, lowerA)),
            _mm_cmpeq_epi8(next, hash));
        __m128i hit =
            _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(x, amp), mayEnd), _mm_cmpeq_epi8(x, greater));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        if (mask != 0)
            return p + __builtin_ctz(mask);
    }
#endif
    for (; p < end; ++p) {
        if (*p == '>')
            return p;
        if (*p == '&') {
            char c = p + 1 < end ? static_cast<char>(p[1] | 0x20) : 'g';
            if (c == 'g' || c == 'a' || p[1] == '#')
                return p;
        }
    }
    return p;
}

// The fast steps below read ahead without checking each byte against the end. An escaped tag is
// read so only where at least fastRoom bytes stand from its '&' on: the longest it reads is
// "&lt;/", a name of 16 letters, " /" and "&gt;" (27 bytes). References check their own room.
const ptrdiff_t fastRoom = 27;

inline uint32_t fourBytes(const char* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// Whether the four bytes at p are decimal digits, and their value: one comparison of the four
// together (a byte out of '0' to '9' fails one of the two masks; no carry crosses bytes).
inline bool fourDigits(const char* p, uint32_t* value) {
    uint32_t d = fourBytes(p);
    if ((d & 0xF0F0F0F0u) != 0x30303030u || ((d + 0x06060606u) & 0xF0F0F0F0u) != 0x30303030u)
        return false;
    *value = static_cast<uint32_t>((p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 +
                                   (p[3] - '0'));
    return true;
}

// The tag of entity-escaped HTML whose name starts at p (after "&lt;"), read as skipEscapedTag
// reads it, when it is one of the usual ones: a name of letters and digits (after '/' in a closing
// tag) ended by "&gt;", "/&gt;" or " /&gt;", or followed by a blank and attributes whose
// references other than "&gt;" cannot stand for '>' ("&quot;", "&amp;amp;"). Returns a null
// position for any other tag, which skipEscapedTag then reads.
FM_ALWAYS_INLINE Step usualEscapedTag(const char* p, const char* end, char* destination,
                                      char* out) {
    const Step other = {nullptr, out};
    bool closing = *p == '/';
    const char* name = p + (closing ? 1 : 0);
    const uint32_t greater = fourBytes("&gt;");
#if FM_BLOCKS
    // The name's end and the tag's first '&' are found in one block, so that its "&gt;" is read
    // without waiting for the name.
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
    size_t n = static_cast<size_t>(__builtin_ctz(~lettersAndDigits(x)));
    unsigned amps = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('&'))));
    const char* amp = name + __builtin_ctz(amps | 0x10000);
    const char* q = name + n;
    if (n - 1 >= 15) // none, or 16 letters and perhaps more
        return other;
#else
    const char* q = afterLettersAndDigits(name, end);
    size_t n = static_cast<size_t>(q - name);
    if (n == 0 || n > 16)
        return other;
    const char* amp = q + (q[0] == ' ' && q[1] == '/' ? 2 : q[0] == '/' ? 1 : 0);
#endif
    bool hidden = n - 5 < 2 && (*name | 0x20) == 's' &&
                  matchNoCase(name, end, n == 6 ? "script" : "style", n);
    // The tag ends right after the name, perhaps after " /" or "/" (then amp stands there)...
    bool selfClosing = amp != q;
    bool ended = fourBytes(amp) == greater && (amp == q || (amp == q + 1 && q[0] == '/') ||
                                               (amp == q + 2 && q[0] == ' ' && q[1] == '/'));
    if (ended) {
        q = amp;
    } else {
        // ... or after attributes.
        selfClosing = q[0] == '/' || (q[0] == ' ' && q[1] == '/');
        if (selfClosing || q[0] != ' ' || hidden)
            return other;
        for (;;) {
            q = findTagEndCandidate(q, end);
            if (end - q < 6 || *q == '>')
                return other;
            if (fourBytes(q) == greater)
                break;
            char after = q[1];
            if (after == 'g' || after == 'G' || after == '#' ||
                (matchNoCase(q, end, "&amp;", 5) && (q[5] == 'g' || q[5] == 'G' || q[5] == '#')))
                return other; // may stand for '>'
            ++q;
        }
    }
    const char* next = q + 4;
    if (hidden && !closing && !selfClosing)
        next = afterHiddenElement(next, end, n, true);
    next = endTag(next, end, destination, out, breakingOf(name, n));
    return Step{next, out};
}

// The commonest references of a description or title (the '&' at p; an escaped tag is read only
// where fastRoom bytes stand), written as the general decoder writes them: the escaped tag after
// "&lt;", a four-digit character reference beyond the control characters, alone or escaped once
// more ("&amp;#8230;"), "&nbsp;" and "&amp;nbsp;", an "&amp;" that escapes nothing. A null
// position for any other.
template <bool escaped>
FM_ALWAYS_INLINE Step usualReference(const char* p, const char* end, char* destination, char* out) {
    const Step other = {nullptr, out};
    if (end - p < 5)
        return other; // none of them is shorter than "&amp;"
    uint32_t w = fourBytes(p);
    if (escaped && end - p >= fastRoom && w == fourBytes("&lt;") && startsTag(p[4]) && p[4] != '!')
        return usualEscapedTag(p + 4, end, destination, out);
    const char* r = p;
    if (w == fourBytes("&amp") && p[4] == ';') {
        r = p + 5;
        if (r == end || !(isLetter(*r) || *r == '#')) {
            *out++ = '&'; // the commonest of all
            return Step{r, out};
        }
        --r; // the reference it escapes, as if its '&' stood right before it
    }
    uint32_t value;
    if (end - r >= 7 && r[1] == '#' && fourDigits(r + 2, &value) && r[6] == ';' && value >= 0xA0) {
        out += writeUtf8(out, value); // at most 9999: never a surrogate
        return Step{r + 7, out};
    }
    if (end - r >= 6 && fourBytes(r + 1) == fourBytes("nbsp") && r[5] == ';') {
        *out++ = '\xC2'; // U+00A0 in UTF-8
        *out++ = '\xA0';
        return Step{r + 6, out};
    }
    return other;
}

#if FM_BLOCKS
// The tag of HTML as it stands whose '<' is at p, read as skipTag reads it, when it is one of the
// usual ones: a name of letters and digits (after '/' in a closing tag) without a prefix, not a
// script or style element, up to the next '>'. Returns a null position for any other tag (a
// comment, a declaration, an unterminated tag), which skipTag then reads.
FM_ALWAYS_INLINE Step usualTag(const char* p, const char* end, char* destination, char* out) {
    const Step other = {nullptr, out};
    const char* name = p + (p[1] == '/' ? 2 : 1);
    const char* nameEnd = afterLettersAndDigits(name, end);
    size_t n = static_cast<size_t>(nameEnd - name);
    char after = nameEnd < end ? *nameEnd : '\0';
    if (n == 0 || after == ':' || after == '-' || after == '_' || after == '.' ||
        (n - 5 < 2 && (*name | 0x20) == 's'))
        return other;
    const char* close = findByte(p + 1, end, '>'); // not after the name: both are read at once
    if (close == end)
        return other;
    const char* next = endTag(close + 1, end, destination, out, breakingOf(name, n));
    return Step{next, out};
}

// The loop of a description's HTML into a separate destination, for as long as fastRoom bytes
// remain: runs of plain text copied a block at a time and the usual references and tags read by
// usualReference and usualTag. Stops at the first byte that the general steps must read (white
// space, another reference or tag) and returns its position, out moved on by what was written.
template <bool escaped>
FM_ALWAYS_INLINE const char* usualRuns(const char* p, const char* end, char* destination,
                                       char*& out) {
    const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8(escaped ? '&' : '<'),
                  low = _mm_set1_epi8(static_cast<char>(lastLowSpecial));
    char* o = out;
    while (end - p >= fastRoom + 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, amp), _mm_cmpeq_epi8(x, lt)),
                         _mm_cmpeq_epi8(_mm_min_epu8(x, low), x))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), x);
        if (mask == 0) {
            p += 16;
            o += 16;
            continue;
        }
        unsigned n = static_cast<unsigned>(__builtin_ctz(mask));
        p += n;
        o += n;
        Step step;
        if (*p == '&')
            step = usualReference<escaped>(p, end, destination, o);
        else if (!escaped && *p == '<' && startsTag(p[1]) && p[1] != '!')
            step = usualTag(p, end, destination, o);
        else
            break;
        if (step.p == nullptr)
            break;
        p = step.p;
        o = step.out;
    }
    out = o;
    return p;
}
#endif

// The forms in which a description carries its HTML.
enum HtmlForm {
    CdataHtml,   // as it stands: tags literal, references still to decode
    EscapedHtml, // entity-escaped: tags written with references, which decoding reveals
    TitleText,   // a title: references decoded as in HTML, no tags (an escaped one is text)
};

// The bytes of the white space character that ends right before p (not before start): an ASCII
// blank, or a Unicode space (no-break, the typographic spaces U+2000 to U+200B, the line and
// paragraph separators, U+202F, U+205F, U+3000, U+1680) or U+FEFF; 0 for none.
inline size_t spaceBefore(const char* start, const char* p) {
    size_t left = static_cast<size_t>(p - start);
    if (left == 0)
        return 0;
    if (isBlank(p[-1]))
        return 1;
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    if (left >= 2 && u[-2] == 0xC2 && u[-1] == 0xA0)
        return 2;
    if (left < 3)
        return 0;
    unsigned a = u[-3], b = u[-2], c = u[-1];
    bool space = (a == 0xE2 && b == 0x80 && (c <= 0x8B || c == 0xA8 || c == 0xA9 || c == 0xAF)) ||
                 (a == 0xE2 && b == 0x81 && c == 0x9F) || (a == 0xE3 && b == 0x80 && c == 0x80) ||
                 (a == 0xE1 && b == 0x9A && c == 0x80) || (a == 0xEF && b == 0xBB && c == 0xBF);
    return space ? 3 : 0;
}

// The same for the character that starts at p (before end).
inline size_t spaceAt(const char* p, const char* end) {
    size_t left = static_cast<size_t>(end - p);
    if (left == 0)
        return 0;
    if (isBlank(*p))
        return 1;
    size_t n = (static_cast<unsigned char>(*p) & 0xE0) == 0xC0 ? 2 : 3;
    return left >= n && spaceBefore(p, p + n) == n ? n : 0;
}

// Whether the text holds two blanks in a row (which a title shows as one).
inline bool hasDoubleBlank(const char* p, const char* end) {
#if FM_BLOCKS
    if (end - p >= 17) {
        const __m128i blank = _mm_set1_epi8(' ');
        // Blocks of 16 pairs, the last one overlapping the one before so that no bytes are left.
        for (const char* q = p;; q += 16) {
            if (end - q < 17)
                q = end - 17;
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
            if (_mm_movemask_epi8(
                    _mm_and_si128(_mm_cmpeq_epi8(x, blank), _mm_cmpeq_epi8(y, blank))) != 0)
                return true;
            if (q == end - 17)
                return false;
        }
    }
#endif
    for (; end - p >= 2; ++p)
        if (p[0] == ' ' && p[1] == ' ')
            return true;
    return false;
}

// Makes every run of blanks in the text at destination (length bytes) one blank and returns the
// new length.
size_t foldDoubleBlanks(char* destination, size_t length) {
    const char* end = destination + length;
    if (!hasDoubleBlank(destination, end))
        return length;
    char* out = destination;
    for (const char* p = destination; p < end; ++p)
        if (*p != ' ' || out == destination || out[-1] != ' ')
            *out++ = *p;
    return static_cast<size_t>(out - destination);
}

// Makes the text at destination (length bytes) one without white space at either end, the
// Unicode spaces included. Terminates it and returns its length.
FM_ALWAYS_INLINE size_t trimText(char* destination, size_t length) {
    if (length == 0 || (static_cast<unsigned char>(destination[0]) - 0x21u < 0x5Fu &&
                        static_cast<unsigned char>(destination[length - 1]) - 0x21u < 0x5Fu)) {
        destination[length] = '\0'; // printable ASCII at both ends: nothing to trim
        return length;
    }
    char* end = destination + length;
    while (size_t n = spaceBefore(destination, end))
        end -= n;
    const char* start = destination;
    while (size_t n = spaceAt(start, end))
        start += n;
    char* out = destination;
    if (start != destination) {
        std::memmove(destination, start, static_cast<size_t>(end - start));
        out = destination + (end - start);
    } else {
        out = end;
    }
    *out = '\0';
    return static_cast<size_t>(out - destination);
}

// One pass that makes plain text of HTML: tags and comments go (a '<' followed by a letter, '/',
// '!' or '?' starts one; any other '<' is text), white space folds to single blanks (into the
// paragraph break of a block tag next to it), and references are decoded as decodeHtmlReference
// describes. destination may be source itself.
// Each form has its own loop, so that the choices that depend on it are made once.
template <HtmlForm form> size_t htmlToText(const char* source, size_t count, char* destination) {
    const char* p = source;
    const char* end = source + count;
    char* out = destination;
    bool separate = destination + count <= source || source + count <= destination;
    const Specials& specials = form == CdataHtml ? htmlSpecials : referenceSpecials;
    while (p < end) {
#if FM_BLOCKS
        if (FM_FAST_STEPS && form != TitleText && separate)
            p = usualRuns<form == EscapedHtml>(p, end, destination, out);
#endif
        p = copyRun(source, p, end, out, specials, separate);
        if (p == end)
            break;
        char c = *p;
        if (form == CdataHtml && c == '<') {
            if (p + 1 < end && startsTag(p[1])) {
                p = skipTag(p, end, destination, out);
            } else {
                *out++ = '<';
                ++p;
            }
        } else if (c == '&') {
            if (FM_FAST_STEPS) {
                Step step = usualReference<form == EscapedHtml>(p, end, destination, out);
                if (step.p != nullptr) {
                    p = step.p;
                    out = step.out;
                    continue;
                }
            }
            if (form == EscapedHtml && end - p >= 5 && fourBytes(p) == fourBytes("&lt;") &&
                startsTag(p[4])) {
                Step step = skipEscapedTag(p + 4, end, destination, out);
                p = step.p;
                out = step.out;
                continue;
            }
            char* before = out;
            Step step = otherReference(p, end, out);
            p = step.p;
            out = step.out;
            if (form == EscapedHtml && out == before + 1 && *before == '<' &&
                startsEscapedTag(p, end)) {
                Step step = skipEscapedTag(p, end, destination, before);
                p = step.p;
                out = step.out;
            } else if (out == before + 1 && static_cast<unsigned char>(*before) <= ' ') {
                // A blank, tab or line break written as a reference ("&#10;", "&NewLine;", the
                // only characters up to a blank that references give) folds like one written out.
                *before = ' ';
                if (before == destination || before[-1] == ' ' || before[-1] == '\n')
                    out = before;
            }
        } else if (isFoldedSpace(c)) {
            p = foldWhiteSpace(p, end, destination, out);
        } else {
            *out++ = c; // another control character, as it stands
            ++p;
        }
    }
    // No white space at either end (a reference may still have written some at the start); in a
    // title no two blanks in a row either (tabs and line breaks were folded already).
    size_t length = static_cast<size_t>(out - destination);
    if (form == TitleText)
        length = foldDoubleBlanks(destination, length);
    return trimText(destination, length);
}

} // namespace

size_t decodeEntities(const char* source, size_t count, char* destination) {
    return decodeText(source, count, destination);
}

size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata) {
    // A CDATA section holds HTML as it stands: its tags go before its references are read. In
    // entity-escaped HTML the references are read first, revealing the tags, which then go.
    return fromCdata ? htmlToText<CdataHtml>(source, count, destination)
                     : htmlToText<EscapedHtml>(source, count, destination);
}

size_t titleToText(const char* source, size_t count, char* destination) {
    return htmlToText<TitleText>(source, count, destination);
}

} // namespace FM_DECODING_COPY

#if !defined(FM_TEXT_DECODING_SSE2)
#if FM_PICK_SSE2_COPY
namespace textDecodingSse2 {
size_t decodeEntities(const char* source, size_t count, char* destination);
size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata);
size_t titleToText(const char* source, size_t count, char* destination);
} // namespace textDecodingSse2
#define FM_CALL_COPY(call) (processorHasSse2() ? textDecodingSse2::call : textDecodingPlain::call)
#else
#define FM_CALL_COPY(call) textDecodingPlain::call
#endif

size_t decodeEntities(const char* source, size_t count, char* destination) {
    return FM_CALL_COPY(decodeEntities(source, count, destination));
}

size_t descriptionToText(const char* source, size_t count, char* destination, bool fromCdata) {
    return FM_CALL_COPY(descriptionToText(source, count, destination, fromCdata));
}

size_t titleToText(const char* source, size_t count, char* destination) {
    return FM_CALL_COPY(titleToText(source, count, destination));
}

void descriptionToText(char* text, bool fromCdata) {
    if (text != nullptr)
        descriptionToText(text, std::strlen(text), text, fromCdata);
}
#endif
