// Item dates as points in time, and several feeds' items merged newest first.
#include "content/item_time.h"
#include "content/merged_items.h"
#include "content/short_date.h"
#include "content/stored_date.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <string>
#include <vector>

// One reader for the order and for the date shown: a date that has a place in time is shown in
// its short form, and one shown as written has no place.
TEST(item_dates_read_as_utc_seconds_or_not_at_all) {
    struct Row {
        const char* date;
        bool reads;
        long long seconds;
    } rows[] = {
        {"Wed, 06 Dec 2006 12:34:56 +0900", true, 1165376096},
        {"Wed, 06 Dec 2006 03:34:56 GMT", true, 1165376096},
        {"6 Dec 2006 03:34:56 Z", true, 1165376096},
        {"Tue, 05 Dec 2006 22:34:56 EST", true, 1165376096},
        {"Wed, 06 Dec 06 03:34 UT", true, 1165376040},
        {"Mon, 06 Dec 99 03:34 UT", true, 944451240},
        {"  Wed, 6 dec 2006 03:34:56 -0000  ", true, 1165376096},
        {"2006-12-06T12:34:56+09:00", true, 1165376096},
        {"2006-12-06T03:34:56.123Z", true, 1165376096},
        {"2006-12-06 03:34:56", true, 1165376096}, // no zone: UTC
        {"2006-12-06", true, 1165363200},
        {"1969-12-31T23:59:59Z", true, -1},
        {"2024-02-29T00:00:00Z", true, 1709164800},
        // Forms feeds write that a strict reading of the standards would refuse.
        {"2026-12-07 21:15:00 +0000", true, 1796678100},
        {"2026-12-07T21:15:00 Z", true, 1796678100},
        {"Mon, 07 Dec 2026 09:15:00 PM GMT", true, 1796678100},
        {"Mon, 07 Dec 2026 21:15:00 GMT+01:00", true, 1796674500},
        {"Mon, 07 Dec 2026 21:15:00 (UTC)", true, 1796678100},
        {"Mon, 07 Dec 2026 21:15:00 +0000 (UTC)", true, 1796678100},
        {"Mo, 07 Dez 2026 21:15:00 +0000", true, 1796678100},
        {"lun., 07 d\xC3\xA9"
         "c. 2026 21:15:00 GMT",
         true, 1796678100},
        {"lun, 07 dic 2026 21:15:00 GMT", true, 1796678100},
        {"ma 07 dec 2026 21:15", true, 1796678100},
        {"07 Dec 2026 21:15:00 CET", true, 1796678100}, // a zone not known: UTC
        {"07 d\xC3\xA9"
         "c. 2026",
         true, 1796601600},
        {"2023-02-29T00:00:00Z", false, 0}, // no such day
        {"2006-13-06", false, 0},
        {"Wed, 06 Foo 2006 03:34:56 GMT", false, 0},
        {"Wed, 06 2006 03:34:56 GMT", false, 0}, // no month: not January
        {"Wed, 06 Dec 2006 25:34:56 GMT", false, 0},
        {"yesterday", false, 0},
        {"12/06/2006", false, 0},
        {"", false, 0},
        {nullptr, false, 0},
    };
    for (const Row& row : rows) {
        int64_t seconds = 42;
        bool read = parseItemTime(row.date, &seconds);
        if (read != row.reads || (read && seconds != row.seconds))
            std::printf("date %s\n", row.date ? row.date : "(null)");
        CHECK_EQ(read, row.reads);
        CHECK_EQ(static_cast<long long>(seconds), row.reads ? row.seconds : 42LL);
        if (row.date == nullptr)
            continue;
        char* shown = abbreviateDate(row.date);
        CHECK_EQ(std::string(shown) != row.date, row.reads);
        std::free(shown);
    }
    // A date without a year is shown, but has no place among other feeds' dates.
    int64_t seconds = 0;
    CHECK(!parseItemTime("Dec 16 12:00 GMT", &seconds));
}

namespace {

// Feeds built from "title@date" texts ("title" alone: no date); items live until the test ends.
struct Feeds {
    std::vector<std::vector<FeedItem>> items;
    std::vector<std::vector<std::string>> texts;
    std::vector<MergeSource> sources;

    void add(std::vector<std::string> entries, int limit) {
        texts.push_back(entries);
        items.emplace_back(entries.size());
        std::vector<FeedItem>& feed = items.back();
        for (size_t i = 0; i < entries.size(); ++i) {
            std::string& text = texts.back()[i];
            size_t at = text.find('@');
            if (at != std::string::npos)
                text[at] = '\0';
            feed[i] = FeedItem{};
            feed[i].title = &text[0];
            feed[i].date = storedDateText(at != std::string::npos ? &text[at + 1] : nullptr);
            feed[i].next = i + 1 < entries.size() ? &feed[i + 1] : nullptr;
        }
        sources.push_back(MergeSource{feed.empty() ? nullptr : &feed[0], limit, nullptr, nullptr});
    }
    // The merged titles as "feed:title" joined by blanks.
    std::string merged() {
        // The sources point into items, whose vectors never move once built.
        for (size_t i = 0; i < sources.size(); ++i)
            sources[i].first = items[i].empty() ? nullptr : &items[i][0];
        size_t count = 0;
        MergedItem* merged =
            mergeFeedItems(sources.data(), static_cast<int>(sources.size()), &count);
        std::string out;
        for (size_t i = 0; i < count; ++i) {
            if (!out.empty())
                out += ' ';
            out += std::to_string(merged[i].feed) + ":" + merged[i].item->title;
        }
        std::free(merged);
        return out;
    }
};

} // namespace

TEST(feeds_merge_newest_first_with_undated_items_after_their_feeds_dated_ones) {
    struct Row {
        const char* what;
        std::vector<std::vector<std::string>> feeds;
        int limit;
        const char* expected;
    } rows[] = {
        {"interleaved by time, zones converted",
         {{"a1@2026-12-08T10:00:00Z", "a2@2026-12-08T08:00:00Z"},
          {"b1@Tue, 08 Dec 2026 11:00:00 +0200", "b2@Tue, 08 Dec 2026 06:00:00 GMT"}},
         20,
         "0:a1 1:b1 0:a2 1:b2"},
        {"a feed in the oldest-first order is turned round",
         {{"a1@2026-12-01", "a2@2026-12-03"}, {"b1@2026-12-02"}},
         20,
         "0:a2 1:b1 0:a1"},
        {"undated items follow their feed's oldest dated item, in feed order",
         {{"a1@2026-12-08T10:00:00Z", "ax", "a2@2026-12-08T06:00:00Z", "ay"},
          {"b1@2026-12-08T07:00:00Z", "b2@2026-12-08T05:00:00Z"}},
         20,
         "0:a1 1:b1 0:a2 0:ax 0:ay 1:b2"},
        {"a feed without dates goes last, in its order",
         {{"ax", "ay"}, {"b1@2026-12-08T07:00:00Z"}, {}},
         20,
         "1:b1 0:ax 0:ay"},
        {"equal times keep the feeds' order",
         {{"a1@2026-12-08T07:00:00Z"}, {"b1@2026-12-08T07:00:00Z"}},
         20,
         "0:a1 1:b1"},
        {"each feed brings its newest share only",
         {{"a1@2026-12-01", "a2@2026-12-05", "a3@2026-12-03", "ax"},
          {"b1@2026-12-02", "b2@2026-12-04"}},
         2,
         "0:a2 1:b2 0:a3 1:b1"},
        {"no feeds, no items", {{}, {}}, 20, ""},
    };
    for (const Row& row : rows) {
        Feeds feeds;
        for (const auto& feed : row.feeds)
            feeds.add(feed, row.limit);
        std::string merged = feeds.merged();
        if (merged != row.expected)
            std::printf("%s: %s\n", row.what, merged.c_str());
        CHECK_EQ(merged, std::string(row.expected));
    }
}
