// The window from the keyboard: the focus taken by a click or the hot key and given back with Esc,
// the keys that move the selection over the items and act on the selected one, the mark of an
// item selected long enough to read, and the events that tell a screen reader what moved.
#pragma once
#include <windows.h>

#include "content/feed_items.h"
#include "display/view_model.h"

// Timer 6: the selected item has been read (timers 1-5 are the window procedure's and the view's).
const UINT_PTR seenTimerId = 6;
// How long an item stays selected before it counts as read: 2000 ms (tests shorten it).
extern UINT seenDelayMs;

// The plug-in starts and ends: the hot key, the screen reader's list and the kept state.
void startKeyboard(HWND window);
void endKeyboard(HWND window);
// The settings were read again: the hot key follows them.
void keyboardSettingsChanged(HWND window);

// WM_KEYDOWN and WM_SYSKEYDOWN: true when key was the window's (the caller then answers 0).
bool handleWindowKey(HWND window, WPARAM key);
// WM_ACTIVATE: remembers the window that had the focus, to give it back on Esc.
void keyboardActivated(HWND window, WPARAM wParam, LPARAM lParam);
// WM_SETFOCUS (focused true) and WM_KILLFOCUS.
void keyboardFocusChanged(HWND window, bool focused);
// WM_HOTKEY (drawSelection true) and a left click: brings the window forward with the keyboard
// focus. After a click the selection is drawn only once a key is pressed, so that a mouse user sees
// the window as before.
void takeKeyboardFocus(HWND window, bool drawSelection);
// An update ended: when it brought other headlines, the selection stays on the same link where it
// can, and a screen reader is told the children changed.
void keyboardListShown(HWND window);
// The number of the list shown: it differs when the shown headlines (titles and links, in order)
// differ. Asking never changes what the window shows or tells.
unsigned shownListNumber();
// A screen reader is told that item's name changed (its "new" mark went).
void keyboardItemRenamed(HWND window, int item);
// Timer 5 fired.
void keyboardSeenTimer(HWND window);

// The items: the shown entries after the header (of one feed, or of several merged). Null when item
// is out of range.
int shownItemCount();
const ViewEntry* shownEntry(int item);
const FeedItem* shownItem(int item);
// The item's rectangle in the last paint; empty when it was not painted.
ItemRect shownItemRect(int item);
// Opens item's link as a double-click would and marks it seen; false when nothing opened.
bool openShownItem(int item);
// WM_NOTIFY's TTN_SHOW: true (and the selected item marked seen) when the tip is the one Space
// shows; false for the tips of the mouse.
bool keyboardTipNotified(const NMHDR* header);
// Selects item (in range), tells a screen reader and repaints.
void selectShownItem(HWND window, int item);
