// Fuzzes parseItemTime over a date text up to the input's first zero byte, copied into a heap
// buffer of exactly that length plus the terminator. A date that reads is a time within the four-
// digit years the forms can write (a zone moves it by less than a day), and reads the same again.
// A date an entry holds as parts is written again exactly as it stands.
#include "content/item_time.h"
#include "content/stored_date.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = 0;
    char* date = fuzzText(data, size, &length);
    if (!date)
        return 0;

    int64_t seconds = 0, again = 1;
    bool read = parseItemTime(date, &seconds);
    if (read) {
        const int64_t day = 86400;
        FUZZ_CHECK(seconds >= -62167219200LL - day && seconds < 253402300800LL + day);
        FUZZ_CHECK(parseItemTime(date, &again) && again == seconds);
    } else {
        FUZZ_CHECK(seconds == 0);
    }
    FeedItem entry{};
    if (holdDateParts(&entry, date, length)) {
        DateText held;
        FUZZ_CHECK(std::strcmp(itemDate(&entry, &held), date) == 0);
    }
    std::free(date);
    return 0;
}
