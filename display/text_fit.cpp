#include "display/text_fit.h"

int textSlack(int width) {
    if (width <= 0)
        return 0;
    int slack = width / 32 + 2;
    return slack < width / 4 ? slack : width / 4;
}

int fittedRight(int left, int right) {
    long long width = static_cast<long long>(right) - left;
    if (width <= 0 || width > 0x7fffffffLL)
        return right;
    return right - textSlack(static_cast<int>(width));
}

void drawFittedText(int(WINAPI* drawText)(HDC, LPCWSTR, int, LPRECT, UINT), HDC dc,
                    const wchar_t* text, int length, RECT rect, UINT flags) {
    int saved = SaveDC(dc);
    IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    RECT fitted = rect;
    fitted.right = fittedRight(rect.left, rect.right);
    drawText(dc, text, length, &fitted, flags | DT_NOCLIP);
    if (saved != 0)
        RestoreDC(dc, saved);
}
