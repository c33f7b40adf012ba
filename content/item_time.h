// A feed item's date: read once, by one reader, for showing it (short_date.h) and for putting
// items of several feeds in one order. Portable: no Win32 headers.
#pragma once
#include <cstdint>

// The parts of a date as the feed wrote them.
struct ItemDate {
    int year; // 0: none written
    int month, day;
    int hour; // -1: no time written
    int minute, second;
    bool zoned;        // a zone was named (Z, GMT, UT, UTC, a US zone name, a numeric offset)
    int offsetMinutes; // the zone's offset east of UTC; 0 without one
};

// Reads the numeric form ("2006-12-06T12:34:56+09:00", "Z" or a blank for the 'T', fractions, a
// zone after a blank, a date alone) and dates in words and numbers ("Wed, 06 Dec 2006 12:34:56
// +0900", "Sat, Dec 16 2023 02:02:33 PM GMT", "Mo, 07 Dez 2026", "07 déc. 2026", "GMT+01:00",
// "(UTC)"): month names in any letter case in English, French, German, Spanish, Italian,
// Portuguese and Dutch, a day before or after the month, 12-hour times, a two-digit year (before
// 50: 20xx). Whatever follows the time and zone is passed over. False, date untouched, for a null
// date, one with no month (or no day) that reads clearly, a day the month lacks, or a time out of
// range: such a date is shown as written and has no place in time.
bool readItemDate(const char* text, ItemDate* date);

// Days from 1970-01-01 to the given civil date (proleptic Gregorian), for any year.
int64_t daysFromCivil(int64_t year, int month, int day);

// The seconds since 1970-01-01 UTC of a date read with its year (a date without a zone is taken as
// UTC, one without a time as its midnight).
int64_t itemDateSeconds(const ItemDate& date);

// The date as seconds since 1970-01-01 UTC in seconds: true when readItemDate reads it and it
// names its year (a date without a year shows, but cannot be placed among other feeds' dates).
// False, with seconds untouched, otherwise.
bool parseItemTime(const char* text, int64_t* seconds);
