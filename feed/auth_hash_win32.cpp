// Hashes through CryptoAPI's AES provider (the one that knows SHA-256 since Windows XP SP3).
#include "feed/auth_hash.h"
#include <windows.h>
#include <wincrypt.h>

// Declared by the headers only for newer systems; XP SP3's AES provider knows it.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace {

HCRYPTPROV openProvider() {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return 0;
    return provider;
}

} // namespace

bool systemDigestHash(DigestAlgorithm algorithm, const char* data, size_t length, char* out) {
    HCRYPTPROV provider = openProvider();
    if (provider == 0)
        return false;
    HCRYPTHASH hash = 0;
    unsigned char value[32];
    DWORD valueLength = sizeof value;
    bool hashed =
        CryptCreateHash(provider, algorithm == digestSha256 ? CALG_SHA_256 : CALG_MD5, 0, 0,
                        &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(data), static_cast<DWORD>(length), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, value, &valueLength, 0);
    if (hash)
        CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    if (hashed)
        formatHex(value, valueLength, out);
    return hashed;
}

bool randomHex(size_t count, char* out) {
    unsigned char bytes[32];
    if (count > sizeof bytes)
        return false;
    HCRYPTPROV provider = openProvider();
    bool made = provider != 0 && CryptGenRandom(provider, static_cast<DWORD>(count), bytes);
    if (provider)
        CryptReleaseContext(provider, 0);
    if (made)
        formatHex(bytes, count, out);
    return made;
}
