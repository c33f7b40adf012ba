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

struct CachedFeed {
    char url[256];       // the feed address the response was fetched for (feedUrl)
    char finalUrl[2048]; // the address that answered, after redirects
    char etag[256];      // the response's validators, empty when absent
    char lastModified[64];
    char contentType[256]; // the response's Content-Type: its charset decides how the body reads
    int64_t savedAt;       // seconds since 1970 (UTC) of the response
    char* body;            // the decoded body, zero-terminated; free() it (freeCachedFeed)
    size_t bodyLength;
};

// The largest body a cache holds (the response body cap, 32 MiB).
extern const size_t cacheBodyLimit;

// Portable. The header of a cache whose body is bodyLength bytes, into out (size bytes); returns
// its length, 0 when it does not fit.
size_t composeCacheHeader(const CachedFeed* feed, size_t bodyLength, char* out, size_t size);
// Portable. Reads a whole cache file's bytes into feed (body newly allocated); false, with feed
// holding no body, when the bytes are not a whole, intact cache.
bool decodeHeadlineCache(const char* data, size_t length, CachedFeed* feed);
// Frees the body; the record can be reused.
void freeCachedFeed(CachedFeed* feed);

// Win32. Writes the cache for feed (its body: body, bodyLength) to path's temporary sibling
// (path + ".tmp"); false when it could not be written whole (the temporary file is removed then).
// A non-zero *stop (stop may be null) ends the write between pieces, as a failure.
bool writeCacheTemporary(const char* path, const CachedFeed* feed, const char* body,
                         size_t bodyLength, volatile long* stop = nullptr);
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

// Portable. True when data (the first length bytes of a cache file) starts with the magic line
// and a url field that is exactly url; false when it is another address or not a cache.
bool cacheHeaderNames(const char* data, size_t length, const char* url);
