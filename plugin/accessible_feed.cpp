// The texts a screen reader announces. The list's name is the feed's title with its item count and
// the time of the last update, or the time and reason since when the headlines are stale; an
// item's name is its title, after its feed's name where several feeds are shown, after
// "highlighted" where a highlight word marks it and after "new" where it is marked new; its value
// is its date as the window shows it.
#include "plugin/accessible_feed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/feed_items.h"
#include "content/stored_date.h"
#include "content/utf8_ansi.h"
#include "display/entry_text.h"
#include "display/accessible_list.h"
#include "display/keyboard_selection.h"
#include "plugin/feed_updates.h"
#include "plugin/hot_key_win32.h"
#include "plugin/keyboard.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "plugin/window_proc.h"

namespace {

// No screen reader reads more of one text aloud; a huge description must not cost every query.
const size_t readTextLimit = 32 * 1024;

// Appends a feed text in the settings' encoding.
void appendFeedText(WideText& out, const char* text) {
    if (!text)
        return;
    wchar_t* wide = bytesToWide(text, readTextLimit, settings.encoding == 1);
    if (wide)
        appendWide(out, wide);
    std::free(wide);
}

// Appends a text of the plug-in's own (times, reasons): ASCII or the ANSI code page.
void appendOwnText(WideText& out, const char* text) {
    if (text)
        appendAnsi(out, text);
}

// The failure a stale feed's health line tells ("Failed 12/08 12:52: connection refused. Next try
// 13:07") as "12/08 12:52: connection refused", into out (size bytes); false when the line tells
// none.
bool failureOf(const char* health, char* out, size_t size) {
    const char failed[] = "Failed ";
    if (!health || std::strncmp(health, failed, sizeof failed - 1) != 0)
        return false;
    const char* failure = health + sizeof failed - 1;
    const char* next = std::strstr(failure, ". Next try ");
    int length = next ? static_cast<int>(next - failure) : static_cast<int>(std::strlen(failure));
    std::snprintf(out, size, "%.*s", length, failure);
    return out[0] != '\0';
}

void listName(WideText& out) {
    const ViewModel& view = currentView();
    if (view.count == 0 || !view.entries[0].item)
        return;
    appendFeedText(out, view.entries[0].item->title);
    int count = shownItemCount();
    if (count == 0)
        return; // a placeholder: "Connecting...", "Couldn't connect!"
    char counted[32];
    std::snprintf(counted, sizeof counted, ", %d item%s", count, count == 1 ? "" : "s");
    appendOwnText(out, counted);
    // One feed on show (alone or in turn): since when it is stale and why, or its last update.
    ShownFeed feed;
    int index = view.entries[1].feed;
    if (settings.show == showTogether || index < 0 || !shownFeedAt(index, &feed))
        return;
    char failure[512];
    if (feed.stale && failureOf(feed.health, failure, sizeof failure)) {
        appendOwnText(out, ", stale since ");
        appendOwnText(out, failure);
    } else if (feed.stale) {
        appendOwnText(out, ", stale");
    } else if (feed.updated && feed.updated[0]) {
        appendOwnText(out, ", updated ");
        appendOwnText(out, feed.updated);
    }
}

// The header's tooltip, which names the feeds: read in the same encoding as the tip is drawn.
void listDescription(WideText& out) {
    appendFeedText(out, currentView().headerTip);
}

void listShortcut(WideText& out) {
    appendOwnText(out, registeredHotKeyText());
}

void itemName(int item, WideText& out) {
    const ViewModel& view = currentView();
    size_t position = static_cast<size_t>(item) + 1;
    if (item < 0 || position >= view.count)
        return;
    const ViewEntry& entry = view.entries[position];
    if (entry.isNew)
        appendWide(out, L"new, ");
    if (entry.highlighted)
        appendWide(out, L"highlighted, ");
    const char* feedName = entryFeedName(view, entry);
    if (feedName && feedName[0]) {
        appendFeedText(out, feedName);
        appendWide(out, L": ");
    }
    appendFeedText(out, entry.item->title);
    if (entry.stale)
        appendWide(out, L", stale"); // the line shows "[stale]": its feed failed its update
}

void itemDescription(int item, WideText& out) {
    if (const FeedItem* entry = shownItem(item))
        appendFeedText(out, entry->description);
}

void itemValue(int item, WideText& out) {
    DateText held;
    const char* date = itemDate(shownItem(item), &held);
    if (!date)
        return;
    // The same rule as the window's line: a listener hears the time the screen shows.
    char* shortened = shownDateBytes(date, settings.abbreviatedDate, settings.localTime);
    appendFeedText(out, shortened ? shortened : date);
    std::free(shortened);
}

bool itemRect(int item, RECT* client) {
    ItemRect rect = shownItemRect(item);
    if (rect.bottom <= rect.top)
        return false;
    *client = RECT{rect.left, rect.top, rect.right, rect.bottom};
    return true;
}

int selectedItem() {
    return shownItem(keyboardSelection.selected) ? keyboardSelection.selected : -1;
}

bool focused() {
    return keyboardSelection.focused;
}

void selectItem(int item) {
    if (runtime.pluginWindow)
        selectShownItem(runtime.pluginWindow, item);
}

bool openItem(int item) {
    return openShownItem(item);
}

unsigned listNumber() {
    return shownListNumber();
}

int itemCount() {
    return shownItemCount();
}

} // namespace

void connectAccessibleFeed() {
    accessibleListSource =
        AccessibleListSource{itemCount,       listName,  listDescription, listShortcut, itemName,
                             itemDescription, itemValue, itemRect,        selectedItem, focused,
                             selectItem,      openItem,  listNumber};
}
