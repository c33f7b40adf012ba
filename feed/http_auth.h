// Logins for feeds that ask for one: reading the challenges of a 401 or 407 answer, choosing the
// one to answer, writing the Basic and Digest Authorization lines, and the origin a login is kept
// under. Portable: no Win32 headers, built natively too; the hash functions are handed in.
#pragma once
#include <cstddef>

enum AuthScheme { authUnknown, authBasic, authDigest, authNtlm, authNegotiate };
enum DigestAlgorithm { digestMd5, digestSha256 };

struct AuthChallenge {
    AuthScheme scheme;
    char realm[128]; // as the server named it (quotes and escapes removed); may be empty
    // Digest only.
    char nonce[256];
    char opaque[256];
    DigestAlgorithm algorithm;
    bool sessionHash; // "MD5-sess", "SHA-256-sess"
    bool qop;         // a qop list was given; it names "auth" (else the challenge is unusable)
    bool stale;       // the nonce expired; the same credentials may be tried again
    bool userHash;    // the user name is sent hashed
    bool usable;      // false for a Digest challenge this client cannot answer
};

const int authChallengeLimit = 8;

// Reads the challenges of the given header value (several WWW-Authenticate or Proxy-Authenticate
// lines joined with ", " read as one list) into out, at most limit of them, and returns how many.
// Unknown schemes are kept as authUnknown so that a later known one is still found; parameters
// that do not fit their field leave the challenge unusable rather than cut.
int parseAuthChallenges(const char* header, AuthChallenge* out, int limit);

// The challenge to answer with a user name and password, or null: Digest with SHA-256 first, then
// Digest with MD5, then Basic; NTLM and Negotiate (only when windowsSchemes, where the system can
// carry them out) after Digest and before Basic.
const AuthChallenge* chooseAuthChallenge(const AuthChallenge* challenges, int count,
                                         bool windowsSchemes);

// "Authorization: Basic ..." without the name: "Basic " and base64 of user:password (UTF-8).
// False when it does not fit in out (size bytes).
bool formatBasicAuthorization(const char* user, const char* password, char* out, size_t size);

// A hash as lower-case hex (out holds at least 65 bytes); false when the system cannot hash.
typedef bool (*DigestHash)(DigestAlgorithm algorithm, const char* data, size_t length, char* out);

// The Digest answer (the value of the Authorization line) to challenge for a GET of uri (the
// request target as sent: "/path?query"), with the client nonce cnonce (hex) and the count nc
// (1 for the first use of the nonce). A user name holding a quote, a backslash or a byte past
// ASCII goes as username*=UTF-8''...; false when the answer does not fit or hashing fails.
bool formatDigestAuthorization(const AuthChallenge* challenge, const char* user,
                               const char* password, const char* method, const char* uri,
                               const char* cnonce, unsigned nc, DigestHash hash, char* out,
                               size_t size);

// The origin a login belongs to, written as "scheme://host:port" with scheme and host in lower
// case and the port always given ("https://intranet.example:443"); false for an address that
// is not http or https, or when it does not fit.
bool loginOrigin(const char* url, char* out, size_t size);
// True when a and b name the same host (the port and scheme aside), letter case ignored.
bool sameLoginHost(const char* a, const char* b);

// The request target of an address: its path and query ("/" when empty), without the fragment.
// Cut to size.
void requestTarget(const char* url, char* out, size_t size);

// A failure reason naming the realm: what (e.g. "needs a login") followed by ` ("realm")` when
// the realm is not empty; control characters and quotes of the realm are left out, and a long
// realm is cut.
void formatLoginReason(const char* what, const char* realm, char* out, size_t size);

// count bytes as lower-case hex into out (2 * count + 1 bytes).
void formatHex(const unsigned char* bytes, size_t count, char* out);
