// The system's hash functions and random numbers for Digest logins: CryptoAPI on Windows, the
// system's libcrypto in the native build.
#pragma once
#include <cstddef>
#include "feed/http_auth.h"

// A DigestHash (feed/http_auth.h): MD5 or SHA-256 of data as lower-case hex into out (65 bytes).
bool systemDigestHash(DigestAlgorithm algorithm, const char* data, size_t length, char* out);
// count random bytes as lower-case hex into out (2 * count + 1 bytes): a Digest client nonce.
bool randomHex(size_t count, char* out);
