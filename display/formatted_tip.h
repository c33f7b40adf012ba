// A formatted description laid out for a tooltip: the header line (the entry's title and date) in
// the tooltip's font, then the description's blocks in styles of the same font (bold, italic,
// underlined, a monospace face for code; headings bold), list markers hanging before their items,
// lists and quotations indented, every line wrapped to the tip's width and the whole cut at a
// line's end with "…" where it is taller than the room given.
#pragma once
#include <windows.h>

#include "content/formatted_description.h"

struct FormattedTip;

// Lays out header (headerLength characters, may be 0) over document for dc, in font (null: the
// GUI font) and styles of it, at most width pixels wide and maxHeight tall. Null when memory runs
// out. The fonts it makes live until freeFormattedTip.
FormattedTip* layoutFormattedTip(HDC dc, HFONT font, const wchar_t* header, int headerLength,
                                 const FormattedDescription* document, int width, int maxHeight);
// The pixels the layout takes: its widest line and its height.
SIZE formattedTipSize(const FormattedTip* tip);
// Draws the layout with its top left corner at x, y in dc's text colour, on the background there.
void drawFormattedTip(HDC dc, const FormattedTip* tip, int x, int y);
void freeFormattedTip(FormattedTip* tip);
