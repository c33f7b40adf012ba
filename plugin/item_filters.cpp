// The filters in force. The global lists come from the settings file; each feed's own lists are
// handed in by whoever reads its favourite's record. A feed's filter is made when first asked for
// and kept until the filters change, so composing the view does not fold the words again.
#include "plugin/item_filters.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "content/utf8.h"
#include "content/utf8_ansi.h"
#include "plugin/keyboard.h"
#include "plugin/new_item_sound.h"
#include "plugin/runtime_state.h"
#include "plugin/settings_text.h"
#include "plugin/view.h"
#include "shell/blackbox_api.h"

namespace {

struct FeedFilter {
    char* url;
    char* hideWords;
    char* highlightWords;
    bool newItemSound;
    ItemFilter* filter; // made on first use
    bool made;
};

struct FilterState {
    char* hideWords;
    char* highlightWords;
    FilterSwitches switches;
    ItemFilter* globalFilter;
    bool globalMade;
    FeedFilter* feeds;
    int feedCount;
    unsigned generation;
};
FilterState state = {};

// A malloc'd UTF-8 copy of a text of the settings file; null for none.
char* settingAsUtf8(const char* text) {
    if (text == nullptr || text[0] == '\0')
        return nullptr;
    return isValidUtf8(text, strlen(text)) ? duplicateText(text, 0) : ansiToUtf8(text);
}

bool sameText(const char* a, const char* b) {
    return strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}

void dropMadeFilters() {
    releaseItemFilter(state.globalFilter);
    state.globalFilter = nullptr;
    state.globalMade = false;
    for (int i = 0; i < state.feedCount; ++i) {
        releaseItemFilter(state.feeds[i].filter);
        state.feeds[i].filter = nullptr;
        state.feeds[i].made = false;
    }
    ++state.generation;
}

void releaseFeeds() {
    for (int i = 0; i < state.feedCount; ++i) {
        releaseItemFilter(state.feeds[i].filter);
        free(state.feeds[i].url);
        free(state.feeds[i].hideWords);
        free(state.feeds[i].highlightWords);
    }
    free(state.feeds);
    state.feeds = nullptr;
    state.feedCount = 0;
}

} // namespace

void setGlobalFilterSettings(const char* hideWords, const char* highlightWords,
                             FilterSwitches switches) {
    char* hide = settingAsUtf8(hideWords);
    char* highlight = settingAsUtf8(highlightWords);
    bool changed = !sameText(hide, state.hideWords) || !sameText(highlight, state.highlightWords) ||
                   switches.descriptions != state.switches.descriptions ||
                   switches.ignoreDiacritics != state.switches.ignoreDiacritics;
    free(state.hideWords);
    free(state.highlightWords);
    state.hideWords = hide;
    state.highlightWords = highlight;
    state.switches = switches;
    if (changed)
        dropMadeFilters();
}

void setFeedFilterSettings(const FeedFilterSettings* feeds, int count) {
    releaseFeeds();
    FeedFilter* copies =
        count > 0 ? static_cast<FeedFilter*>(calloc(static_cast<size_t>(count), sizeof(FeedFilter)))
                  : nullptr;
    int kept = 0;
    bool sounding = false;
    for (int i = 0; copies != nullptr && i < count; ++i) {
        if (feeds[i].url == nullptr)
            continue;
        sounding = sounding || feeds[i].newItemSound;
        FeedFilter& copy = copies[kept++];
        copy.url = duplicateText(feeds[i].url, 0);
        copy.hideWords = settingAsUtf8(feeds[i].hideWords);
        copy.highlightWords = settingAsUtf8(feeds[i].highlightWords);
        copy.newItemSound = feeds[i].newItemSound;
    }
    state.feeds = copies;
    state.feedCount = kept;
    // Registered as soon as a feed wants it, so the user finds it among the control panel's sounds
    // before it first plays.
    if (sounding)
        registerNewItemSound();
    dropMadeFilters();
    viewChanged();
    if (runtime.pluginWindow != nullptr)
        keyboardListShown(runtime.pluginWindow);
}

const ItemFilter* filterForFeed(const char* url) {
    for (int i = 0; url != nullptr && i < state.feedCount; ++i) {
        FeedFilter& feed = state.feeds[i];
        if (feed.url == nullptr || strcmp(feed.url, url) != 0)
            continue;
        if (feed.hideWords == nullptr && feed.highlightWords == nullptr)
            break; // the global filter alone
        if (!feed.made) {
            FilterWordLists lists[2] = {{state.hideWords, state.highlightWords},
                                        {feed.hideWords, feed.highlightWords}};
            feed.filter = compileItemFilter(lists, 2, state.switches);
            feed.made = true;
        }
        return feed.filter;
    }
    if (!state.globalMade) {
        FilterWordLists global = {state.hideWords, state.highlightWords};
        state.globalFilter = compileItemFilter(&global, 1, state.switches);
        state.globalMade = true;
    }
    return state.globalFilter;
}

FilterVerdict filterVerdict(const ItemFilter* filter, const FeedItem* item, bool utf8) {
    if (filter == nullptr || item == nullptr)
        return itemShown;
    if (utf8)
        return filterItem(filter, item->title, item->description);
    char* title = item->title != nullptr ? ansiToUtf8(item->title) : nullptr;
    char* description = item->description != nullptr
                            ? ansiToUtf8(item->description)
                            : nullptr;
    FilterVerdict verdict = filterItem(filter, title, description);
    free(title);
    free(description);
    return verdict;
}

bool newItemSoundWanted(const char* url) {
    for (int i = 0; url != nullptr && i < state.feedCount; ++i)
        if (state.feeds[i].url != nullptr && strcmp(state.feeds[i].url, url) == 0)
            return state.feeds[i].newItemSound;
    return false;
}

unsigned filterGeneration() {
    return state.generation;
}

void releaseFilters() {
    releaseFeeds();
    releaseItemFilter(state.globalFilter);
    free(state.hideWords);
    free(state.highlightWords);
    unsigned generation = state.generation;
    state = FilterState{};
    state.generation = generation + 1; // a view composed before is not taken for current
}
