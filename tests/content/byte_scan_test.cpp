// The block searches against a plain loop: every start alignment, every distance to the byte
// sought and to the text's end, in every form (AVX2 and SSE2 where the processor has them, word at
// a time).
#include "content/byte_scan.h"
#include "tests/support/check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

TEST(blockSearchesFindWhatAPlainLoopFinds) {
    char* buffer = static_cast<char*>(std::malloc(256));
    int wrong = 0;
    for (size_t start = 0; start < 40; ++start) {
        for (size_t length = 0; length < 120 && start + length + 1 < 256; ++length) {
            for (size_t at = 0; at <= length + 1; at += (at < 40 ? 1 : 7)) {
                char* text = buffer + start;
                std::memset(buffer, 'a', 256);
                text[length] = '\0';
                if (at < length)
                    text[at] = '<';
                text[length + 1] = '<'; // after the end: never found
                const char* zero = text + length;
                const char* expected = at < length ? text + at : zero;
                const char* end = text + length;
                const char* found[] = {findByteOrZero(text, '<'),
                                       findByteOrZeroWordwise(text, '<'),
                                       findByteOrZeroSse2(text, '<'),
                                       findByteOrZeroAvx2(text, '<'),
                                       findByteBefore(text, end, '<'),
                                       findByteBeforeWordwise(text, end, '<'),
                                       findEitherBefore(text, end, '"', '<'),
                                       findEitherBeforeWordwise(text, end, '<', '"'),
                                       findEitherOrZero(text, '>', '<')};
                // The length measured up to a limit: the text's own, or the limit when shorter.
                for (size_t limit : {size_t(0), length / 2, length, length + 1, size_t(4096)}) {
                    size_t measured = lengthUpTo(text, limit);
                    if (measured != (length < limit ? length : limit) && wrong++ < 5)
                        check::fail(__FILE__, __LINE__,
                                    "length " + std::to_string(length) + " up to " +
                                        std::to_string(limit) + ": " + std::to_string(measured));
                }
                for (const char* f : found)
                    if (f != expected && wrong++ < 5)
                        check::fail(__FILE__, __LINE__,
                                    "start " + std::to_string(start) + ", length " +
                                        std::to_string(length) + ", at " + std::to_string(at) +
                                        ": found at " + std::to_string(f - text));
            }
        }
    }
    // Bytes above 127 and the zero itself sought.
    std::strcpy(buffer, "\xc3\xa9t\xc3\xa9]]>");
    CHECK(findByteOrZero(buffer, ']') == buffer + 5);
    CHECK(findByteOrZero(buffer, '\xa9') == buffer + 1);
    CHECK(findByteOrZeroWordwise(buffer, '\xa9') == buffer + 1);
    CHECK(findByteOrZero(buffer, '\0') == buffer + 8);
    std::free(buffer);

    // Near a page's end the tag's end and a name are read a byte at a time: the same answers.
    char* page = static_cast<char*>(std::malloc(3 * 4096));
    char* edge = page + 4096 * 2 - (reinterpret_cast<uintptr_t>(page) & 4095);
    for (size_t back = 1; back < 40; ++back) {
        char* text = edge - back;
        std::memset(text, 'a', back + 20);
        std::memcpy(text, "iTem", 4);
        text[back + 6] = '\0';
        text[back + 3] = '>';
        CHECK(findEitherOrZero(text, '>', '<') == text + back + 3);
        CHECK(findEitherOrZero(text + back + 4, '>', '<') == text + back + 6);
        CHECK(sameShortBytes(text, "iTem", 4));
        CHECK(!sameShortBytes(text, "item", 4));
        CHECK(sameShortBytesNoCase(text, "item", 4));
        CHECK(!sameShortBytesNoCase(text, "itex", 4));
        CHECK_EQ(sharedPrefix(text + back + 4, "aa", 10), size_t(2)); // up to the text's zero
        CHECK_EQ(sharedPrefix(text + back + 4, "ab", 10), size_t(1));
        CHECK_EQ(sharedPrefix(text, "iTemaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 3), size_t(3));
        CHECK(sameShortBytes(text + 4, "aaaaaaaaaaaaaaaaaaaa", back - 1 < 20 ? back - 1 : 20));
        CHECK(!sameShortBytes(text + back + 4, "aaaaaaaaaaaaaaa", 3)); // the zero differs
    }
    std::free(page);
}

// A control character is found only between start and end: tabs and line breaks are none, and
// one just before the text or just after it does not count.
TEST(controlBytesAreFoundOnlyInsideTheText) {
    char buffer[200];
    int wrong = 0;
    for (size_t start = 1; start < 34; ++start) {
        for (size_t length = 0; length < 90; ++length) {
            for (size_t at = 0; at <= length; at += (at < 34 ? 1 : 5)) {
                for (char control : {'\x01', '\x1f', '\x7f', '\0'}) {
                    std::memset(buffer, 'a', sizeof buffer);
                    char* text = buffer + start;
                    text[-1] = text[length] = '\x02';
                    for (size_t i = 0; i < length; i += 3)
                        text[i] = "\t\n\r"[i % 9 / 3];
                    if (at < length)
                        text[at] = control;
                    bool expected = at < length;
                    if ((hasControlByte(text, text + length) != expected ||
                         hasControlByteBytewise(text, text + length) != expected) &&
                        wrong++ < 5)
                        check::fail(__FILE__, __LINE__,
                                    "start " + std::to_string(start) + ", length " +
                                        std::to_string(length) + ", at " + std::to_string(at));
                }
            }
        }
    }
    // Bytes of UTF-8 characters (above 127) are none.
    const char* text = "caf\xc3\xa9 \xe2\x80\x94 \xff\xfe and more than one block";
    CHECK(!hasControlByte(text, text + std::strlen(text)));
}

// Words and single blanks are plain; a control character, a tab or line break, or two blanks in a
// row are not, wherever they stand in the blocks, but only inside the text.
TEST(controlOrDoubleBlankFoundAtAnyAlignment) {
    const struct {
        const char* text;
        bool expected;
    } cases[] = {{"", false},
                 {"a b c", false},
                 {" a ", false},
                 {"caf\xc3\xa9 \xe2\x80\x94 bar", false},
                 {"a  b", true},
                 {"a\tb", true},
                 {"a\nb", true},
                 {"a\x7f", true},
                 {"\x01", true},
                 {"  ", true},
                 {"a long run of words with single blanks between them all  and then two", true},
                 {"a long run of words with single blanks between them all and no more", false}};
    char buffer[160];
    for (const auto& c : cases) {
        size_t length = std::strlen(c.text);
        for (size_t start = 1; start < 40; ++start) {
            std::memset(buffer, ' ', sizeof buffer); // blanks on both sides never count
            std::memcpy(buffer + start, c.text, length);
            const char* text = buffer + start;
            bool found[] = {hasControlOrDoubleBlank(text, text + length),
                            hasControlOrDoubleBlankBytewise(text, text + length)};
            for (bool f : found)
                if (f != c.expected)
                    check::fail(__FILE__, __LINE__,
                                std::string("\"") + c.text + "\" at " + std::to_string(start));
        }
    }
}
