// The texts a screen reader announces. The list's name is the feed's title with its item count and
// the time of the last update, or the time and reason since when the headlines are stale; an
// item's name is its title, after its feed's name where several feeds are shown and after "new"
// where it is marked new; its value is its date as the window shows it.
#include "plugin/accessible_feed.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "content/feed_items.h"
#include "content/short_date.h"
#include "content/utf8_ansi.h"
#include "display/accessible_list.h"
#include "display/keyboard_selection.h"
#include "feed/feed_health.h"
#include "feed/update_worker.h"
#include "plugin/keyboard.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "plugin/window_proc.h"

namespace {

// No screen reader reads more of one text aloud; a huge description must not cost every query.
const size_t readTextLimit = 32 * 1024;

// Appends a feed text in the settings' encoding.
void appendFeedText(std::wstring& out, const char* text) {
    if (!text)
        return;
    wchar_t* wide = bytesToWide(text, readTextLimit, settings.encoding == 1);
    if (wide)
        out += wide;
    std::free(wide);
}

// Appends a text of the plug-in's own (times, reasons): ASCII or the ANSI code page.
void appendOwnText(std::wstring& out, const char* text) {
    wchar_t* wide = bytesToWide(text, readTextLimit, false);
    if (wide)
        out += wide;
    std::free(wide);
}

bool showsPlaceholder() {
    const FeedItem* first = DisplayList.first;
    return first && !first->next && first->title &&
           (std::strcmp(first->title, connectingText) == 0 ||
            std::strcmp(first->title, failedText) == 0);
}

void listName(std::wstring& out) {
    out.clear();
    if (!DisplayList.first)
        return;
    appendFeedText(out, DisplayList.first->title);
    if (showsPlaceholder())
        return;
    int count = shownItemCount();
    char counted[32];
    std::snprintf(counted, sizeof counted, ", %d item%s", count, count == 1 ? "" : "s");
    appendOwnText(out, counted);
    const HealthFacts& health = feedHealthFacts();
    if (headlinesStale()) {
        appendOwnText(out, ", stale since ");
        appendOwnText(out, health.when);
        if (health.reason[0]) {
            appendOwnText(out, ": ");
            appendOwnText(out, health.reason);
        }
    } else if (lastUpdateTime[0]) {
        appendOwnText(out, ", updated ");
        appendOwnText(out, lastUpdateTime);
    }
}

void listDescription(std::wstring& out) {
    out.clear();
    appendOwnText(out, feedHealthLine());
}

void itemName(int item, std::wstring& out) {
    out.clear();
    const ViewModel& view = currentView();
    size_t position = static_cast<size_t>(item) + 1;
    if (item < 0 || position >= view.count)
        return;
    const ViewEntry& entry = view.entries[position];
    if (entry.isNew)
        out += L"new, ";
    if (entry.feedName && entry.feedName[0]) {
        appendFeedText(out, entry.feedName);
        out += L": ";
    }
    appendFeedText(out, entry.item->title);
}

void itemDescription(int item, std::wstring& out) {
    out.clear();
    if (FeedItem* entry = shownItem(item))
        appendFeedText(out, entry->description);
}

void itemValue(int item, std::wstring& out) {
    out.clear();
    FeedItem* entry = shownItem(item);
    if (!entry || !entry->date)
        return;
    char* shortened = settings.abbreviatedDate ? abbreviateDate(entry->date) : nullptr;
    appendFeedText(out, shortened ? shortened : entry->date);
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
    return openItemLink(shownItem(item));
}

unsigned listNumber() {
    return shownListNumber();
}

int itemCount() {
    return shownItemCount();
}

} // namespace

void connectAccessibleFeed() {
    accessibleListSource = AccessibleListSource{
        itemCount, listName,     listDescription, itemName,   itemDescription, itemValue,
        itemRect,  selectedItem, focused,         selectItem, openItem,        listNumber};
}
