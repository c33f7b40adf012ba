#include "display/selection_paint.h"

#include "display/keyboard_selection.h"
#include "display/painting.h"

const ViewEntry* focusedSelectionEntry(const ViewModel& model) {
    if (!keyboardSelection.focused || !keyboardSelection.drawn || keyboardSelection.selected < 0)
        return nullptr;
    size_t position = static_cast<size_t>(keyboardSelection.selected) + 1;
    return position < model.count ? &model.entries[position] : nullptr;
}

bool scrolledAway(size_t position) {
    return position > 0 && position - 1 < static_cast<size_t>(keyboardSelection.firstShown);
}

void finishSelectionPaint(HWND window, HDC dc, int clientHeight, const ViewModel& model) {
    const ViewEntry* entry = focusedSelectionEntry(model);
    if (!entry)
        return;
    ItemRect laidOut = entryRect(model, entry);
    RECT rect = {laidOut.left, laidOut.top, laidOut.right, laidOut.bottom};
    bool shown = !IsRectEmpty(&rect);
    if (shown)
        DrawFocusRect(dc, &rect);
    // The items painted whole from the first shown one: the page the selection can jump by.
    int shownWhole = 0;
    for (size_t position = static_cast<size_t>(keyboardSelection.firstShown) + 1;
         position < model.count; ++position) {
        ItemRect item = entryRect(position);
        if (item.bottom <= item.top || item.bottom > clientHeight)
            break;
        ++shownWhole;
    }
    int first = firstShownFor(keyboardSelection.firstShown, keyboardSelection.selected,
                              shown && rect.bottom <= clientHeight, shownWhole);
    if (first != keyboardSelection.firstShown) {
        keyboardSelection.firstShown = first;
        InvalidateRect(window, nullptr, FALSE);
    }
}
