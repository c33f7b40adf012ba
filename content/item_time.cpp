// Item dates to seconds. Feeds write their dates in the two forms of the standards they follow,
// often loosely (no weekday, single-digit days, a missing zone); anything that is not clearly one
// of them is no date, so such an item keeps its feed's order instead of a guessed place.
#include "content/item_time.h"

#include <cstring>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Reads between 1 and maxDigits digits at p; returns how many were read (0: none).
int readNumber(const char*& p, int maxDigits, int* value) {
    int digits = 0;
    int n = 0;
    while (digits < maxDigits && isDigit(*p)) {
        n = n * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    *value = n;
    return digits;
}

void skipBlanks(const char*& p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
}

// Days since 1970-01-01 of a day in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool validDay(int year, int month, int day) {
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= monthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

struct Stamp {
    int year, month, day, hour, minute, second;
    int offsetMinutes; // east of UTC
    bool hasSeconds;   // the clock was written with its seconds
};

// The time of day, "H:MM" or "HH:MM:SS" (the hour may have one digit), left past what it read.
bool readClock(const char*& p, Stamp* s) {
    if (readNumber(p, 2, &s->hour) == 0 || *p++ != ':' || readNumber(p, 2, &s->minute) != 2)
        return false;
    s->hasSeconds = *p == ':';
    if (s->hasSeconds) {
        ++p;
        if (readNumber(p, 2, &s->second) != 2)
            return false;
    }
    return true;
}

bool toSeconds(const Stamp& s, int64_t* seconds) {
    if (!validDay(s.year, s.month, s.day) || s.hour > 23 || s.minute > 59 || s.second > 60)
        return false;
    *seconds = daysFromCivil(s.year, s.month, s.day) * 86400 + s.hour * 3600 + s.minute * 60 +
               s.second - static_cast<int64_t>(s.offsetMinutes) * 60;
    return true;
}

// "+0900", "-05:00", "+09": a numeric zone; true with the offset when p holds one.
bool readNumericZone(const char*& p, int* offsetMinutes) {
    if (*p != '+' && *p != '-')
        return false;
    int sign = *p == '-' ? -1 : 1;
    const char* q = p + 1;
    int hours = 0, minutes = 0;
    if (readNumber(q, 2, &hours) != 2)
        return false;
    if (*q == ':')
        ++q;
    if (isDigit(*q) && readNumber(q, 2, &minutes) != 2)
        return false;
    if (hours > 23 || minutes > 59)
        return false;
    *offsetMinutes = sign * (hours * 60 + minutes);
    p = q;
    return true;
}

// RFC 3339 and the ISO 8601 forms feeds use: 2006-12-06, 2006-12-06T12:34, 2006-12-06 12:34:56.5Z.
bool readNumeric(const char* p, int64_t* seconds) {
    Stamp s = {};
    if (readNumber(p, 4, &s.year) != 4 || *p++ != '-' || readNumber(p, 2, &s.month) == 0 ||
        *p++ != '-' || readNumber(p, 2, &s.day) == 0)
        return false;
    if (*p == 'T' || *p == 't' || (*p == ' ' && isDigit(p[1]))) {
        ++p;
        if (!readClock(p, &s))
            return false;
        if (s.hasSeconds) {
            if (*p == '.' || *p == ',') {
                ++p;
                while (isDigit(*p))
                    ++p;
            }
        }
        if (*p == 'Z' || *p == 'z')
            ++p;
        else
            readNumericZone(p, &s.offsetMinutes);
    }
    skipBlanks(p);
    return *p == '\0' && toSeconds(s, seconds);
}

int monthOfName(const char* word, size_t length) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (length < 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (lower(word[0]) == names[i][0] && lower(word[1]) == names[i][1] &&
            lower(word[2]) == names[i][2])
            return i + 1;
    }
    return 0;
}

// The named zones of RFC 822 and the single military letters (Z is UTC; the others' signs are
// given wrongly by the RFC itself, so they read as UTC as its successor advises).
bool namedZone(const char* word, size_t length, int* offsetMinutes) {
    static const struct {
        const char* name;
        int hours;
    } zones[] = {{"ut", 0},   {"utc", 0},  {"gmt", 0},  {"z", 0},    {"est", -5}, {"edt", -4},
                 {"cst", -6}, {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
    for (const auto& zone : zones) {
        if (strlen(zone.name) != length)
            continue;
        size_t i = 0;
        while (i < length && lower(word[i]) == zone.name[i])
            ++i;
        if (i == length) {
            *offsetMinutes = zone.hours * 60;
            return true;
        }
    }
    if (length == 1 && isLetter(word[0]) && lower(word[0]) != 'j') {
        *offsetMinutes = 0;
        return true;
    }
    return false;
}

// RFC 822 / 1123: [Wed,] 6 Dec 2006 12:34[:56] [zone].
bool readWords(const char* p, int64_t* seconds) {
    Stamp s = {};
    skipBlanks(p);
    const char* word = p;
    while (isLetter(*p))
        ++p;
    if (p != word) { // the weekday, which says nothing the day does not
        if (*p == ',')
            ++p;
        skipBlanks(p);
    }
    if (readNumber(p, 2, &s.day) == 0)
        return false;
    skipBlanks(p);
    if (*p == '-')
        ++p;
    word = p;
    while (isLetter(*p))
        ++p;
    s.month = monthOfName(word, static_cast<size_t>(p - word));
    if (s.month == 0)
        return false;
    skipBlanks(p);
    if (*p == '-')
        ++p;
    int digits = readNumber(p, 4, &s.year);
    if (digits == 2)
        s.year += s.year < 50 ? 2000 : 1900;
    else if (digits != 4)
        return false;
    skipBlanks(p);
    if (!readClock(p, &s))
        return false;
    skipBlanks(p);
    if (!readNumericZone(p, &s.offsetMinutes)) {
        word = p;
        while (isLetter(*p))
            ++p;
        if (p != word && !namedZone(word, static_cast<size_t>(p - word), &s.offsetMinutes))
            return false;
    }
    skipBlanks(p);
    return *p == '\0' && toSeconds(s, seconds);
}

} // namespace

bool parseItemTime(const char* date, int64_t* seconds) {
    if (date == nullptr)
        return false;
    const char* p = date;
    skipBlanks(p);
    int64_t value = 0;
    if (!readNumeric(p, &value) && !readWords(p, &value))
        return false;
    *seconds = value;
    return true;
}
