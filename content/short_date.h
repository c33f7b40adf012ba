// Short dates for the item list: a feed's date as "MM/DD HH:MM". Portable: no Win32 headers.
#pragma once

// A new text with the date shortened to "MM/DD HH:MM", or "MM/DD" when it carries no time; the
// caller frees it with free(). The date is read by readItemDate (item_time.h), the reader that
// also orders items by their dates: RFC 822 and RFC 3339 dates, a date alone ("2023-12-16"), month
// names in any letter case and in the common European languages, 12-hour times with AM or PM. A
// date it cannot read is copied as it is written, never guessed at. Null for a null date or when
// memory runs out.
char* abbreviateDate(const char* date);

// The same; with localTime, a date that names its year, time and zone (Z, GMT, UT, UTC, "+0900",
// "-05:00", EST EDT CST CDT MST MDT PST PDT) is shown in the reader's time zone, as
// localOffsetMinutes gives it. A date without a zone or a year is shown in its own time.
char* abbreviateDate(const char* date, bool localTime);

// The reader's offset from UTC in minutes at an instant (seconds since 1970 in UTC). The system's
// time zone by default; tests put a zone of their own here.
typedef int (*LocalOffsetFunction)(long long utcSeconds);
extern LocalOffsetFunction localOffsetMinutes;
