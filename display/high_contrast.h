// High contrast: while the system's high-contrast mode is on, the window is drawn in the system's
// colours instead of the shell style's, with a highlight and focus rectangle that stay visible.
#pragma once
#include <windows.h>

// True while high-contrast mode is on (SPI_GETHIGHCONTRAST); tests may put in their own answer.
extern bool (*highContrastOn)();
// The text colour in high contrast (COLOR_WINDOWTEXT).
COLORREF highContrastTextColour();
// Fills rect with the window background colour (COLOR_WINDOW).
void fillHighContrastBackground(HDC dc, const RECT& rect);
// The highlight of an item in high contrast: a frame two pixels wide in COLOR_HIGHLIGHT, which
// leaves the text in COLOR_WINDOWTEXT readable on COLOR_WINDOW.
void frameHighContrastHighlight(HDC dc, const RECT& rect);
