// Text that fits the width it is given. The glyph renderer may place a line's glyphs a few pixels
// wider than the extents the line was broken and cut with (each advance rounded on its own), and
// a draw clipped at the rectangle then loses the last letter of a wrapped line or the dots of an
// ellipsis. So text is broken and cut for a width a little short of the rectangle, drawn unclipped
// at that width, and clipped only by the rectangle itself.
#pragma once
#include <windows.h>

// The pixels kept free at the right for length characters (-1: up to the terminator) in a width:
// the error grows with the characters on a line (under Wine a 37-character, 210-pixel line was
// drawn 4 pixels wider than measured, a 182-pixel line cut with an ellipsis 5), so about one pixel
// for 8 characters or 3% of the width, whichever is less, and 2 more; at most a quarter of the
// width.
int textSlack(int width, const wchar_t* text, int length);
// The right edge that text (length as above) between left and right is broken and cut for.
int fittedRight(int left, int right, const wchar_t* text, int length);
// Draws text with flags (as for DrawTextW, without DT_CALCRECT) into rect: broken and cut for
// fittedRight, clipped to rect. drawText is the draw-text function to use.
void drawFittedText(int(WINAPI* drawText)(HDC, LPCWSTR, int, LPRECT, UINT), HDC dc,
                    const wchar_t* text, int length, RECT rect, UINT flags);
