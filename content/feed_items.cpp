// The list model: entries and texts are carved from a few blocks owned by the list, so a list of
// thousands of items costs a handful of allocations and frees in one sweep. Blocks grow with the
// list (each at least as large as all before it, up to blockLargest), so a 10 MB feed takes a few
// dozen blocks and a small one a single block.
#include "content/feed_items.h"

#include <cstdlib>
#include <cstring>
#include <new>
#ifdef _WIN32
#include <malloc.h> // _expand
#endif

struct TextBlock {
    TextBlock* next;
    size_t size; // bytes of data
    size_t used;
    // data follows, aligned for pointers
};

namespace {

const size_t blockSmallest = 1024;
const size_t blockLargest = 256 * 1024;
const size_t alignment = sizeof(void*) > 8 ? sizeof(void*) : 8;

size_t alignUp(size_t n) {
    return (n + alignment - 1) & ~(alignment - 1);
}

char* blockData(TextBlock* block) {
    return reinterpret_cast<char*>(block) + alignUp(sizeof(TextBlock));
}

// n bytes from the list's newest block, or from a new one when it lacks room; null when memory
// runs out. aligned: the bytes start at a pointer-aligned address (entries).
char* carve(FeedList* list, size_t n, bool aligned) {
    TextBlock* block = list->blocks;
    if (block != nullptr) {
        size_t at = aligned ? alignUp(block->used) : block->used;
        if (at <= block->size && block->size - at >= n) {
            block->used = at + n;
            return blockData(block) + at;
        }
    }
    size_t size = list->nextBlock < blockSmallest ? blockSmallest : list->nextBlock;
    if (size > blockLargest)
        size = blockLargest;
    // Without a size hint each block is as large as all before it; with one, every block is
    // the hinted size, so the last one wastes at most that.
    if (!list->hinted)
        list->nextBlock = size * 2;
    if (size < n)
        size = n;
    size_t header = alignUp(sizeof(TextBlock));
    if (size > static_cast<size_t>(-1) - header)
        return nullptr;
    TextBlock* fresh = static_cast<TextBlock*>(std::malloc(header + size));
    if (fresh == nullptr)
        return nullptr;
    fresh->size = size;
    fresh->used = n;
    // A large text gets a block of its own behind the current one, so the current one's room is
    // not wasted.
    if (block != nullptr && size == n && block->size - block->used > 64) {
        fresh->next = block->next;
        block->next = fresh;
    } else {
        fresh->next = block;
        list->blocks = fresh;
    }
    list->blockBytes += header + size;
    return blockData(fresh);
}

} // namespace

FeedList* newFeedList(size_t sizeHint) {
    FeedList* list = new (std::nothrow) FeedList();
    if (list == nullptr)
        return nullptr;
    list->references.store(1);
    if (sizeHint > 0) {
        // The first block is sized for the whole list when that is small; a large list still
        // grows block by block so that no single allocation is huge.
        list->nextBlock = sizeHint < blockSmallest ? blockSmallest : sizeHint;
        list->hinted = true;
    }
    return list;
}

FeedList* retainFeedList(FeedList* list) {
    if (list != nullptr)
        list->references.fetch_add(1);
    return list;
}

void releaseFeedList(FeedList* list) {
    if (list == nullptr || list->references.fetch_sub(1) != 1)
        return;
    TextBlock* block = list->blocks;
    while (block != nullptr) {
        TextBlock* next = block->next;
        std::free(block);
        block = next;
    }
    delete list;
}

void trimFeedList(FeedList* list) {
#ifdef _WIN32
    TextBlock* block = list != nullptr ? list->blocks : nullptr;
    if (block == nullptr || block->size - block->used < 4096)
        return;
    // Shrunk in place or not at all: the entries and texts in it must not move.
    size_t header = alignUp(sizeof(TextBlock));
    if (_expand(block, header + block->used) != nullptr) {
        list->blockBytes -= block->size - block->used;
        block->size = block->used;
    }
#else
    (void)list;
#endif
}

FeedItem* appendEntry(FeedList* list) {
    if (list == nullptr)
        return nullptr;
    FeedItem* entry = reinterpret_cast<FeedItem*>(carve(list, sizeof(FeedItem), true));
    if (entry == nullptr)
        return nullptr;
    std::memset(entry, 0, sizeof *entry);
    if (list->last != nullptr)
        list->last->next = entry;
    else
        list->first = entry;
    list->last = entry;
    ++list->count;
    return entry;
}

const char* listText(FeedList* list, const char* text, size_t n) {
    if (list == nullptr || text == nullptr || text[0] == '\0')
        return nullptr;
    if (n == 0)
        n = std::strlen(text);
    char* copy = carve(list, n + 1, false);
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

char* reserveListText(FeedList* list, size_t n) {
    if (list == nullptr || n >= static_cast<size_t>(-1) - 1)
        return nullptr;
    return carve(list, n + 1, false);
}

void keepListText(FeedList* list, char* text, size_t size, size_t length) {
    if (list == nullptr || text == nullptr)
        return;
    size_t keep = length == static_cast<size_t>(-1) ? 0 : length + 1;
    if (keep != 0)
        text[length] = '\0';
    // The text is the newest carving of the newest block, or of a large text's own block just
    // behind it (see carve).
    TextBlock* block = list->blocks;
    for (int i = 0; i < 2 && block != nullptr; ++i, block = block->next) {
        char* data = blockData(block);
        if (text >= data && text + size == data + block->used) {
            if (keep < size)
                block->used -= size - keep;
            return;
        }
    }
}

FeedList* placeholderList(const char* text) {
    FeedList* list = newFeedList(0);
    FeedItem* entry = appendEntry(list);
    if (entry == nullptr) {
        releaseFeedList(list);
        return nullptr;
    }
    entry->title = listText(list, text, 0);
    entry->titleLength = text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
    return list;
}

char* duplicateText(const char* text, size_t n) {
    if (text == nullptr || text[0] == '\0')
        return nullptr;
    if (n == 0)
        n = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}
