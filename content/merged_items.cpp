// The merge: one record per candidate item with its time, a sort of each feed's records to choose
// its newest share, then one sort of all shares into a single total order, so the result does not
// depend on the sort's stability.
#include "content/merged_items.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "content/item_time.h"
#include "content/stored_date.h"

namespace {

struct Candidate {
    const FeedItem* item;
    int feed;
    int position; // in the feed's order
    bool dated;
    int64_t time; // the item's time; for an undated item the oldest dated time of its feed's share
};

// Within one feed: dated items newest first, then the undated ones in feed order.
bool newerInFeed(const Candidate& a, const Candidate& b) {
    if (a.dated != b.dated)
        return a.dated;
    if (a.dated && a.time != b.time)
        return a.time > b.time;
    return a.position < b.position;
}

bool newerOverall(const Candidate& a, const Candidate& b) {
    if (a.time != b.time)
        return a.time > b.time;
    if (a.dated != b.dated)
        return a.dated;
    if (a.feed != b.feed)
        return a.feed < b.feed;
    return a.position < b.position;
}

} // namespace

MergedItem* mergeFeedItems(const MergeSource* sources, int sourceCount, size_t* count) {
    *count = 0;
    size_t total = 0;
    for (int feed = 0; feed < sourceCount; ++feed)
        for (const FeedItem* item = sources[feed].first; item != nullptr; item = item->next)
            ++total;
    if (total == 0)
        return nullptr;
    Candidate* candidates = static_cast<Candidate*>(malloc(total * sizeof(Candidate)));
    if (candidates == nullptr)
        return nullptr;

    size_t kept = 0;
    for (int feed = 0; feed < sourceCount; ++feed) {
        size_t start = kept;
        int position = 0;
        for (const FeedItem* item = sources[feed].first; item != nullptr; item = item->next) {
            if (sources[feed].hidden != nullptr &&
                sources[feed].hidden(item, sources[feed].context))
                continue;
            Candidate& c = candidates[kept++];
            c = Candidate{item, feed, position++, false, 0};
            DateText date;
            c.dated = parseItemTime(itemDate(item, &date), &c.time);
        }
        std::sort(candidates + start, candidates + kept, newerInFeed);
        size_t limit = sources[feed].limit > 0 ? static_cast<size_t>(sources[feed].limit) : 0;
        if (kept - start > limit)
            kept = start + limit;
        int64_t oldest = INT64_MIN;
        for (size_t i = start; i < kept; ++i)
            if (candidates[i].dated)
                oldest = candidates[i].time; // the dated ones come first, newest first
        for (size_t i = start; i < kept; ++i)
            if (!candidates[i].dated)
                candidates[i].time = oldest;
    }
    std::sort(candidates, candidates + kept, newerOverall);

    MergedItem* merged =
        kept != 0 ? static_cast<MergedItem*>(malloc(kept * sizeof(MergedItem))) : nullptr;
    if (merged != nullptr) {
        for (size_t i = 0; i < kept; ++i)
            merged[i] = MergedItem{candidates[i].item, candidates[i].feed};
        *count = kept;
    }
    free(candidates);
    return merged;
}
