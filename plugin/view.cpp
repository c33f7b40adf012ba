// The model the window paints, composed from the shown list and the update state, and the view
// options, copied from the settings at every paint (a paint must show a changed setting at once).
#include "plugin/view.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/feed_items.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "feed/update_worker.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"

namespace {

ViewModel view;
ViewEntry* entries; // the model's entries; entryCapacity of them allocated
size_t entryCapacity;
char headerSuffix[96];

// True while the DisplayList is only the placeholder of a running or failed update.
bool showsPlaceholder() {
    const FeedItem* first = DisplayList.first;
    return first != nullptr && first->next == nullptr && first->title != nullptr &&
           (strcmp(first->title, connectingText) == 0 || strcmp(first->title, failedText) == 0);
}

// Appends text to the zero-terminated out (size bytes), cut where it would not fit.
void appendTo(char* out, size_t size, const char* text) {
    size_t used = strlen(out);
    if (used + 1 < size)
        snprintf(out + used, size - used, "%s", text);
}

// What the header line shows after the feed's title: the item count and the time of the last
// update when the settings ask for them. A placeholder has no items to count; headlines kept after
// a failed update are marked stale with the time of the last success.
void composeHeaderSuffix(char* out, size_t size) {
    // A private copy, so that the paint never shows a time the worker is writing half-way.
    char updated[sizeof lastUpdateTime];
    memcpy(updated, lastUpdateTime, sizeof updated);
    updated[sizeof updated - 1] = '\0';
    long long count = static_cast<long long>(entryCount) - 1;
    bool counted = settings.showItemCounts && count >= 0 && !showsPlaceholder();
    out[0] = '\0';
    if (counted) {
        char number[32];
        snprintf(number, sizeof number, "  (%lld)", count);
        appendTo(out, size, number);
    }
    if (headlinesStale()) {
        appendTo(out, size, "  [stale since ");
        appendTo(out, size, updated);
        appendTo(out, size, "]");
    } else if (settings.showUpdateTime && updated[0] != '\0') {
        appendTo(out, size, counted ? " (" : "  (");
        appendTo(out, size, updated);
        appendTo(out, size, ")");
    }
}

} // namespace

ViewOptions viewOptionsFromSettings() {
    ViewOptions options = {};
    options.fontHeight = fontHeightInForce(settings.fontHeight);
    snprintf(options.fontFace, sizeof options.fontFace, "%.*s",
             static_cast<int>(sizeof settings.font - 1), settings.font);
    options.fontColour = settings.fontColor;
    options.useShellFont = settings.useRefFont;
    options.styleType = settings.styleType;
    options.justification = settings.justification;
    options.padding = settings.padding;
    options.titleOffset = settings.title_offset;
    options.descOffset = settings.desc_offset;
    options.wordWrap = settings.wordWrap;
    options.highlight = settings.highlight;
    options.highlightBorder = settings.hilightBorder;
    options.showBorder = settings.showBorder;
    options.mouseInside = runtime.mouseInside;
    options.showDescription = settings.showDesc;
    options.showDate = settings.showDate;
    options.datePosHead = settings.datePosHead;
    options.abbreviatedDate = settings.abbreviatedDate;
    options.utf8 = settings.encoding == 1;
    options.tipShowTitle = settings.tipShowTitle;
    return options;
}

ViewModel& currentView() {
    composeHeaderSuffix(headerSuffix, sizeof headerSuffix);
    size_t count = 0;
    for (const FeedItem* entry = DisplayList.first; entry != nullptr; entry = entry->next)
        ++count;
    if (count > entryCapacity) {
        ViewEntry* grown = static_cast<ViewEntry*>(realloc(entries, count * sizeof(ViewEntry)));
        if (grown == nullptr)
            count = entryCapacity;
        else {
            entries = grown;
            entryCapacity = count;
        }
    }
    // An entry that is still the same item at the same place keeps the rectangle painting gave it.
    size_t position = 0;
    for (const FeedItem* entry = DisplayList.first; entry != nullptr && position < count;
         entry = entry->next, ++position) {
        ViewEntry& shown = entries[position];
        ItemRect kept =
            position < view.count && shown.item == entry ? shown.itemRect : ItemRect{0, 0, 0, 0};
        shown = ViewEntry{entry, nullptr, false, false, 0, kept};
    }
    view.entries = entries;
    view.count = count;
    view.headerSuffix = headerSuffix;
    view.headerTip = feedHealthLine();
    return view;
}

void paintPluginWindow(HWND window) {
    ViewOptions options = viewOptionsFromSettings();
    paintWindow(window, currentView(), options);
}

void reloadShellStyle() {
    loadShellStyle(settings.styleType);
    buildMenu(false);
}

void createPluginTooltip() {
    createTooltip(runtime.instance, runtime.pluginWindow, tipWidthInForce(settings.tipWidth),
                  tipHideDelayInForce(settings.tipHideDelay), settings.allowtooltip);
}

void applyTooltipSettings() {
    setTooltipTiming(tipWidthInForce(settings.tipWidth),
                     tipHideDelayInForce(settings.tipHideDelay));
}
