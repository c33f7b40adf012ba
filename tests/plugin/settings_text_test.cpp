// The settings file's line work on bytes: every byte that is not the edited value survives.
#include "plugin/settings_text.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <string>

namespace {

std::string edited(const std::string& text, std::initializer_list<SettingEdit> edits) {
    size_t length = 0;
    char* out = applySettingEdits(text.data(), text.size(), edits.begin(), edits.size(), &length);
    REQUIRE(out != nullptr);
    std::string result(out, length);
    std::free(out);
    return result;
}

std::string withoutFavorite(const std::string& text, int number) {
    size_t length = 0;
    char* out = withoutFavoriteLines(text.data(), text.size(), "feedmarquee.", number, &length);
    REQUIRE(out != nullptr);
    std::string result(out, length);
    std::free(out);
    return result;
}

} // namespace

TEST(keys_are_found_in_one_pass_whatever_bytes_surround_them) {
    // A NUL, a Ctrl-Z, a long line, leading blanks, mixed case, "\r\n" and "\n", blanks before
    // the colon: every key line is found, the first of a key wins, line numbers count from 1.
    const char head[] = "# comment with \0 and \x1a inside\r\n";
    std::string text = std::string(head, sizeof head - 1) + std::string(100000, 'x') + "\n" +
                       "  FeedMarquee.FAV0.url :  http://a.example/  \r\n"
                       "feedmarquee.width: 300\n"
                       "other.plugin.width: 1\n"
                       "feedmarquee.WIDTH: 999\n"
                       "feedmarquee.title_without_colon\n";
    SettingsIndex index;
    REQUIRE(indexSettings(text.data(), text.size(), "feedmarquee.", &index));
    CHECK_EQ(index.count, size_t(3));
    const SettingsEntry* url = findSetting(index, "feedmarquee.fav0.url:");
    REQUIRE(url != nullptr);
    CHECK_EQ(url->lineNumber, size_t(3));
    char* value = settingValueCopy(index, *url);
    CHECK_EQ(std::string(value), "http://a.example/");
    std::free(value);
    const SettingsEntry* width = findSetting(index, "feedmarquee.Width");
    REQUIRE(width != nullptr);
    CHECK_EQ(width->lineNumber, size_t(4));
    CHECK(findSetting(index, "feedmarquee.title_without_colon") == nullptr);
    CHECK(findSetting(index, "other.plugin.width:") == nullptr);
    releaseSettingsIndex(&index);
}

TEST(an_edit_replaces_only_the_value_of_the_first_line_of_its_key) {
    std::string nul("a\0b", 3);
    struct Row {
        const char* label;
        std::string before;
        std::string after;
    } rows[] = {
        {"in place, CRLF kept", "# x\r\nfeedmarquee.width: 300  \r\nz: 1\r\n",
         "# x\r\nfeedmarquee.width: 420\r\nz: 1\r\n"},
        {"key spelling and blanks before it kept", "  FeedMarquee.Width : 3\n",
         "  FeedMarquee.Width : 420\n"},
        {"second line of the key untouched", "feedmarquee.width: 1\nfeedmarquee.width: 2\n",
         "feedmarquee.width: 420\nfeedmarquee.width: 2\n"},
        {"new key appended in LF", "a: 1\nb: 2", "a: 1\nb: 2\nfeedmarquee.width: 420\n"},
        {"new key in an empty file gets CRLF", "", "feedmarquee.width: 420\r\n"},
        {"NUL and Ctrl-Z elsewhere kept", "x: " + nul + "\x1a\nfeedmarquee.width: 1\n" + nul,
         "x: " + nul + "\x1a\nfeedmarquee.width: 420\n" + nul + "\nfeedmarquee.title: T\n"},
    };
    for (const Row& row : rows) {
        std::string out =
            row.label == std::string("NUL and Ctrl-Z elsewhere kept")
                ? edited(row.before, {{"feedmarquee.width:", "420"}, {"feedmarquee.title:", "T"}})
                : edited(row.before, {{"feedmarquee.width:", "420"}});
        if (out != row.after)
            std::printf("case: %s\n", row.label);
        CHECK_EQ(out, row.after);
    }
    // The byte-order mark an editor puts before a UTF-8 file's first key stays, and the key counts.
    CHECK_EQ(edited("\xEF\xBB\xBF"
                    "feedmarquee.width: 1\n",
                    {{"feedmarquee.width:", "2"}}),
             "\xEF\xBB\xBF"
             "feedmarquee.width: 2\n");
    CHECK_EQ(withoutFavorite("\xEF\xBB\xBF"
                             "feedmarquee.fav0.url: a\nfeedmarquee.fav1.url: b\n",
                             0),
             "\xEF\xBB\xBF"
             "feedmarquee.fav0.url: b\n");
    // A line break in a value cannot start another key's line.
    CHECK_EQ(edited("", {{"k:", "a\r\nb: 1"}}), "k: a  b: 1\r\n");
}

TEST(removing_a_favourite_renumbers_the_later_ones_and_keeps_every_other_byte) {
    std::string nul("\0\0", 2);
    std::string text = "feedmarquee.fav0.url: http://a/\r\n"
                       "feedmarquee.fav0.title: A\r\n" +
                       nul +
                       "\r\n"
                       "  FeedMarquee.Fav1.URL: http://b/\r\n"
                       "feedmarquee.fav1.interval: 30\r\n"
                       "other.fav1.url: kept\r\n"
                       "feedmarquee.fav12.url: http://m/\r\n"
                       "feedmarquee.fav2.title: C";
    CHECK_EQ(withoutFavorite(text, 1), "feedmarquee.fav0.url: http://a/\r\n"
                                       "feedmarquee.fav0.title: A\r\n" +
                                           nul +
                                           "\r\n"
                                           "other.fav1.url: kept\r\n"
                                           "feedmarquee.fav11.url: http://m/\r\n"
                                           "feedmarquee.fav1.title: C");
    CHECK_EQ(withoutFavorite(text, 40), text);

    int number = 0;
    size_t field = 0, fieldLength = 0;
    const std::string key = "FEEDMARQUEE.fav07.userAgent";
    CHECK(favoriteKeyParts(key.data(), key.size(), "feedmarquee.", &number, &field, &fieldLength));
    CHECK_EQ(number, 7);
    CHECK_EQ(key.substr(field, fieldLength), "userAgent");
    for (const char* bad : {"feedmarquee.fav.url", "feedmarquee.favx.url", "feedmarquee.fav1",
                            "feedmarquee.fav1.", "feedmarquee.fav123456789.url"})
        CHECK(!favoriteKeyParts(bad, std::string(bad).size(), "feedmarquee.", &number, &field,
                                &fieldLength));
}

TEST(valid_utf8_is_told_from_code_page_text) {
    CHECK(isValidUtf8("Caf\xc3\xa9 Z\xc3\xbcrich \xf0\x9f\x93\xb0", 19));
    CHECK(isValidUtf8("\xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd0\xb8", 14));
    CHECK(!isValidUtf8("Caf\xe9", 4));      // 1252
    CHECK(!isValidUtf8("\xc0\xaf", 2));     // overlong
    CHECK(!isValidUtf8("\xed\xa0\x80", 3)); // surrogate
    CHECK(!isValidUtf8("\xe6\x97", 2));     // cut
}
