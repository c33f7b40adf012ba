// One document's sources are kept after a lookup, with the feed and the list on show they were
// read for: hovering along a list asks for item after item of one feed, and reading and parsing
// the copy again for each would cost as much as an update. The list is retained while it is
// kept, so a new list is never taken for the old one at the same address; a lookup for another
// feed or a changed list reads afresh.
#include "plugin/tip_sources.h"

#include <windows.h>

#include "feed/headline_cache.h"
#include "plugin/feed_updates.h"
#include "plugin/settings.h"

namespace {

DescriptionSources* keptSources = nullptr; // null: none read, or the copy had none
int keptFeed = -1;
FeedList* keptList = nullptr; // retained; null: nothing kept

void readSources(int feed, const ShownFeed& shown) {
    keptFeed = feed;
    keptList = retainFeedList(shown.list);
    char path[MAX_PATH];
    CachedFeed saved = {};
    if (settings.keepHeadlines && savedCopyPath(shown.url, path) &&
        readHeadlineCacheFor(path, shown.url, &saved)) {
        const char* base =
            saved.finalUrl != nullptr && saved.finalUrl[0] ? saved.finalUrl : saved.url;
        keptSources = readDescriptionSources(saved.body, saved.bodyLength, saved.contentType, base);
    }
    freeCachedFeed(&saved);
}

} // namespace

bool tipSourceOfItem(int feed, uint64_t key, int32_t entryIndex, DescriptionSource* out) {
    ShownFeed shown;
    if (key == 0 || !shownFeedAt(feed, &shown) || !shown.hasHeadlines)
        return false;
    if (keptList == nullptr || feed != keptFeed || shown.list != keptList) {
        forgetTipSources();
        readSources(feed, shown);
    }
    return findDescriptionSource(keptSources, key, entryIndex, out);
}

void forgetTipSources() {
    freeDescriptionSources(keptSources);
    keptSources = nullptr;
    releaseFeedList(keptList);
    keptList = nullptr;
    keptFeed = -1;
}
