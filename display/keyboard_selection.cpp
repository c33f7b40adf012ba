#include "display/keyboard_selection.h"

KeyboardSelection keyboardSelection = {-1, 0, false, false, 0};

int movedSelection(int selected, int count, SelectionKey key, int pageItems) {
    if (count <= 0)
        return -1;
    int last = count - 1;
    int page = pageItems > 1 ? pageItems : 1;
    if (selected < 0 || selected > last) {
        bool fromTop = key == selectDown || key == selectHome || key == selectPageDown;
        return fromTop ? 0 : last;
    }
    switch (key) {
    case selectUp:
        return selected == 0 ? last : selected - 1;
    case selectDown:
        return selected == last ? 0 : selected + 1;
    case selectHome:
        return 0;
    case selectEnd:
        return last;
    case selectPageUp:
        return selected - page < 0 ? 0 : selected - page;
    case selectPageDown:
        return selected + page > last ? last : selected + page;
    }
    return selected;
}

int firstShownFor(int firstShown, int selected, bool selectedWhole, int shownWhole) {
    if (selected < 0)
        return firstShown < 0 ? 0 : firstShown;
    if (selected < firstShown)
        return selected;
    if (selectedWhole || selected == firstShown)
        return firstShown;
    int shown = shownWhole > 1 ? shownWhole : 1;
    if (selected - firstShown > shown) // not painted at all: as many items above it as fitted
        return selected - shown + 1;
    return firstShown + 1;
}
