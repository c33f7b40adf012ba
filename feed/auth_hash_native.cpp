// Hashes and random bytes through the system's libcrypto.
#include "feed/auth_hash.h"
#include <openssl/evp.h>
#include <openssl/rand.h>

bool systemDigestHash(DigestAlgorithm algorithm, const char* data, size_t length, char* out) {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int valueLength = 0;
    if (!EVP_Digest(data, length, value, &valueLength,
                    algorithm == digestSha256 ? EVP_sha256() : EVP_md5(), nullptr))
        return false;
    formatHex(value, valueLength, out);
    return true;
}

bool randomHex(size_t count, char* out) {
    unsigned char bytes[32];
    if (count > sizeof bytes || RAND_bytes(bytes, static_cast<int>(count)) != 1)
        return false;
    formatHex(bytes, count, out);
    return true;
}
