// Fuzzes abbreviateDate over a date text up to the input's first zero byte (a kept date is a
// zero-terminated text), copied into a heap buffer of exactly that length plus the terminator. The
// result is the date as written or a short form: a date is never half read. The same date in the
// reader's time, in a zone 14 hours east or 12 west (the input's length chooses), is as valid and
// has the same form (with or without a time) as the date in its own time.
#include "content/short_date.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

static bool isNumber(const char* p, int low, int high) {
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return false;
    int value = (p[0] - '0') * 10 + (p[1] - '0');
    return value >= low && value <= high;
}

// "MM/DD" or "MM/DD HH:MM".
static bool isShortForm(const char* s) {
    size_t n = std::strlen(s);
    if (n != 5 && n != 11)
        return false;
    if (!isNumber(s, 1, 12) || s[2] != '/' || !isNumber(s + 3, 1, 31))
        return false;
    return n == 5 ||
           (s[5] == ' ' && isNumber(s + 6, 0, 23) && s[8] == ':' && isNumber(s + 9, 0, 59));
}

static int farEast(long long) {
    return 14 * 60;
}
static int farWest(long long) {
    return -12 * 60;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = 0;
    char* date = fuzzText(data, size, &length);
    if (!date)
        return 0;

    char* shortDate = abbreviateDate(date);
    // Only a lack of memory gives no result for a date.
    FUZZ_CHECK(shortDate != nullptr);
    // Either the date as it is written or a short form of valid numbers, never anything between.
    FUZZ_CHECK(std::strcmp(shortDate, date) == 0 || isShortForm(shortDate));
    localOffsetMinutes = size % 2 ? farEast : farWest;
    char* localDate = abbreviateDate(date, true);
    FUZZ_CHECK(localDate != nullptr);
    FUZZ_CHECK(std::strcmp(shortDate, date) == 0
                   ? std::strcmp(localDate, date) == 0
                   : isShortForm(localDate) && std::strlen(localDate) == std::strlen(shortDate));
    std::free(localDate);
    std::free(shortDate);
    std::free(date);
    return 0;
}
