// The keys of the items a user has seen, per feed: 64-bit hashes of the item keys, oldest first,
// at most engineSeenKeyLimit (2,000). Saved beside the feed's headlines so new-item marks survive
// a restart. The file: a magic line, the hash of the feed's address, one key's hash a line (all in
// hex), "crc XXXXXXXX" of all before it. A file of another address is not read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "content/feed_items.h"

struct SeenKeys {
    uint64_t* hashes; // oldest first
    int count;
    int capacity;
};

// Adds an item's key hash (FeedItem::key; 0: nothing); the oldest key goes when the set is full.
// True when it was not there.
bool addSeenKey(SeenKeys* seen, uint64_t key);
bool hasSeenKey(const SeenKeys* seen, uint64_t key);
// Moves the keys of list's items (its first engineSeenKeyLimit) that are in the set to the newest
// end, so the items on show are the last to be forgotten.
void keepSeenKeysOf(SeenKeys* seen, const FeedList* list);
// Replaces to's keys with from's; from becomes empty.
void moveSeenKeys(SeenKeys* to, SeenKeys* from);
void freeSeenKeys(SeenKeys* seen);

// Portable: the file's bytes for seen (malloc'd, *length set) or null; and their reading (false,
// seen untouched, when the bytes are not a whole intact file).
char* encodeSeenKeys(const SeenKeys* seen, const char* url, size_t* length);
bool decodeSeenKeys(const char* data, size_t length, const char* url, SeenKeys* seen);
// The file at path: written to path + ".tmp" and moved into place; read back whole or not at all.
bool writeSeenKeys(const char* path, const char* url, const SeenKeys* seen);
// The same for bytes encodeSeenKeys made.
bool writeSeenBytes(const char* path, const char* data, size_t length);
bool readSeenKeys(const char* path, const char* url, SeenKeys* seen);
