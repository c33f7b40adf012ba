// Finds a feed body's charset and converts the body to UTF-8. Detection, UTF-16 and the grouping of
// bytes into characters are done here, the same in both builds; the tables of the other charsets
// are the system's (charset_system.h).
#include "content/charset.h"

#include "content/charset_system.h"
#include "content/utf8.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

enum CharsetKind {
    UnknownCharset,
    Utf8Charset,
    Utf16Charset, // byte order from a byte-order mark or the first '<', else big-endian
    Utf16LeCharset,
    Utf16BeCharset,
    SystemCharsetKind,
};

struct CharsetName {
    const char* name; // lower case
    CharsetKind kind;
    SystemCharset system;
};

// The charsets known by their usual names and aliases. ISO-8859-1 and US-ASCII labels are read as
// windows-1252, as browsers do: servers label windows-1252 text with them, and they agree on every
// byte they define.
const CharsetName charsetNames[] = {
    {"utf-8", Utf8Charset, {0, nullptr, SingleByteUnits}},
    {"utf8", Utf8Charset, {0, nullptr, SingleByteUnits}},
    {"unicode-1-1-utf-8", Utf8Charset, {0, nullptr, SingleByteUnits}},
    {"us-ascii", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"ascii", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"utf-16", Utf16Charset, {0, nullptr, SingleByteUnits}},
    {"utf-16le", Utf16LeCharset, {0, nullptr, SingleByteUnits}},
    {"utf-16be", Utf16BeCharset, {0, nullptr, SingleByteUnits}},
    {"iso-8859-1", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"iso8859-1", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"iso_8859-1", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"latin1", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"l1", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"iso-8859-2", SystemCharsetKind, {28592, "ISO-8859-2", SingleByteUnits}},
    {"latin2", SystemCharsetKind, {28592, "ISO-8859-2", SingleByteUnits}},
    {"iso-8859-3", SystemCharsetKind, {28593, "ISO-8859-3", SingleByteUnits}},
    {"iso-8859-4", SystemCharsetKind, {28594, "ISO-8859-4", SingleByteUnits}},
    {"iso-8859-5", SystemCharsetKind, {28595, "ISO-8859-5", SingleByteUnits}},
    {"iso-8859-6", SystemCharsetKind, {28596, "ISO-8859-6", SingleByteUnits}},
    {"iso-8859-7", SystemCharsetKind, {28597, "ISO-8859-7", SingleByteUnits}},
    {"iso-8859-8", SystemCharsetKind, {28598, "ISO-8859-8", SingleByteUnits}},
    {"iso-8859-8-i", SystemCharsetKind, {28598, "ISO-8859-8", SingleByteUnits}},
    {"iso-8859-9", SystemCharsetKind, {28599, "ISO-8859-9", SingleByteUnits}},
    {"latin5", SystemCharsetKind, {28599, "ISO-8859-9", SingleByteUnits}},
    {"iso-8859-11", SystemCharsetKind, {874, "CP874", SingleByteUnits}},
    {"tis-620", SystemCharsetKind, {874, "CP874", SingleByteUnits}},
    {"windows-874", SystemCharsetKind, {874, "CP874", SingleByteUnits}},
    {"iso-8859-13", SystemCharsetKind, {28603, "ISO-8859-13", SingleByteUnits}},
    {"iso-8859-15", SystemCharsetKind, {28605, "ISO-8859-15", SingleByteUnits}},
    {"latin9", SystemCharsetKind, {28605, "ISO-8859-15", SingleByteUnits}},
    {"windows-1250", SystemCharsetKind, {1250, "CP1250", SingleByteUnits}},
    {"windows-1251", SystemCharsetKind, {1251, "CP1251", SingleByteUnits}},
    {"windows-1252", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"windows-1253", SystemCharsetKind, {1253, "CP1253", SingleByteUnits}},
    {"windows-1254", SystemCharsetKind, {1254, "CP1254", SingleByteUnits}},
    {"windows-1255", SystemCharsetKind, {1255, "CP1255", SingleByteUnits}},
    {"windows-1256", SystemCharsetKind, {1256, "CP1256", SingleByteUnits}},
    {"windows-1257", SystemCharsetKind, {1257, "CP1257", SingleByteUnits}},
    {"windows-1258", SystemCharsetKind, {1258, "CP1258", SingleByteUnits}},
    {"cp1250", SystemCharsetKind, {1250, "CP1250", SingleByteUnits}},
    {"cp1251", SystemCharsetKind, {1251, "CP1251", SingleByteUnits}},
    {"cp1252", SystemCharsetKind, {1252, "CP1252", SingleByteUnits}},
    {"cp1253", SystemCharsetKind, {1253, "CP1253", SingleByteUnits}},
    {"cp1254", SystemCharsetKind, {1254, "CP1254", SingleByteUnits}},
    {"cp1255", SystemCharsetKind, {1255, "CP1255", SingleByteUnits}},
    {"cp1256", SystemCharsetKind, {1256, "CP1256", SingleByteUnits}},
    {"cp1257", SystemCharsetKind, {1257, "CP1257", SingleByteUnits}},
    {"cp1258", SystemCharsetKind, {1258, "CP1258", SingleByteUnits}},
    {"koi8-r", SystemCharsetKind, {20866, "KOI8-R", SingleByteUnits}},
    {"koi8r", SystemCharsetKind, {20866, "KOI8-R", SingleByteUnits}},
    {"koi8-u", SystemCharsetKind, {21866, "KOI8-U", SingleByteUnits}},
    {"ibm866", SystemCharsetKind, {866, "CP866", SingleByteUnits}},
    {"cp866", SystemCharsetKind, {866, "CP866", SingleByteUnits}},
    {"shift_jis", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"shift-jis", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"sjis", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"x-sjis", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"ms_kanji", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"windows-31j", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"cp932", SystemCharsetKind, {932, "CP932", ShiftJisUnits}},
    {"euc-jp", SystemCharsetKind, {20932, "EUC-JP", EucJpUnits}},
    {"x-euc-jp", SystemCharsetKind, {20932, "EUC-JP", EucJpUnits}},
    {"gb2312", SystemCharsetKind, {936, "CP936", GbkUnits}},
    {"gbk", SystemCharsetKind, {936, "CP936", GbkUnits}},
    {"x-gbk", SystemCharsetKind, {936, "CP936", GbkUnits}},
    {"cp936", SystemCharsetKind, {936, "CP936", GbkUnits}},
    {"euc-cn", SystemCharsetKind, {936, "CP936", GbkUnits}},
    {"gb18030", SystemCharsetKind, {54936, "GB18030", Gb18030Units}},
    {"big5", SystemCharsetKind, {950, "CP950", Big5Units}},
    {"big5-hkscs", SystemCharsetKind, {950, "CP950", Big5Units}},
    {"cn-big5", SystemCharsetKind, {950, "CP950", Big5Units}},
    {"x-x-big5", SystemCharsetKind, {950, "CP950", Big5Units}},
    {"cp950", SystemCharsetKind, {950, "CP950", Big5Units}},
    {"euc-kr", SystemCharsetKind, {949, "CP949", EucKrUnits}},
    {"ks_c_5601-1987", SystemCharsetKind, {949, "CP949", EucKrUnits}},
    {"cp949", SystemCharsetKind, {949, "CP949", EucKrUnits}},
    {"windows-949", SystemCharsetKind, {949, "CP949", EucKrUnits}},
};

// The charset named by the length bytes at name (without regard to case), or null.
const CharsetName* findCharset(const char* name, size_t length) {
    if (length == 0 || length > 20)
        return nullptr;
    char lower[20];
    for (size_t i = 0; i < length; ++i)
        lower[i] = lowerAscii(name[i]);
    for (const CharsetName& c : charsetNames)
        if (std::strlen(c.name) == length && std::memcmp(c.name, lower, length) == 0)
            return &c;
    return nullptr;
}

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The value of the charset parameter of a Content-Type ("text/xml; charset="utf-8""), or null.
const char* contentTypeCharset(const char* contentType, size_t* length) {
    if (contentType == nullptr)
        return nullptr;
    const char* p = std::strchr(contentType, ';');
    while (p != nullptr) {
        ++p;
        while (isSpace(*p))
            ++p;
        const char* name = p;
        while (*p != '\0' && *p != '=' && *p != ';' && !isSpace(*p))
            ++p;
        bool isCharset = p - name == 7;
        for (size_t i = 0; isCharset && i < 7; ++i)
            isCharset = lowerAscii(name[i]) == "charset"[i];
        while (isSpace(*p))
            ++p;
        if (isCharset && *p == '=') {
            ++p;
            while (isSpace(*p))
                ++p;
            char quote = (*p == '"' || *p == '\'') ? *p++ : '\0';
            const char* value = p;
            while (*p != '\0' && *p != ';' && (quote ? *p != quote : !isSpace(*p)))
                ++p;
            *length = static_cast<size_t>(p - value);
            return value;
        }
        p = std::strchr(p, ';');
    }
    return nullptr;
}

// The encoding of an XML declaration at the body's start ("<?xml version="1.0"
// encoding="windows-1251"?>"), after any blank lines a generating script left before it; null
// when there is none. Only the declaration's own bytes are looked at.
const char* declaredEncoding(const char* body, size_t length, size_t* nameLength) {
    const char* limit = body + (length < 1024 ? length : 1024);
    while (body < limit && isSpace(*body))
        ++body;
    length = static_cast<size_t>(limit - body);
    if (length < 6 || std::memcmp(body, "<?xml", 5) != 0 || !isSpace(body[5]))
        return nullptr;
    const char* end = body + length;
    const char* p = body + 5;
    while (p + 8 < end && !(p[0] == '?' && p[1] == '>')) {
        if (std::memcmp(p, "encoding", 8) == 0 && isSpace(p[-1])) {
            p += 8;
            while (p < end && isSpace(*p))
                ++p;
            if (p == end || *p != '=')
                return nullptr;
            ++p;
            while (p < end && isSpace(*p))
                ++p;
            if (p == end || (*p != '"' && *p != '\''))
                return nullptr;
            char quote = *p++;
            const char* value = p;
            while (p < end && *p != quote && *p != '?' && *p != '>')
                ++p;
            if (p == end || *p != quote)
                return nullptr;
            *nameLength = static_cast<size_t>(p - value);
            return value;
        }
        ++p;
    }
    return nullptr;
}

// UTF-16 to UTF-8 into out (3 * length bytes); a surrogate without its partner and an odd last
// byte become U+FFFD. Returns the bytes written.
size_t convertUtf16(const unsigned char* p, size_t length, bool bigEndian, char* out) {
    char* start = out;
    const unsigned char* end = p + length;
    auto unitAt = [bigEndian](const unsigned char* q) {
        return bigEndian ? static_cast<uint32_t>(q[0] << 8 | q[1])
                         : static_cast<uint32_t>(q[1] << 8 | q[0]);
    };
    while (end - p >= 2) {
        uint32_t c = unitAt(p);
        p += 2;
        if (c >= 0xD800 && c <= 0xDBFF && end - p >= 2) {
            uint32_t low = unitAt(p);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                p += 2;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            out += writeReplacementCharacter(out);
        else
            out += writeUtf8(out, c);
    }
    if (p != end)
        out += writeReplacementCharacter(out);
    return static_cast<size_t>(out - start);
}

// UTF-8 into out (3 * length bytes) with each byte that starts no valid sequence as U+FFFD.
size_t copyValidUtf8(const unsigned char* p, size_t length, char* out) {
    const unsigned char* end = p + length;
    char* start = out;
    while (p < end) {
        size_t n = utf8SequenceLength(p, end);
        if (n == 0) {
            out += writeReplacementCharacter(out);
            ++p;
        } else {
            std::memcpy(out, p, n);
            out += n;
            p += n;
        }
    }
    return static_cast<size_t>(out - start);
}

// Whether the body reads without an invalid sequence in the charset: valid UTF-8, or converted by
// the system without a replacement character that the body did not hold (as UTF-8) itself. Other
// kinds (UTF-16) are taken as read.
bool readsCleanly(const CharsetName* charset, const unsigned char* bytes, size_t length) {
    if (charset->kind == Utf8Charset) {
        for (const unsigned char* p = bytes; p < bytes + length;) {
            size_t n = utf8SequenceLength(p, bytes + length);
            if (n == 0)
                return false;
            p += n;
        }
        return true;
    }
    if (charset->kind != SystemCharsetKind || length > (SIZE_MAX - 1) / 3)
        return true;
    char* out = static_cast<char*>(std::malloc(3 * length + 1));
    if (out == nullptr)
        return true;
    size_t written = convertWithSystem(charset->system, bytes, length, out);
    bool clean = written != static_cast<size_t>(-1);
    for (size_t i = 0; clean && i + 2 < written; ++i)
        clean = !(out[i] == '\xEF' && out[i + 1] == '\xBF' && out[i + 2] == '\xBD');
    std::free(out);
    return clean;
}

} // namespace

size_t charsetCharacterLength(CharsetUnits units, const unsigned char* p,
                              const unsigned char* end) {
    unsigned lead = p[0];
    size_t left = static_cast<size_t>(end - p);
    if (lead < 0x80 || units == SingleByteUnits || left < 2)
        return 1;
    unsigned trail = p[1];
    switch (units) {
    case ShiftJisUnits:
        return ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) &&
                       ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC))
                   ? 2
                   : 1;
    case Gb18030Units:
        if (lead >= 0x81 && lead <= 0xFE && trail >= 0x30 && trail <= 0x39)
            return left >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39 ? 4
                                                                                             : 1;
        // Two bytes as in GBK.
        [[fallthrough]];
    case GbkUnits:
        return lead >= 0x81 && lead <= 0xFE &&
                       ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFE))
                   ? 2
                   : 1;
    case Big5Units:
        return lead >= 0x81 && lead <= 0xFE &&
                       ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE))
                   ? 2
                   : 1;
    case EucKrUnits:
        return lead >= 0x81 && lead <= 0xFE &&
                       ((trail >= 0x41 && trail <= 0x5A) || (trail >= 0x61 && trail <= 0x7A) ||
                        (trail >= 0x81 && trail <= 0xFE))
                   ? 2
                   : 1;
    case EucJpUnits:
        if (lead == 0x8E)
            return trail >= 0xA1 && trail <= 0xDF ? 2 : 1;
        if (lead == 0x8F)
            return left >= 3 && trail >= 0xA1 && trail <= 0xFE && p[2] >= 0xA1 && p[2] <= 0xFE ? 3
                                                                                               : 1;
        return lead >= 0xA1 && lead <= 0xFE && trail >= 0xA1 && trail <= 0xFE ? 2 : 1;
    case SingleByteUnits:
        break;
    }
    return 1;
}

char* convertToUtf8(const char* body, size_t length, const char* contentType, size_t* converted) {
    *converted = 0;
    if (body == nullptr)
        return nullptr;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(body);

    // A byte-order mark settles the charset whatever the labels say; a UTF-16 body without one is
    // recognised by its first '<'.
    CharsetKind kind = UnknownCharset;
    const CharsetName* named = nullptr;
    size_t skip = 0;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        kind = Utf8Charset;
        skip = 3;
    } else if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        kind = Utf16LeCharset;
        skip = 2;
    } else if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        kind = Utf16BeCharset;
        skip = 2;
    } else {
        // The header's label when it names a charset known here, else the declaration's: an
        // empty or made-up label in the header says nothing about the body.
        size_t nameLength = 0;
        const char* name = contentTypeCharset(contentType, &nameLength);
        if (name != nullptr)
            named = findCharset(name, nameLength);
        const CharsetName* declared = nullptr;
        if ((name = declaredEncoding(body, length, &nameLength)) != nullptr)
            declared = findCharset(name, nameLength);
        // A header label that fails on the body loses to a declaration that reads it cleanly:
        // servers label every .xml file utf-8, whatever the file says of itself.
        bool differ = named != nullptr && declared != nullptr &&
                      (declared->kind != named->kind ||
                       (declared->kind == SystemCharsetKind &&
                        declared->system.codePage != named->system.codePage));
        if (named == nullptr || (differ && !readsCleanly(named, bytes, length) &&
                                 readsCleanly(declared, bytes, length)))
            named = declared;
        if (named != nullptr)
            kind = named->kind;
        // UTF-16 without a mark shows in its first character, an ASCII one with a zero byte
        // before or after it: a '<' whatever the label, any character when labelled UTF-16. A
        // body labelled UTF-16 without zero bytes there is no UTF-16 (its declaration was
        // readable as ASCII).
        bool utf16 = kind == Utf16Charset || kind == Utf16LeCharset || kind == Utf16BeCharset;
        if (length >= 2 && bytes[1] == 0 && bytes[0] != 0 && (utf16 || bytes[0] == '<'))
            kind = kind == Utf16BeCharset ? Utf16BeCharset : Utf16LeCharset;
        else if (length >= 2 && bytes[0] == 0 && bytes[1] != 0 && (utf16 || bytes[1] == '<'))
            kind = kind == Utf16LeCharset ? Utf16LeCharset : Utf16BeCharset;
        else if (kind == Utf16Charset)
            kind = UnknownCharset;
    }

    // A UTF-8 body is used as it is; only one with a byte-order mark is copied, without it.
    if ((kind == UnknownCharset || kind == Utf8Charset) && skip == 0)
        return nullptr;

    bytes += skip;
    length -= skip;
    if (length > (SIZE_MAX - 1) / 3)
        return nullptr;
    char* out = static_cast<char*>(std::malloc(3 * length + 1));
    if (out == nullptr)
        return nullptr;
    size_t written = 0;
    if (kind == Utf8Charset) {
        written = copyValidUtf8(bytes, length, out);
    } else if (kind == Utf16LeCharset || kind == Utf16BeCharset) {
        written = convertUtf16(bytes, length, kind == Utf16BeCharset, out);
    } else if (length != 0) {
        written = convertWithSystem(named->system, bytes, length, out);
        if (written == static_cast<size_t>(-1)) {
            std::free(out);
            return nullptr; // the system does not know it: read as it is
        }
    }
    out[written] = '\0';
    // The text is mostly far shorter than the room made for it.
    if (written < 3 * length) {
        if (char* smaller = static_cast<char*>(std::realloc(out, written + 1)))
            out = smaller;
    }
    *converted = written;
    return out;
}
