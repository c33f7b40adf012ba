// The tooltip control and its registry of tools. Each entry the window shows owns one tool covering
// its itemRect; a tool is known by its rectangle, so a repaint that lays the entries out as before
// finds every tool again and sends nothing to the control. A paint marks the tools it touches and
// removes the rest as it ends: the control answers a point with the first tool that covers it, so
// a tool left from an old layout would show another entry's text. Texts are UTF-16 and go through
// the control's wide messages, so any script shows whatever the ANSI code page is.
//
// The tips are tracking tips: the control shows one only when told, and this unit tells it from
// the window's own mouse moves and leave message, with one-shot timers for the delays. A control
// left to watch the pointer itself would poll the cursor many times a second for as long as the
// pointer rests on an entry, even after the tip has gone.
//
// A tool may name an item: when its tip is about to show, the item's description source is asked
// for (the plug-in finds it in the feed's saved copy) and the tip is drawn formatted
// (display/formatted_tip) by this unit's own paint of the control's window, and dropped when it
// goes. The control keeps the plain text, which is what it reports as its text and shows when no
// source is found.
//
// Besides the registration-ordered list, a small open-addressing hash table finds a tool by its
// rectangle, so a paint of n entries costs O(n) instead of O(n^2) list walks.
#include "display/tooltip.h"

#include <commctrl.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "display/formatted_tip.h"

HWND tooltipWindow = nullptr;
HWND tooltipOwner = nullptr;

static_assert(sizeof(TOOLINFOW) == 48, "the tool record includes lParam and the reserved pointer");

namespace {

// Allocated zero-filled; the fields in this order.
struct ToolEntry {
    ToolEntry* next;
    bool refreshed;                     // touched by addOrUpdateTool since the marks were cleared
    bool formatted;                     // the tip shows the item's description formatted
    int feed;                           // the item's feed, key (0: none) and place
    uint64_t key;
    int32_t entryIndex;
    int headerLength;                   // the characters of text the header line takes
    wchar_t text[toolTextCapacity + 1]; // the tool's current text
    TOOLINFOW toolInfo;                 // filled once at registration
};

ToolEntry* toolEntries = nullptr; // registration order; new records at the tail
ToolEntry* lastToolEntry = nullptr;
UINT_PTR largestToolId = 0; // the largest uId in the list, 0 when empty

// The rectangle index: slots hold records or null; capacity is a power of two kept at least
// twice the number of records. When it cannot grow (no memory) lookups fall back to the list.
ToolEntry** indexSlots = nullptr;
size_t indexCapacity = 0;
size_t indexCount = 0;
bool indexUsable = true;

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

size_t rectHash(const RECT& r) {
    uint32_t h = 2166136261u;
    const int32_t parts[4] = {static_cast<int32_t>(r.left), static_cast<int32_t>(r.top),
                              static_cast<int32_t>(r.right), static_cast<int32_t>(r.bottom)};
    for (int32_t part : parts) {
        h ^= static_cast<uint32_t>(part);
        h *= 16777619u;
        h ^= h >> 15;
    }
    return h;
}

void indexInsert(ToolEntry* entry) {
    size_t mask = indexCapacity - 1;
    size_t i = rectHash(entry->toolInfo.rect) & mask;
    while (indexSlots[i] != nullptr)
        i = (i + 1) & mask;
    indexSlots[i] = entry;
    ++indexCount;
}

void releaseIndex() {
    free(indexSlots);
    indexSlots = nullptr;
    indexCapacity = 0;
    indexCount = 0;
}

// Rebuilds the index from the list with room for at least wanted records.
void rebuildIndex(size_t wanted) {
    size_t capacity = 16;
    while (capacity < wanted * 2)
        capacity *= 2;
    if (capacity != indexCapacity) {
        ToolEntry** slots = static_cast<ToolEntry**>(calloc(capacity, sizeof(ToolEntry*)));
        if (slots == nullptr) {
            releaseIndex();
            indexUsable = false;
            return;
        }
        free(indexSlots);
        indexSlots = slots;
        indexCapacity = capacity;
    } else {
        memset(indexSlots, 0, capacity * sizeof(ToolEntry*));
    }
    indexCount = 0;
    indexUsable = true;
    for (ToolEntry* entry = toolEntries; entry != nullptr; entry = entry->next)
        indexInsert(entry);
}

ToolEntry* findTool(const RECT& rect) {
    if (indexUsable && indexSlots != nullptr) {
        size_t mask = indexCapacity - 1;
        for (size_t i = rectHash(rect) & mask; indexSlots[i] != nullptr; i = (i + 1) & mask) {
            if (sameRect(indexSlots[i]->toolInfo.rect, rect))
                return indexSlots[i];
        }
        return nullptr;
    }
    for (ToolEntry* entry = toolEntries; entry != nullptr; entry = entry->next) {
        if (sameRect(entry->toolInfo.rect, rect))
            return entry;
    }
    return nullptr;
}

// Adds a new record to the index, growing it first when it would be more than half full.
void indexAdd(ToolEntry* entry, size_t recordCount) {
    if (!indexUsable || indexSlots == nullptr || (indexCount + 1) * 2 > indexCapacity) {
        rebuildIndex(recordCount); // the list already holds entry
        return;
    }
    indexInsert(entry);
}

size_t textLength(const wchar_t* text) {
    size_t length = 0;
    while (length < static_cast<size_t>(toolTextCapacity) && text[length] != L'\0')
        ++length;
    return length;
}

size_t recordCount = 0;

// The tip's timing: the tool under the pointer, whether its tip shows, whether tips may show.
const UINT_PTR showTimer = 0x4654; // one-shot: the pointer has rested long enough
const UINT_PTR popTimer = 0x4655;  // one-shot: the tip has shown long enough
ToolEntry* pointedTool = nullptr;
bool tipShown = false;
bool tipsActive = true;
int hideDelay = -1; // milliseconds as setTooltipTiming got them; negative: the control's own
int tipWidth = 0;   // the widest a tip's text may be, as setTooltipTiming got it

// The formatted tip on show, the tool it is of, and the size its window is held to; the
// control's own procedure.
FormattedTip* shownFormattedTip = nullptr;
HWND formattedToolWindow = nullptr;
SIZE formattedWindowSize = {};
POINT formattedWindowPlace = {}; // where showTip put it: the control may move its window a pixel
WNDPROC controlProcedure = nullptr;
const int formattedTipMargin = 4; // pixels between the window's edge and its text
UINT_PTR formattedToolId = 0;

void dropFormattedTip() {
    freeFormattedTip(shownFormattedTip);
    shownFormattedTip = nullptr;
}

TipSourceFunction tipSourceFunction = nullptr;

void freeTool(ToolEntry* entry) {
    free(entry);
}

// Names item (null: none) as the tool's.
void nameItem(ToolEntry* entry, int feed, const FeedItem* item) {
    entry->formatted = item != nullptr;
    entry->feed = feed;
    entry->key = item != nullptr ? item->key : 0;
    entry->entryIndex = item != nullptr ? item->entryIndex : 0;
}

void hideTip() {
    if (tooltipOwner != nullptr) {
        KillTimer(tooltipOwner, showTimer);
        KillTimer(tooltipOwner, popTimer);
    }
    if (tipShown && tooltipWindow != nullptr && pointedTool != nullptr)
        SendMessageW(tooltipWindow, TTM_TRACKACTIVATE, FALSE,
                     reinterpret_cast<LPARAM>(&pointedTool->toolInfo));
    // A formatted tip while none of the mouse's shows is another tool's (the keyboard's).
    if (tipShown)
        dropFormattedTip();
    tipShown = false;
}

// One of the control's delays (TTDT_INITIAL, TTDT_RESHOW, TTDT_AUTOPOP) in milliseconds.
UINT controlDelay(WPARAM which) {
    LRESULT delay = SendMessageA(tooltipWindow, TTM_GETDELAYTIME, which, 0);
    return delay > 0 ? static_cast<UINT>(delay) : 0;
}

// How long a tip stays up: the hide delay given, or without one the control's own. The timer is
// the plug-in's, so it is not held to the 32.767 s the control can count.
UINT popDelay() {
    return hideDelay > 0 ? static_cast<UINT>(hideDelay) : controlDelay(TTDT_AUTOPOP);
}

// The work area of the monitor at point, or the primary one's where the system cannot tell.
RECT workAreaAt(POINT point) {
    typedef HMONITOR(WINAPI * FromPoint)(POINT, DWORD);
    typedef BOOL(WINAPI * Info)(HMONITOR, MONITORINFO*);
    HMODULE user32 = GetModuleHandleA("USER32");
    FromPoint fromPoint = reinterpret_cast<FromPoint>(reinterpret_cast<void (*)()>(
        user32 != nullptr ? GetProcAddress(user32, "MonitorFromPoint") : nullptr));
    Info info = reinterpret_cast<Info>(reinterpret_cast<void (*)()>(
        user32 != nullptr ? GetProcAddress(user32, "GetMonitorInfoA") : nullptr));
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (fromPoint != nullptr && info != nullptr &&
        info(fromPoint(point, MONITOR_DEFAULTTONEAREST), &monitor))
        return monitor.rcWork;
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

// Lays out the formatted tip of an item (its feed, key and position) under the first
// headerLength characters of text, for a tip at most tipWidth wide (the control's default width
// without one) and as tall as the work area; false when it cannot (no memory, no source).
bool layOutFormattedTip(const wchar_t* text, int headerLength, int feed, uint64_t key,
                        int32_t entryIndex, const RECT& work) {
    DescriptionSource source = {};
    if (tipSourceFunction == nullptr || !tipSourceFunction(feed, key, entryIndex, &source))
        return false;
    FormattedDescription* document = formatDescription(source.text, source.length, source.form);
    if (document == nullptr)
        return false;
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(tooltipWindow, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(tooltipWindow, GWL_EXSTYLE)));
    int extraWidth = frame.right - frame.left + 2 * formattedTipMargin;
    int extraHeight = frame.bottom - frame.top + 2 * formattedTipMargin;
    int width = tipWidth > 0 ? tipWidth : 300;
    if (width > work.right - work.left - extraWidth)
        width = work.right - work.left - extraWidth;
    HDC dc = GetDC(tooltipWindow);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(tooltipWindow, WM_GETFONT, 0, 0));
    shownFormattedTip = dc != nullptr
                            ? layoutFormattedTip(dc, font, text, headerLength, document, width,
                                                 work.bottom - work.top - extraHeight)
                            : nullptr;
    if (dc != nullptr)
        ReleaseDC(tooltipWindow, dc);
    freeFormattedDescription(document);
    if (shownFormattedTip == nullptr)
        return false;
    SIZE size = formattedTipSize(shownFormattedTip);
    formattedWindowSize.cx = size.cx + extraWidth;
    formattedWindowSize.cy = size.cy + extraHeight;
    return true;
}

// The control's window with a formatted tip on show: painted here and held to its size; every
// other message (and every plain tip) is the control's.
LRESULT CALLBACK formattedTipProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Another tool's tip is its own text, and a tip that goes takes its formatting with it.
    const TOOLINFOW* activated = reinterpret_cast<const TOOLINFOW*>(lParam);
    if (message == TTM_TRACKACTIVATE && activated != nullptr &&
        (!wParam || activated->uId != formattedToolId || activated->hwnd != formattedToolWindow))
        dropFormattedTip();
    if (shownFormattedTip != nullptr && message == WM_WINDOWPOSCHANGING) {
        WINDOWPOS* position = reinterpret_cast<WINDOWPOS*>(lParam);
        position->x = formattedWindowPlace.x;
        position->y = formattedWindowPlace.y;
        position->cx = formattedWindowSize.cx;
        position->cy = formattedWindowSize.cy;
        position->flags &= ~static_cast<UINT>(SWP_NOSIZE | SWP_NOMOVE);
    } else if (shownFormattedTip != nullptr && message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_INFOBK));
        COLORREF savedColour = SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
        drawFormattedTip(dc, shownFormattedTip, formattedTipMargin, formattedTipMargin);
        SetTextColor(dc, savedColour);
        EndPaint(window, &paint);
        return 0;
    } else if (shownFormattedTip != nullptr && message == WM_ERASEBKGND) {
        return 1;
    }
    return CallWindowProcW(controlProcedure, window, message, wParam, lParam);
}

// Shows tool's tip with its top left at place, moved left where the work area ends and above
// flipAbove where it would pass the work area's bottom. With text (null: the control's own tip),
// formatted as the item's description under text's header when the item's source is found.
void showTrackedTip(const TOOLINFOW& tool, const wchar_t* text, int headerLength, int feed,
                    uint64_t key, int32_t entryIndex, POINT place, LONG flipAbove,
                    const RECT& work) {
    LRESULT bubble =
        SendMessageW(tooltipWindow, TTM_GETBUBBLESIZE, 0, reinterpret_cast<LPARAM>(&tool));
    LONG width = LOWORD(bubble), height = HIWORD(bubble);
    dropFormattedTip();
    if (text != nullptr && layOutFormattedTip(text, headerLength, feed, key, entryIndex, work)) {
        width = formattedWindowSize.cx;
        height = formattedWindowSize.cy;
        formattedToolWindow = tool.hwnd;
        formattedToolId = tool.uId;
    }
    LONG x = place.x, y = place.y;
    if (y + height > work.bottom)
        y = flipAbove - height;
    if (x + width + 2 > work.right) // the bubble's window may be a pixel wider than its size
        x = work.right - width - 2;
    x = x < work.left ? work.left : x;
    y = y < work.top ? work.top : y;
    formattedWindowPlace = POINT{x, y};
    SendMessageW(tooltipWindow, TTM_TRACKPOSITION, 0,
                 MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    SendMessageW(tooltipWindow, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    if (shownFormattedTip != nullptr) {
        SetWindowPos(tooltipWindow, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(tooltipWindow, nullptr, TRUE);
    }
}

void CALLBACK popTip(HWND window, UINT, UINT_PTR, DWORD) {
    KillTimer(window, popTimer);
    hideTip(); // the pointer stays on the tool: no tip until it moves to another
}

void CALLBACK showTip(HWND window, UINT, UINT_PTR, DWORD) {
    KillTimer(window, showTimer);
    if (pointedTool == nullptr || !tipsActive || tooltipWindow == nullptr)
        return;
    POINT cursor;
    if (!GetCursorPos(&cursor))
        return;
    // Below the pointer, where a tip that follows the cursor would stand; above it and moved left
    // where the work area ends.
    RECT work = workAreaAt(cursor);
    const ToolEntry& tool = *pointedTool;
    showTrackedTip(tool.toolInfo, tool.formatted ? tool.text : nullptr, tool.headerLength,
                   tool.feed, tool.key, tool.entryIndex, POINT{cursor.x, cursor.y + 20},
                   cursor.y - 4, work);
    tipShown = true;
    SetTimer(window, popTimer, popDelay(), popTip);
}

// Removes the tools whose mark is clear; clears the marks of the others when clearMarks.
void removeUnrefreshed(bool clearMarks) {
    ToolEntry* previous = nullptr;
    ToolEntry* entry = toolEntries;
    bool removed = false;
    largestToolId = 0;
    while (entry != nullptr) {
        ToolEntry* following = entry->next;
        if (entry->refreshed) {
            if (clearMarks)
                entry->refreshed = false;
            if (entry->toolInfo.uId > largestToolId)
                largestToolId = entry->toolInfo.uId;
            previous = entry;
        } else {
            if (entry == pointedTool) {
                hideTip();
                pointedTool = nullptr;
            }
            if (tooltipWindow != nullptr)
                SendMessageW(tooltipWindow, TTM_DELTOOLW, 0,
                             reinterpret_cast<LPARAM>(&entry->toolInfo));
            if (previous != nullptr)
                previous->next = following;
            else
                toolEntries = following;
            freeTool(entry);
            --recordCount;
            removed = true;
        }
        entry = following;
    }
    lastToolEntry = previous;
    if (recordCount == 0)
        releaseIndex();
    else if (removed || !indexUsable)
        rebuildIndex(recordCount);
}

} // namespace

void createTooltip(HINSTANCE instance, HWND owner, int widthPixels, int hideDelayMs, bool active) {
    tooltipOwner = owner;
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    if (!InitCommonControlsEx(&controls))
        return;
    tooltipWindow =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (tooltipWindow == nullptr)
        return;
    controlProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        tooltipWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(formattedTipProcedure)));
    setTooltipTiming(widthPixels, hideDelayMs);
    SendMessageA(tooltipWindow, TTM_SETDELAYTIME, TTDT_INITIAL, 120);
    SendMessageA(tooltipWindow, TTM_SETDELAYTIME, TTDT_RESHOW, 60);
    activateTooltip(active);
}

void setTooltipTiming(int widthPixels, int hideDelayMs) {
    hideDelay = hideDelayMs;
    tipWidth = widthPixels;
    if (tooltipWindow == nullptr)
        return;
    SendMessageA(tooltipWindow, TTM_SETMAXTIPWIDTH, 0, widthPixels);
    // The control reads the delay as a signed 16-bit count of milliseconds: anything longer than
    // 32,767 ms would wrap to a short delay, and a negative one means the control's default.
    long long delay = hideDelayMs;
    if (delay > 32767)
        delay = 32767;
    if (delay < 0)
        delay = -1;
    SendMessageA(tooltipWindow, TTM_SETDELAYTIME, TTDT_AUTOPOP, static_cast<LPARAM>(delay));
}

void setTipSourceFunction(TipSourceFunction function) {
    tipSourceFunction = function;
}

void addOrUpdateTool(const RECT& rect, const wchar_t* text) {
    addOrUpdateFormattedTool(rect, text, 0, 0, nullptr);
}

void addOrUpdateFormattedTool(const RECT& rect, const wchar_t* text, int headerLength, int feed,
                              const FeedItem* item) {
    if (tooltipWindow == nullptr)
        return;
    const wchar_t* shown = text ? text : L"";
    size_t length = textLength(shown);
    ToolEntry* entry = findTool(rect);
    if (entry != nullptr) {
        entry->refreshed = true;
        entry->headerLength = headerLength < static_cast<int>(length) ? headerLength : 0;
        nameItem(entry, feed, item);
        if (wmemcmp(entry->text, shown, length) == 0 && entry->text[length] == L'\0')
            return;
        wmemcpy(entry->text, shown, length);
        entry->text[length] = L'\0';
        SendMessageW(tooltipWindow, TTM_UPDATETIPTEXTW, 0,
                     reinterpret_cast<LPARAM>(&entry->toolInfo));
        return;
    }
    entry = static_cast<ToolEntry*>(calloc(1, sizeof(ToolEntry)));
    if (entry == nullptr)
        return;
    entry->refreshed = true;
    wmemcpy(entry->text, shown, length);
    entry->headerLength = headerLength < static_cast<int>(length) ? headerLength : 0;
    nameItem(entry, feed, item);
    if (lastToolEntry != nullptr)
        lastToolEntry->next = entry;
    else
        toolEntries = entry;
    lastToolEntry = entry;
    ++recordCount;

    TOOLINFOW& info = entry->toolInfo;
    info.cbSize = sizeof(TOOLINFOW);
    // Shown only when told (relayMouseToTooltip), at the place given.
    info.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    info.hwnd = tooltipOwner;
    info.uId = ++largestToolId;
    info.rect = rect;
    info.hinst = nullptr;
    info.lpszText = entry->text;
    info.lParam = 0;
    indexAdd(entry, recordCount);
    SendMessageW(tooltipWindow, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void beginToolRefresh() {
    for (ToolEntry* entry = toolEntries; entry != nullptr; entry = entry->next)
        entry->refreshed = false;
}

void endToolRefresh() {
    removeUnrefreshed(false);
}

void sweepTools() {
    removeUnrefreshed(true);
}

void removeAllTools() {
    hideTip();
    dropFormattedTip(); // the keyboard's too
    pointedTool = nullptr;
    ToolEntry* entry = toolEntries;
    while (entry != nullptr) {
        ToolEntry* following = entry->next;
        if (tooltipWindow != nullptr)
            SendMessageW(tooltipWindow, TTM_DELTOOLW, 0,
                         reinterpret_cast<LPARAM>(&entry->toolInfo));
        freeTool(entry);
        entry = following;
    }
    toolEntries = nullptr;
    lastToolEntry = nullptr;
    largestToolId = 0;
    recordCount = 0;
    releaseIndex();
    indexUsable = true;
}

void activateTooltip(bool on) {
    tipsActive = on;
    if (!on)
        hideTip();
    if (tooltipWindow != nullptr)
        SendMessageA(tooltipWindow, TTM_ACTIVATE, on ? 1 : 0, 0);
}

void relayMouseToTooltip(HWND window, POINT screenPoint) {
    if (tooltipWindow == nullptr || window == nullptr)
        return;
    POINT client = screenPoint;
    ScreenToClient(window, &client);
    ToolEntry* under = nullptr;
    for (ToolEntry* entry = toolEntries; entry != nullptr && under == nullptr; entry = entry->next)
        if (PtInRect(&entry->toolInfo.rect, client))
            under = entry;
    if (under == pointedTool) {
        if (tipShown) // a move keeps the tip up for another full delay, as the control does
            SetTimer(window, popTimer, popDelay(), popTip);
        return;
    }
    bool wasShown = tipShown;
    hideTip();
    pointedTool = under;
    if (under != nullptr && tipsActive)
        SetTimer(window, showTimer, controlDelay(wasShown ? TTDT_RESHOW : TTDT_INITIAL), showTip);
}

void showOwnToolTip(const TOOLINFOW& tool, const wchar_t* text, int headerLength, int feed,
                    const FeedItem* item, const RECT& itemOnScreen) {
    if (tooltipWindow == nullptr)
        return;
    hideTip();
    pointedTool = nullptr;
    POINT below = {itemOnScreen.left, itemOnScreen.bottom};
    showTrackedTip(tool, item != nullptr ? text : nullptr, headerLength, feed,
                   item != nullptr ? item->key : 0, item != nullptr ? item->entryIndex : 0, below,
                   itemOnScreen.top, workAreaAt(below));
}

void tooltipPointerLeft() {
    hideTip();
    pointedTool = nullptr;
}
