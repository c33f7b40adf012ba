// The hide and highlight filters in force: the global lists and switches of the settings file and
// each feed's own lists, made into one filter per feed. Window thread only.
#pragma once
#include "content/feed_items.h"
#include "content/item_filter.h"

// One feed's own filter words and new-items sound, as its favourite's record holds them.
struct FeedFilterSettings {
    const char* url;            // the feed's address
    const char* hideWords;      // comma-separated words or phrases; null or empty: none
    const char* highlightWords; // the same for highlighting
    bool newItemSound;          // a pass that brings new items for the feed plays the sound
};

// Takes the global word lists (as the settings file holds them; null or empty: none) and
// switches. Texts that are not valid UTF-8 are read in the ANSI code page. The view composes
// again when they changed.
void setGlobalFilterSettings(const char* hideWords, const char* highlightWords,
                             FilterSwitches switches);
// Replaces every feed's own filter words and sound switch with those given (copied; count 0:
// none), then shows the lists anew and tells screen readers of a changed list.
void setFeedFilterSettings(const FeedFilterSettings* feeds, int count);
// The filter of the feed at url (the global lists and the feed's own), or null when nothing
// filters it. Valid until the filters change (filterGeneration).
const ItemFilter* filterForFeed(const char* url);
// What filter makes of item; its texts are UTF-8 when utf8 is true, else in the ANSI code page.
FilterVerdict filterVerdict(const ItemFilter* filter, const FeedItem* item, bool utf8);
// True when the feed at url is to play the new-items sound.
bool newItemSoundWanted(const char* url);
// Changes whenever the filters in force change.
unsigned filterGeneration();
// Frees what the filters hold (the plug-in ends).
void releaseFilters();
