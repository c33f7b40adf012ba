// The decoder's fast steps (the usual tags and references of descriptions and titles, read
// without per-byte bounds checks) must give exactly what its general steps give. Descriptions are
// made from pieces that are, or nearly are, what the fast steps read, in every order and at every
// distance from the text's end, and each is converted from an exact-size copy (a read past the
// end trips the sanitizer) by both.
#include "content/text_decoding.h"
#include "tests/support/check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

size_t generalDescriptionToText(const char* source, size_t count, char* destination,
                                bool fromCdata);
size_t generalTitleToText(const char* source, size_t count, char* destination);

TEST(fastStepsGiveWhatTheGeneralStepsGive) {
    static const char* const pieces[] = {"&lt;",
                                         "&gt;",
                                         "&amp;",
                                         "&quot;",
                                         "&#8217;",
                                         "&#0038;",
                                         "&#0060;",
                                         "&#0160;",
                                         "&#0159;",
                                         "&#0009;",
                                         "&#x2F;",
                                         "&#62;",
                                         "&GT;",
                                         "&AMP;",
                                         "&amp;#8230;",
                                         "&amp;nbsp;",
                                         "&nbsp;",
                                         "&amp;amp;",
                                         "&amp;lt;",
                                         "&amp;gt;",
                                         "&amp;#62;",
                                         "&amp;#0038;",
                                         "&#00038;",
                                         "b",
                                         "p",
                                         "br",
                                         "a",
                                         "td",
                                         "div",
                                         "script",
                                         "style",
                                         "scripts",
                                         "xhtml:div",
                                         "data-x",
                                         "/",
                                         " /",
                                         " ",
                                         "  ",
                                         "\n",
                                         "\t",
                                         "\r",
                                         "\x01",
                                         "!--",
                                         "--",
                                         "href=",
                                         "x",
                                         "word ",
                                         "<",
                                         ">",
                                         "<b>",
                                         "</p>",
                                         "<br />",
                                         "<a href=\"x\">",
                                         "&",
                                         ";",
                                         "#",
                                         "1",
                                         "9999",
                                         "12345",
                                         "\xc2\xa0",
                                         "&lt;/",
                                         "&lt;!--",
                                         "--&gt;",
                                         "&lt;script&gt;",
                                         "&lt;/script&gt;",
                                         "abcdefghijklmnop",
                                         "&lt;/abcdefghijklmno /&gt;",
                                         "&lt;/abcdefghijklmnop /&gt;",
                                         "&lt;a href=&quot;x?a=1&amp;amp;b&quot;&gt;"};
    const size_t count = sizeof pieces / sizeof pieces[0];
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    int differing = 0;
    // Every piece, and every piece cut short, right at the text's end after a stretch of plain
    // text; then random mixtures.
    std::vector<std::string> ends;
    for (const char* piece : pieces)
        for (size_t cut = 1; cut <= std::strlen(piece); ++cut)
            ends.push_back(std::string(40, 'x') + std::string(piece, cut));
    for (size_t i = 0; i < ends.size() + 40000 && differing < 5; ++i) {
        std::string text = i < ends.size() ? ends[i] : std::string();
        for (uint32_t n = i < ends.size() ? 0 : next(40); n > 0; --n)
            text += pieces[next(count)];
        char* source = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
        std::memcpy(source, text.data(), text.size());
        std::vector<char> fast(text.size() + 1), general(text.size() + 1);
        for (int form = 0; form < 3; ++form) { // escaped, CDATA, a title
            size_t a = form == 2 ? titleToText(source, text.size(), fast.data())
                                 : descriptionToText(source, text.size(), fast.data(), form == 1);
            size_t b = form == 2 ? generalTitleToText(source, text.size(), general.data())
                                 : generalDescriptionToText(source, text.size(), general.data(),
                                                            form == 1);
            if (a != b || std::memcmp(fast.data(), general.data(), a) != 0) {
                ++differing;
                static const char* const forms[] = {" (escaped)", " (CDATA)", " (title)"};
                check::fail(__FILE__, __LINE__,
                            check::show(text) + forms[form] + ": fast " +
                                check::show(std::string(fast.data(), a)) + ", general " +
                                check::show(std::string(general.data(), b)));
            }
        }
        std::free(source);
    }
}
