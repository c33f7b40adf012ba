// The description sources of the formatted tips, found when a tip is about to show in the saved
// copy of the item's feed (the headline cache the engine writes), so the items on show keep only
// their plain texts. Window thread only.
#pragma once
#include <cstdint>

#include "content/description_source.h"

// The tooltip's TipSourceFunction: the source of the item keyed key at entryIndex of feed (an
// index as in shownFeedAt). False (the tip shows its plain text) when the feed keeps no saved
// copy, the copy is unreadable or is not of the feed's address, or it does not hold the item (a
// newer list than the copy).
bool tipSourceOfItem(int feed, uint64_t key, int32_t entryIndex, DescriptionSource* out);
// Drops the document kept from the last lookup (at the plug-in's end).
void forgetTipSources();
