// The sources are copied into one growing buffer and indexed by a growing array, so a document of
// many items costs two allocations that double, not one per item. Each record holds its item's
// key: the list the collecting parse makes is released as soon as it is done.
#include "content/description_source.h"

#include <cstdlib>
#include <cstring>

#include "content/feed_document.h"

namespace {

struct SourceRecord {
    uint64_t key;  // the item's key (FeedItem::key)
    size_t textAt; // offset into the text buffer
    size_t length; // bytes of the source
    int32_t entryIndex;
    DescriptionForm form;
};

bool grow(void** block, size_t* capacity, size_t wanted, size_t unit) {
    if (wanted <= *capacity)
        return true;
    size_t capacityWanted = *capacity != 0 ? *capacity : 64;
    while (capacityWanted < wanted)
        capacityWanted *= 2;
    void* grown = realloc(*block, capacityWanted * unit);
    if (grown == nullptr)
        return false;
    *block = grown;
    *capacity = capacityWanted;
    return true;
}

} // namespace

struct DescriptionSources {
    SourceRecord* records;
    size_t count;
    size_t capacity;
    char* text;
    size_t textLength;
    size_t textCapacity;
    bool failed; // memory ran out: what was collected is incomplete
};

void collectDescriptionSource(DescriptionSources* sources, const FeedItem* entry, const char* text,
                              size_t length, DescriptionForm form) {
    if (sources == nullptr || sources->failed || entry == nullptr || entry->key == 0)
        return;
    if (text == nullptr)
        length = 0; // the item is still known, so its key is not taken for another's
    size_t needed = sources->textLength + length + 1;
    if (needed < length ||
        !grow(reinterpret_cast<void**>(&sources->text), &sources->textCapacity, needed, 1) ||
        !grow(reinterpret_cast<void**>(&sources->records), &sources->capacity, sources->count + 1,
              sizeof(SourceRecord))) {
        sources->failed = true;
        return;
    }
    SourceRecord& record = sources->records[sources->count++];
    record.key = entry->key;
    record.textAt = sources->textLength;
    if (length != 0)
        memcpy(sources->text + record.textAt, text, length);
    sources->text[record.textAt + length] = '\0';
    record.length = length;
    record.entryIndex = entry->entryIndex;
    record.form = form;
    sources->textLength = needed;
}

DescriptionSources* newDescriptionSources() {
    return static_cast<DescriptionSources*>(calloc(1, sizeof(DescriptionSources)));
}

DescriptionSources* readDescriptionSources(char* body, size_t length, const char* contentType,
                                           const char* baseUrl) {
    DescriptionSources* sources = newDescriptionSources();
    if (sources == nullptr)
        return nullptr;
    FeedList* list = parseFeedBody(body, length, contentType, baseUrl, true, sources);
    bool read = list != nullptr && !sources->failed;
    releaseFeedList(list);
    if (!read) {
        freeDescriptionSources(sources);
        return nullptr;
    }
    return sources;
}

void freeDescriptionSources(DescriptionSources* sources) {
    if (sources == nullptr)
        return;
    free(sources->records);
    free(sources->text);
    free(sources);
}

bool findDescriptionSource(const DescriptionSources* sources, uint64_t key, int32_t entryIndex,
                           DescriptionSource* out) {
    if (sources == nullptr || key == 0 || out == nullptr)
        return false;
    const SourceRecord* only = nullptr;
    size_t matches = 0;
    for (size_t i = 0; i < sources->count; ++i) {
        const SourceRecord& record = sources->records[i];
        if (record.key != key)
            continue;
        if (record.entryIndex == entryIndex) {
            only = &record;
            matches = 1;
            break;
        }
        only = &record;
        ++matches;
    }
    if (matches != 1 || only->length == 0)
        return false;
    out->text = sources->text + only->textAt;
    out->length = only->length;
    out->form = only->form;
    return true;
}
