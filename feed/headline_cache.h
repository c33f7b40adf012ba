// The saved copy of the last good response, "feedmarquee.cache" next to the settings file, so
// that the headlines show at once on the next start and its first request can be conditional.
//
// The file: a magic line, then the fields as "name length" lines each followed by that many bytes
// and a line end, then "crc" and the CRC-32 of everything before it:
//   FeedMarquee headline cache 1
//   url N / final N / etag N / modified N / type N   (each followed by its N bytes)
//   time T                                   (seconds since 1970, UTC)
//   body N                                   (followed by the decoded body)
//   crc XXXXXXXX
// Anything else (cut short, altered, foreign, larger than the body cap allows) is not a cache.
#pragma once
#include <cstddef>
#include <cstdint>
#include "feed/feed_address.h"
#include "feed/http_response.h"

// The texts are kept whole up to cacheFieldLimit bytes each (addresses and validators up to
// 8 KiB); null is written as empty. A record read by decodeHeadlineCache owns heap copies of
// them, which freeCachedFeed frees; a record a caller fills for writing owns nothing.
struct CachedFeed {
    const char* url;      // the feed address the response was fetched for (feedUrl)
    const char* finalUrl; // the address that answered, after redirects
    const char* etag;     // the response's validators, empty when absent
    const char* lastModified;
    const char* contentType; // the response's Content-Type: its charset decides how it reads
    int64_t savedAt;         // seconds since 1970 (UTC) of the response
    char* body;              // the decoded body, zero-terminated; free() it (freeCachedFeed)
    size_t bodyLength;
};

// The largest body a cache holds (the response body cap, 32 MiB).
extern const size_t cacheBodyLimit;
// The longest text field a cache holds.
const size_t cacheFieldLimit =
    feedAddressLimit > responseWholeFieldLimit ? feedAddressLimit : responseWholeFieldLimit;
// The longest header a cache has (five fields, their names and the time and body lines).
const size_t cacheHeaderLimit = 5 * (cacheFieldLimit + 32) + 128;

// The CRC-32 of length bytes, of any length (zlib takes them in pieces under its 4 GiB limit):
// the cache's check, and the one the seen keys file and the engine's same-body test use.
uint32_t crcOf(const char* data, size_t length);

// Portable. The header of a cache whose body is bodyLength bytes, into out (size bytes); returns
// its length, 0 when it does not fit or a field is longer than cacheFieldLimit.
size_t composeCacheHeader(const CachedFeed* feed, size_t bodyLength, char* out, size_t size);
// Portable. Reads a whole cache file's bytes into feed (body newly allocated); false, with feed
// holding no body, when the bytes are not a whole, intact cache.
bool decodeHeadlineCache(const char* data, size_t length, CachedFeed* feed);
// Frees the body and the texts of a record read by decodeHeadlineCache; the record can be reused.
void freeCachedFeed(CachedFeed* feed);

// Win32. Writes the cache for feed (its body: body, bodyLength) to path's temporary sibling
// (path + ".tmp"); false when it could not be written whole (the temporary file is removed then).
// A non-zero *stop (stop may be null) ends the write between pieces, as a failure.
bool writeCacheTemporary(const char* path, const CachedFeed* feed, const char* body,
                         size_t bodyLength, volatile long* stop = nullptr);
// A seam for the tests: called before each piece (up to 1 MiB) of a cache write, to stand for a
// slow folder; null by default.
extern void (*cacheWritePieceHook)();

// Win32. Puts the temporary file in place of path in one step; false when that failed.
bool commitCacheTemporary(const char* path);
// Win32. Removes the temporary file, if any.
void discardCacheTemporary(const char* path);
// Win32. Reads the cache at path; false (feed without body) when there is none or it is unusable.
// The file's size is checked before anything is read.
bool readHeadlineCache(const char* path, CachedFeed* feed);
// Win32. readHeadlineCache of a copy saved for url only: the address in the file's header is
// compared before the body is read, so a copy of another address costs one small read.
bool readHeadlineCacheFor(const char* path, const char* url, CachedFeed* feed);

// Portable. True when data (the first length bytes of a file) starts with the magic line of a file
// the feed folder's own files have: a saved copy (or its temporary file) or a seen keys file.
bool isOwnFeedFileStart(const char* data, size_t length);
// Win32. Removes path only when it is a plain file that starts as the plug-in's own files do,
// never a link or other reparse point (nor, where links show as plain files, whatever a link
// points to that is not such a file); false when it was left alone or could not be removed.
bool removeOwnFeedFile(const char* path);

// Portable. True when data (the first length bytes of a cache file) starts with the magic line
// and a url field that is exactly url; false when it is another address or not a cache.
bool cacheHeaderNames(const char* data, size_t length, const char* url);
