// The filters of the shown items: items whose title (and, by a switch, description) contains one
// of the hide words are not shown; items containing one of the highlight words are marked. A word
// may be a phrase; it matches anywhere in the text ("sport" hides "Sports roundup" too), without
// regard to case in any script and, by a switch, to diacritics. Portable: no Win32 headers.
#pragma once
#include <cstddef>

// The words of one source (the global settings, one feed's settings) as the user wrote them:
// UTF-8, entries separated by commas, white space around them ignored. Null or empty: none.
struct FilterWordLists {
    const char* hide;
    const char* highlight;
};

struct FilterSwitches {
    bool descriptions;     // descriptions are searched as well as titles
    bool ignoreDiacritics; // "é" matches "e", "ł" matches "l"
};

enum FilterVerdict { itemShown, itemHidden, itemHighlighted };

struct ItemFilter;

// A filter of the words of every list (e.g. the global lists and a feed's), or null when there is
// no word at all or memory runs out (every item is then shown). Free it with releaseItemFilter.
ItemFilter* compileItemFilter(const FilterWordLists* lists, int listCount, FilterSwitches switches);
void releaseItemFilter(ItemFilter* filter);

// What the filter makes of an item with these UTF-8 texts (either may be null). A hide word wins
// over a highlight word. A null filter shows every item.
FilterVerdict filterItem(const ItemFilter* filter, const char* title, const char* description);
