// Text that fits the width it is given. The glyph renderer may place a line's glyphs a few pixels
// wider than the extents the line was broken and cut with (each advance rounded on its own), and
// a draw clipped at the rectangle then loses the last letter of a wrapped line or the dots of an
// ellipsis. So text is broken and cut for a width a little short of the rectangle, drawn unclipped
// at that width, and clipped only by the rectangle itself.
#pragma once
#include <windows.h>

// The pixels kept free at the right for a text width of width: about 3% and 2 more (under Wine a
// 210-pixel line was drawn 4 pixels wider than measured, a 182-pixel ellipsis 5), at most a
// quarter of the width.
int textSlack(int width);
// The right edge that text between left and right is broken and cut for.
int fittedRight(int left, int right);
// Draws text with flags (as for DrawTextW, without DT_CALCRECT) into rect: broken and cut for
// fittedRight, clipped to rect. drawText is the draw-text function to use.
void drawFittedText(int(WINAPI* drawText)(HDC, LPCWSTR, int, LPRECT, UINT), HDC dc,
                    const wchar_t* text, int length, RECT rect, UINT flags);
