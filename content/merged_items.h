// The items of several feeds in one list, newest first, as the "together" view shows them.
// Portable: no Win32 headers.
#pragma once
#include <cstddef>

#include "content/feed_items.h"

// One feed's part: its items (the entries after the header, chained by next) and how many of
// them it may bring at most. Items for which hidden (when not null) answers true are left out
// and do not count against the limit.
struct MergeSource {
    const FeedItem* first;
    int limit;
    bool (*hidden)(const FeedItem* item, void* context);
    void* context;
};

struct MergedItem {
    const FeedItem* item;
    int feed; // index into the sources
};

// Every feed brings its newest items, at most its limit; then all of them are put newest first by
// their dates, read as points in time (parseItemTime). An item whose date does not read goes after
// the dated items of its own feed, in feed order; equal times keep the feeds' order. Returns the
// merged items in a new array (the caller frees it with free()) and their number in count; null
// with count 0 when there are none or memory runs out.
MergedItem* mergeFeedItems(const MergeSource* sources, int sourceCount, size_t* count);
