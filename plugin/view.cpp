// The model the window paints, composed from the shown feeds, and the view options, copied from
// the settings at every paint (a paint must show a changed setting at once).
//
// The entries point into the feeds' lists, which the view holds a reference to, so an update that
// replaces a feed's list never leaves an entry pointing at freed items. The entries are composed
// again only when something they show changed (a feed's list, its stale flag or its new count,
// the mode, the feed in turn, a setting of the merge); a paint, which runs on every mouse move,
// otherwise only recomposes the header's texts, at a cost that grows with the feeds, never with
// the items.
#include "plugin/view.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "content/feed_items.h"
#include "content/merged_items.h"
#include "display/keyboard_selection.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "feed/feed_engine.h"
#include "plugin/feed_updates.h"
#include "plugin/hot_key_win32.h"
#include "plugin/item_filters.h"
#include "plugin/keyboard.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"
#include "plugin/tip_sources.h"

DWORD(WINAPI* turnClock)() = GetTickCount;
const UINT_PTR turnTimerId = 5;

namespace {

// What one composition of the entries was made from; a difference means composing again.
struct HeldFeed {
    FeedList* list; // retained while held
    bool stale;
    int newItems;
    const ItemFilter* filter; // the feed's filter in force; null: every item shows
    int hidden;               // items the filter hides
    int hiddenNew;            // of them, items marked new
};

// Bytes of a feed's name as a line shows it; longer names are cut and end in "...".
const size_t shownNameBytes = 24;

struct ViewState {
    ViewModel model;
    ViewEntry* entries; // entryCapacity allocated
    size_t entryCapacity;
    HeldFeed* held; // heldCount of them, one per shown feed
    int heldCount;
    char (*names)[shownNameBytes + 4]; // each held feed's shortened name
    const char** shownNames;           // the lines' feed names: names, or none
    int composedMode;
    int composedTurn;
    bool composedFeedNames;
    int composedShare;
    bool composedMarkNew;
    unsigned composedFilters; // filterGeneration() of the composition
    bool composedUtf8;
    bool invalid;    // compose again at the next look whatever the checks say
    FeedItem header; // the header entry of "together" and "inTurn"
    char headerTitle[300];
    char headerSuffix[160];
    char* headerTip;  // tipCapacity bytes
    size_t tipLength; // of headerTip's text: appending never measures it again
    wchar_t headerNote[300];
    size_t tipCapacity;
    int turnFeed;      // "inTurn": the feed shown
    DWORD turnStarted; // turnClock() when its turn began
    bool turnHeld;     // the mouse rests over the window
};
ViewState state = {};

void repaintWindow() {
    if (runtime.pluginWindow)
        InvalidateRect(runtime.pluginWindow, nullptr, FALSE);
}

// The feeds on show: in "one" mode the shown list (which tests and benchmarks may set directly),
// else the engine's feeds.
int feedCount() {
    if (settings.show == showTogether || settings.show == showInTurn)
        return shownFeedCount();
    return shownList() != nullptr ? 1 : 0;
}

bool feedAt(int index, ShownFeed* out) {
    bool several = settings.show == showTogether || settings.show == showInTurn;
    FeedList* list = several ? nullptr : shownList();
    if (several) {
        if (!shownFeedAt(index, out))
            return false;
    } else if (index != 0 || list == nullptr) {
        return false;
    } else if (!shownFeedAt(0, out) || out->list != list) {
        // A list shown directly: its header is its title, its entries are headlines.
        memset(out, 0, sizeof *out);
        out->list = list;
        out->title = list->first != nullptr ? list->first->title : nullptr;
        out->hasHeadlines = list->count > 1;
        out->items = itemCount(list);
        out->health = "";
        out->failure = "";
        out->updated = lastUpdateTime;
    }
    // Before a feed's first pass the engine may have no texts for it yet.
    if (out->health == nullptr)
        out->health = "";
    if (out->updated == nullptr)
        out->updated = "";
    return true;
}

// Appends text to the zero-terminated out (size bytes), cut where it would not fit.
void appendTo(char* out, size_t size, const char* text) {
    size_t used = strlen(out);
    if (used + 1 < size)
        snprintf(out + used, size - used, "%s", text);
}

void appendTip(const char* text) {
    size_t used = state.headerTip != nullptr ? state.tipLength : 0;
    size_t length = strlen(text);
    size_t wanted = used + length + 1;
    if (wanted > state.tipCapacity) {
        size_t capacity = wanted * 2;
        char* grown = static_cast<char*>(realloc(state.headerTip, capacity));
        if (grown == nullptr)
            return;
        if (state.headerTip == nullptr)
            grown[0] = '\0';
        state.headerTip = grown;
        state.tipCapacity = capacity;
    }
    memcpy(state.headerTip + used, text, length + 1);
    state.tipLength = used + length;
}

// The feed's name cut to shownNameBytes, never inside a UTF-8 sequence.
void shortenName(const char* name, char* out, size_t size) {
    size_t length = strlen(name);
    if (length <= shownNameBytes) {
        snprintf(out, size, "%s", name);
        return;
    }
    size_t cut = shownNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    snprintf(out, size, "%.*s...", static_cast<int>(cut), name);
}

bool growEntries(size_t count) {
    if (count <= state.entryCapacity)
        return true;
    ViewEntry* grown = static_cast<ViewEntry*>(realloc(state.entries, count * sizeof(ViewEntry)));
    if (grown == nullptr)
        return false;
    state.entries = grown;
    state.entryCapacity = count;
    return true;
}

void releaseHeld() {
    for (int i = 0; i < state.heldCount; ++i)
        releaseFeedList(state.held[i].list);
    free(state.held);
    free(state.names);
    free(state.shownNames);
    state.held = nullptr;
    state.names = nullptr;
    state.shownNames = nullptr;
    state.model.feedNames = nullptr;
    state.heldCount = 0;
}

// True when the feeds on show differ from those the entries were composed of.
bool feedsChanged(int count) {
    if (count != state.heldCount)
        return true;
    for (int i = 0; i < count; ++i) {
        ShownFeed feed;
        if (!feedAt(i, &feed))
            return true;
        const HeldFeed& held = state.held[i];
        if (feed.list != held.list || feed.stale != held.stale || feed.newItems != held.newItems)
            return true;
    }
    return false;
}

// The feed at index as the filters leave it: its hidden items are not counted, as items or as
// new ones. The hidden ones are those of the composed entries' feed.
int hiddenOf(int index, ShownFeed* feed) {
    if (index < 0 || index >= state.heldCount || state.held[index].list != feed->list)
        return 0;
    const HeldFeed& held = state.held[index];
    feed->items -= held.hidden;
    feed->newItems -= held.hiddenNew < feed->newItems ? held.hiddenNew : feed->newItems;
    return held.hidden;
}

// A feed whose items the filters hide, every one, has nothing to show either.
bool hasSomethingToShow(int index, ShownFeed feed) {
    hiddenOf(index, &feed);
    return feed.hasHeadlines && feed.items > 0;
}

// The feed in turn moves on when its time is up, and at once when it has nothing to show while
// another feed has; the mouse resting over the window holds it.
void advanceTurn(int count) {
    if (count <= 0) {
        state.turnFeed = 0;
        return;
    }
    if (state.turnFeed >= count)
        state.turnFeed = 0;
    DWORD now = turnClock();
    if (state.turnHeld) {
        state.turnStarted = now;
        return;
    }
    ShownFeed current;
    bool empty = !feedAt(state.turnFeed, &current) || !hasSomethingToShow(state.turnFeed, current);
    DWORD turn = static_cast<DWORD>(turnSecondsInForce(settings.turnSeconds)) * 1000;
    if (!empty && now - state.turnStarted < turn)
        return;
    for (int step = 1; step <= count; ++step) {
        int next = (state.turnFeed + step) % count;
        ShownFeed feed;
        if (feedAt(next, &feed) && hasSomethingToShow(next, feed)) {
            state.turnFeed = next;
            break;
        }
    }
    state.turnStarted = now;
}

bool itemsUtf8() {
    return settings.encoding == 1;
}

// Whether the held feed's filter hides item (for the merge).
bool hiddenByFilter(const FeedItem* item, void* held) {
    const HeldFeed* feed = static_cast<const HeldFeed*>(held);
    return filterVerdict(feed->filter, item, itemsUtf8()) == itemHidden;
}

// The held feed's filter and what it hides of the feed's items: hidden items are neither shown
// nor counted (as items or as new ones).
void applyFilter(HeldFeed& held, const char* url, int feed) {
    held.filter = filterForFeed(url);
    if (held.filter == nullptr)
        return;
    for (const FeedItem* item = firstItem(held.list); item != nullptr; item = item->next) {
        if (filterVerdict(held.filter, item, itemsUtf8()) != itemHidden)
            continue;
        ++held.hidden;
        if (held.newItems > 0 && itemIsNew(feed, item))
            ++held.hiddenNew;
    }
}

// Composes the entries for the mode in force from the count feeds on show: all of them merged, or
// the one feed (the feed in turn). Only a feed with new items is asked which of its items are new.
void composeEntries(int count) {
    releaseHeld();
    state.held = static_cast<HeldFeed*>(calloc(count > 0 ? count : 1, sizeof(HeldFeed)));
    state.names = static_cast<char(*)[shownNameBytes + 4]>(
        calloc(count > 0 ? count : 1, sizeof *state.names));
    if (state.held == nullptr || state.names == nullptr) {
        free(state.held);
        free(state.names);
        state.held = nullptr;
        state.names = nullptr;
        state.model.count = 0;
        return;
    }
    state.heldCount = count;
    for (int i = 0; i < count; ++i) {
        ShownFeed feed;
        if (!feedAt(i, &feed))
            continue;
        state.held[i] =
            HeldFeed{retainFeedList(feed.list), feed.stale, feed.newItems, nullptr, 0, 0};
        if (feed.hasHeadlines)
            applyFilter(state.held[i], feed.url, i);
        shortenName(feed.title != nullptr ? feed.title : "", state.names[i], sizeof state.names[i]);
    }

    const int mode = settings.show;
    size_t used = 0;
    if (mode == showTogether && settings.showFeedName) {
        // Merged lines say which feed each item is from.
        state.shownNames = static_cast<const char**>(calloc(count > 0 ? count : 1, sizeof(char*)));
        for (int i = 0; state.shownNames != nullptr && i < count; ++i)
            state.shownNames[i] = state.names[i];
    }
    state.model.feedNames = state.shownNames;
    if (mode == showTogether) {
        MergeSource* sources =
            static_cast<MergeSource*>(calloc(count > 0 ? count : 1, sizeof(MergeSource)));
        size_t merged = 0;
        MergedItem* items = nullptr;
        if (sources != nullptr) {
            for (int i = 0; i < count; ++i) {
                // Each feed's own share where it has one, else the global one.
                ShownFeed feed;
                int own = feedAt(i, &feed) ? feed.share : 0;
                int share = feedShareInForce(own, settings.maxItemsPerFeed);
                sources[i] = MergeSource{firstItem(state.held[i].list), share, hiddenByFilter,
                                         &state.held[i]};
            }
            items = mergeFeedItems(sources, count, &merged);
            free(sources);
        }
        if (growEntries(merged + 1)) {
            state.entries[used++] = ViewEntry{&state.header, -1, false, false, false};
            for (size_t i = 0; i < merged; ++i) {
                int feed = items[i].feed;
                const HeldFeed& held = state.held[feed];
                state.entries[used++] = ViewEntry{
                    items[i].item, feed, held.newItems > 0 && itemIsNew(feed, items[i].item),
                    held.stale,
                    filterVerdict(held.filter, items[i].item, itemsUtf8()) == itemHighlighted};
            }
        }
        free(items);
    } else {
        int feed = mode == showInTurn ? state.turnFeed : 0;
        FeedList* list = feed < count ? state.held[feed].list : nullptr;
        size_t total = list != nullptr && list->count > 0 ? static_cast<size_t>(list->count) : 0;
        if (total > 0 && growEntries(total)) {
            bool itemsStale = mode == showInTurn && state.held[feed].stale;
            for (const FeedItem* item = list->first; item != nullptr && used < total;
                 item = item->next) {
                bool head = used == 0 && item == list->first;
                FilterVerdict verdict =
                    head ? itemShown : filterVerdict(state.held[feed].filter, item, itemsUtf8());
                if (verdict == itemHidden)
                    continue;
                const FeedItem* shown = head && mode == showInTurn ? &state.header : item;
                bool isNew = !head && state.held[feed].newItems > 0 && itemIsNew(feed, item);
                state.entries[used++] =
                    ViewEntry{shown, feed, isNew, !head && itemsStale, verdict == itemHighlighted};
            }
        }
    }
    state.model.entries = state.entries;
    state.model.count = used;
    forgetEntryRects(); // new entries: none is laid out until the next paint
    state.composedMode = mode;
    state.composedTurn = state.turnFeed;
    state.composedFeedNames = settings.showFeedName;
    state.composedShare = settings.maxItemsPerFeed;
    state.composedMarkNew = settings.markNew;
    state.composedFilters = filterGeneration();
    state.composedUtf8 = itemsUtf8();
    state.invalid = false;
}

// Appends "  (count what)" when count is above zero.
void appendCount(char* out, size_t size, int count, const char* what) {
    if (count <= 0)
        return;
    char text[48];
    snprintf(text, sizeof text, "  (%d %s)", count, what);
    appendTo(out, size, text);
}

// The header of "one" mode and of the feed in turn: counts, time and the stale marker as the
// settings say, then the new items and the hidden ones.
void composeFeedSuffix(const ShownFeed& feed, int hidden, char* out, size_t size) {
    bool counted = settings.showItemCounts && feed.hasHeadlines;
    out[0] = '\0';
    if (counted) {
        char number[32];
        snprintf(number, sizeof number, "  (%d)", feed.items);
        appendTo(out, size, number);
    }
    if (feed.stale) {
        appendTo(out, size, "  [stale since ");
        appendTo(out, size, feed.updated);
        appendTo(out, size, "]");
    } else if (settings.showUpdateTime && feed.updated[0] != '\0') {
        appendTo(out, size, counted ? " (" : "  (");
        appendTo(out, size, feed.updated);
        appendTo(out, size, ")");
    }
    appendCount(out, size, feed.newItems, "new");
    appendCount(out, size, hidden, "hidden");
}

// "N feeds", the items shown and the newest update time as the settings say, the new items.
void composeTogetherHeader(int count) {
    snprintf(state.headerTitle, sizeof state.headerTitle, "%d feed%s", count,
             count == 1 ? "" : "s");
    char* out = state.headerSuffix;
    const size_t size = sizeof state.headerSuffix;
    out[0] = '\0';
    char newest[20] = "";
    int newItems = 0;
    int hidden = 0;
    for (int i = 0; i < count; ++i) {
        ShownFeed feed;
        if (!feedAt(i, &feed))
            continue;
        hidden += hiddenOf(i, &feed);
        newItems += feed.newItems;
        // "%m/%d %H:%M" sorts as text within a year.
        if (strcmp(feed.updated, newest) > 0)
            snprintf(newest, sizeof newest, "%s", feed.updated);
    }
    bool counted = settings.showItemCounts;
    if (counted) {
        char number[32];
        snprintf(number, sizeof number, "  (%d)", static_cast<int>(state.model.count) - 1);
        appendTo(out, size, number);
    }
    if (settings.showUpdateTime && newest[0] != '\0') {
        appendTo(out, size, counted ? " (" : "  (");
        appendTo(out, size, newest);
        appendTo(out, size, ")");
    }
    appendCount(out, size, newItems, "new");
    appendCount(out, size, hidden, "hidden");
}

// Under "Couldn't connect!" (nothing to keep): why, or, in "one" mode without an address, where
// to set one.
void composeFailureNote(const ShownFeed& feed, bool single) {
    const FeedItem* first = feed.list != nullptr ? feed.list->first : nullptr;
    if (feed.hasHeadlines || first == nullptr || first->title == nullptr ||
        strcmp(first->title, failedText) != 0)
        return;
    if (single && settings.feedUrl[0] == '\0')
        wcsncpy(state.headerNote, L"Right-click: RSS \x2192 Feed URL",
                sizeof state.headerNote / sizeof state.headerNote[0] - 1);
    else if (feed.failure != nullptr && feed.failure[0] != '\0')
        MultiByteToWideChar(CP_ACP, 0, feed.failure, -1, state.headerNote,
                            sizeof state.headerNote / sizeof state.headerNote[0] - 1);
}

// The header's title, suffix, tip and note for the mode in force.
void composeHeader(int count) {
    if (state.headerTip != nullptr)
        state.headerTip[0] = '\0';
    state.tipLength = 0;
    state.headerNote[0] = L'\0';
    state.header.title = state.headerTitle;
    const int mode = state.composedMode;
    if (mode == showTogether) {
        composeTogetherHeader(count);
        // The feeds that show nothing new (failed, still connecting) first: a tip holds only so
        // much, and their lines are the ones worth reading.
        bool first = true;
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < count; ++i) {
                ShownFeed feed;
                if (!feedAt(i, &feed) || (feed.stale || !feed.hasHeadlines) != (pass == 0))
                    continue;
                if (!first)
                    appendTip("\n");
                first = false;
                appendTip(state.names[i]);
                appendTip(": ");
                appendTip(feed.health[0] ? feed.health : connectingText);
            }
        }
    } else {
        int index = mode == showInTurn ? state.turnFeed : 0;
        ShownFeed feed;
        if (!feedAt(index, &feed)) {
            state.headerSuffix[0] = '\0';
            snprintf(state.headerTitle, sizeof state.headerTitle, "%s",
                     mode == showInTurn ? "0 feeds" : connectingText);
        } else {
            int hidden = hiddenOf(index, &feed);
            composeFeedSuffix(feed, hidden, state.headerSuffix, sizeof state.headerSuffix);
            if (mode == showInTurn) {
                snprintf(state.headerTitle, sizeof state.headerTitle, "%s  %d/%d",
                         feed.title != nullptr ? feed.title : "", index + 1, count);
            }
            appendTip(feed.health);
            composeFailureNote(feed, mode == showOne);
        }
    }
    if (hotKeyNote()[0]) {
        appendTip(state.headerTip != nullptr && state.headerTip[0] ? "\n" : "");
        appendTip(hotKeyNote());
    }
    if (settingsProblems()[0]) {
        appendTip(state.headerTip != nullptr && state.headerTip[0] ? "\n" : "");
        appendTip(settingsProblems());
    }
    state.model.headerSuffix = state.headerSuffix;
    state.model.headerTip = state.headerTip != nullptr ? state.headerTip : "";
    state.model.headerNote = state.headerNote;
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
    options.localTime = settings.localTime;
    options.utf8 = settings.encoding == 1;
    options.tipShowTitle = settings.tipShowTitle;
    return options;
}

ViewModel& currentView() {
    int count = feedCount();
    // Reading the view never moves the turn on (a screen reader asks for it at any time): only the
    // turn timer and Left/Right do. A turn past the feeds now on show starts again at the first.
    if (state.turnFeed >= count)
        state.turnFeed = 0;
    bool recompose =
        state.invalid || state.model.entries == nullptr || state.composedMode != settings.show ||
        state.composedTurn != state.turnFeed || state.composedFeedNames != settings.showFeedName ||
        state.composedShare != settings.maxItemsPerFeed ||
        state.composedMarkNew != settings.markNew || state.composedFilters != filterGeneration() ||
        state.composedUtf8 != itemsUtf8() || feedsChanged(count);
    if (recompose)
        composeEntries(count);
    composeHeader(count);
    return state.model;
}

void paintPluginWindow(HWND window) {
    ViewOptions options = viewOptionsFromSettings();
    paintWindow(window, currentView(), options);
}

void viewChanged() {
    state.invalid = true;
    // Other headlines after a reload, a removed favourite, an import or another mode: the list
    // starts from its top again and a screen reader is told its children changed.
    if (runtime.pluginWindow)
        keyboardListShown(runtime.pluginWindow);
    repaintWindow();
}

void releaseView() {
    releaseHeld();
    free(state.entries);
    free(state.headerTip);
    state = ViewState{};
}

void armTurnTimer() {
    if (runtime.pluginWindow == nullptr)
        return;
    if (settings.show == showInTurn)
        SetTimer(runtime.pluginWindow, turnTimerId, 1000, nullptr);
    else
        KillTimer(runtime.pluginWindow, turnTimerId);
}

void turnTick(HWND window) {
    if (settings.show != showInTurn)
        return;
    POINT cursor;
    // Held too while the keyboard works in the window: the items must not change under it.
    state.turnHeld =
        (GetCursorPos(&cursor) && WindowFromPoint(cursor) == window) || keyboardSelection.focused;
    int before = state.turnFeed;
    advanceTurn(feedCount());
    if (state.turnFeed != before)
        repaintWindow();
}

bool stepTurn(int direction) {
    int count = feedCount();
    if (settings.show != showInTurn || count < 2)
        return false;
    // The next feed that has something to show (one whose items the filters hide, every one, or
    // that has none, is passed over as the turn timer passes it over).
    int next = state.turnFeed;
    for (int step = 0; step < count; ++step) {
        next = ((next + direction) % count + count) % count;
        ShownFeed feed;
        if (feedAt(next, &feed) && hasSomethingToShow(next, feed))
            break;
    }
    state.turnFeed = next;
    state.turnStarted = turnClock();
    repaintWindow();
    return true;
}

void markEntrySeen(const ViewEntry* entry) {
    if (entry == nullptr || entry->feed < 0 || entry->item == nullptr || !entry->isNew)
        return;
    markItemSeen(entry->feed, entry->item);
    viewChanged();
}

void setShowMode(const char* word) {
    static const char* const words[] = {"one", "together", "inTurn"};
    for (int mode = showOne; mode <= showInTurn; ++mode) {
        if (_stricmp(word, words[mode]) != 0)
            continue;
        if (settings.show != mode) {
            settings.show = mode;
            state.turnFeed = 0;
            state.turnStarted = turnClock();
            reconfigureFeeds();
        }
        armTurnTimer();
        viewChanged();
        buildMenu(false);
        return;
    }
}

void markEverythingRead() {
    // The items marked new now lose "new, " from their names: a screen reader is told of each.
    const ViewModel& before = currentView();
    size_t count = before.count;
    bool* wasNew = count > 1 ? static_cast<bool*>(calloc(count, sizeof(bool))) : nullptr;
    for (size_t position = 1; wasNew && position < count; ++position)
        wasNew[position] = before.entries[position].isNew;
    markAllRead();
    viewChanged();
    const ViewModel& after = currentView();
    for (size_t position = 1; wasNew && position < count && position < after.count; ++position)
        if (wasNew[position] && !after.entries[position].isNew && runtime.pluginWindow)
            keyboardItemRenamed(runtime.pluginWindow, static_cast<int>(position) - 1);
    free(wasNew);
}

void favoritesChanged() {
    reconfigureFeeds();
    viewChanged();
    buildMenu(false);
}

void reloadShellStyle() {
    loadShellStyle(settings.styleType);
    buildMenu(false);
}

void createPluginTooltip() {
    setTipSourceFunction(tipSourceOfItem);
    createTooltip(runtime.instance, runtime.pluginWindow, tipWidthInForce(settings.tipWidth),
                  tipShowMilliseconds(settings.tipHideDelay), settings.allowtooltip);
}

void applyTooltipSettings() {
    setTooltipTiming(tipWidthInForce(settings.tipWidth),
                     tipShowMilliseconds(settings.tipHideDelay));
}
