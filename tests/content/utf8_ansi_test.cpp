// UTF-8 to the ANSI code page (1252 under the test environment) and to UTF-16.
#include "content/utf8_ansi.h"
#include "tests/support/check.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

static void expectAnsi(const char* utf8, const char* expected) {
    char* result = utf8ToAnsi(utf8);
    CHECK_EQ(result, expected);
    std::free(result);
}

TEST(utf8ToAnsiConverts) {
    REQUIRE(GetACP() == 1252);
    expectAnsi("Plain ASCII headline", "Plain ASCII headline");
    expectAnsi("", "");
    expectAnsi("Caf\xc3\xa9 \xe2\x80\x9cquoted\xe2\x80\x9d don\xe2\x80\x99t \xe2\x82\xac"
               "5",
               "Caf\xe9 \x93quoted\x94 don\x92t \x80"
               "5");
    // A character the code page lacks becomes the default character.
    expectAnsi("\xe6\x97\xa5\xe6\x9c\xac", "??");
    CHECK(utf8ToAnsi(nullptr) == nullptr);
}

// UTF-8 to UTF-16, whole texts and bounded prefixes, and the ANSI reading of bytes.
TEST(feedTextToUtf16) {
    REQUIRE(GetACP() == 1252);
    struct Row {
        const char* label;
        const char* text;
        size_t limit; // bytesToWide's limit; 0: the whole text through utf8ToWide
        bool utf8;
        const wchar_t* expected;
    } rows[] = {
        {"ascii", "Plain headline", 0, true, L"Plain headline"},
        {"empty", "", 0, true, L""},
        {"cyrillic", "Новости", 0, true, L"Новости"},
        {"greek", "Ειδήσεις", 0, true, L"Ειδήσεις"},
        {"hebrew", "חדשות", 0, true, L"חדשות"},
        {"cjk", "今日のニュース", 0, true, L"今日のニュース"},
        {"outside the BMP", "\xF0\x9F\x9A\x80!", 0, true, L"\U0001F680!"},
        {"malformed bytes", "a\xC3(b\xFF", 0, true, L"a\uFFFD(b\uFFFD"},
        {"limit inside a character", "ab\xD0\x9D\xD0\xBE", 5, true, L"ab\u041D"},
        {"limit inside a 4-byte character", "x\xF0\x9F\x9A\x80", 4, true, L"x"},
        {"limit after a whole character", "ab\xD0\x9D\xD0\xBE", 4, true, L"ab\u041D"},
        {"limit beyond the end", "ab\xD0\x9D", 100, true, L"ab\u041D"},
        {"ansi bytes", "Caf\xC3\xA9 \x80", 100, false, L"Caf\u00C3\u00A9 \u20AC"},
        {"ansi limit", "Caf\xC3\xA9", 4, false, L"Caf\u00C3"},
    };
    for (const Row& row : rows) {
        wchar_t* result =
            row.limit == 0 ? utf8ToWide(row.text) : bytesToWide(row.text, row.limit, row.utf8);
        bool same = result != nullptr && std::wcscmp(result, row.expected) == 0;
        if (!same)
            std::printf("row \"%s\" converts wrongly\n", row.label);
        CHECK(same);
        std::free(result);
    }
    CHECK(utf8ToWide(nullptr) == nullptr);
    CHECK(bytesToWide(nullptr, 10, true) == nullptr);
}
