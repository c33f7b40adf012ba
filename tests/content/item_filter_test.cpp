// The filters' matching: which items a hide or highlight word catches, in every script, with and
// without diacritics, and what the tables and the generator agree on.
#include "content/item_filter.h"
#include "content/text_folding.h"
#include "tests/support/check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* name(FilterVerdict verdict) {
    return verdict == itemHidden ? "hidden" : verdict == itemHighlighted ? "highlighted" : "shown";
}

std::string verdictOf(const char* hide, const char* highlight, bool descriptions,
                      bool ignoreDiacritics, const char* title, const char* description) {
    FilterWordLists lists = {hide, highlight};
    ItemFilter* filter =
        compileItemFilter(&lists, 1, FilterSwitches{descriptions, ignoreDiacritics});
    std::string result = name(filterItem(filter, title, description));
    releaseItemFilter(filter);
    return result;
}

} // namespace

TEST(hide_and_highlight_words_match_without_regard_to_case_in_every_script) {
    struct Row {
        const char* hide;
        const char* highlight;
        bool descriptions;
        bool ignoreDiacritics;
        const char* title;
        const char* description;
        const char* expected;
    } rows[] = {
        {"sport", nullptr, false, false, "Sports roundup", nullptr, "hidden"},
        {" Climate  change ,", nullptr, false, false, "CLIMATE\tCHANGE talks", nullptr, "hidden"},
        {"climate change", nullptr, false, false, "Climate-change talks", nullptr, "shown"},
        {"strasse", nullptr, false, false, "Die Straße ist zu", nullptr, "hidden"},
        {"STRASSE", nullptr, false, false, "STRAẞE", nullptr, "hidden"},
        {"новости", nullptr, false, false, "НОВОСТИ ДНЯ", nullptr, "hidden"},
        {"σοφός", nullptr, false, false, "ΣΟΦΌΣ", nullptr, "hidden"}, // final sigma
        {"ǆ", nullptr, false, false, "ǅ and Ǆ", nullptr, "hidden"},   // title case
        {"istanbul", nullptr, false, false, "İSTANBUL'DA", nullptr, "hidden"},
        {"ılık", nullptr, false, false, "ILIK", nullptr, "shown"}, // dotless stays its own
        {"ılık", nullptr, false, true, "ILIK", nullptr, "hidden"}, // unless diacritics go
        {"日本", nullptr, false, false, "日本のニュース", nullptr, "hidden"},
        {"が", nullptr, false, true, "かいしゃ", nullptr, "shown"}, // voicing is no diacritic
        {"cafe", nullptr, false, false, "Café Zürich", nullptr, "shown"},
        {"cafe", nullptr, false, true, "CAFÉ Zürich", nullptr, "hidden"},
        {"café", nullptr, false, true, "Cafe\xCC\x81 opens", nullptr, "hidden"}, // decomposed
        {"pawel", nullptr, false, true, "Paweł writes", nullptr, "hidden"},
        {"ёлка", nullptr, false, true, "ЕЛКА", nullptr, "hidden"},
        {"αθηνα", nullptr, false, true, "ΑΘΉΝΑ", nullptr, "hidden"},
        {"rehurek", nullptr, false, true, "Řehůřek", nullptr, "hidden"},
        // Descriptions only by the switch; hide wins over highlight.
        {"leak", nullptr, false, false, "Quiet day", "a data LEAK", "shown"},
        {"leak", nullptr, true, false, "Quiet day", "a data LEAK", "hidden"},
        {nullptr, "release", true, false, "Quiet day", "New RELEASE out", "highlighted"},
        {"data leak", nullptr, true, false, "Quiet day", "a data\nleak found", "hidden"},
        {"beta", "release", false, false, "Release: beta 2", nullptr, "hidden"},
        {"beta", "release, launch", false, false, "Launch day", nullptr, "highlighted"},
        // Nothing to match: empty words, empty lists, a missing title.
        {",, ,", "", false, false, "Anything", nullptr, "shown"},
        {"x", nullptr, false, false, nullptr, nullptr, "shown"},
        // A malformed byte matches only itself, never a neighbour.
        {"a\xFF"
         "b",
         nullptr, false, false,
         "xa\xFE"
         "b",
         nullptr, "hidden"},
        {"ab", nullptr, false, false,
         "a\xFF"
         "b",
         nullptr, "shown"},
    };
    for (const Row& row : rows) {
        std::string got = verdictOf(row.hide, row.highlight, row.descriptions, row.ignoreDiacritics,
                                    row.title, row.description);
        if (got != row.expected)
            fprintf(stderr, "hide \"%s\" highlight \"%s\" on \"%s\"\n", row.hide ? row.hide : "",
                    row.highlight ? row.highlight : "", row.title ? row.title : "");
        CHECK_EQ(got, std::string(row.expected));
    }
    // No words at all: no filter.
    FilterWordLists none = {" , ", nullptr};
    CHECK(compileItemFilter(&none, 1, FilterSwitches{}) == nullptr);
}

TEST(a_feeds_lists_add_to_the_global_ones) {
    FilterWordLists lists[] = {{"ads", "urgent"}, {"promo", "release"}};
    ItemFilter* filter = compileItemFilter(lists, 2, FilterSwitches{false, false});
    REQUIRE(filter != nullptr);
    CHECK_EQ(std::string(name(filterItem(filter, "New ads", nullptr))), std::string("hidden"));
    CHECK_EQ(std::string(name(filterItem(filter, "PROMO code", nullptr))), std::string("hidden"));
    CHECK_EQ(std::string(name(filterItem(filter, "Urgent fix", nullptr))),
             std::string("highlighted"));
    CHECK_EQ(std::string(name(filterItem(filter, "Release 2", nullptr))),
             std::string("highlighted"));
    CHECK_EQ(std::string(name(filterItem(filter, "Other", nullptr))), std::string("shown"));
    releaseItemFilter(filter);
    CHECK_EQ(std::string(name(filterItem(nullptr, "New ads", nullptr))), std::string("shown"));
}

TEST(folding_agrees_with_its_generator_for_every_code_point_of_the_first_plane) {
    // The generator's own rule, written out: lowercase and uppercase letters of the common
    // scripts fold to the same code points, and a folded letter folds to itself.
    const uint32_t pairs[][2] = {
        {'A', 'a'},     {0xC0, 0xE0},     {0x178, 0xFF},      {0x391, 0x3B1}, {0x3A3, 0x3C3},
        {0x3C2, 0x3C3}, {0x410, 0x430},   {0x401, 0x451},     {0x531, 0x561}, {0x10A0, 0x2D00},
        {0x1E9E, 0x73}, {0xFF21, 0xFF41}, {0x10400, 0x10428}, {0x130, 'i'},   {0x212A, 'k'}};
    for (const auto& pair : pairs) {
        uint32_t out[3];
        size_t n = foldCodePoint(pair[0], false, out);
        REQUIRE(n >= 1);
        CHECK_EQ(out[0], pair[1]);
    }
    size_t changed = 0;
    for (uint32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        uint32_t once[3], twice[3];
        size_t n = foldCodePoint(c, true, once);
        for (size_t i = 0; i < n; ++i) {
            // Folding is idempotent: what it gives folds to itself.
            CHECK(foldCodePoint(once[i], true, twice) == 1 && twice[0] == once[i]);
        }
        changed += n != 1 || once[0] != c;
    }
    CHECK(changed > 2000); // case pairs and accented letters of many scripts, not a few
}
