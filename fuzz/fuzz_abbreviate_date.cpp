// Fuzzes abbreviateDate over a date text up to the input's first zero byte (a kept date is a
// zero-terminated text), copied into a heap buffer of exactly that length plus the terminator.
#include "content/text_decoding.h"
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

    char* shortDate = abbreviateDate(date);
    // Only a lack of memory gives no result for a date.
    FUZZ_CHECK(shortDate != nullptr);
    // Month, day, hour and minute are copied from the date or are two digits each; with the
    // three separators the result stays within a few bytes of the date's own length.
    FUZZ_CHECK(std::strlen(shortDate) <= length + 8);
    std::free(shortDate);
    std::free(date);
    return 0;
}
