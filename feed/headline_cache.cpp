// The cache file's format, portable: composing the header and checking and decoding a whole file.
#include "feed/headline_cache.h"

#include <zlib.h>
#include <cinttypes>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "feed/http_response.h"

const size_t cacheBodyLimit = responseBodyCap;

namespace {

const char cacheMagic[] = "FeedMarquee headline cache 1\n";

// Appends "name length\n" + bytes + "\n" at out[*used]; false when it does not fit.
bool putField(char* out, size_t size, size_t* used, const char* name, const char* value) {
    if (value == nullptr)
        value = "";
    size_t length = std::strlen(value);
    if (length > cacheFieldLimit)
        return false;
    int head = std::snprintf(out + *used, size - *used, "%s %zu\n", name, length);
    if (head < 0 || static_cast<size_t>(head) >= size - *used)
        return false;
    *used += static_cast<size_t>(head);
    if (length + 1 >= size - *used)
        return false;
    std::memcpy(out + *used, value, length);
    *used += length;
    out[(*used)++] = '\n';
    out[*used] = '\0';
    return true;
}

// A reader over the file's bytes that never goes past their end.
struct Reader {
    const char* data;
    size_t length;
    size_t at;
};

// Reads "name N\n" and returns N (at most limit); -1 when the line is not exactly that.
int64_t readCount(Reader& r, const char* name, int64_t limit) {
    size_t nameLength = std::strlen(name);
    if (r.length - r.at < nameLength + 1 || std::memcmp(r.data + r.at, name, nameLength) != 0 ||
        r.data[r.at + nameLength] != ' ')
        return -1;
    r.at += nameLength + 1;
    int64_t value = 0;
    size_t digits = 0;
    while (r.at < r.length && r.data[r.at] >= '0' && r.data[r.at] <= '9') {
        value = value * 10 + (r.data[r.at++] - '0');
        if (++digits > 12 || value > limit)
            return -1;
    }
    if (digits == 0 || r.at >= r.length || r.data[r.at] != '\n')
        return -1;
    ++r.at;
    return value;
}

// Reads a field of at most cacheFieldLimit bytes into a new zero-terminated text (*field).
bool readField(Reader& r, const char* name, const char** field) {
    int64_t length = readCount(r, name, static_cast<int64_t>(cacheFieldLimit));
    if (length < 0 || r.length - r.at < static_cast<size_t>(length) + 1 ||
        r.data[r.at + length] != '\n')
        return false;
    // A text field holds no zero byte: it would cut the address short unseen.
    if (std::memchr(r.data + r.at, '\0', static_cast<size_t>(length)) != nullptr)
        return false;
    char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (text == nullptr)
        return false;
    std::memcpy(text, r.data + r.at, static_cast<size_t>(length));
    text[length] = '\0';
    *field = text;
    r.at += static_cast<size_t>(length) + 1;
    return true;
}

void freeTexts(CachedFeed* feed) {
    const char** fields[] = {&feed->url, &feed->finalUrl, &feed->etag, &feed->lastModified,
                             &feed->contentType};
    for (const char** field : fields) {
        std::free(const_cast<char*>(*field));
        *field = nullptr;
    }
}

} // namespace

size_t composeCacheHeader(const CachedFeed* feed, size_t bodyLength, char* out, size_t size) {
    size_t used = 0;
    if (size < sizeof cacheMagic)
        return 0;
    std::memcpy(out, cacheMagic, sizeof cacheMagic);
    used = sizeof cacheMagic - 1;
    if (!putField(out, size, &used, "url", feed->url) ||
        !putField(out, size, &used, "final", feed->finalUrl) ||
        !putField(out, size, &used, "etag", feed->etag) ||
        !putField(out, size, &used, "modified", feed->lastModified) ||
        !putField(out, size, &used, "type", feed->contentType))
        return 0;
    int tail = std::snprintf(out + used, size - used, "time %" PRId64 "\nbody %zu\n",
                             feed->savedAt < 0 ? int64_t{0} : feed->savedAt, bodyLength);
    if (tail < 0 || static_cast<size_t>(tail) >= size - used)
        return 0;
    return used + static_cast<size_t>(tail);
}

bool isOwnFeedFileStart(const char* data, size_t length) {
    // The seen keys file's magic line is its own unit's; both are fixed for good, as old files
    // must still read.
    static const char seenMagic[] = "FeedMarquee seen keys 1\n";
    for (const char* magic : {cacheMagic, seenMagic}) {
        size_t magicLength = std::strlen(magic);
        if (length >= magicLength && std::memcmp(data, magic, magicLength) == 0)
            return true;
    }
    return false;
}

uint32_t crcOf(const char* data, size_t length) {
    unsigned long crc = crc32(0L, nullptr, 0);
    for (size_t at = 0; at < length;) {
        uInt piece = static_cast<uInt>(length - at > (1u << 30) ? (1u << 30) : length - at);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data + at), piece);
        at += piece;
    }
    return static_cast<uint32_t>(crc);
}

bool decodeHeadlineCache(const char* data, size_t length, CachedFeed* feed) {
    *feed = CachedFeed{};
    const size_t magicLength = sizeof cacheMagic - 1;
    const size_t crcLineLength = 13; // "crc XXXXXXXX\n"
    if (data == nullptr || length < magicLength + crcLineLength ||
        std::memcmp(data, cacheMagic, magicLength) != 0)
        return false;
    // The checksum covers everything before its own line.
    size_t covered = length - crcLineLength;
    const char* crcLine = data + covered;
    if (std::memcmp(crcLine, "crc ", 4) != 0 || crcLine[12] != '\n')
        return false;
    unsigned long stored = 0;
    for (int i = 4; i < 12; ++i) {
        char c = crcLine[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return false;
        stored = stored * 16 + static_cast<unsigned long>(digit);
    }
    if (crcOf(data, covered) != stored)
        return false;

    Reader r = {data, covered, magicLength};
    if (!readField(r, "url", &feed->url) || !readField(r, "final", &feed->finalUrl) ||
        !readField(r, "etag", &feed->etag) || !readField(r, "modified", &feed->lastModified) ||
        !readField(r, "type", &feed->contentType)) {
        freeTexts(feed);
        return false;
    }
    int64_t savedAt = readCount(r, "time", INT64_C(253402300799)); // up to the year 9999
    int64_t bodyLength = readCount(r, "body", static_cast<int64_t>(cacheBodyLimit));
    char* body = nullptr;
    if (savedAt >= 0 && bodyLength >= 0 && r.length - r.at == static_cast<size_t>(bodyLength) + 1 &&
        r.data[r.at + bodyLength] == '\n')
        body = static_cast<char*>(std::malloc(static_cast<size_t>(bodyLength) + 1));
    if (body == nullptr) {
        freeTexts(feed);
        return false;
    }
    std::memcpy(body, r.data + r.at, static_cast<size_t>(bodyLength));
    body[bodyLength] = '\0';
    feed->savedAt = savedAt;
    feed->body = body;
    feed->bodyLength = static_cast<size_t>(bodyLength);
    return true;
}

bool cacheHeaderNames(const char* data, size_t length, const char* url) {
    const size_t magicLength = sizeof cacheMagic - 1;
    if (data == nullptr || url == nullptr || length < magicLength ||
        std::memcmp(data, cacheMagic, magicLength) != 0)
        return false;
    Reader r = {data, length, magicLength};
    size_t urlLength = std::strlen(url);
    int64_t stored = readCount(r, "url", static_cast<int64_t>(length));
    return stored >= 0 && static_cast<size_t>(stored) == urlLength &&
           r.length - r.at >= urlLength && std::memcmp(r.data + r.at, url, urlLength) == 0;
}

void freeCachedFeed(CachedFeed* feed) {
    freeTexts(feed);
    std::free(feed->body);
    feed->body = nullptr;
    feed->bodyLength = 0;
}
