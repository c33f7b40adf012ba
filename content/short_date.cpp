// Short dates: a feed's date, read by the item dates' reader, as month, day, hour and minute. In
// local time, a date that names its year, time and zone is moved from that zone to the reader's;
// without a zone (or a year to place it) the time is shown as the date writes it.
#include "content/short_date.h"

#include "content/item_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// The civil date of a count of days from 1970-01-01 (proleptic Gregorian).
void civilFromDays(long long days, int* month, int* day) {
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long monthPart = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * monthPart + 2) / 5 + 1);
    *month = static_cast<int>(monthPart < 10 ? monthPart + 3 : monthPart - 9);
}

int systemOffsetMinutes(long long utcSeconds) {
    std::time_t t = static_cast<std::time_t>(utcSeconds);
    std::tm local;
#if defined(_WIN32)
    if (localtime_s(&local, &t) != 0)
        return 0;
#else
    if (localtime_r(&t, &local) == nullptr)
        return 0;
#endif
    ItemDate asUtc = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min,         local.tm_sec,     true,          0};
    return static_cast<int>((itemDateSeconds(asUtc) - utcSeconds) / 60);
}

// Moves a date with its year, time and zone into the reader's zone; a date without one of them is
// left in its own time.
void toLocalTime(ItemDate* date) {
    if (date->hour < 0 || date->year < 1 || !date->zoned)
        return;
    long long utc = itemDateSeconds(*date);
    long long local = utc + localOffsetMinutes(utc) * 60LL;
    long long days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    long long seconds = local - days * 86400;
    civilFromDays(days, &date->month, &date->day);
    date->hour = static_cast<int>(seconds / 3600);
    date->minute = static_cast<int>(seconds / 60 % 60);
}

} // namespace

LocalOffsetFunction localOffsetMinutes = systemOffsetMinutes;

char* abbreviateDate(const char* date) {
    return abbreviateDate(date, false);
}

char* abbreviateDate(const char* date, bool localTime) {
    if (date == nullptr)
        return nullptr;
    ItemDate read;
    bool readable = readItemDate(date, &read);
    if (readable && localTime)
        toLocalTime(&read);
    size_t length = std::strlen(date);
    char* result = static_cast<char*>(std::malloc((readable ? 12 : length + 1)));
    if (result == nullptr)
        return nullptr;
    if (!readable)
        std::memcpy(result, date, length + 1);
    else if (read.hour < 0)
        std::snprintf(result, 12, "%02d/%02d", read.month, read.day);
    else
        std::snprintf(result, 12, "%02d/%02d %02d:%02d", read.month, read.day, read.hour,
                      read.minute);
    return result;
}
