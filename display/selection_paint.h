// The keyboard selection in the paint: the hover highlight and a focus rectangle on the selected
// item while the window has the keyboard focus, and the scrolling that brings it into view.
#pragma once
#include <windows.h>
#include <cstddef>

#include "display/view_model.h"

// The model's entry of the selected item while the window has the focus, else null.
const ViewEntry* focusedSelectionEntry(const ViewModel& model);
// True when the entry at position (0 the header) lies above the first item shown: the layout
// passes it over.
bool scrolledAway(size_t position);
// After the layout: draws the focus rectangle on the selected item and, when the item was not shown
// whole, moves the first shown item and asks for another paint.
void finishSelectionPaint(HWND window, HDC dc, int clientHeight, const ViewModel& model);
