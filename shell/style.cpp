// The shell's style: six style records (toolbar, button, pressed button, label, window label,
// clock) and two widths, read from "shellstyle.rc" in the shell's folder over built-in defaults,
// and the gradient painter that plug-ins hand the records back to.
//
// The style file uses the settings-file notation: "<element>.<field>: value" with the elements
// toolbar, button, buttonPressed, label, windowLabel and clock and the fields gradient (flat,
// horizontal, vertical, diagonal), color, colorTo, textColor, borderColor, borderWidth, bevel
// (flat, raised, sunken), font, fontHeight and fontWeight; and "bevelWidth:" and "borderWidth:".
#include <algorithm>
#include <cstring>
#include "shell/shell_internal.h"

namespace {

// In the order of the indices 1 to 6 that plug-ins ask for.
const char* const elementNames[6] = {"toolbar", "button",      "buttonPressed",
                                     "label",   "windowLabel", "clock"};

HostStyleItem styles[6];
int bevelWidth = 2;  // behind index 12
int borderWidth = 1; // behind index 14
bool loaded = false;

HostStyleItem makeItem(int gradient, COLORREF from, COLORREF to, COLORREF text, int bevel) {
    HostStyleItem item;
    std::memset(&item, 0, sizeof item);
    item.gradientType = gradient;
    item.colorFrom = from;
    item.colorTo = to;
    item.borderColor = RGB(0x12, 0x18, 0x26);
    item.borderWidth = 1;
    item.bevel = bevel;
    item.textColor = text;
    item.fontHeight = 13;
    item.fontWeight = FW_NORMAL;
    std::strcpy(item.faceName, "Tahoma");
    return item;
}

// A calm slate-blue look: dark enough that light text reads well, with soft vertical gradients.
void setDefaults() {
    styles[0] = makeItem(2, RGB(0x34, 0x45, 0x66), RGB(0x1e, 0x28, 0x3d), RGB(0xe9, 0xee, 0xf6), 1);
    styles[1] = makeItem(2, RGB(0x56, 0x6e, 0x9a), RGB(0x3a, 0x4d, 0x73), RGB(0xff, 0xff, 0xff), 1);
    styles[2] = makeItem(2, RGB(0x22, 0x2e, 0x48), RGB(0x36, 0x48, 0x6e), RGB(0xd6, 0xde, 0xee), 2);
    styles[3] = makeItem(1, RGB(0x3f, 0x53, 0x7a), RGB(0x2b, 0x3a, 0x57), RGB(0xf2, 0xf4, 0xf8), 0);
    styles[4] = makeItem(3, RGB(0x5d, 0x7f, 0xb8), RGB(0x33, 0x4f, 0x80), RGB(0xff, 0xff, 0xff), 0);
    styles[5] = makeItem(2, RGB(0x26, 0x34, 0x50), RGB(0x32, 0x44, 0x68), RGB(0xcf, 0xe0, 0xff), 0);
    styles[5].fontWeight = FW_BOLD;
    bevelWidth = 2;
    borderWidth = 1;
}

int wordIndex(const std::string& text, const char* const* words, int count, int fallback) {
    for (int i = 0; i < count; ++i)
        if (lstrcmpiA(text.c_str(), words[i]) == 0)
            return i;
    return fallback;
}

void readElement(const std::string& file, const char* name, HostStyleItem& item) {
    static const char* const gradients[] = {"flat", "horizontal", "vertical", "diagonal"};
    static const char* const bevels[] = {"flat", "raised", "sunken"};
    std::string prefix = std::string(name) + ".", text;
    auto key = [&](const char* field) { return prefix + field + ":"; };
    int number;
    COLORREF colour;
    if (rcLookup(file.c_str(), key("gradient").c_str(), text))
        item.gradientType = wordIndex(text, gradients, 4, item.gradientType);
    if (rcLookup(file.c_str(), key("bevel").c_str(), text))
        item.bevel = wordIndex(text, bevels, 3, item.bevel);
    if (rcLookup(file.c_str(), key("color").c_str(), text) && parseColour(text, colour))
        item.colorFrom = colour;
    if (rcLookup(file.c_str(), key("colorTo").c_str(), text) && parseColour(text, colour))
        item.colorTo = colour;
    if (rcLookup(file.c_str(), key("textColor").c_str(), text) && parseColour(text, colour))
        item.textColor = colour;
    if (rcLookup(file.c_str(), key("borderColor").c_str(), text) && parseColour(text, colour))
        item.borderColor = colour;
    if (rcLookup(file.c_str(), key("borderWidth").c_str(), text) && parseInt(text, number) &&
        number >= 0 && number <= 50)
        item.borderWidth = number;
    if (rcLookup(file.c_str(), key("fontHeight").c_str(), text) && parseInt(text, number))
        item.fontHeight = number;
    if (rcLookup(file.c_str(), key("fontWeight").c_str(), text) && parseInt(text, number))
        item.fontWeight = number;
    if (rcLookup(file.c_str(), key("font").c_str(), text) && !text.empty())
        lstrcpynA(item.faceName, text.c_str(), sizeof item.faceName);
}

void loadStyle() {
    setDefaults();
    std::string file = styleFilePath();
    std::string text;
    int number;
    for (int i = 0; i < 6; ++i)
        readElement(file, elementNames[i], styles[i]);
    if (rcLookup(file.c_str(), "bevelWidth:", text) && parseInt(text, number) && number >= 0 &&
        number <= 50)
        bevelWidth = number;
    if (rcLookup(file.c_str(), "borderWidth:", text) && parseInt(text, number) && number >= 0 &&
        number <= 50)
        borderWidth = number;
    loaded = true;
}

COLORREF blend(COLORREF a, COLORREF b, int percentOfB) {
    auto mix = [&](int x, int y) { return (x * (100 - percentOfB) + y * percentOfB) / 100; };
    return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
               mix(GetBValue(a), GetBValue(b)));
}

TRIVERTEX vertex(LONG x, LONG y, COLORREF colour) {
    TRIVERTEX v;
    v.x = x;
    v.y = y;
    v.Red = static_cast<COLOR16>(GetRValue(colour) << 8);
    v.Green = static_cast<COLOR16>(GetGValue(colour) << 8);
    v.Blue = static_cast<COLOR16>(GetBValue(colour) << 8);
    v.Alpha = 0;
    return v;
}

void fillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void fillGradient(HDC dc, const RECT& r, const HostStyleItem& style) {
    switch (style.gradientType) {
    case 1:
    case 2: {
        TRIVERTEX v[2] = {vertex(r.left, r.top, style.colorFrom),
                          vertex(r.right, r.bottom, style.colorTo)};
        GRADIENT_RECT g = {0, 1};
        if (!GradientFill(dc, v, 2, &g, 1,
                          style.gradientType == 1 ? GRADIENT_FILL_RECT_H : GRADIENT_FILL_RECT_V))
            fillSolid(dc, r, style.colorFrom);
        break;
    }
    case 3: {
        COLORREF middle = blend(style.colorFrom, style.colorTo, 50);
        TRIVERTEX v[4] = {vertex(r.left, r.top, style.colorFrom), vertex(r.right, r.top, middle),
                          vertex(r.right, r.bottom, style.colorTo),
                          vertex(r.left, r.bottom, middle)};
        GRADIENT_TRIANGLE t[2] = {{0, 1, 2}, {0, 2, 3}};
        if (!GradientFill(dc, v, 4, t, 2, GRADIENT_FILL_TRIANGLE))
            fillSolid(dc, r, style.colorFrom);
        break;
    }
    default:
        fillSolid(dc, r, style.colorFrom);
    }
}

void frame(HDC dc, const RECT& r, int width, COLORREF topLeft, COLORREF bottomRight) {
    RECT strip;
    SetRect(&strip, r.left, r.top, r.right, r.top + width);
    fillSolid(dc, strip, topLeft);
    SetRect(&strip, r.left, r.top, r.left + width, r.bottom);
    fillSolid(dc, strip, topLeft);
    SetRect(&strip, r.left, r.bottom - width, r.right, r.bottom);
    fillSolid(dc, strip, bottomRight);
    SetRect(&strip, r.right - width, r.top, r.right, r.bottom);
    fillSolid(dc, strip, bottomRight);
}

} // namespace

std::string styleFilePath() {
    return shellFolder() + "shellstyle.rc";
}

void ensureStyleLoaded() {
    if (!loaded)
        loadStyle();
}

void reloadStyle(bool announce) {
    loadStyle();
    recordEvent("style", {styleFilePath()});
    if (announce)
        broadcastMessage(BB_REDRAWGUI, 0, 0);
}

extern "C" {

void* GetSettingPtr(int index) {
    recordEvent("GetSettingPtr", {intArg(index)});
    ensureStyleLoaded();
    if (index >= 1 && index <= 6)
        return &styles[index - 1];
    if (index == 12)
        return &bevelWidth;
    if (index == 14)
        return &borderWidth;
    return nullptr;
}

void MakeStyleGradient(HDC dc, RECT* rect, HostStyleItem* style, bool withBorder) {
    recordEvent("MakeStyleGradient",
                {handleText(dc),
                 rect ? intArg(rect->left) + "," + intArg(rect->top) + "," + intArg(rect->right) +
                            "," + intArg(rect->bottom)
                      : std::string("(null)"),
                 style ? intArg(style->gradientType) : std::string("(null)"), boolArg(withBorder)});
    if (!dc || !rect || !style || rect->right <= rect->left || rect->bottom <= rect->top)
        return;
    RECT area = *rect;
    fillGradient(dc, area, *style);
    int border = withBorder ? style->borderWidth : 0;
    if (border > 0) {
        // Never wider than half the rectangle, so a thin strip does not paint outside itself.
        int limit = std::min(area.right - area.left, area.bottom - area.top) / 2;
        border = std::min(border, limit);
        frame(dc, area, border, style->borderColor, style->borderColor);
        InflateRect(&area, -border, -border);
    }
    if ((style->bevel == 1 || style->bevel == 2) && area.right - area.left > 2 &&
        area.bottom - area.top > 2) {
        COLORREF light = blend(style->colorFrom, RGB(255, 255, 255), 35);
        COLORREF dark = blend(style->colorTo, RGB(0, 0, 0), 35);
        if (style->bevel == 1)
            frame(dc, area, 1, light, dark);
        else
            frame(dc, area, 1, dark, light);
    }
}

} // extern "C"
