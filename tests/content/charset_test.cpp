// convertToUtf8 on golden files (a feed in each charset and the UTF-8 expected of it, made with
// Python's codecs by data/charset/make_golden.py) and on labelled rows for the choice of charset.
// The same test runs natively (iconv) and under Wine (code pages): both must give these bytes.
#include "content/charset.h"
#include "tests/support/check.h"
#include "tests/support/whole_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::string readFile(const std::string& path) {
    return readWholeFile(path);
}

// The conversion of body from an exact-size heap copy (no terminator, so an over-read trips the
// sanitizer); a null result is reported as "(as it is)".
static std::string convert(const std::string& body, const char* contentType) {
    char* copy = static_cast<char*>(std::malloc(body.size() ? body.size() : 1));
    std::memcpy(copy, body.data(), body.size());
    size_t converted = 12345;
    char* result = convertToUtf8(copy, body.size(), contentType, &converted);
    std::string text = "(as it is)";
    if (result != nullptr) {
        CHECK(result[converted] == '\0');
        text.assign(result, converted);
    } else {
        CHECK_EQ(converted, static_cast<size_t>(0));
    }
    std::free(result);
    std::free(copy);
    return text;
}

static std::string hex(const std::string& s) {
    std::string out;
    char buffer[4];
    for (size_t i = 0; i < s.size() && i < 400; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(s[i]));
        out += buffer;
    }
    return out;
}

TEST(goldenFeedsInEveryCharset) {
    struct Golden {
        const char* name;
        const char* contentType;
        bool asItIs; // the body needs no conversion: null, and the expected file is the body
    };
    static const Golden goldens[] = {
        {"iso_8859_1", nullptr, false}, // declared in the XML declaration
        {"windows_1251", "text/xml", false},
        {"koi8_r", "text/xml; charset=KOI8-R", false},
        {"shift_jis", "application/rss+xml; charset=Shift_JIS", false},
        {"gb2312", "text/xml; charset=\"gb2312\"", false},
        {"utf16_le_bom", nullptr, false},
        {"utf16_be_bom", "text/xml", false},
        {"shift_jis_invalid", "text/xml;charset=shift_jis", false},
        {"unknown_charset", nullptr, true},
        {"utf8_bom", "text/xml; charset=utf-8", false},
    };
    const std::string folder = FM_CHARSET_DATA;
    for (const Golden& g : goldens) {
        std::string body = readFile(folder + g.name + ".in");
        std::string expected = readFile(folder + g.name + ".out");
        REQUIRE(!body.empty() && !expected.empty());
        std::string result = convert(body, g.contentType);
        if (g.asItIs) {
            CHECK_EQ(result, "(as it is)");
            CHECK(body == expected);
        } else if (result != expected) {
            check::fail(__FILE__, __LINE__,
                        std::string(g.name) + ": got " + hex(result) + ", expected " +
                            hex(expected));
        }
    }
}

TEST(theCharsetIsChosenFromTheMarkTheHeaderAndTheDeclaration) {
    struct Row {
        const char* label;
        std::string body;
        const char* contentType;
        std::string expected;
    };
    const std::string declared1251 =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xc4\xe0</t>";
    const Row rows[] = {
        {"UTF-8 body: as it is", "<t>\xc3\xa9</t>", "text/xml; charset=UTF-8", "(as it is)"},
        {"no label: as it is", "<t>\xc3\xa9</t>", nullptr, "(as it is)"},
        {"ASCII labels read as windows-1252", "<t>x\x92s \x80</t>", "text/xml; charset=us-ascii",
         "<t>x\xe2\x80\x99s \xe2\x82\xac</t>"},
        {"a blank line before the declaration", "\r\n  " + declared1251, nullptr,
         "\r\n  <?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\x94\xd0\xb0</t>"},
        {"a UTF-8 header that fails on the body loses to the declaration", declared1251,
         "text/xml; charset=utf-8",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\x94\xd0\xb0</t>"},
        {"a UTF-8 header that reads the body keeps it",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\x94</t>",
         "text/xml; charset=utf-8", "(as it is)"},
        {"a failing Shift_JIS header loses to a clean windows-1251 declaration",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\x81\x20\xc4</t>",
         "text/xml; charset=shift_jis",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\x83 \xd0\x94</t>"},
        {"unknown label: as it is", "<t>\xe9</t>", "text/xml; charset=x-unheard-of", "(as it is)"},
        {"the declaration", declared1251, nullptr,
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\x94\xd0\xb0</t>"},
        {"the header before the declaration", declared1251, "text/xml; charset=koi8-r",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\xb4\xd0\xae</t>"},
        {"an unknown header label leaves the declaration", declared1251,
         "text/xml; charset=x-user-defined-junk",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><t>\xd0\x94\xd0\xb0</t>"},
        {"quoted, spaced, any case", "<t>\xe9</t>", "text/xml ; Charset = 'ISO-8859-1' ; x=y",
         "<t>\xc3\xa9</t>"},
        {"a charset word elsewhere is no parameter", "<t>\xc3\xa9</t>", "text/xml; format=charset",
         "(as it is)"},
        {"latin-1 label reads windows-1252 quotes", "\x93q\x94 \x80", "text/html; charset=latin1",
         "\xe2\x80\x9cq\xe2\x80\x9d \xe2\x82\xac"},
        {"a UTF-16 mark before a wrong header", std::string("\xff\xfe<\0\xe9\0", 6),
         "text/xml; charset=iso-8859-1", "<\xc3\xa9"},
        {"UTF-16 without a mark, found by its '<'", std::string("\0<\0\xe9", 4), nullptr,
         "<\xc3\xa9"},
        {"UTF-16 labelled, no mark, a blank first", std::string(" \0<\0", 4),
         "text/xml; charset=utf-16", " <"},
        {"UTF-16 declared but the declaration is ASCII", "<?xml version='1.0' encoding='UTF-16'?>",
         nullptr, "(as it is)"},
        {"UTF-16 pair, lone surrogates and an odd last byte",
         std::string("\xff\xfe\x3d\xd8\x00\xde\x00\xd8\x41\x00\x00\xdc\x42", 13), nullptr,
         "\xf0\x9f\x98\x80\xef\xbf\xbd"
         "A\xef\xbf\xbd\xef\xbf\xbd"},
        {"a UTF-8 mark alone", "\xef\xbb\xbf", nullptr, ""},
        {"after a UTF-8 mark, broken bytes become U+FFFD", "\xef\xbb\xbf\xc3\xa9\xc3<\xed\xa0\x80",
         nullptr, "\xc3\xa9\xef\xbf\xbd<\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"an empty body with a charset", "", "text/xml; charset=windows-1251", ""},
        {"a cut declaration", "<?xml version='1.0' encoding='windows-1251", nullptr, "(as it is)"},
        {"GBK: a lead byte at the end", "<t>\xd6\xd0\xce</t>\xb5", "text/xml; charset=gbk",
         "<t>\xe4\xb8\xad\xef\xbf\xbd</t>\xef\xbf\xbd"},
        {"Big5", "\xa4\xa4\xa4\xe5", "text/xml; charset=big5", "\xe4\xb8\xad\xe6\x96\x87"},
        {"Shift_JIS: half-width katakana beside a broken byte", "<t>\xb1\x81 \xb2\xdf</t>",
         "text/xml; charset=shift_jis",
         "<t>\xef\xbd\xb1\xef\xbf\xbd \xef\xbd\xb2\xef\xbe\x9f</t>"},
        {"EUC-KR", "\xc7\xd1\xb1\xdb", "text/xml; charset=euc-kr", "\xed\x95\x9c\xea\xb8\x80"},
        {"EUC-KR pair that maps to nothing", "<\xa2\xe8>\xc7\xd1", "text/xml; charset=euc-kr",
         "<\xef\xbf\xbd>\xed\x95\x9c"},
        {"EUC-JP", "\xc6\xfc\xcb\xdc", "text/xml; charset=euc-jp", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"GB18030 two bytes", "\xd6\xd0", "text/xml; charset=gb18030", "\xe4\xb8\xad"},
        {"windows-1252 undefined byte",
         "a\x81"
         "b",
         "text/xml; charset=windows-1252",
         "a\xef\xbf\xbd"
         "b"},
        {"KOI8-U", "\xa4", "text/xml; charset=koi8-u", "\xd1\x94"},
        {"ISO-8859-15 euro", "\xa4", "text/xml; charset=iso-8859-15", "\xe2\x82\xac"},
    };
    for (const Row& row : rows) {
        std::string result = convert(row.body, row.contentType);
        if (result != row.expected)
            check::fail(__FILE__, __LINE__,
                        std::string(row.label) + ": got " + hex(result) + ", expected " +
                            hex(row.expected));
    }
    size_t converted = 1;
    CHECK(convertToUtf8(nullptr, 0, nullptr, &converted) == nullptr);
    CHECK_EQ(converted, static_cast<size_t>(0));
}
