// Character references, descriptions made plain text, and short dates, one labelled row per case.
#include "content/text_decoding.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <cstring>
#include <string>

// Decodes text from an exact-size heap copy (so a read past count trips the sanitizer) into a
// zeroed destination of count + 1 bytes, as the parser calls it.
static std::string decode(const std::string& text) {
    char* source = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(source, text.data(), text.size());
    char* destination = static_cast<char*>(std::calloc(text.size() + 1, 1));
    decodeEntities(source, text.size(), destination);
    std::string result(destination);
    std::free(source);
    std::free(destination);
    return result;
}

struct Row {
    const char* label;
    const char* input;
    const char* expected;
};

TEST(decodeEntitiesTable) {
    static const Row rows[] = {
        {"line breaks dropped, blanks and tabs kept", "one\r\ntwo \tthree\n", "onetwo \tthree"},
        {"double-escaped less-than", "a &amp;lt; b", "a < b"},
        {"double-escaped greater-than eats the next character", "a&amp;gtXb", "a>b"},
        {"double-escaped quote", "&amp;quot;hi&amp;quot;", "\"hi\""},
        {"quote then the text after it", "say &quot;yes&quot;!", "say \"yes\"!"},
        {"quote without its semicolon still takes six", "&quotX", "\""},
        {"case does not matter", "&AMP;LT; &Quot; &LT; &Apos;", "< \" < '"},
        {"ampersand alone", "Tom &amp; Jerry", "Tom & Jerry"},
        {"ampersand escaping a named reference", "&amp;amp; &amp;nbsp;", "&amp; &nbsp;"},
        {"single-escaped XML references", "5 &lt; 6 &gt; 4 &apos;x&apos;", "5 < 6 > 4 'x'"},
        {"other named references stay", "&nbsp;&copy;&eacute;", "&nbsp;&copy;&eacute;"},
        {"bare ampersands stay", "AT&T & co &amp &lt", "AT&T & co &amp &lt"},
        {"apostrophe", "it&#39;s", "it's"},
        {"line feed reference writes nothing", "a&#10;b&#13;c&#9;d", "abcd"},
        {"byte 20 passes", "&#20;", "\x14"},
        {"DEL is one byte", "&#127;", "\x7f"},
        {"128 as UTF-8", "&#128;", "\xc2\x80"},
        {"256 as UTF-8", "&#256;", "\xc4\x80"},
        {"right single quote", "don&#8217;t", "don\xe2\x80\x99t"},
        {"five digits", "&#12345;", "\xe3\x80\xb9"},
        {"hexadecimal", "&#x2019;&#X2019;&#x2019", "\xe2\x80\x99\xe2\x80\x99\xe2\x80\x99"},
        {"last Unicode character", "&#x10FFFF;", "\xf4\x8f\xbf\xbf"},
        {"beyond Unicode", "[&#x110000;&#1114112;]", "[]"},
        {"many digits do not overflow", "[&#99999999999999999999999;&#x100000000041;]", "[]"},
        {"surrogates write nothing", "[&#xD800;&#57343;]", "[]"},
        {"leading zeros", "&#0000039;", "'"},
        {"no semicolon: the next character stays", "&#65x &#66", "Ax B"},
        {"no digits: no reference", "&#; &#x; &#abc", "&#; &#x; &#abc"},
        {"double-escaped numeric", "don&amp;#8217;t &amp;#39;", "don\xe2\x80\x99t '"},
        {"double-escaped without digits keeps the ampersand", "&amp;#;", "&#;"},
        {"reference cut by the end", "x&#", "x&#"},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        std::string result = decode(row.input);
        if (result != row.expected)
            check::fail(__FILE__, __LINE__,
                        std::string(row.label) + ": got " + check::show(result) + ", expected " +
                            check::show(row.expected));
        CHECK(result.size() <= std::strlen(row.input));
    }
}

TEST(decodeEntitiesStopsAtCountAndWorksInPlace) {
    // Only the first count bytes count, even when the reference runs on past them.
    CHECK_EQ(decode(std::string("abc&amp;def", 6)), "abc&am");
    CHECK_EQ(decode(std::string("x&amp;lt", 8)), "x<");
    CHECK_EQ(decode(std::string("&#390;", 4)), "'");

    char text[] = "Caf&#233; &amp;quot;Ol&#xE9;&amp;quot;\r\n&lt;b&gt;";
    decodeEntities(text, std::strlen(text), text);
    CHECK_EQ(text, "Caf\xc3\xa9 \"Ol\xc3\xa9\"<b>");
}

TEST(decodeEntitiesLongText) {
    // Long runs exercise the block scan, with the specials at every offset within a block.
    std::string input, expected;
    for (int i = 0; i < 200; ++i) {
        input += std::string(static_cast<size_t>(i % 37), 'a') + "&amp;\n" + std::to_string(i);
        expected += std::string(static_cast<size_t>(i % 37), 'a') + "&" + std::to_string(i);
    }
    CHECK_EQ(decode(input), expected);
}

static std::string plain(const std::string& text, bool fromCdata) {
    char* source = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(source, text.data(), text.size());
    char* destination = static_cast<char*>(std::calloc(text.size() + 1, 1));
    size_t length = descriptionToText(source, text.size(), destination, fromCdata);
    std::string result(destination);
    CHECK_EQ(length, result.size());
    CHECK(length <= text.size());
    std::free(source);
    std::free(destination);
    return result;
}

TEST(descriptionsFromCdataLoseTagsThenReferences) {
    static const Row rows[] = {
        {"tags go, block tags leave a blank",
         "<p>Hello <b>big</b> world.</p><p>Second &amp; last</p>",
         "Hello big world. Second & last"},
        {"link text stays", "Read <a href=\"http://x/?a=1&amp;b=2\">more</a>&hellip;",
         "Read more\xe2\x80\xa6"},
        {"image alone leaves nothing", "<img src=\"x.png\" alt=\"&lt;pic&gt;\"/>", ""},
        {"a less-than that starts no tag is text", "5 < 6 and 7 > 3, x<3", "5 < 6 and 7 > 3, x<3"},
        {"escaped markup inside the section is text", "use &lt;b&gt; for bold", "use <b> for bold"},
        {"references after tag removal", "It&#8217;s&nbsp;&ldquo;here&rdquo; &copy; 2006",
         "It\xe2\x80\x99s\xc2\xa0\xe2\x80\x9chere\xe2\x80\x9d \xc2\xa9 2006"},
        {"line breaks and indentation become one blank",
         "\n   <div>\n     First line\n     second line\n   </div>\n", "First line second line"},
        {"br between words", "one<br>two<br/>three<BR />four", "one two three four"},
        {"headings and list items", "<h2>Title</h2><ul><li>a</li><li>b</li></ul>", "Title a b"},
        {"comments go whole", "<!-- <p>hidden</p> -->shown<!---->", "shown"},
        {"declarations and processing instructions", "<!DOCTYPE x><?php echo 1; ?>ok", "ok"},
        {"unterminated tag runs to the end", "text <a href=\"x", "text"},
        {"unknown named reference stays", "&bogus; &amp", "&bogus; &amp"},
    };
    for (const Row& row : rows) {
        std::string result = plain(row.input, true);
        if (result != row.expected)
            check::fail(__FILE__, __LINE__,
                        std::string(row.label) + ": got " + check::show(result) + ", expected " +
                            check::show(row.expected));
    }
}

TEST(escapedDescriptionsAreDecodedThenLoseTags) {
    static const Row rows[] = {
        {"escaped paragraphs",
         "&lt;p&gt;Tom&amp;#8217;s &lt;b&gt;cat&lt;/b&gt;&lt;/p&gt;&lt;p&gt;Two&lt;/p&gt;",
         "Tom\xe2\x80\x99s cat Two"},
        {"named references revealed by decoding", "a&amp;nbsp;b &amp;mdash; c&amp;amp;d",
         "a\xc2\xa0"
         "b \xe2\x80\x94 c&d"},
        {"plain text with a numeric quote", "We&#8217;re back", "We\xe2\x80\x99re back"},
        {"wrapped lines keep their words apart", "first part\r\n    of the sentence",
         "first part of the sentence"},
        {"a less-than in text stays", "3 &lt; 4", "3 < 4"},
    };
    for (const Row& row : rows) {
        std::string result = plain(row.input, false);
        if (result != row.expected)
            check::fail(__FILE__, __LINE__,
                        std::string(row.label) + ": got " + check::show(result) + ", expected " +
                            check::show(row.expected));
    }
    char text[] = "  &lt;i&gt;in place&lt;/i&gt;  ";
    descriptionToText(text, false);
    CHECK_EQ(text, "in place");
    descriptionToText(static_cast<char*>(nullptr), true);
}

TEST(abbreviateDateTable) {
    static const Row rows[] = {
        {"numeric with zone", "2006-12-06T12:34:56+09:00", "12/06 12:34"},
        {"numeric with negative zone", "2006-12-06T12:34:56-05:00", "12/06 12:34"},
        {"numeric with a blank for the T", "2006-12-06 12:34:56", "12/06 12:34"},
        {"numeric without seconds", "2006-12-06T12:34Z", "12/06 12:34"},
        {"numeric without time", "2006-12-06", "12/06 :"},
        {"RFC 822", "Wed, 06 Dec 2006 12:34:56 +0900", "12/06 12:34"},
        {"RFC 822 negative zone", "Wed, 06 Dec 2006 12:34:56 -0500", "12/06 12:34"},
        {"RFC 822 one-digit day, no weekday", "6 Dec 2006 09:05:00 GMT", "12/06 09:05"},
        {"RFC 822 two-digit year", "06 Dec 06 12:34:56 GMT", "12/06 12:34"},
        {"RFC 822 without seconds", "Wed, 06 Dec 2006 12:34 EST", "12/06 12:34"},
        {"every month", "1 Jan 2007 00:00:00 GMT", "01/01 00:00"},
        {"September", "Sun, 30 Sep 2007 23:59:59 GMT", "09/30 23:59"},
        {"lower-case month", "Wed, 06 dec 2006 12:34:56 +0000", "00/06:"},
        {"unknown month", "06 Foo 2006 12:34:56", "00/06 12:34"},
        {"no time at all", "06 Dec 2006", "12/06:"},
        {"empty", "", "00/00:"},
    };
    for (const Row& row : rows) {
        char* result = abbreviateDate(row.input);
        REQUIRE(result != nullptr);
        if (std::strcmp(result, row.expected) != 0)
            check::fail(__FILE__, __LINE__,
                        std::string(row.label) + ": got " + check::show(result) + ", expected " +
                            check::show(row.expected));
        std::free(result);
    }
    CHECK(abbreviateDate(nullptr) == nullptr);
}
