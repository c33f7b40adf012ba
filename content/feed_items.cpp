// Placeholder until this unit is built; replaced by its real implementation.
#include "content/feed_items.h"

ItemList FetchList;
ItemList DisplayList;
int32_t entryCount;
char* duplicateText(const char*, size_t) { return nullptr; }
FeedItem* appendEntry(ItemList*) { return nullptr; }
void setSingleEntry(const char*) {}
void freeFetchList() {}
void copyToDisplayList(const FeedItem*) {}
void freeDisplayList() {}
