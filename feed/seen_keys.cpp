// Seen keys as hashes: a feed's 2,000 keys take 16 KB, and the file says nothing of what was read.
#include "feed/seen_keys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "content/key_hash.h"
#include "feed/feed_engine.h"
#include "feed/headline_cache.h"

namespace {

const char seenMagic[] = "FeedMarquee seen keys 1\n";

// The hash of the feed's address that names the file's owner (as the saved files' names do).
uint64_t ownerHash(const char* url) {
    return url != nullptr ? textHash(url, std::strlen(url)) : textHashStart;
}

int find(const SeenKeys* seen, uint64_t hash) {
    for (int i = seen->count - 1; i >= 0; --i)
        if (seen->hashes[i] == hash)
            return i;
    return -1;
}

bool append(SeenKeys* seen, uint64_t hash) {
    if (seen->count == engineSeenKeyLimit) {
        std::memmove(seen->hashes, seen->hashes + 1, sizeof(uint64_t) * (seen->count - 1));
        --seen->count;
    }
    if (seen->count == seen->capacity) {
        int capacity = seen->capacity == 0 ? 64 : seen->capacity * 2;
        if (capacity > engineSeenKeyLimit)
            capacity = engineSeenKeyLimit;
        uint64_t* grown = static_cast<uint64_t*>(
            std::realloc(seen->hashes, sizeof(uint64_t) * static_cast<size_t>(capacity)));
        if (grown == nullptr)
            return false;
        seen->hashes = grown;
        seen->capacity = capacity;
    }
    seen->hashes[seen->count++] = hash;
    return true;
}

} // namespace

bool addSeenKey(SeenKeys* seen, uint64_t key) {
    return key != 0 && find(seen, key) < 0 && append(seen, key);
}

bool hasSeenKey(const SeenKeys* seen, uint64_t key) {
    return key != 0 && find(seen, key) >= 0;
}

void keepSeenKeysOf(SeenKeys* seen, const FeedList* list) {
    for (const FeedItem* item = firstItem(list);
         item != nullptr && item->entryIndex <= engineSeenKeyLimit; item = item->next) {
        if (item->key == 0)
            continue;
        int at = find(seen, item->key);
        if (at < 0 || at == seen->count - 1)
            continue;
        uint64_t hash = seen->hashes[at];
        std::memmove(seen->hashes + at, seen->hashes + at + 1,
                     sizeof(uint64_t) * static_cast<size_t>(seen->count - at - 1));
        seen->hashes[seen->count - 1] = hash;
    }
}

void moveSeenKeys(SeenKeys* to, SeenKeys* from) {
    freeSeenKeys(to);
    *to = *from;
    std::memset(from, 0, sizeof *from);
}

void freeSeenKeys(SeenKeys* seen) {
    std::free(seen->hashes);
    std::memset(seen, 0, sizeof *seen);
}

char* encodeSeenKeys(const SeenKeys* seen, const char* url, size_t* length) {
    size_t size = sizeof seenMagic + static_cast<size_t>(seen->count + 1) * 17 + 16;
    char* out = static_cast<char*>(std::malloc(size));
    if (out == nullptr)
        return nullptr;
    size_t used = sizeof seenMagic - 1;
    std::memcpy(out, seenMagic, used);
    // The first line names the feed: the hash of its address.
    used += static_cast<size_t>(
        std::snprintf(out + used, size - used, "%016llx\n",
                      static_cast<unsigned long long>(ownerHash(url))));
    for (int i = 0; i < seen->count; ++i)
        used +=
            static_cast<size_t>(std::snprintf(out + used, size - used, "%016llx\n",
                                              static_cast<unsigned long long>(seen->hashes[i])));
    used += static_cast<size_t>(std::snprintf(out + used, size - used, "crc %08lx\n",
                                              static_cast<unsigned long>(crcOf(out, used))));
    *length = used;
    return out;
}

bool decodeSeenKeys(const char* data, size_t length, const char* url, SeenKeys* seen) {
    const size_t magic = sizeof seenMagic - 1;
    const size_t crcLine = 13;
    if (data == nullptr || length < magic + crcLine || std::memcmp(data, seenMagic, magic) != 0)
        return false;
    size_t covered = length - crcLine;
    char line[14];
    std::snprintf(line, sizeof line, "crc %08lx\n",
                  static_cast<unsigned long>(crcOf(data, covered)));
    if (std::memcmp(data + covered, line, crcLine) != 0 || (covered - magic) % 17 != 0 ||
        covered - magic < 17)
        return false;
    // Another feed's keys would make every item of this one new.
    char owner[18];
    std::snprintf(owner, sizeof owner, "%016llx\n",
                  static_cast<unsigned long long>(ownerHash(url)));
    if (std::memcmp(data + magic, owner, 17) != 0)
        return false;
    SeenKeys read = {};
    for (size_t at = magic + 17; at < covered; at += 17) {
        uint64_t hash = 0;
        for (size_t k = 0; k < 16; ++k) {
            char c = data[at + k];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0) {
                freeSeenKeys(&read);
                return false;
            }
            hash = hash * 16 + static_cast<uint64_t>(digit);
        }
        if (data[at + 16] != '\n' || !append(&read, hash)) {
            freeSeenKeys(&read);
            return false;
        }
    }
    moveSeenKeys(seen, &read);
    return true;
}

bool writeSeenKeys(const char* path, const char* url, const SeenKeys* seen) {
    size_t length = 0;
    char* data = encodeSeenKeys(seen, url, &length);
    bool ok = data != nullptr && writeSeenBytes(path, data, length);
    std::free(data);
    return ok;
}

namespace {

bool flushToDisk(FILE* file) {
#ifdef _WIN32
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
#else
    return fsync(fileno(file)) == 0;
#endif
}

} // namespace

bool writeSeenBytes(const char* path, const char* data, size_t length) {
    char temporary[1024];
    if (data == nullptr || std::snprintf(temporary, sizeof temporary, "%s.tmp", path) >=
                               static_cast<int>(sizeof temporary))
        return false;
    FILE* file = std::fopen(temporary, "wb");
    bool ok = file != nullptr && std::fwrite(data, 1, length, file) == length;
    // The bytes reach the disk before the rename makes them the seen keys: a rename that lands
    // before the data would leave an empty or torn file after a power loss.
    ok = ok && std::fflush(file) == 0 && flushToDisk(file);
    if (file != nullptr)
        ok = std::fclose(file) == 0 && ok;
#ifdef _WIN32
    ok = ok && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING);
#else
    ok = ok && std::rename(temporary, path) == 0;
#endif
    if (!ok)
        std::remove(temporary);
    return ok;
}

bool readSeenKeys(const char* path, const char* url, SeenKeys* seen) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    // The largest file a full set makes, and a little room.
    const size_t largest = sizeof seenMagic + (engineSeenKeyLimit + 1) * 17 + 16;
    char* data = static_cast<char*>(std::malloc(largest + 1));
    size_t length = data != nullptr ? std::fread(data, 1, largest + 1, file) : 0;
    std::fclose(file);
    bool ok = data != nullptr && length <= largest && decodeSeenKeys(data, length, url, seen);
    std::free(data);
    return ok;
}
