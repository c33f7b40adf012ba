// The keyboard's selection over the shown items: where each key moves it and which item the
// window shows first so that the selection stays in view. Portable: no <windows.h>.
#pragma once

// Items are counted from 0 (the header line is not one); -1 is "no selection".
enum SelectionKey { selectUp, selectDown, selectHome, selectEnd, selectPageUp, selectPageDown };

// The item selected after key, among count items. Up and Down step by one and wrap around at
// either end; Home and End go to the first and the last; Page Up and Page Down step by a page
// (pageItems, at least one) and stop at the ends. Without a selection, Down, Home and Page Down
// select the first item and Up, End and Page Up the last. -1 when there are no items.
int movedSelection(int selected, int count, SelectionKey key, int pageItems);

// What the window keeps of the keyboard's work between messages; window thread only.
struct KeyboardSelection {
    int selected;        // the selected item, -1 none
    int firstShown;      // the first item laid out below the header (0 unless scrolled)
    bool focused;        // the window has the keyboard focus
    bool drawn;          // the selection is drawn: the focus came by the hot key or a key was used
    unsigned listNumber; // the number of the list a reader was last told of
};
extern KeyboardSelection keyboardSelection;

// The first item to show so that selected is in view, from the current first item and the number
// of items the last paint showed whole from it (shownWhole): the selected item itself when it lies
// above; when it lies below the items shown, straight to the first that puts it in their place
// (End on a long list is one step); one further down when the last paint showed it cut off, so the
// window settles on the first that shows it whole.
int firstShownFor(int firstShown, int selected, bool selectedWhole, int shownWhole);
