// Fuzzes prepareFeedAddress with the system's IDN conversion: the input's first byte chooses typed
// address or redirect target and the output buffer's size; the rest is the address. Whatever
// comes in, what goes out is an http(s) address within the limit and the buffer, with no blank,
// control character or user name, or nothing at all.
#include "feed/feed_address.h"
#include "feed/idn_native.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    AddressSource source = (data[0] & 1) ? redirectTarget : typedAddress;
    size_t outSize = (data[0] >> 1) < 100 ? (data[0] >> 1) : feedAddressLimit + 1;
    char* url = static_cast<char*>(std::malloc(size));
    std::memcpy(url, data + 1, size - 1);
    url[size - 1] = 0;
    char* out = static_cast<char*>(std::malloc(outSize ? outSize : 1));
    bool ok = prepareFeedAddress(url, source, nativeHostToAscii, out, outSize);
    if (ok) {
        size_t length = std::strlen(out);
        FUZZ_CHECK(length < outSize && length <= feedAddressLimit);
        FUZZ_CHECK(strncasecmp(out, "http://", 7) == 0 || strncasecmp(out, "https://", 8) == 0);
        for (size_t i = 0; i < length; ++i) {
            unsigned char c = static_cast<unsigned char>(out[i]);
            FUZZ_CHECK(c > 0x20 && c < 0x7f);
        }
        const char* host = std::strstr(out, "://") + 3;
        size_t hostLength = std::strcspn(host, "/?#");
        FUZZ_CHECK(hostLength > 0 && std::memchr(host, '@', hostLength) == nullptr);
    } else if (outSize) {
        FUZZ_CHECK(out[0] == 0);
    }
    std::free(out);
    std::free(url);
    return 0;
}
