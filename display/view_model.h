// What the window paints, handed to painting as values: the entries (a header entry, then the
// items) with the marks of each, the texts of the header and the view options. The display never
// reads settings or feed state itself; the plug-in composes all of this and hands it in.
#pragma once
#include <windows.h>
#include <cstddef>

#include "content/feed_items.h"

// One shown entry: the item's texts and what its line carries besides them. There is one per
// shown item (tens of thousands for a large feed), so it is kept to 8 bytes: the marks share the
// feed number's word (bit-fields of one size, which every compiler's layout packs together), and
// the rectangles of the few entries a paint lays out are painting's (display/painting.h).
struct ViewEntry {
    const FeedItem* item;     // title, link, description, date; the header's title for position 0
    int feed : 24;            // the caller's number for the item's feed; -1 for the header
    unsigned isNew : 1;       // drawn in the bold weight of the same font
    unsigned stale : 1;       // the item's feed failed its last update: the line says so
    unsigned highlighted : 1; // the item matches a highlight word: the line carries a mark
};
static_assert(sizeof(void*) != 4 || sizeof(ViewEntry) == 8, "an entry grew");

struct ViewModel {
    // The header entry (position 0), then the items, count in all; the array and the items are
    // the caller's.
    ViewEntry* entries;
    size_t count;
    // Plain ANSI text drawn after the header's title (counts, time, the stale marker, the items
    // the filters hide); may be null.
    const char* headerSuffix;
    // The header's tooltip lines ("\n" between them), in the entries' encoding; null or empty for
    // none.
    const char* headerTip;
    // A line drawn under the header's title: why "Couldn't connect!" shows, or where to set an
    // address; null or empty for none.
    const wchar_t* headerNote;
    // Each feed's name as a line shows it before the title, by an entry's feed number, in the
    // entries' encoding; null (or a null name) for none.
    const char* const* feedNames;
};

// The name shown before the entry's title, or null.
inline const char* entryFeedName(const ViewModel& model, const ViewEntry& entry) {
    return model.feedNames != nullptr && entry.feed >= 0 ? model.feedNames[entry.feed] : nullptr;
}

// How the view looks, as the plug-in's settings say, with every value already within the bounds
// the GDI and the tooltip control take.
struct ViewOptions {
    int fontHeight;       // pixels of the plug-in's own font
    char fontFace[256];   // its face name, UTF-8
    COLORREF fontColour;  // its colour
    bool useShellFont;    // take font and colour from the shell's style items instead
    int styleType;        // the shell's style item the window takes (1 to 6; others read as 1)
    int justification;    // 0 left, 1 centre, 2 right; anything else reads as left
    int padding;          // added below each block (may be negative)
    int titleOffset;      // indent of the item lines
    int descOffset;       // indent of the descriptions
    bool wordWrap;        // wrap long lines instead of ending them with an ellipsis
    int highlight;        // 0 none, 1 the item under the mouse, 2 every item
    bool highlightBorder; // highlights are framed
    bool showBorder;      // the window's background is framed
    bool mouseInside;     // the mouse is over the window now (highlight 1)
    bool showDescription;
    bool showDate;
    bool datePosHead;     // the date goes before the title
    bool abbreviatedDate; // dates in their short form
    bool localTime;       // short dates in the reader's time zone
    bool utf8;            // the feed texts are UTF-8 (else bytes of the ANSI code page)
    bool tipShowTitle;    // tooltips start with the entry's line
};
