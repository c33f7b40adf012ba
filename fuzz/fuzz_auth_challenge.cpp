// Fuzzes the reading of a server's login challenges and the answers written to them: whatever the
// header holds, no more challenges than asked for are read, every text stays within its field, and
// the Basic and Digest answers carry no control character (nothing a server sends can start a
// header line of its own in the request that answers it).
#include "feed/http_auth.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// A stand-in for the system's hash: the answers' shape is under test, not the hash.
bool fixedHash(DigestAlgorithm algorithm, const char*, size_t, char* out) {
    size_t length = algorithm == digestSha256 ? 64 : 32;
    std::memset(out, 'a', length);
    out[length] = '\0';
    return true;
}

void checkClean(const char* text, size_t size) {
    size_t length = strnlen(text, size);
    FUZZ_CHECK(length < size);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* header = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(header, data, size);
    header[size] = '\0';
    AuthChallenge challenges[authChallengeLimit];
    int count = parseAuthChallenges(header, challenges, 3);
    FUZZ_CHECK(count >= 0 && count <= 3);
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(strnlen(challenges[i].realm, sizeof challenges[i].realm) <
                   sizeof challenges[i].realm);
        FUZZ_CHECK(strnlen(challenges[i].nonce, sizeof challenges[i].nonce) <
                   sizeof challenges[i].nonce);
    }
    const AuthChallenge* chosen = chooseAuthChallenge(challenges, count, true);
    char answer[2048];
    if (chosen != nullptr && chosen->scheme == authDigest &&
        formatDigestAuthorization(chosen, "us\"er\r\n", "pass", "GET", "/feed", "c0ffee", 1,
                                  fixedHash, answer, sizeof answer))
        checkClean(answer, sizeof answer);
    if (formatBasicAuthorization(header, "pass", answer, sizeof answer))
        checkClean(answer, sizeof answer);
    char reason[128];
    formatLoginReason("needs a login", chosen ? chosen->realm : header, reason, sizeof reason);
    checkClean(reason, sizeof reason);
    std::free(header);
    return 0;
}
