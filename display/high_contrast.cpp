#include "display/high_contrast.h"

namespace {

bool systemHighContrastOn() {
    HIGHCONTRASTA contrast = {};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

} // namespace

bool (*highContrastOn)() = systemHighContrastOn;

COLORREF highContrastTextColour() {
    return GetSysColor(COLOR_WINDOWTEXT);
}

void fillHighContrastBackground(HDC dc, const RECT& rect) {
    // The system's own brushes: never created, never deleted.
    FillRect(dc, &rect, GetSysColorBrush(COLOR_WINDOW));
}

void frameHighContrastHighlight(HDC dc, const RECT& rect) {
    HBRUSH brush = GetSysColorBrush(COLOR_HIGHLIGHT);
    RECT outer = rect;
    FrameRect(dc, &outer, brush);
    InflateRect(&outer, -1, -1);
    FrameRect(dc, &outer, brush);
}
