// Shared set-up for the display tests: a plug-in-like window that answers WM_PAINT with
// paintWindow and the placement messages with the placement operations, a stand-in for the
// shell's style records and gradients whose drawing is easy to recognise in pixels, a model built
// by hand, and the tooltip control's own view of its tools.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "content/feed_items.h"
#include "content/stored_date.h"
#include "display/painting.h"
#include "plugin/placement.h"
#include "display/tooltip.h"
#include "plugin/view.h"
#include "display/gdi_count.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "tests/support/message_pump.h"

namespace fixture {

// A 32-bit top-down bitmap selected into a memory DC, its pixels readable (drawn text's ink).
struct InkCanvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint32_t* pixels;
    int width, height;
};

InkCanvas newCanvas(int width, int height) {
    InkCanvas canvas = {CreateCompatibleDC(nullptr), nullptr, nullptr, nullptr, width, height};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    canvas.bitmap = CreateDIBSection(canvas.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    canvas.pixels = static_cast<uint32_t*>(bits);
    canvas.old = SelectObject(canvas.dc, canvas.bitmap);
    return canvas;
}

void freeCanvas(InkCanvas& canvas) {
    SelectObject(canvas.dc, canvas.old);
    DeleteObject(canvas.bitmap);
    DeleteDC(canvas.dc);
}


// ---- the shell's style, as the tests want it ----------------------------------------------------

// Style items 1 to 6 and the two border values behind indices 14 and 12.
inline HostStyleItem styleItems[7];
inline int shellValue14 = 3;
inline int shellValue12 = 1;
inline bool shellGivesNothing = false; // GetSettingPtr answering null for every index

inline void* fakeGetSettingPtr(int index) {
    if (shellGivesNothing)
        return nullptr;
    if (index >= 1 && index <= 6)
        return &styleItems[index];
    if (index == 14)
        return &shellValue14;
    if (index == 12)
        return &shellValue12;
    return nullptr;
}

struct GradientCall {
    RECT rect;
    bool border;
};
inline std::vector<GradientCall> gradientCalls;

// A flat fill in colorFrom and, on request, a one-pixel frame in borderColor.
inline void fakeMakeStyleGradient(HDC dc, RECT* rect, HostStyleItem* style, bool withBorder) {
    gradientCalls.push_back({*rect, withBorder});
    HBRUSH fill = CreateSolidBrush(style->colorFrom);
    FillRect(dc, rect, fill);
    DeleteObject(fill);
    if (withBorder) {
        HBRUSH frame = CreateSolidBrush(style->borderColor);
        FrameRect(dc, rect, frame);
        DeleteObject(frame);
    }
}

const COLORREF backgroundColour = RGB(20, 40, 160);
const COLORREF borderColour = RGB(250, 200, 0);
const COLORREF textColour = RGB(255, 255, 255);

inline void useFakeStyle() {
    styleFunctions.getSettingPtr = fakeGetSettingPtr;
    styleFunctions.makeStyleGradient = fakeMakeStyleGradient;
    shellGivesNothing = false;
    shellValue14 = 3;
    shellValue12 = 1;
    for (int i = 1; i <= 6; ++i) {
        HostStyleItem& item = styleItems[i];
        memset(&item, 0, sizeof item);
        item.colorFrom = item.colorTo = backgroundColour;
        item.borderColor = borderColour;
        item.borderWidth = 1;
        item.textColor = textColour;
        item.fontHeight = 13;
        strcpy(item.faceName, "Tahoma");
    }
    gradientCalls.clear();
}

// ---- settings as a fresh install has them, with a plain font ----------------------------------

inline void defaultSettings() {
    PluginSettings s = {};
    s.x = 100;
    s.y = 100;
    s.width = 300;
    s.height = 200;
    s.fontHeight = 13;
    s.alpha = 200;
    s.styleType = 1;
    s.padding = 2;
    s.title_offset = 0;
    s.desc_offset = 10;
    s.updateInterval = 30;
    s.tipWidth = 350;
    s.tipHideDelay = 10;
    s.allowtooltip = true;
    s.showDate = true;
    s.abbreviatedDate = false;
    s.datePosHead = true;
    s.showItemCounts = true;
    s.showUpdateTime = false;
    s.wordWrap = false;
    s.tipShowTitle = true;
    s.hilightBorder = true;
    s.fontColor = textColour;
    strcpy(s.font, "Tahoma");
    settings = s;
}

// ---- the model, built by hand -------------------------------------------------------------

inline char* copyOf(const char* text) {
    if (text == nullptr)
        return nullptr;
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    memcpy(copy, text, n);
    return copy;
}

// The entries the test window paints: the header first. Each item and its texts are the
// fixture's (malloc'd); the model points into shownEntries.
inline std::vector<ViewEntry> shownEntries;
inline std::string headerSuffix; // what the plug-in would add after the header's title
inline std::string headerTip;    // the header's tip lines
inline ViewModel paintedModel;
inline std::vector<const char*> feedNames; // by an entry's feed number; empty for none

inline ViewModel& model() {
    paintedModel.entries = shownEntries.data();
    paintedModel.count = shownEntries.size();
    paintedModel.headerSuffix = headerSuffix.c_str();
    paintedModel.headerTip = headerTip.c_str();
    paintedModel.feedNames = feedNames.empty() ? nullptr : feedNames.data();
    return paintedModel;
}

// The description sources the tips find, by the item's position (HTML); what the plug-in would
// find in a feed's saved copy.
inline std::vector<std::string> tipSources;

inline bool fixtureTipSource(int, uint64_t, int32_t entryIndex, DescriptionSource* out) {
    if (entryIndex < 0 || static_cast<size_t>(entryIndex) >= tipSources.size() ||
        tipSources[entryIndex].empty())
        return false;
    *out =
        DescriptionSource{tipSources[entryIndex].c_str(), tipSources[entryIndex].size(), RawHtml};
    return true;
}

inline void clearList() {
    for (ViewEntry& shown : shownEntries) {
        FeedItem* entry = const_cast<FeedItem*>(shown.item);
        free((void*)entry->title);
        free((void*)entry->link.bytes);
        free((void*)entry->description);
        DateText held;
        free((void*)itemDate(entry, &held)); // a text of its own: see addEntry
        free(entry);
    }
    shownEntries.clear();
    forgetEntryRects();
    tipSources.clear();
    headerSuffix.clear();
    headerTip.clear();
    feedNames.clear();
}

inline ViewEntry* addEntry(const char* title, const char* description = nullptr,
                           const char* date = nullptr) {
    FeedItem* entry = static_cast<FeedItem*>(calloc(1, sizeof(FeedItem)));
    entry->title = copyOf(title);
    entry->description = copyOf(description);
    entry->date = storedDateText(copyOf(date));
    entry->entryIndex = static_cast<int32_t>(shownEntries.size());
    ViewEntry shown = {};
    shown.item = entry;
    shownEntries.push_back(shown);
    return &shownEntries.back();
}

// The rectangle the last paint laid entry out in.
inline ItemRect laidOutRect(const ViewEntry* entry) {
    return entryRect(model(), entry);
}

inline ViewEntry* entryAt(size_t index) {
    return index < shownEntries.size() ? &shownEntries[index] : nullptr;
}
// The item of the entry at index, to change its texts.
inline FeedItem* itemAt(size_t index) {
    return const_cast<FeedItem*>(shownEntries.at(index).item);
}
inline ViewEntry* lastShown() {
    return shownEntries.empty() ? nullptr : &shownEntries.back();
}
// The entry whose rectangle holds point, as the window's hit-testing finds it.
inline ViewEntry* hitTest(POINT point) {
    return entryAtPoint(model(), point);
}

// ---- the window --------------------------------------------------------------------------------

inline LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paintWindow(window, model(), viewOptionsFromSettings());
        return 0;
    case WM_NCHITTEST:
        return HTCAPTION;
    case WM_WINDOWPOSCHANGING:
        snapPosition(reinterpret_cast<WINDOWPOS*>(lParam));
        return 0;
    case WM_WINDOWPOSCHANGED:
        trackPosition(reinterpret_cast<WINDOWPOS*>(lParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

inline void pumpMessages(int milliseconds) {
    pumpMessagesFor(static_cast<DWORD>(milliseconds));
}

// Every record the paint and the tooltip read, back at the start: no entries, default settings, a
// fresh runtime, the stand-in style loaded, no update time.
inline void resetDisplayState() {
    clearList();
    defaultSettings();
    runtime = RuntimeState{};
    useFakeStyle();
    reloadShellStyle();
}

// A topmost borderless window at the stored place and size, as runtime.pluginWindow.
inline HWND openWindow(DWORD exStyle = 0) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = testWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "FeedMarqueeDisplayTest";
        RegisterClassA(&windowClass);
        registered = true;
    }
    runtime.instance = GetModuleHandleA(nullptr);
    HWND window =
        CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | exStyle, "FeedMarqueeDisplayTest",
                        nullptr, WS_POPUP, settings.x, settings.y, settings.width, settings.height,
                        nullptr, nullptr, runtime.instance, nullptr);
    runtime.pluginWindow = window;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    pumpMessages(30);
    return window;
}

// openWindow with the tooltip control created, so that the texts and rectangles the paint composes
// can be read back from the tools.
inline HWND openWithTooltip() {
    HWND window = openWindow();
    createPluginTooltip();
    setTipSourceFunction(fixtureTipSource); // the fixture's items have no feed behind them
    return window;
}

inline void closeWindow(HWND window) {
    removeAllTools();
    if (tooltipWindow != nullptr)
        DestroyWindow(tooltipWindow);
    tooltipWindow = nullptr;
    DestroyWindow(window);
    runtime.pluginWindow = nullptr;
    pumpMessages(10);
}

// One synchronous paint of the whole window.
inline void paintNow(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

inline COLORREF pixelAt(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

// ---- the tooltip control's own view ----------------------------------------------------------

struct ToolView {
    UINT_PTR id;
    RECT rect;
    std::string text;  // in the ANSI code page
    std::wstring wide; // as the control holds it
};

inline int toolCount() {
    return static_cast<int>(SendMessageA(tooltipWindow, TTM_GETTOOLCOUNT, 0, 0));
}

inline std::vector<ToolView> toolsOfControl() {
    std::vector<ToolView> tools;
    int count = toolCount();
    for (int i = 0; i < count; ++i) {
        TOOLINFOA info = {};
        info.cbSize = sizeof info;
        if (!SendMessageA(tooltipWindow, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&info)))
            break;
        // The wide query: the narrow one answers with at most 79 characters under some
        // versions of the control.
        static WCHAR wide[4096];
        wide[0] = 0;
        TOOLINFOW query = {};
        query.cbSize = sizeof query;
        query.hwnd = info.hwnd;
        query.uId = info.uId;
        query.lpszText = wide;
        SendMessageW(tooltipWindow, TTM_GETTEXTW, sizeof wide / sizeof wide[0],
                     reinterpret_cast<LPARAM>(&query));
        static char buffer[4096];
        buffer[0] = '\0';
        WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
        tools.push_back({info.uId, info.rect, buffer, wide});
    }
    return tools;
}

inline bool sameRect(const RECT& a, const ItemRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace fixture
