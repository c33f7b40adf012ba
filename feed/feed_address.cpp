// Preparing an address for the wire. The host is found first (it is converted as a whole); the
// rest is copied byte by byte with the encodings browsers apply.
#include "feed/feed_address.h"
#include <cstring>

namespace {

const char hexDigits[] = "0123456789ABCDEF";

// The length of "http://" or "https://" at the start of url (any letter case), else 0.
size_t schemeLength(const char* url) {
    const char* names[] = {"http://", "https://"};
    for (const char* name : names) {
        size_t length = std::strlen(name);
        size_t at = 0;
        while (at < length && url[at] != '\0') {
            char c = url[at];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != name[at])
                break;
            ++at;
        }
        if (at == length)
            return length;
    }
    return 0;
}

struct Writer {
    char* out;
    size_t size;
    size_t length;
    bool fits;
};

void put(Writer* w, char c) {
    if (w->length + 1 >= w->size || w->length >= feedAddressLimit) {
        w->fits = false;
        return;
    }
    w->out[w->length++] = c;
}

void putEncoded(Writer* w, unsigned char c) {
    put(w, '%');
    put(w, hexDigits[c >> 4]);
    put(w, hexDigits[c & 15]);
}

// Copies [from, to) with the browser's encodings; false for a byte that is never allowed.
bool copyEncoded(Writer* w, const unsigned char* from, const unsigned char* to,
                 AddressSource source) {
    for (const unsigned char* c = from; c < to; ++c) {
        if (*c == '\t' && source == redirectTarget)
            continue;
        if (*c == ' ' && source == redirectTarget)
            putEncoded(w, *c);
        else if (*c <= 0x20 || *c == 0x7f)
            return false;
        else if (*c >= 0x80 || *c == '"' || *c == '<' || *c == '>' || *c == '`')
            putEncoded(w, *c);
        else
            put(w, static_cast<char>(*c));
    }
    return true;
}

} // namespace

bool prepareFeedAddress(const char* url, AddressSource source, HostToAscii hostToAscii, char* out,
                        size_t outSize) {
    if (outSize == 0)
        return false;
    out[0] = '\0';
    if (url == nullptr)
        return false;
    size_t scheme = schemeLength(url);
    if (scheme == 0)
        return false;
    const char* hostStart = url + scheme;
    const char* hostEnd = hostStart + std::strcspn(hostStart, "/?#");
    // A user name in an address is refused whatever follows it: it would be sent to whoever the
    // address names, or read as part of the host.
    if (hostEnd == hostStart || std::memchr(hostStart, '@', size_t(hostEnd - hostStart)))
        return false;
    Writer w = {out, outSize, 0, true};
    for (size_t i = 0; i < scheme; ++i)
        put(&w, url[i]);
    bool ascii = true;
    for (const char* c = hostStart; c < hostEnd; ++c)
        ascii = ascii && static_cast<unsigned char>(*c) < 0x80;
    if (ascii) {
        for (const char* c = hostStart; c < hostEnd; ++c) {
            unsigned char u = static_cast<unsigned char>(*c);
            if (u <= 0x20 || u == 0x7f || *c == '"' || *c == '<' || *c == '>' || *c == '`')
                return out[0] = '\0', false;
            put(&w, *c);
        }
    } else {
        // The port, if any, stays as it is; the name before it is converted.
        const char* nameEnd = hostEnd;
        for (const char* c = hostEnd; c > hostStart; --c) {
            if (c[-1] == ':') {
                nameEnd = c - 1;
                break;
            }
        }
        char converted[256];
        if (hostToAscii == nullptr ||
            !hostToAscii(hostStart, size_t(nameEnd - hostStart), converted, sizeof converted))
            return out[0] = '\0', false;
        for (const char* c = converted; *c; ++c) {
            unsigned char u = static_cast<unsigned char>(*c);
            if (u <= 0x20 || u >= 0x7f)
                return out[0] = '\0', false;
            put(&w, *c);
        }
        // A port is digits; anything else after the name is no host at all.
        for (const char* c = nameEnd; c < hostEnd; ++c) {
            if (c > nameEnd && (*c < '0' || *c > '9'))
                return out[0] = '\0', false;
            put(&w, *c);
        }
    }
    const unsigned char* rest = reinterpret_cast<const unsigned char*>(hostEnd);
    if (!copyEncoded(&w, rest, rest + std::strlen(hostEnd), source) || !w.fits || w.length == 0)
        return out[0] = '\0', false;
    out[w.length] = '\0';
    return true;
}

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool feedAddressKey(const char* url, HostToAscii hostToAscii, char* out, size_t outSize) {
    if (outSize == 0 || url == nullptr)
        return false;
    Writer w = {out, outSize, 0, true};
    size_t scheme = schemeLength(url);
    if (scheme == 0) {
        for (const char* c = url; *c; ++c)
            put(&w, *c);
        out[w.length] = '\0';
        return w.fits;
    }
    for (size_t i = 0; i < scheme; ++i)
        put(&w, lowerAscii(url[i]));
    const char* hostStart = url + scheme;
    const char* hostEnd = hostStart + std::strcspn(hostStart, "/?#");
    // The port follows the last colon that is not inside an IPv6 literal's brackets.
    const char* nameEnd = hostEnd;
    for (const char* c = hostEnd; c > hostStart && c[-1] != ']'; --c) {
        if (c[-1] == ':') {
            nameEnd = c - 1;
            break;
        }
    }
    bool ascii = true;
    for (const char* c = hostStart; c < nameEnd; ++c)
        ascii = ascii && static_cast<unsigned char>(*c) < 0x80;
    char converted[256];
    if (!ascii && hostToAscii != nullptr &&
        hostToAscii(hostStart, size_t(nameEnd - hostStart), converted, sizeof converted)) {
        for (const char* c = converted; *c; ++c)
            put(&w, lowerAscii(*c));
    } else {
        for (const char* c = hostStart; c < nameEnd; ++c)
            put(&w, lowerAscii(*c));
    }
    const char* port = nameEnd < hostEnd ? nameEnd + 1 : hostEnd;
    size_t portLength = size_t(hostEnd - port);
    const char* defaultPort = scheme == 7 ? "80" : "443";
    bool isDefault = portLength == 0 || (portLength == std::strlen(defaultPort) &&
                                         std::memcmp(port, defaultPort, portLength) == 0);
    if (!isDefault) {
        put(&w, ':');
        for (const char* c = port; c < hostEnd; ++c)
            put(&w, *c);
    }
    const char* rest = hostEnd;
    size_t restLength = std::strcspn(rest, "#");
    if (restLength == 0 || rest[0] == '?')
        put(&w, '/');
    for (size_t i = 0; i < restLength; ++i) {
        unsigned char c = static_cast<unsigned char>(rest[i]);
        if (c >= 0x80)
            putEncoded(&w, c);
        else
            put(&w, static_cast<char>(c));
    }
    out[w.length] = '\0';
    return w.fits;
}

bool sameFeedAddress(const char* a, const char* b, HostToAscii hostToAscii) {
    if (a == nullptr || b == nullptr)
        return a == b;
    char keyA[feedAddressLimit + 1], keyB[feedAddressLimit + 1];
    if (feedAddressKey(a, hostToAscii, keyA, sizeof keyA) &&
        feedAddressKey(b, hostToAscii, keyB, sizeof keyB))
        return std::strcmp(keyA, keyB) == 0;
    return std::strcmp(a, b) == 0;
}

unsigned long long feedAddressHash(const char* url, HostToAscii hostToAscii) {
    if (url == nullptr)
        return 0;
    char key[feedAddressLimit + 1];
    const char* text = feedAddressKey(url, hostToAscii, key, sizeof key) ? key : url;
    unsigned long long hash = 14695981039346656037ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        hash = (hash ^ *p) * 1099511628211ull;
    return hash;
}
