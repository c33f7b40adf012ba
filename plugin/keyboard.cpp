// Keys while the window has the focus: Up/Down/Home/End/Page Up/Page Down move the selection, Enter
// opens the selected link (with the same rules as a double-click), Space shows its tip, Shift+F10
// or the menu key opens the menu at it, F5 updates, Left/Right step through feeds shown in turn,
// Esc gives the focus back. The selection is drawn only while the window has the focus, so a
// mouse user sees the window as before.
#include "plugin/keyboard.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <cwchar>

#include "content/feed_items.h"
#include "content/key_hash.h"
#include "content/stored_link.h"
#include "content/utf8_ansi.h"
#include "display/entry_text.h"
#include "display/accessible_list.h"
#include "display/keyboard_selection.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "plugin/accessible_feed.h"
#include "plugin/commands.h"
#include "plugin/hot_key_win32.h"
#include "plugin/menu.h"
#include "plugin/mouse_tracking.h"
#include "plugin/placement.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "plugin/window_proc.h"

UINT seenDelayMs = 2000;

namespace {

// The window that had the focus before this one took it; Esc gives it back.
HWND previousFocus = nullptr;
// The link of the selected item (malloc'd; null: none), so that the selection can stay on it in the
// next list.
char* selectedLink = nullptr;
// The text of the tip Space shows; the tool points at it while it shows.
WideText keyboardTipText;

void rememberSelectedLink(const char* link) {
    std::free(selectedLink);
    selectedLink = link ? duplicateText(link, 0) : nullptr;
}

// FNV-1a over a text and its terminator, continuing from hash.
// A running hash over texts, each with its terminating zero (so "ab","c" is not "a","bc").
uint64_t hashText(uint64_t hash, const char* text) {
    text = text != nullptr ? text : "";
    return continueTextHash(hash, text, std::strlen(text) + 1);
}
// The tool of the tip Space shows: tracked at the item, apart from the paint's tools.
const UINT_PTR keyboardTipId = 0x7FFF0001;
bool keyboardTipAdded = false;
const size_t toolTextLimit = static_cast<size_t>(toolTextCapacity);

void notify(HWND window, DWORD event, int item) {
    NotifyWinEvent(event, window, OBJID_CLIENT, item >= 0 ? item + 1 : CHILDID_SELF);
}

TOOLINFOW keyboardTipTool(HWND window, wchar_t* text) {
    TOOLINFOW info = {};
    info.cbSize = sizeof info;
    info.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    info.hwnd = window;
    info.uId = keyboardTipId;
    info.lpszText = text;
    return info;
}

void hideKeyboardTip(HWND window) {
    if (!keyboardTipAdded || !tooltipWindow)
        return;
    TOOLINFOW info = keyboardTipTool(window, nullptr);
    SendMessageW(tooltipWindow, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&info));
}

// Shows the selected item's tip (its title over its description, as the mouse's tip) below it,
// its description formatted as the mouse's tip shows it.
void showKeyboardTip(HWND window, const ViewEntry& shown) {
    if (!tooltipWindow)
        return;
    const FeedItem* entry = shown.item;
    WideText& text = keyboardTipText;
    clearText(text);
    bool utf8 = settings.encoding == 1;
    const char* parts[] = {settings.tipShowTitle ? entry->title : nullptr, entry->description};
    int headerLength = 0; // the title's characters, drawn above a formatted description
    for (const char* part : parts) {
        wchar_t* wide = part ? bytesToWide(part, toolTextLimit * 4, utf8) : nullptr;
        if (wide && wide[0]) {
            headerLength = part == parts[0] ? static_cast<int>(wcslen(wide)) : headerLength;
            if (text.length)
                appendWide(text, L"\n\n");
            appendWide(text, wide,
                       toolTextLimit - (text.length < toolTextLimit ? text.length : toolTextLimit));
        }
        std::free(wide);
    }
    if (!text.length && entry->title) {
        wchar_t* wide = bytesToWide(entry->title, toolTextLimit * 4, utf8);
        if (wide)
            appendWide(text, wide, toolTextLimit);
        std::free(wide);
    }
    if (!text.length)
        appendWide(text, L" ");
    TOOLINFOW info = keyboardTipTool(window, text.text);
    if (!keyboardTipAdded)
        keyboardTipAdded =
            SendMessageW(tooltipWindow, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    SendMessageW(tooltipWindow, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    ItemRect laidOut = entryRect(currentView(), &shown);
    RECT rect = {laidOut.left, laidOut.top, laidOut.right, laidOut.bottom};
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    bool formatted = utf8 && entry->description != nullptr;
    showOwnToolTip(info, text.text, headerLength, shown.feed, formatted ? entry : nullptr, rect);
}

// The items the last paint showed, for Page Up and Page Down (at least one).
int paintedItems() {
    const ViewModel& view = currentView();
    int painted = 0;
    for (size_t position = 1; position < view.count; ++position)
        if (entryRect(position).bottom > entryRect(position).top)
            ++painted;
    return painted > 1 ? painted : 1;
}

void moveSelection(HWND window, SelectionKey key) {
    int moved = movedSelection(keyboardSelection.selected, shownItemCount(), key, paintedItems());
    if (moved >= 0)
        selectShownItem(window, moved);
}

// The menu opens where the shell puts it, at the mouse pointer: the pointer goes to the item first.
void openMenuAtSelection(HWND window) {
    ItemRect rect = shownItemRect(keyboardSelection.selected);
    if (rect.bottom > rect.top) {
        POINT point = {rect.left + 8, (rect.top + rect.bottom) / 2};
        ClientToScreen(window, &point);
        SetCursorPos(point.x, point.y);
    }
    buildMenu(true);
}

void giveFocusBack(HWND window) {
    hideKeyboardTip(window);
    HWND back = previousFocus;
    previousFocus = nullptr;
    if (back && back != window && IsWindow(back)) {
        SetForegroundWindow(back);
        // Within this thread (the shell's own windows) the exact window gets it back too.
        if (GetWindowThreadProcessId(back, nullptr) == GetCurrentThreadId())
            SetFocus(back);
    }
    if (GetFocus() == window)
        SetFocus(nullptr);
}

} // namespace

int shownItemCount() {
    const ViewModel& view = currentView();
    return view.count > 1 ? static_cast<int>(view.count - 1) : 0;
}

const ViewEntry* shownEntry(int item) {
    if (item < 0)
        return nullptr;
    const ViewModel& view = currentView();
    size_t position = static_cast<size_t>(item) + 1;
    return position < view.count ? &view.entries[position] : nullptr;
}

const FeedItem* shownItem(int item) {
    const ViewEntry* entry = shownEntry(item);
    return entry ? entry->item : nullptr;
}

ItemRect shownItemRect(int item) {
    const ViewEntry* entry = shownEntry(item);
    return entryRect(currentView(), entry);
}

void selectShownItem(HWND window, int item) {
    const FeedItem* entry = shownItem(item);
    if (!entry)
        return;
    bool moved = item != keyboardSelection.selected;
    keyboardSelection.selected = item;
    LinkText whole;
    const char* link = itemLink(entry, &whole);
    if (!selectedLink || !link || std::strcmp(selectedLink, link) != 0)
        rememberSelectedLink(link);
    if (moved)
        hideKeyboardTip(window);
    if (keyboardSelection.focused) {
        // Only a selection the user sees counts as read, never one a click made.
        if (keyboardSelection.drawn)
            SetTimer(window, seenTimerId, seenDelayMs, nullptr);
        notify(window, EVENT_OBJECT_FOCUS, item);
    }
    notify(window, EVENT_OBJECT_SELECTION, item);
    repaint();
}

bool openShownItem(int item) {
    const FeedItem* opened = shownItem(item);
    if (!opened || !openItemLink(opened))
        return false;
    // The shell may have handled messages meanwhile: the item is looked up again.
    const ViewEntry* entry = shownEntry(item);
    if (entry && entry->item == opened)
        markEntrySeen(entry);
    return true;
}

bool keyboardTipNotified(const NMHDR* header) {
    if (header->idFrom != keyboardTipId)
        return false;
    // The selected item's tip showed: it has been seen.
    if (const ViewEntry* entry = shownEntry(keyboardSelection.selected))
        markEntrySeen(entry);
    return true;
}

void startKeyboard(HWND window) {
    keyboardSelection = KeyboardSelection{-1, 0, false, false, keyboardSelection.listNumber + 1};
    previousFocus = nullptr;
    rememberSelectedLink(nullptr);
    keyboardTipAdded = false;
    connectAccessibleFeed();
    registerFocusHotKey(window);
}

void endKeyboard(HWND window) {
    releaseFocusHotKey(window);
    KillTimer(window, seenTimerId);
    disconnectAccessibleObjects();
    accessibleListSource = AccessibleListSource{}; // no new objects for a window that is going
    keyboardSelection.focused = false;
    keyboardSelection.selected = -1;
    keyboardTipAdded = false; // the tooltip window goes with the plug-in
    releaseText(keyboardTipText);
    rememberSelectedLink(nullptr);
}

void keyboardSettingsChanged(HWND window) {
    registerFocusHotKey(window);
}

bool handleWindowKey(HWND window, WPARAM key) {
    bool shift = GetKeyState(VK_SHIFT) < 0;
    bool onSelection = key == VK_UP || key == VK_DOWN || key == VK_HOME || key == VK_END ||
                       key == VK_PRIOR || key == VK_NEXT || key == VK_RETURN || key == VK_SPACE ||
                       key == VK_APPS || (key == VK_F10 && shift);
    if (onSelection && !keyboardSelection.drawn) {
        // A click gave the focus without drawing the selection; the first key on it shows it
        // (Alt, held to resize with the mouse, does not).
        keyboardSelection.drawn = true;
        repaint();
    }
    switch (key) {
    case VK_UP:
        moveSelection(window, selectUp);
        return true;
    case VK_DOWN:
        moveSelection(window, selectDown);
        return true;
    case VK_HOME:
        moveSelection(window, selectHome);
        return true;
    case VK_END:
        moveSelection(window, selectEnd);
        return true;
    case VK_PRIOR:
        moveSelection(window, selectPageUp);
        return true;
    case VK_NEXT:
        moveSelection(window, selectPageDown);
        return true;
    case VK_RETURN:
        openShownItem(keyboardSelection.selected);
        return true;
    case VK_SPACE:
        if (const ViewEntry* shown = shownEntry(keyboardSelection.selected))
            showKeyboardTip(window, *shown);
        return true;
    case VK_APPS:
        openMenuAtSelection(window);
        return true;
    case VK_F10:
        if (!shift)
            return false;
        openMenuAtSelection(window);
        return true;
    case VK_F5:
        handleCommand(window, "@FeedMarqueeUpdateNow");
        return true;
    case VK_LEFT:
    case VK_RIGHT:
        if (!stepTurn(key == VK_RIGHT ? 1 : -1))
            return false;
        keyboardListShown(window);
        return true;
    case VK_ESCAPE:
        giveFocusBack(window);
        return true;
    default:
        return false;
    }
}

void keyboardActivated(HWND window, WPARAM wParam, LPARAM lParam) {
    HWND other = reinterpret_cast<HWND>(lParam);
    if (LOWORD(wParam) != WA_INACTIVE && other && other != window && !previousFocus)
        previousFocus = other;
}

void keyboardFocusChanged(HWND window, bool focused) {
    keyboardSelection.focused = focused;
    if (!focused) {
        keyboardSelection.drawn = false;
        previousFocus = nullptr; // the next focus remembers where it came from afresh
        hideKeyboardTip(window);
        KillTimer(window, seenTimerId);
        // Back to the window as the mouse knows it: from the top, nothing drawn as selected; a
        // window the hot key brought out of hiding hides again once the pointer is not on it.
        keyboardSelection.firstShown = 0;
        if (!pointerOverNow(window))
            pointerLeftWindow();
        repaint();
        return;
    }
    if (keyboardSelection.selected < 0 || !shownItem(keyboardSelection.selected))
        keyboardSelection.selected = movedSelection(-1, shownItemCount(), selectHome, 1);
    if (keyboardSelection.selected >= 0)
        selectShownItem(window, keyboardSelection.selected);
    else
        notify(window, EVENT_OBJECT_FOCUS, -1);
    repaint();
}

void takeKeyboardFocus(HWND window, bool drawSelection) {
    // A window the user hid keeps out of the way; one parked at its auto-hide place comes out
    // first, so that the focus never goes to a window nobody can see.
    if (!IsWindowVisible(window))
        return;
    if (runtime.autoHidden)
        showFromAutoHide();
    if (drawSelection && !keyboardSelection.drawn) {
        keyboardSelection.drawn = true;
        repaint();
    }
    if (GetFocus() == window)
        return;
    HWND top = GetAncestor(window, GA_ROOT); // in the slit, the slit's window
    HWND foreground = GetForegroundWindow();
    if (foreground && foreground != top)
        previousFocus = foreground;
    SetForegroundWindow(top ? top : window);
    SetFocus(window);
}

unsigned shownListNumber() {
    // A hash of the titles and links of the shown entries: a list with the same headlines in the
    // same order (an update the server answered "not modified") is the same list to a reader.
    // Only read here: whoever asks, the list a reader was told of changes in keyboardListShown.
    uint64_t headlines = textHashStart;
    const ViewModel& view = currentView();
    for (size_t position = 0; position < view.count; ++position) {
        const FeedItem* entry = view.entries[position].item;
        LinkText whole;
        headlines = hashText(hashText(headlines, entry->title), itemLink(entry, &whole));
        // A highlight the filters add or take away changes what the item is named.
        headlines = headlines * 31 + (view.entries[position].highlighted ? 1 : 0);
    }
    return static_cast<unsigned>(headlines ^ (headlines >> 32));
}

void keyboardListShown(HWND window) {
    unsigned now = shownListNumber();
    if (now == keyboardSelection.listNumber)
        return;
    keyboardSelection.listNumber = now;
    keyboardSelection.firstShown = 0;
    int kept = -1;
    if (selectedLink)
        for (int item = 0; const FeedItem* entry = shownItem(item); ++item) {
            LinkText whole;
            const char* link = itemLink(entry, &whole);
            if (link && std::strcmp(selectedLink, link) == 0) {
                kept = item;
                break;
            }
        }
    if (kept < 0 && keyboardSelection.focused)
        kept = movedSelection(-1, shownItemCount(), selectHome, 1);
    keyboardSelection.selected = kept;
    hideKeyboardTip(window);
    notify(window, EVENT_OBJECT_REORDER, -1);
    if (keyboardSelection.focused && kept >= 0)
        selectShownItem(window, kept);
}

void keyboardItemRenamed(HWND window, int item) {
    notify(window, EVENT_OBJECT_NAMECHANGE, item);
}

void keyboardSeenTimer(HWND window) {
    KillTimer(window, seenTimerId);
    const ViewEntry* entry = shownEntry(keyboardSelection.selected);
    if (!keyboardSelection.focused || !entry)
        return;
    bool wasNew = entry->isNew;
    markEntrySeen(entry); // composes the view again: entry is not used after this
    if (wasNew) {
        notify(window, EVENT_OBJECT_NAMECHANGE, keyboardSelection.selected);
        repaint();
    }
}
