#include "display/selection_paint.h"

#include "display/keyboard_selection.h"

FeedItem* focusedSelectionEntry() {
    if (!keyboardSelection.focused || keyboardSelection.selected < 0 || !DisplayList.first)
        return nullptr;
    FeedItem* entry = DisplayList.first->next;
    for (int i = 0; entry && i < keyboardSelection.selected; ++i)
        entry = entry->next;
    return entry;
}

bool scrolledAway(size_t position) {
    return position > 0 && position - 1 < static_cast<size_t>(keyboardSelection.firstShown);
}

void finishSelectionPaint(HWND window, HDC dc, int clientHeight) {
    FeedItem* entry = focusedSelectionEntry();
    if (!entry)
        return;
    RECT rect = {entry->itemRect.left, entry->itemRect.top, entry->itemRect.right,
                 entry->itemRect.bottom};
    bool shown = !IsRectEmpty(&rect);
    if (shown)
        DrawFocusRect(dc, &rect);
    int first = firstShownFor(keyboardSelection.firstShown, keyboardSelection.selected,
                              shown && rect.bottom <= clientHeight);
    if (first != keyboardSelection.firstShown) {
        keyboardSelection.firstShown = first;
        InvalidateRect(window, nullptr, FALSE);
    }
}
