#include "display/text_fit.h"

int textSlack(int width, const wchar_t* text, int length) {
    if (width <= 0)
        return 0;
    int byWidth = width / 32;
    int characters = 0;
    while ((length < 0 || characters < length) && text[characters] != L'\0' &&
           characters / 8 < byWidth)
        ++characters;
    int slack = (characters / 8 < byWidth ? characters / 8 : byWidth) + 2;
    return slack < width / 4 ? slack : width / 4;
}

int fittedRight(int left, int right, const wchar_t* text, int length) {
    long long width = static_cast<long long>(right) - left;
    if (width <= 0 || width > 0x7fffffffLL)
        return right;
    return right - textSlack(static_cast<int>(width), text, length);
}

void drawFittedText(int(WINAPI* drawText)(HDC, LPCWSTR, int, LPRECT, UINT), HDC dc,
                    const wchar_t* text, int length, RECT rect, UINT flags) {
    int saved = SaveDC(dc);
    IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    RECT fitted = rect;
    fitted.right = fittedRight(rect.left, rect.right, text, length);
    drawText(dc, text, length, &fitted, flags | DT_NOCLIP);
    if (saved != 0)
        RestoreDC(dc, saved);
}
