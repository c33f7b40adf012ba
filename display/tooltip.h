// The tooltip control: one tool per entry the window shows, identified by its rectangle, with
// UTF-16 text.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <cstdint>

#include "content/description_source.h"

// The most characters a tool's text holds; longer texts are cut by their callers (painting).
const int toolTextCapacity = 1024;

// The tooltip control; null when it could not be created (or before createTooltip).
extern HWND tooltipWindow;
// The window whose client rectangles the tools are (the plug-in window).
extern HWND tooltipOwner;

// Creates tooltipWindow for owner's tools with the width and hide delay given (see
// setTooltipTiming), active or not; leaves it null on failure.
void createTooltip(HINSTANCE instance, HWND owner, int widthPixels, int hideDelayMs, bool active);
// Registers a tool for rect with text, or refreshes the text of the tool already at rect, and marks
// it refreshed. Sends nothing when the tool exists with that text already; without a tooltip window
// it does nothing. A text longer than toolTextCapacity is stored cut to that length.
void addOrUpdateTool(const RECT& rect, const wchar_t* text);
// The same for a tool whose tip draws an item's description formatted: the item is known by its
// feed (the caller's number), key (0: none) and entryIndex, and the first headerLength
// characters of text are the header line drawn above the description.
void addOrUpdateFormattedTool(const RECT& rect, const wchar_t* text, int headerLength, int feed,
                              const FeedItem* item);
// Asked for an item's description source when its formatted tip is about to show; fills out
// (valid until the next call) and answers true, or false for the plain text instead.
typedef bool (*TipSourceFunction)(int feed, uint64_t key, int32_t entryIndex,
                                  DescriptionSource* out);
// The function the tips ask (null: every tip shows its plain text).
void setTipSourceFunction(TipSourceFunction function);
// Shows a tool the caller added itself (the keyboard's) below the item's rectangle on screen,
// within the work area (above the item where it would pass the bottom); any tip of the mouse
// goes. With item, its description is drawn formatted under the first headerLength characters of
// text when its source is found; else the control shows the tool's own text.
void showOwnToolTip(const TOOLINFOW& tool, const wchar_t* text, int headerLength, int feed,
                    const FeedItem* item, const RECT& itemOnScreen);
// A paint begins: clears every tool's refreshed mark.
void beginToolRefresh();
// A paint has laid out every entry it shows: removes the tools it did not refresh, so no tool of an
// old layout covers an entry's new rectangle. The marks stay.
void endToolRefresh();
// Removes the tools whose mark is clear, then clears every mark: two sweeps without a paint between
// them remove every tool.
void sweepTools();
// Removes every tool.
void removeAllTools();
// TTM_ACTIVATE with on; nothing without a tooltip window.
void activateTooltip(bool on);
// Sends the maximum tip width and the hide delay in milliseconds (the control gets it capped at
// the 32,767 ms it takes; the tips shown here stay up as long as given; negative: the control's
// default).
void setTooltipTiming(int widthPixels, int hideDelayMs);
// A mouse move over window (screenPoint in screen coordinates): the tip of the entry under it shows
// below the pointer after the control's initial delay (its reshow delay when another entry's tip
// was up), and goes after the hide delay or when the pointer moves off the entry. The window
// answers every point as a caption, so the control itself never sees the moves, and is not left
// to watch the cursor.
void relayMouseToTooltip(HWND window, POINT screenPoint);
// The pointer left the window: the tip goes.
void tooltipPointerLeft();
