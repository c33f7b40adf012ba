// The cache file on disk: written whole to a temporary sibling and moved into place in one step,
// so a crash or a full disk leaves either the old file or the new one, never half of one; read
// only after its size shows it can be a cache at all.
#include <windows.h>
#include <zlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "feed/headline_cache.h"

void (*cacheWritePieceHook)() = nullptr;

namespace {

// path + ".tmp" into out (MAX_PATH); false when it does not fit.
bool temporaryPath(const char* path, char* out) {
    int length = std::snprintf(out, MAX_PATH, "%s.tmp", path);
    return length > 0 && length < MAX_PATH;
}

bool writeAll(HANDLE file, const char* data, size_t length, unsigned long* crc,
              volatile long* stop) {
    *crc = crc32(*crc, reinterpret_cast<const Bytef*>(data), 0);
    while (length > 0) {
        if (cacheWritePieceHook != nullptr)
            cacheWritePieceHook();
        if (stop != nullptr && *stop != 0)
            return false;
        DWORD piece = length > (1u << 20) ? (1u << 20) : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written != piece)
            return false;
        *crc = crc32(*crc, reinterpret_cast<const Bytef*>(data), piece);
        data += piece;
        length -= piece;
    }
    return true;
}

} // namespace

bool writeCacheTemporary(const char* path, const CachedFeed* feed, const char* body,
                         size_t bodyLength, volatile long* stop) {
    char temporary[MAX_PATH];
    if (path == nullptr || !path[0] || !temporaryPath(path, temporary) || body == nullptr ||
        bodyLength > cacheBodyLimit)
        return false;
    char* header = static_cast<char*>(std::malloc(cacheHeaderLimit));
    size_t headerLength =
        header ? composeCacheHeader(feed, bodyLength, header, cacheHeaderLimit) : 0;
    if (headerLength == 0) {
        std::free(header);
        return false;
    }
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::free(header);
        return false;
    }
    unsigned long crc = crc32(0L, nullptr, 0);
    bool ok = writeAll(file, header, headerLength, &crc, stop) &&
              writeAll(file, body, bodyLength, &crc, stop) && writeAll(file, "\n", 1, &crc, stop);
    std::free(header);
    char crcLine[16];
    std::snprintf(crcLine, sizeof crcLine, "crc %08lx\n", crc & 0xFFFFFFFFul);
    unsigned long ignored = 0;
    ok = ok && writeAll(file, crcLine, 13, &ignored, stop);
    // The bytes reach the disk before the rename can make them the cache.
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
    if (!ok)
        DeleteFileA(temporary);
    return ok;
}

bool commitCacheTemporary(const char* path) {
    char temporary[MAX_PATH];
    if (path == nullptr || !path[0] || !temporaryPath(path, temporary))
        return false;
    // The data were flushed once before the rename; the rename itself is not flushed again (a
    // crash may keep the old copy, never half of one).
    if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(temporary);
    return false;
}

void discardCacheTemporary(const char* path) {
    char temporary[MAX_PATH];
    if (path != nullptr && path[0] && temporaryPath(path, temporary))
        DeleteFileA(temporary);
}

bool readHeadlineCache(const char* path, CachedFeed* feed) {
    return readHeadlineCacheFor(path, nullptr, feed);
}

bool readHeadlineCacheFor(const char* path, const char* url, CachedFeed* feed) {
    *feed = CachedFeed{};
    if (path == nullptr || !path[0])
        return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // The body cap plus room for the header and the checksum line: a larger file is no cache.
    const unsigned long long largest = cacheBodyLimit + cacheHeaderLimit + 16;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 &&
              static_cast<unsigned long long>(size.QuadPart) <= largest;
    char* data = nullptr;
    size_t length = ok ? static_cast<size_t>(size.QuadPart) : 0;
    if (ok) {
        data = static_cast<char*>(std::malloc(length));
        ok = data != nullptr;
    }
    // The header first: a copy of another address is rejected before its body is read.
    size_t headerBytes = length < cacheFieldLimit + 64 ? length : cacheFieldLimit + 64;
    for (size_t at = 0; ok && at < length;) {
        if (url != nullptr && at == headerBytes && !cacheHeaderNames(data, at, url)) {
            ok = false;
            break;
        }
        size_t end = at < headerBytes ? headerBytes : length;
        DWORD piece = end - at > (1u << 20) ? (1u << 20) : static_cast<DWORD>(end - at);
        DWORD read = 0;
        ok = ReadFile(file, data + at, piece, &read, nullptr) && read == piece;
        at += read;
    }
    CloseHandle(file);
    ok = ok && (url == nullptr || cacheHeaderNames(data, length, url)) &&
         decodeHeadlineCache(data, length, feed);
    std::free(data);
    return ok;
}

bool removeOwnFeedFile(const char* path) {
    // Opened as itself, not as what a link points to, and only read: the check never changes it.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    char start[64];
    DWORD read = 0;
    bool own = GetFileInformationByHandle(file, &information) &&
               !(information.dwFileAttributes &
                 (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
               ReadFile(file, start, sizeof start, &read, nullptr) &&
               isOwnFeedFileStart(start, read);
    CloseHandle(file);
    return own && DeleteFileA(path);
}
