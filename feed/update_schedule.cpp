// The schedule rules. The interval doubles from the second failure in a row on (x2, x4, ...),
// capped at four hours, and gets a little random spread so that many clients failing together do
// not return together; a 429 or 503 that names its own time is obeyed up to a day.
#include "feed/update_schedule.h"
#include "content/item_time.h"

#include <cstring>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

int monthNumber(const char* name) {
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (int i = 0; i < 3 && same; ++i) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            same = c == months[m][i];
        }
        if (same)
            return m + 1;
    }
    return 0;
}

// Reads up to maxDigits digits at *p; -1 when there are none.
int readNumber(const char*& p, int maxDigits) {
    if (!isDigit(*p))
        return -1;
    int value = 0;
    for (int i = 0; i < maxDigits && isDigit(*p); ++i)
        value = value * 10 + (*p++ - '0');
    return value;
}

// "HH:MM:SS" at p; false when it is not there.
bool readClock(const char*& p, int& hour, int& minute, int& second) {
    hour = readNumber(p, 2);
    if (hour < 0 || *p++ != ':')
        return false;
    minute = readNumber(p, 2);
    if (minute < 0 || *p++ != ':')
        return false;
    second = readNumber(p, 2);
    return second >= 0 && hour < 24 && minute < 60 && second <= 60;
}

void skipBlanks(const char*& p) {
    while (isBlank(*p))
        ++p;
}

} // namespace

int intervalInForceMinutes(int userMinutes, int feedTtlMinutes) {
    int minutes = userMinutes < 1 ? 1 : userMinutes;
    if (feedTtlMinutes > minutes)
        minutes = feedTtlMinutes;
    const int longest = static_cast<int>(scheduleLongestDelaySeconds / 60);
    return minutes > longest ? longest : minutes;
}

int64_t parseHttpDate(const char* text) {
    if (text == nullptr)
        return -1;
    const char* p = text;
    skipBlanks(p);
    // The weekday name is skipped whatever it is; what follows tells the three forms apart.
    while ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'))
        ++p;
    int day, month, year, hour, minute, second;
    if (*p == ',') {
        ++p;
        skipBlanks(p);
        day = readNumber(p, 2);
        if (day < 0)
            return -1;
        bool rfc850 = *p == '-';
        if (rfc850 || isBlank(*p))
            ++p;
        month = monthNumber(p);
        if (month == 0)
            return -1;
        p += 3;
        if (*p != (rfc850 ? '-' : ' '))
            return -1;
        ++p;
        year = readNumber(p, 4);
        if (year < 0)
            return -1;
        if (rfc850 && year < 100)
            year += year < 70 ? 2000 : 1900;
        skipBlanks(p);
        if (!readClock(p, hour, minute, second))
            return -1;
        skipBlanks(p);
        if (std::strncmp(p, "GMT", 3) != 0 && std::strncmp(p, "UTC", 3) != 0)
            return -1;
    } else if (isBlank(*p)) {
        // asctime: "Sun Nov  6 08:49:37 1994"
        skipBlanks(p);
        month = monthNumber(p);
        if (month == 0)
            return -1;
        p += 3;
        skipBlanks(p);
        day = readNumber(p, 2);
        skipBlanks(p);
        if (day < 0 || !readClock(p, hour, minute, second))
            return -1;
        skipBlanks(p);
        year = readNumber(p, 4);
        if (year < 0)
            return -1;
    } else {
        return -1;
    }
    if (day < 1 || day > 31 || year < 1970)
        return -1;
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

int64_t retryAfterTime(const char* value, int64_t now) {
    if (value == nullptr)
        return -1;
    const char* p = value;
    skipBlanks(p);
    if (isDigit(*p)) {
        int64_t seconds = 0;
        for (; isDigit(*p); ++p) {
            seconds = seconds * 10 + (*p - '0');
            if (seconds > scheduleLongestDelaySeconds)
                seconds = scheduleLongestDelaySeconds + 1; // capped later; never overflows
        }
        skipBlanks(p);
        return *p == '\0' ? now + seconds : -1;
    }
    return parseHttpDate(p);
}

int64_t recordUpdateOutcome(UpdateSchedule* schedule, bool success, int status,
                            const char* retryAfter, int64_t now, int intervalMinutes,
                            uint32_t random) {
    int64_t interval = static_cast<int64_t>(intervalMinutes < 1 ? 1 : intervalMinutes) * 60;
    if (success) {
        schedule->failures = 0;
        return interval;
    }
    if (schedule->failures < 1000)
        ++schedule->failures;
    int64_t delay = interval;
    if (schedule->failures >= 2) {
        int64_t stretched = interval;
        for (int i = 1; i < schedule->failures && stretched < scheduleLongestBackoffSeconds; ++i)
            stretched *= 2;
        // A spread of -10% to +10%, from the random value.
        int64_t spread = stretched / 10;
        stretched += static_cast<int64_t>(random % static_cast<uint32_t>(2 * spread + 1)) - spread;
        if (stretched > scheduleLongestBackoffSeconds)
            stretched = scheduleLongestBackoffSeconds;
        if (stretched > delay)
            delay = stretched;
    }
    if (status == 429 || status == 503) {
        int64_t until = retryAfterTime(retryAfter, now);
        if (until >= 0) {
            int64_t wait = until - now;
            if (wait > scheduleLongestDelaySeconds)
                wait = scheduleLongestDelaySeconds;
            if (wait > delay)
                delay = wait;
        }
    }
    return delay;
}
