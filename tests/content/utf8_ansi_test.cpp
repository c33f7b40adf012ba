// UTF-8 to the ANSI code page (1252 under the test environment).
#include "content/utf8_ansi.h"
#include "tests/support/check.h"

#include <windows.h>

#include <cstdlib>

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
