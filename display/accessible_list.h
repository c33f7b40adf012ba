// The window as a screen reader sees it: a list (its name the feed and its state) whose children
// are the items, each with its title, description, date, state and place, and "Open" as the
// action. The object answers WM_GETOBJECT through oleacc, which is loaded only when a client asks.
#pragma once
#include <windows.h>

#include "display/entry_text.h"

// What the list reads and does, filled in by the plug-in. Items count from 0; the text functions
// write into an empty WideText.
struct AccessibleListSource {
    int (*itemCount)();
    void (*listName)(WideText& out);        // "Harbour Town Daily, 5 items, updated 12/08 12:37"
    void (*listDescription)(WideText& out); // empty: none
    void (*listShortcut)(WideText& out);    // the hot key that focuses the list; empty: none
    void (*itemName)(int item, WideText& out);
    void (*itemDescription)(int item, WideText& out); // empty: none
    void (*itemValue)(int item, WideText& out);       // the date as shown; empty: none
    bool (*itemRect)(int item, RECT* client);         // false: not painted
    int (*selectedItem)();                            // -1: none
    bool (*focused)();                                // the window has the keyboard focus
    void (*selectItem)(int item);
    bool (*openItem)(int item); // false: nothing was opened
    // Changes whenever another list is shown: an item object made for an earlier list answers
    // CO_E_OBJNOTCONNECTED instead of reading whatever item now has its number.
    unsigned (*listNumber)();
};
extern AccessibleListSource accessibleListSource;

// WM_GETOBJECT: for OBJID_CLIENT, the list object's reference for the client; 0 otherwise (or when
// oleacc cannot be had), which the window procedure then hands to DefWindowProc.
LRESULT answerAccessibleObject(HWND window, WPARAM wParam, LPARAM lParam);
// The window is going: every object a client still holds answers RPC_E_DISCONNECTED from now on,
// remote clients are cut off, and what answerAccessibleObject loaded is released.
void disconnectAccessibleObjects();
