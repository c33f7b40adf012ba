// Short dates in the reader's own time zone, through the zone seam (never the machine's zone):
// each zone the feed may name, day, month and year boundaries, a reader's zone that changes
// offset during the year, and dates that keep their own time.
#include "content/short_date.h"
#include "tests/support/check.h"

#include <cstdlib>
#include <string>

namespace {

int tokyo(long long) {
    return 9 * 60;
}
int utc(long long) {
    return 0;
}
int kolkata(long long) {
    return 5 * 60 + 30;
}
// Eastern time with summer time from 8 March 2026 07:00 UTC to 1 November 2026 06:00 UTC.
int newYork(long long seconds) {
    return seconds >= 1772953200LL && seconds < 1793512800LL ? -4 * 60 : -5 * 60;
}

} // namespace

TEST(shortDatesInTheReadersZone) {
    struct Row {
        const char* label;
        LocalOffsetFunction zone;
        const char* date;
        const char* shown;
    } rows[] = {
        {"GMT to Tokyo, next day", tokyo, "Mon, 07 Dec 2026 21:15:00 GMT", "12/08 06:15"},
        {"+0900 to UTC, day before", utc, "Tue, 08 Dec 2026 06:15:00 +0900", "12/07 21:15"},
        {"Z", tokyo, "2026-12-31T20:00:00Z", "01/01 05:00"},
        {"-05:00 to Tokyo over the year's end", tokyo, "2026-12-31T19:30:00-05:00", "01/01 09:30"},
        {"fractions and +05:30", utc, "2026-03-01T01:00:00.250+05:30", "02/28 19:30"},
        {"into a leap day", utc, "2024-03-01T03:00:00+05:00", "02/29 22:00"},
        {"UT, two-digit year", kolkata, "06 Dec 06 12:34:56 UT", "12/06 18:04"},
        {"UTC, month first, PM", utc, "Sat, Dec 16 2023 02:02:33 PM UTC", "12/16 14:02"},
        {"EST", utc, "Wed, 06 Dec 2006 12:34 EST", "12/06 17:34"},
        {"EDT", utc, "Wed, 01 Jul 2026 12:00:00 EDT", "07/01 16:00"},
        {"CST", utc, "Wed, 06 Dec 2006 12:00:00 CST", "12/06 18:00"},
        {"CDT", utc, "Wed, 01 Jul 2026 12:00:00 CDT", "07/01 17:00"},
        {"MST", utc, "Wed, 06 Dec 2006 12:00:00 MST", "12/06 19:00"},
        {"MDT", utc, "Wed, 01 Jul 2026 12:00:00 MDT", "07/01 18:00"},
        {"PST", utc, "Wed, 06 Dec 2006 12:00:00 pst", "12/06 20:00"},
        {"PDT", utc, "Wed, 01 Jul 2026 12:00:00 PDT", "07/01 19:00"},
        {"GMT with an offset", utc, "Wed, 06 Dec 2006 12:00:00 GMT+0100", "12/06 11:00"},
        {"a zone in brackets", tokyo, "Mon, 07 Dec 2026 21:15:00 (UTC)", "12/08 06:15"},
        {"Z after a blank", tokyo, "2026-12-07T21:15:00 Z", "12/08 06:15"},
        {"the reader's winter time", newYork, "Mon, 02 Mar 2026 17:00:00 GMT", "03/02 12:00"},
        {"the reader's summer time", newYork, "Mon, 09 Mar 2026 17:00:00 GMT", "03/09 13:00"},
        {"French", tokyo, "mer, 16 nov 2022 23:38:15 +0100", "11/17 07:38"},
        // The date's own time: no zone, no year, no time, or a day that does not exist.
        {"no zone", tokyo, "2006-12-06T12:34:56", "12/06 12:34"},
        {"no zone, words", tokyo, "vie, 1 ene 2021 23:10:00", "01/01 23:10"},
        {"an unknown zone name", tokyo, "Wed, 06 Dec 2006 12:34:56 CET", "12/06 12:34"},
        {"no year", tokyo, "Dec 16 12:00 GMT", "12/16 12:00"},
        {"no time", tokyo, "2006-12-06", "12/06"},
        {"an offset out of range", tokyo, "2006-12-06T12:34:56+25:00", "12/06 12:34"},
        {"29 February of a common year", tokyo, "2023-02-29T23:00:00Z", "2023-02-29T23:00:00Z"},
        {"unreadable", tokyo, "yesterday GMT", "yesterday GMT"},
    };
    for (const Row& row : rows) {
        localOffsetMinutes = row.zone;
        char* shown = abbreviateDate(row.date, true);
        REQUIRE(shown != nullptr);
        if (std::string(shown) != row.shown)
            check::fail(__FILE__, __LINE__,
                        std::string(row.label) + ": got " + check::show(shown) + ", expected " +
                            check::show(row.shown));
        std::free(shown);
        // Without local time every date keeps the time it is written in.
        char* asWritten = abbreviateDate(row.date, false);
        char* plain = abbreviateDate(row.date);
        CHECK_EQ(std::string(asWritten), std::string(plain));
        std::free(asWritten);
        std::free(plain);
    }
    localOffsetMinutes = tokyo;
    char* kept = abbreviateDate("Mon, 07 Dec 2026 21:15:00 GMT", false);
    CHECK_EQ(kept, "12/07 21:15");
    std::free(kept);
    CHECK(abbreviateDate(nullptr, true) == nullptr);
}
