// The direction of a text from its first strong character, for UTF-8 and UTF-16 alike.
#include "content/text_direction.h"
#include "tests/support/check.h"

#include <cstring>
#include <string>

namespace {

const char* name(TextDirection direction) {
    return direction == TextDirection::leftToRight   ? "ltr"
           : direction == TextDirection::rightToLeft ? "rtl"
                                                     : "neutral";
}

// UTF-16 of valid UTF-8, for running the same table through both readers.
std::u16string toUtf16(const char* text) {
    std::u16string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t c = *p;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra)
            c &= 0x3F >> extra;
        ++p;
        for (int i = 0; i < extra; ++i)
            c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace

TEST(the_first_strong_character_decides_in_both_encodings) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"Harbour news", "ltr"},
        {"שלום עולם", "rtl"},                            // Hebrew
        {"مرحبا بالعالم", "rtl"},                        // Arabic
        {"ܫܠܡܐ", "rtl"},                                 // Syriac
        {"Привет", "ltr"},                               // Cyrillic
        {"Γειά", "ltr"},                                 // Greek
        {"नमस्ते", "ltr"},                                 // Devanagari
        {"สวัสดี", "ltr"},                                 // Thai
        {"日本語のニュース", "ltr"},                     // CJK
        {"2026: שלום", "rtl"},                           // digits and punctuation decide nothing
        {"(12) «Harbour» שלום", "ltr"},                  // the first strong character wins
        {"« שלום » Harbour", "rtl"},                     //
        {"…  —  12.5%  ", "neutral"},                    // no strong character at all
        {"", "neutral"},                                 //
        {"\xE2\x81\xA8Harbour\xE2\x81\xA9 שלום", "rtl"}, // an isolate's own text is skipped
        {"\xE2\x81\xA9 שלום", "rtl"}, // an unmatched closing isolate closes nothing
        {"\xE2\x81\xA7unclosed isolate", "neutral"},
        {"\xE2\x80\x8F"
         "abc",
         "rtl"},                               // RIGHT-TO-LEFT MARK is strong
        {"\xF0\x9E\xA4\x80", "rtl"},           // Adlam, beyond the BMP
        {"\xF0\x9F\x98\x80 😀 Harbour", "ltr"}, // emoji are not strong
        {"\xCC\x81\xD6\xB0 abc", "ltr"},       // combining marks decide nothing
    };
    for (const Case& c : cases) {
        CHECK_EQ(std::string(name(utf8Direction(c.text, strlen(c.text)))), c.expected);
        std::u16string wide = toUtf16(c.text);
        CHECK_EQ(std::string(name(utf16Direction(wide.c_str(), wide.size()))), c.expected);
    }
}

TEST(bounds_and_broken_encodings) {
    // Only length units are read, and a zero ends the text early.
    CHECK_EQ(std::string(name(utf8Direction("123 abc", 4))), "neutral");
    CHECK_EQ(std::string(name(utf8Direction("12\0abc", 6))), "neutral");
    const char16_t wide[] = u"12 שלום";
    CHECK_EQ(std::string(name(utf16Direction(wide, 3))), "neutral");
    CHECK_EQ(std::string(name(utf16Direction(wide, 4))), "rtl");
    // Broken UTF-8 (a stray continuation byte, a cut sequence, an overlong form) is skipped.
    CHECK_EQ(std::string(name(utf8Direction("\x80\xC0\xAF\xD7 \xD7\xA9", 7))), "rtl");
    CHECK_EQ(std::string(name(utf8Direction("\xD7", 1))), "neutral");
    // A lone surrogate decides nothing; a pair cut at the length is not read as a character.
    const char16_t lone[] = {0xDC00, 0xD800, u'x', 0};
    CHECK_EQ(std::string(name(utf16Direction(lone, 3))), "ltr");
    const char16_t adlam[] = {0xD83A, 0xDD00, 0};
    CHECK_EQ(std::string(name(utf16Direction(adlam, 1))), "neutral");
    CHECK_EQ(std::string(name(utf16Direction(adlam, 2))), "rtl");
}
