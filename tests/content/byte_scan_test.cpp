// The block searches against a plain loop: every start alignment, every distance to the byte
// sought and to the text's end, in both forms (SSE2 where the processor has it, word at a time).
#include "content/byte_scan.h"
#include "tests/support/check.h"

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
                const char* found[] = {findByteOrZero(text, '<'), findByteOrZeroWordwise(text, '<'),
                                       findByteBefore(text, end, '<'),
                                       findByteBeforeWordwise(text, end, '<')};
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
}
