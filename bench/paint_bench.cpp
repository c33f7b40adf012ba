// Paint benchmark: paints a list of 100, 1,000, 10,000 and 100,000 entries into a real
// window under Wine and prints the median time of one paint with the entries unchanged (the common
// case: in mouse-over mode every mouse move repaints), the first paint that registers the tools,
// and the teardown that quitting does (every tool removed, the list freed). Only the entries in the
// window are laid out, so no figure should grow with the length of the list: the last line, the
// 10,000/1,000 ratio, should stay near 1.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "content/feed_items.h"
#include "content/stored_date.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "plugin/feed_updates.h"
#include "plugin/view.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

namespace {

HostStyleItem benchStyle;
int benchInset = 2;

void* benchGetSettingPtr(int index) {
    if (index >= 1 && index <= 6)
        return &benchStyle;
    if (index == 12 || index == 14)
        return &benchInset;
    return nullptr;
}

// A vertical two-colour gradient in bands, about what a shell's gradient costs.
void benchGradient(HDC dc, RECT* rect, HostStyleItem* style, bool withBorder) {
    int height = rect->bottom - rect->top;
    for (int band = 0; band < 8 && height > 0; ++band) {
        RECT part = *rect;
        part.top = rect->top + height * band / 8;
        part.bottom = rect->top + height * (band + 1) / 8;
        int r = GetRValue(style->colorFrom) +
                (GetRValue(style->colorTo) - GetRValue(style->colorFrom)) * band / 7;
        int g = GetGValue(style->colorFrom) +
                (GetGValue(style->colorTo) - GetGValue(style->colorFrom)) * band / 7;
        int b = GetBValue(style->colorFrom) +
                (GetBValue(style->colorTo) - GetBValue(style->colorFrom)) * band / 7;
        HBRUSH brush = CreateSolidBrush(RGB(r, g, b));
        FillRect(dc, &part, brush);
        DeleteObject(brush);
    }
    if (withBorder) {
        HBRUSH frame = CreateSolidBrush(style->borderColor);
        FrameRect(dc, rect, frame);
        DeleteObject(frame);
    }
}

LRESULT CALLBACK benchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        paintPluginWindow(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void freeList() {
    showListDirectly(nullptr);
}

void buildList(int count) {
    FeedList* list = newFeedList(0);
    char text[256];
    for (int i = 0; i < count; ++i) {
        FeedItem* entry = appendEntry(list);
        if (i == 0) {
            entry->title = listText(list, "World News \xE2\x80\x93 Top Stories", 0);
        } else {
            snprintf(text, sizeof text,
                     "Headline number %d: caf\xC3\xA9 owners & town council agree", i);
            entry->title = listText(list, text, 0);
            snprintf(text, sizeof text,
                     "Item %d. The council met on Tuesday to discuss the plan; a decision is "
                     "expected next week after a public hearing.",
                     i);
            entry->description = listText(list, text, 0);
            snprintf(text, sizeof text, "Sun, %02d Dec 2026 %02d:%02d:00 GMT", 1 + i % 28, i % 24,
                     i % 60);
            setItemDate(list, entry, text);
        }
        entry->entryIndex = i;
    }
    showListDirectly(list);
    releaseFeedList(list);
}

double millisecondsNow() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void paintOnce(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

// The median time of one unchanged repaint, after a first paint that registers every tool.
double medianPaint(HWND window, int count, int paints, double* firstPaint) {
    buildList(count);
    double start = millisecondsNow();
    paintOnce(window);
    *firstPaint = millisecondsNow() - start;
    paintOnce(window); // the highlight rectangles of the first layout
    std::vector<double> times;
    for (int i = 0; i < paints; ++i) {
        start = millisecondsNow();
        paintOnce(window);
        times.push_back(millisecondsNow() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    memset(&benchStyle, 0, sizeof benchStyle);
    benchStyle.colorFrom = RGB(60, 70, 90);
    benchStyle.colorTo = RGB(20, 25, 35);
    benchStyle.borderColor = RGB(200, 200, 200);
    benchStyle.textColor = RGB(230, 230, 230);
    benchStyle.fontHeight = 12;
    strcpy(benchStyle.faceName, "Tahoma");
    styleFunctions.getSettingPtr = benchGetSettingPtr;
    styleFunctions.makeStyleGradient = benchGradient;

    // A fresh install's settings with dates and descriptions shown.
    settings = PluginSettings{};
    settings.x = 10;
    settings.y = 10;
    settings.width = 300;
    settings.height = 400;
    settings.fontHeight = 12;
    settings.styleType = 1;
    settings.padding = 5;
    settings.title_offset = 5;
    settings.desc_offset = 15;
    settings.encoding = 1;
    settings.highlight = 1;
    settings.tipWidth = 350;
    settings.tipHideDelay = 10;
    settings.allowtooltip = true;
    settings.useRefFont = true;
    settings.showDesc = true;
    settings.showDate = true;
    settings.abbreviatedDate = true;
    settings.tipShowTitle = true;
    strcpy(settings.font, "Tahoma");

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = benchWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FeedMarqueePaintBench";
    RegisterClassA(&windowClass);
    runtime.instance = windowClass.hInstance;
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "FeedMarqueePaintBench", nullptr, WS_POPUP,
                                  settings.x, settings.y, settings.width, settings.height, nullptr,
                                  nullptr, runtime.instance, nullptr);
    runtime.pluginWindow = window;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    createPluginTooltip();
    reloadShellStyle();
    // In mouse-over mode with the cursor over the window.
    SetCursorPos(settings.x + 100, settings.y + 60);
    runtime.mouseInside = true;

    const int counts[] = {100, 1000, 10000, 100000};
    const int paints[] = {41, 21, 21, 21};
    double median[4];
    for (int i = 0; i < 4; ++i) {
        double first = 0;
        median[i] = medianPaint(window, counts[i], paints[i], &first);
        // What quitting does with the tools and the list.
        double start = millisecondsNow();
        removeAllTools();
        freeList();
        double teardown = millisecondsNow() - start;
        printf("paint %d entries: median %.3f ms per paint (%d paints); first paint with tool "
               "registration %.1f ms; teardown %.1f ms\n",
               counts[i], median[i], paints[i], first, teardown);
        fflush(stdout);
    }
    DestroyWindow(tooltipWindow);
    DestroyWindow(window);
    printf("paint 100000/1000 time ratio: %.2f\n", median[3] / median[1]);
    printf("paint 10000/1000 time ratio: %.2f\n", median[2] / median[1]);
    return 0;
}
