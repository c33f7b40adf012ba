// Challenges and answers of HTTP logins. The challenge list is read the way servers write it:
// several challenges separated by commas, each a scheme followed by name=value parameters (values
// plain or quoted) or by one opaque token, so that "Digest realm=a, nonce=b, Basic realm=c" is
// two challenges. Every text is bounded: a value too long for its field makes a Digest challenge
// unusable instead of being cut, since a cut nonce or realm could only produce a wrong answer.
#include "feed/http_auth.h"
#include <cstdio>
#include <cstring>

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(const char* text, size_t length, const char* word) {
    size_t wordLength = std::strlen(word);
    if (length != wordLength)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (lowerAscii(text[i]) != lowerAscii(word[i]))
            return false;
    }
    return true;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* skipSpaces(const char* at) {
    while (isSpace(*at))
        ++at;
    return at;
}

// A token: up to a blank, a comma, an equals sign or a quote.
const char* tokenEnd(const char* at) {
    while (*at && !isSpace(*at) && *at != ',' && *at != '=' && *at != '"')
        ++at;
    return at;
}

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// Reads a parameter value (a quoted string with its escapes removed, or a token) at *at into
// value; false when it did not fit or holds a control character, which is never sent back (the
// value is then left empty). Moves *at past the value.
bool readValue(const char** at, char* value, size_t size) {
    const char* p = *at;
    size_t length = 0;
    bool fits = true;
    // Appends c while it fits; a control character or an overflow spoils the value.
    auto keep = [&](char c) {
        fits = fits && !isControl(c);
        if (length + 1 < size)
            value[length++] = c;
        else
            fits = false;
    };
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') {
            if (*p == '\\' && p[1])
                ++p;
            keep(*p++);
        }
        if (*p == '"')
            ++p;
    } else {
        // A plain value ends at a comma or a blank (a token68 keeps its trailing '=' signs).
        while (*p && *p != ',' && !isSpace(*p))
            keep(*p++);
    }
    value[fits ? length : 0] = '\0';
    *at = p;
    return fits;
}

AuthScheme schemeNamed(const char* name, size_t length) {
    if (equalsIgnoringCase(name, length, "Basic"))
        return authBasic;
    if (equalsIgnoringCase(name, length, "Digest"))
        return authDigest;
    if (equalsIgnoringCase(name, length, "NTLM"))
        return authNtlm;
    if (equalsIgnoringCase(name, length, "Negotiate"))
        return authNegotiate;
    return authUnknown;
}

// True when the comma-separated list names word.
bool listNames(const char* list, const char* word) {
    const char* at = list;
    while (*at) {
        at = skipSpaces(at);
        const char* end = at;
        while (*end && *end != ',' && !isSpace(*end))
            ++end;
        if (equalsIgnoringCase(at, static_cast<size_t>(end - at), word))
            return true;
        at = end;
        while (*at == ',' || isSpace(*at))
            ++at;
    }
    return false;
}

void applyParameter(AuthChallenge* challenge, const char* name, size_t nameLength,
                    const char** at) {
    char value[512];
    bool fits;
    if (equalsIgnoringCase(name, nameLength, "realm")) {
        fits = readValue(at, value, sizeof value);
        bool whole = fits && std::strlen(value) < sizeof challenge->realm;
        std::snprintf(challenge->realm, sizeof challenge->realm, "%s", value);
        // A Basic realm is only shown; a Digest realm is hashed and must be whole.
        fits = whole;
    } else if (equalsIgnoringCase(name, nameLength, "nonce")) {
        fits = readValue(at, challenge->nonce, sizeof challenge->nonce);
    } else if (equalsIgnoringCase(name, nameLength, "opaque")) {
        fits = readValue(at, challenge->opaque, sizeof challenge->opaque);
    } else {
        fits = readValue(at, value, sizeof value);
        if (equalsIgnoringCase(name, nameLength, "algorithm")) {
            size_t length = std::strlen(value);
            challenge->sessionHash =
                length > 5 && equalsIgnoringCase(value + length - 5, 5, "-sess");
            size_t base = challenge->sessionHash ? length - 5 : length;
            if (equalsIgnoringCase(value, base, "MD5"))
                challenge->algorithm = digestMd5;
            else if (equalsIgnoringCase(value, base, "SHA-256"))
                challenge->algorithm = digestSha256;
            else
                fits = false;
        } else if (equalsIgnoringCase(name, nameLength, "qop")) {
            challenge->qop = true;
            if (!listNames(value, "auth"))
                fits = false;
        } else if (equalsIgnoringCase(name, nameLength, "stale")) {
            challenge->stale = equalsIgnoringCase(value, std::strlen(value), "true");
        } else if (equalsIgnoringCase(name, nameLength, "userhash")) {
            challenge->userHash = equalsIgnoringCase(value, std::strlen(value), "true");
        }
    }
    if (!fits && challenge->scheme == authDigest)
        challenge->usable = false;
}

const char base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends base64 of data to out at *length; false when it does not fit.
bool appendBase64(const unsigned char* data, size_t count, char* out, size_t size, size_t* length) {
    size_t needed = (count + 2) / 3 * 4;
    if (*length + needed + 1 > size)
        return false;
    char* at = out + *length;
    for (size_t i = 0; i < count; i += 3) {
        unsigned value = static_cast<unsigned>(data[i]) << 16;
        if (i + 1 < count)
            value |= static_cast<unsigned>(data[i + 1]) << 8;
        if (i + 2 < count)
            value |= data[i + 2];
        *at++ = base64Digits[(value >> 18) & 63];
        *at++ = base64Digits[(value >> 12) & 63];
        *at++ = i + 1 < count ? base64Digits[(value >> 6) & 63] : '=';
        *at++ = i + 2 < count ? base64Digits[value & 63] : '=';
    }
    *at = '\0';
    *length += needed;
    return true;
}

// A growing text in a fixed buffer; once anything did not fit, it stays failed.
struct Text {
    char* out;
    size_t size;
    size_t length;
    bool fits;
};

void append(Text* text, const char* piece, size_t count) {
    if (!text->fits || text->length + count + 1 > text->size) {
        text->fits = false;
        return;
    }
    std::memcpy(text->out + text->length, piece, count);
    text->length += count;
    text->out[text->length] = '\0';
}

void append(Text* text, const char* piece) {
    append(text, piece, std::strlen(piece));
}

// Appends name="value" with quotes and backslashes of value escaped, after a comma unless first.
void appendQuoted(Text* text, const char* name, const char* value) {
    if (text->length > 0 && text->out[text->length - 1] != ' ')
        append(text, ", ");
    append(text, name);
    append(text, "=\"");
    for (const char* c = value; *c; ++c) {
        if (*c == '"' || *c == '\\')
            append(text, "\\", 1);
        append(text, c, 1);
    }
    append(text, "\"");
}

void appendPlain(Text* text, const char* name, const char* value) {
    append(text, ", ");
    append(text, name);
    append(text, "=");
    append(text, value);
}

// H(a:b[:c...]) of the pieces, null-terminated list; false when they do not fit or hashing fails.
bool hashJoined(DigestHash hash, DigestAlgorithm algorithm, const char* const* pieces, char* out) {
    char joined[2560];
    Text text = {joined, sizeof joined, 0, true};
    joined[0] = '\0';
    for (int i = 0; pieces[i] != nullptr; ++i) {
        if (i > 0)
            append(&text, ":", 1);
        append(&text, pieces[i]);
    }
    bool hashed = text.fits && hash(algorithm, joined, text.length, out);
    std::memset(joined, 0, sizeof joined);
    return hashed;
}

// The authority of an address: from after "://" to the path; null when there is no "://".
const char* authorityOf(const char* url, size_t* length) {
    const char* start = std::strstr(url, "://");
    if (start == nullptr)
        return nullptr;
    start += 3;
    *length = std::strcspn(start, "/?#");
    return start;
}

// The host of an authority (brackets of an IPv6 address kept) and where its port starts.
void splitAuthority(const char* authority, size_t length, size_t* hostLength, const char** port) {
    const char* end = authority + length;
    const char* colon = nullptr;
    if (length > 0 && authority[0] == '[') {
        const char* close = static_cast<const char*>(std::memchr(authority, ']', length));
        if (close && close + 1 < end && close[1] == ':')
            colon = close + 1;
    } else {
        colon = static_cast<const char*>(std::memchr(authority, ':', length));
    }
    *hostLength = colon ? static_cast<size_t>(colon - authority) : length;
    *port = colon ? colon + 1 : nullptr;
}

} // namespace

int parseAuthChallenges(const char* header, AuthChallenge* out, int limit) {
    int count = 0;
    AuthChallenge* current = nullptr;
    bool afterScheme = false; // the last thing read was a scheme name (a token68 may follow)
    const char* at = header ? header : "";
    while (*at) {
        bool comma = false;
        while (*at == ',' || isSpace(*at)) {
            comma = comma || *at == ',';
            ++at;
        }
        if (*at == '\0')
            break;
        const char* name = at;
        at = tokenEnd(at);
        size_t nameLength = static_cast<size_t>(at - name);
        const char* afterName = skipSpaces(at);
        if (nameLength > 0 && *afterName == '=' && current != nullptr && !(afterScheme && comma)) {
            at = skipSpaces(afterName + 1);
            if (current->scheme == authUnknown || current->scheme == authNtlm ||
                current->scheme == authNegotiate) {
                char ignored[512];
                readValue(&at, ignored, sizeof ignored);
            } else {
                applyParameter(current, name, nameLength, &at);
            }
            afterScheme = false;
            continue;
        }
        if (nameLength == 0) {
            // A stray quote or equals sign: skip it.
            ++at;
            continue;
        }
        if (afterScheme && !comma) {
            // The opaque token after a scheme (NTLM's and Negotiate's data): part of it.
            while (*at == '=')
                ++at;
            afterScheme = false;
            continue;
        }
        if (count == limit) {
            current = nullptr;
            break;
        }
        current = &out[count++];
        std::memset(current, 0, sizeof *current);
        current->scheme = schemeNamed(name, nameLength);
        current->usable = current->scheme != authUnknown;
        afterScheme = true;
    }
    for (int i = 0; i < count; ++i) {
        if (out[i].scheme == authDigest && out[i].nonce[0] == '\0')
            out[i].usable = false;
    }
    return count;
}

const AuthChallenge* chooseAuthChallenge(const AuthChallenge* challenges, int count,
                                         bool windowsSchemes) {
    const AuthChallenge* best = nullptr;
    int bestRank = 0;
    for (int i = 0; i < count; ++i) {
        const AuthChallenge& c = challenges[i];
        if (!c.usable)
            continue;
        int rank = 0;
        if (c.scheme == authDigest)
            rank = c.algorithm == digestSha256 ? 5 : 4;
        else if (c.scheme == authNegotiate && windowsSchemes)
            rank = 3;
        else if (c.scheme == authNtlm && windowsSchemes)
            rank = 2;
        else if (c.scheme == authBasic)
            rank = 1;
        if (rank > bestRank) {
            best = &c;
            bestRank = rank;
        }
    }
    return best;
}

bool formatBasicAuthorization(const char* user, const char* password, char* out, size_t size) {
    char pair[1600];
    int written = std::snprintf(pair, sizeof pair, "%s:%s", user, password);
    size_t length = 6;
    bool fits = written >= 0 && static_cast<size_t>(written) < sizeof pair && size > length;
    if (fits) {
        std::memcpy(out, "Basic ", length + 1);
        fits = appendBase64(reinterpret_cast<const unsigned char*>(pair),
                            static_cast<size_t>(written), out, size, &length);
    }
    std::memset(pair, 0, sizeof pair);
    if (!fits && size > 0)
        out[0] = '\0';
    return fits;
}

bool formatDigestAuthorization(const AuthChallenge* challenge, const char* user,
                               const char* password, const char* method, const char* uri,
                               const char* cnonce, unsigned nc, DigestHash hash, char* out,
                               size_t size) {
    if (size == 0)
        return false;
    out[0] = '\0';
    if (challenge == nullptr || challenge->scheme != authDigest || !challenge->usable)
        return false;
    DigestAlgorithm algorithm = challenge->algorithm;
    char ha1[65], ha2[65], response[65], userHash[65];
    const char* ha1Pieces[] = {user, challenge->realm, password, nullptr};
    if (!hashJoined(hash, algorithm, ha1Pieces, ha1))
        return false;
    if (challenge->sessionHash) {
        const char* sessionPieces[] = {ha1, challenge->nonce, cnonce, nullptr};
        if (!hashJoined(hash, algorithm, sessionPieces, ha1))
            return false;
    }
    const char* ha2Pieces[] = {method, uri, nullptr};
    if (!hashJoined(hash, algorithm, ha2Pieces, ha2))
        return false;
    char count[9];
    std::snprintf(count, sizeof count, "%08x", nc);
    const char* qopPieces[] = {ha1, challenge->nonce, count, cnonce, "auth", ha2, nullptr};
    const char* plainPieces[] = {ha1, challenge->nonce, ha2, nullptr};
    bool answered = hashJoined(hash, algorithm, challenge->qop ? qopPieces : plainPieces, response);
    std::memset(ha1, 0, sizeof ha1);
    if (!answered)
        return false;

    Text text = {out, size, 0, true};
    append(&text, "Digest ");
    bool plainUser = true;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(user); *c; ++c)
        plainUser = plainUser && *c >= 0x20 && *c < 0x7f && *c != '"' && *c != '\\';
    if (challenge->userHash) {
        const char* userPieces[] = {user, challenge->realm, nullptr};
        if (!hashJoined(hash, algorithm, userPieces, userHash))
            return false;
        appendQuoted(&text, "username", userHash);
    } else if (plainUser) {
        appendQuoted(&text, "username", user);
    } else {
        // The extended form: UTF-8 with every byte outside the unreserved set percent-encoded.
        append(&text, "username*=UTF-8''");
        for (const unsigned char* c = reinterpret_cast<const unsigned char*>(user); *c; ++c) {
            bool unreserved = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') ||
                              (*c >= '0' && *c <= '9') || std::strchr("!#$&+-.^_`|~", *c);
            char piece[4];
            std::snprintf(piece, sizeof piece, unreserved ? "%c" : "%%%02X", *c);
            append(&text, piece);
        }
    }
    appendQuoted(&text, "realm", challenge->realm);
    appendQuoted(&text, "uri", uri);
    appendPlain(&text, "algorithm",
                algorithm == digestSha256 ? (challenge->sessionHash ? "SHA-256-sess" : "SHA-256")
                                          : (challenge->sessionHash ? "MD5-sess" : "MD5"));
    appendQuoted(&text, "nonce", challenge->nonce);
    if (challenge->qop) {
        appendPlain(&text, "nc", count);
        appendQuoted(&text, "cnonce", cnonce);
        appendPlain(&text, "qop", "auth");
    }
    appendQuoted(&text, "response", response);
    if (challenge->opaque[0])
        appendQuoted(&text, "opaque", challenge->opaque);
    if (challenge->userHash)
        appendPlain(&text, "userhash", "true");
    if (!text.fits)
        out[0] = '\0';
    return text.fits;
}

bool loginOrigin(const char* url, char* out, size_t size) {
    if (size > 0)
        out[0] = '\0';
    size_t authorityLength = 0;
    const char* authority = url ? authorityOf(url, &authorityLength) : nullptr;
    if (authority == nullptr)
        return false;
    size_t schemeLength = static_cast<size_t>(authority - 3 - url);
    bool https = equalsIgnoringCase(url, schemeLength, "https");
    if (!https && !equalsIgnoringCase(url, schemeLength, "http"))
        return false;
    // User information never forms part of an origin: such an address is not fetched at all.
    if (std::memchr(authority, '@', authorityLength))
        return false;
    size_t hostLength = 0;
    const char* port = nullptr;
    splitAuthority(authority, authorityLength, &hostLength, &port);
    size_t portLength = port ? static_cast<size_t>(authority + authorityLength - port) : 0;
    if (hostLength == 0 || portLength > 5)
        return false;
    char host[256];
    if (hostLength >= sizeof host)
        return false;
    for (size_t i = 0; i < hostLength; ++i)
        host[i] = lowerAscii(authority[i]);
    host[hostLength] = '\0';
    unsigned long portNumber = 0;
    for (size_t i = 0; i < portLength; ++i) {
        if (port[i] < '0' || port[i] > '9')
            return false;
        portNumber = portNumber * 10 + static_cast<unsigned long>(port[i] - '0');
    }
    if (portLength == 0)
        portNumber = https ? 443 : 80;
    if (portNumber == 0 || portNumber > 65535)
        return false;
    int written =
        std::snprintf(out, size, "%s://%s:%lu", https ? "https" : "http", host, portNumber);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        if (size > 0)
            out[0] = '\0';
        return false;
    }
    return true;
}

bool sameLoginHost(const char* a, const char* b) {
    size_t aLength = 0, bLength = 0;
    const char* aAuthority = a ? authorityOf(a, &aLength) : nullptr;
    const char* bAuthority = b ? authorityOf(b, &bLength) : nullptr;
    if (aAuthority == nullptr || bAuthority == nullptr)
        return false;
    size_t aHost = 0, bHost = 0;
    const char* port = nullptr;
    splitAuthority(aAuthority, aLength, &aHost, &port);
    splitAuthority(bAuthority, bLength, &bHost, &port);
    if (aHost != bHost || aHost == 0)
        return false;
    for (size_t i = 0; i < aHost; ++i) {
        if (lowerAscii(aAuthority[i]) != lowerAscii(bAuthority[i]))
            return false;
    }
    return true;
}

void requestTarget(const char* url, char* out, size_t size) {
    size_t authorityLength = 0;
    const char* authority = authorityOf(url, &authorityLength);
    const char* path = authority ? authority + authorityLength : url;
    int pathLength = static_cast<int>(std::strcspn(path, "#"));
    bool root = pathLength == 0 || path[0] == '?';
    std::snprintf(out, size, "%s%.*s", root ? "/" : "", pathLength, path);
}

void formatLoginReason(const char* what, const char* realm, char* out, size_t size) {
    char shown[64];
    size_t length = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(realm ? realm : "");
         *c && length + 1 < sizeof shown; ++c) {
        if (*c >= 0x20 && *c != 0x7f && *c != '"')
            shown[length++] = static_cast<char>(*c);
    }
    // A cut inside a UTF-8 sequence drops the partial character.
    if (length + 1 == sizeof shown) {
        while (length > 0 && (static_cast<unsigned char>(shown[length - 1]) & 0xC0) == 0x80)
            --length;
        if (length > 0 && static_cast<unsigned char>(shown[length - 1]) >= 0xC0)
            --length;
    }
    shown[length] = '\0';
    if (length == 0)
        std::snprintf(out, size, "%s", what);
    else
        std::snprintf(out, size, "%s (\"%s\")", what, shown);
}

void formatHex(const unsigned char* bytes, size_t count, char* out) {
    const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
    out[2 * count] = '\0';
}
