// Fuzzes parseItemTime over a date text up to the input's first zero byte, copied into a heap
// buffer of exactly that length plus the terminator. A date that reads is a time within the four-
// digit years the forms can write (a zone moves it by less than a day), and reads the same again.
#include "content/item_time.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const void* zero = std::memchr(data, 0, size);
    size_t length = zero ? size_t(static_cast<const uint8_t*>(zero) - data) : size;
    char* date = static_cast<char*>(std::malloc(length + 1));
    if (!date)
        return 0;
    std::memcpy(date, data, length);
    date[length] = 0;

    int64_t seconds = 0, again = 1;
    bool read = parseItemTime(date, &seconds);
    if (read) {
        const int64_t day = 86400;
        FUZZ_CHECK(seconds >= -62167219200LL - day && seconds < 253402300800LL + day);
        FUZZ_CHECK(parseItemTime(date, &again) && again == seconds);
    } else {
        FUZZ_CHECK(seconds == 0);
    }
    std::free(date);
    return 0;
}
