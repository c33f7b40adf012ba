// The plug-in window's procedure. The whole window answers as a caption, so every mouse message
// arrives in its non-client form: a left press moves (or, with Alt, resizes) through the system's
// own loop, a double-click opens the link under the point, releasing the right button opens the
// menu. Four timers: 1 the feed refresh, 3 auto-hide, 4 a repaint, 5 the turn of "inTurn"; the
// pointer's leave comes as a message (plugin/mouse_tracking).
#include "plugin/window_proc.h"

#include <commctrl.h>

#include <cstring>

#include "content/stored_link.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "display/accessible_list.h"
#include "feed/feed_engine.h"
#include "plugin/browser_launch.h"
#include "plugin/feed_updates.h"
#include "plugin/commands.h"
#include "plugin/keyboard.h"
#include "plugin/menu.h"
#include "plugin/mouse_tracking.h"
#include "plugin/placement.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/settings_watch.h"
#include "plugin/view.h"
#include "shell/blackbox_api.h"

namespace {

enum : UINT_PTR { UpdateTimer = 1, AutoHideTimer = 3, RepaintTimer = 4, TurnTimer = 5 };

const size_t maximumLinkLength = 2048;

bool startsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        char c = *text;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != *prefix)
            return false;
    }
    return true;
}

// The entry the pointer highlight was last drawn for: a move within one entry repaints nothing.
const ViewEntry* highlightedEntry = nullptr;
ItemRect highlightedRect = {};

void trackMouse(HWND window, POINT screenPoint) {
    bool entered = pointerMoved(window, true);
    if (entered)
        pointerEnteredWindow();
    if (settings.highlight != 1)
        return;
    POINT client = screenPoint;
    ScreenToClient(window, &client);
    const ViewEntry* under = entryAtPoint(currentView(), client);
    ItemRect rect = entryRect(currentView(), under);
    if (!entered && under == highlightedEntry && rect.left == highlightedRect.left &&
        rect.top == highlightedRect.top && rect.right == highlightedRect.right &&
        rect.bottom == highlightedRect.bottom)
        return;
    highlightedEntry = under;
    highlightedRect = rect;
    repaint();
}

void forgetHighlightedEntry() {
    highlightedEntry = nullptr;
    highlightedRect = ItemRect{};
}

// Alt turns the window into a sizing corner, unless its place is locked.
bool altSizes() {
    return !settings.lockPos && GetKeyState(VK_MENU) < 0;
}

void onTimer(HWND window, WPARAM id) {
    switch (id) {
    case UpdateTimer:
        runDueUpdates();
        repaint();
        break;
    case AutoHideTimer:
        autoHideCheck();
        break;
    case TurnTimer:
        turnTick(window);
        keyboardListShown(window); // another feed's turn is another list
        break;
    case RepaintTimer:
        repaint();
        KillTimer(window, RepaintTimer);
        break;
    case seenTimerId:
        keyboardSeenTimer(window);
        break;
    default:
        break;
    }
}

void openLinkAt(HWND window, LPARAM screenPoint) {
    // Signed halves: a monitor left of or above the primary one has negative coordinates.
    POINT point = {static_cast<short>(LOWORD(screenPoint)),
                   static_cast<short>(HIWORD(screenPoint))};
    ScreenToClient(window, &point);
    const ViewEntry* shown = entryAtPoint(currentView(), point);
    if (shown != nullptr && openItemLink(shown->item))
        markEntrySeen(shown);
}

// The tooltip shows an item's text: the user has seen the item.
void tipShown(HWND window) {
    POINT cursor;
    if (GetCursorPos(&cursor) && ScreenToClient(window, &cursor))
        markEntrySeen(entryAtPoint(currentView(), cursor));
}

} // namespace

ExecuteFunction executeInShell = BBExecute;

bool isOpenableLink(const char* link) {
    if (!link)
        return false;
    size_t schemeLength;
    if (startsWithIgnoringCase(link, "http://"))
        schemeLength = 7;
    else if (startsWithIgnoringCase(link, "https://"))
        schemeLength = 8;
    else
        return false;
    size_t length = std::strlen(link);
    if (length > maximumLinkLength)
        return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(link[i]);
        if (c < 0x20 || c == 0x7F || c == ' ' || c == '"')
            return false;
    }
    // The host must be there: the authority ends at the first '/', '?' or '#', and an empty one,
    // or one that is only user information or a port, names no host.
    unsigned char first = static_cast<unsigned char>(link[schemeLength]);
    return first != 0 && first != '/' && first != '?' && first != '#' && first != '@' &&
           first != ':' && first != '\\';
}

bool quoteLinkArgument(const char* link, char* argument, size_t size) {
    size_t length = std::strlen(link);
    size_t trailing = 0;
    while (trailing < length && link[length - 1 - trailing] == '\\')
        ++trailing;
    // Opening quote, the link, the doubled trailing backslashes, closing quote, terminator.
    if (length + trailing + 3 > size)
        return false;
    char* out = argument;
    *out++ = '"';
    std::memcpy(out, link, length);
    out += length;
    for (size_t i = 0; i < trailing; ++i)
        *out++ = '\\';
    *out++ = '"';
    *out = 0;
    return true;
}

const FeedItem* hitTestItem(POINT point) {
    const ViewEntry* shown = entryAtPoint(currentView(), point);
    return shown != nullptr ? shown->item : nullptr;
}

// The link comes from the network: only a plain web address is handed on, and with a browser
// program it goes as one quoted argument, so it can add nothing of its own to the command line.
// The shell gets copies: it may pump messages while it starts the program (a DDE browser does),
// and an update or a timer tick handled meanwhile can free the entry and change browserPath.
bool openItemLink(const FeedItem* entry) {
    LinkText whole;
    const char* itemAddress = itemLink(entry, &whole);
    if (!itemAddress || !isOpenableLink(itemAddress))
        return false;
    if (settings.browserPath[0]) {
        char argument[maximumLinkLength * 2 + 3];
        if (!quoteLinkArgument(itemAddress, argument, sizeof argument))
            return false;
        char program[sizeof settings.browserPath];
        std::memcpy(program, settings.browserPath, sizeof program);
        program[sizeof program - 1] = 0;
        startBrowser(program, argument);
    } else {
        char link[maximumLinkLength + 1];
        std::memcpy(link, itemAddress, std::strlen(itemAddress) + 1); // isOpenableLink bounds it
        executeInShell(GetDesktopWindow(), nullptr, link, nullptr, nullptr, SW_SHOWNORMAL, false);
    }
    return true;
}

void repaint() {
    if (runtime.pluginWindow)
        InvalidateRect(runtime.pluginWindow, nullptr, FALSE);
}

void followUpRepaint() {
    if (settings.highlight == 2 && runtime.pluginWindow)
        SetTimer(runtime.pluginWindow, RepaintTimer, 0, nullptr);
}

UINT updateTimerPeriod(int minutes) {
    // Below one minute the feed's server would be polled in a tight loop (or, negative, almost
    // never); above the longest timer period the product would overflow 32 bits.
    long long period = (minutes < 1 ? 1 : minutes) * 60000LL;
    return period > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<UINT>(period);
}

void armUpdateTimer() {
    if (!runtime.pluginWindow)
        return;
    KillTimer(runtime.pluginWindow, UpdateTimer);
    SetTimer(runtime.pluginWindow, UpdateTimer, updateTimerDelayMs(), nullptr);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paintPluginWindow(window);
        return 0;
    case WM_CLOSE:
        return 0;
    case WM_WINDOWPOSCHANGING:
        snapPosition(reinterpret_cast<WINDOWPOS*>(lParam));
        return 0;
    case WM_WINDOWPOSCHANGED:
        trackPosition(reinterpret_cast<const WINDOWPOS*>(lParam));
        return 0;
    case WM_DISPLAYCHANGE:
        displayChanged();
        return 0;
    case WM_NCHITTEST:
        // Always the caption: the hit test runs on every move and, where the system polls for the
        // pointer's leave, on every tick of that poll, so it reads no key state. Alt is looked at
        // where it matters: the cursor shown and the left press.
        return HTCAPTION;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCAPTION && altSizes()) {
            SetCursor(LoadCursor(nullptr, IDC_SIZENWSE));
            return TRUE;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_NCMOUSEMOVE: {
        POINT screenPoint = {static_cast<short>(LOWORD(lParam)),
                             static_cast<short>(HIWORD(lParam))};
        relayMouseToTooltip(window, screenPoint);
        trackMouse(window, screenPoint);
        if (runtime.autoHidden)
            showFromAutoHide();
        return 0;
    }
    case WM_NCLBUTTONDOWN:
        takeKeyboardFocus(window, false);
        if (settings.inSlit || settings.lockPos)
            return 0;
        // With Alt held a press sizes the window from its bottom-right corner.
        return DefWindowProcA(window, message,
                              wParam == HTCAPTION && altSizes() ? HTBOTTOMRIGHT : wParam, lParam);
    case WM_NCLBUTTONDBLCLK:
        openLinkAt(window, lParam);
        return 0;
    case WM_NCRBUTTONDOWN:
        // On a caption the default would start a modal loop that swallows the release below.
        return 0;
    case WM_NCRBUTTONUP:
        buildMenu(true);
        return 0;
    case WM_TIMER:
        onTimer(window, wParam);
        return 0;
    case WM_EXITSIZEMOVE:
        endMoveOrResize();
        if (settings.highlight == 2)
            repaint();
        return 0;
    case WM_MOUSELEAVE:
    case WM_NCMOUSELEAVE:
        pointerLeft();
        forgetHighlightedEntry();
        pointerLeftWindow();
        tooltipPointerLeft();
        if (settings.highlight == 1)
            repaint();
        return 0;
    case WM_NOTIFY:
        if (lParam != 0 && reinterpret_cast<const NMHDR*>(lParam)->code == TTN_SHOW &&
            !keyboardTipNotified(reinterpret_cast<const NMHDR*>(lParam)))
            tipShown(window);
        return 0;
    case WM_SETTINGS_FOLDER_CHANGED:
        settingsFolderChanged(window);
        return 0;
    case WM_FEED_UPDATED:
        finishUpdate(lParam);
        keyboardListShown(window);
        repaint();
        followUpRepaint();
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (handleWindowKey(window, wParam))
            return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_ACTIVATE:
        keyboardActivated(window, wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        keyboardFocusChanged(window, message == WM_SETFOCUS);
        return 0;
    case WM_HOTKEY:
        takeKeyboardFocus(window, true);
        return 0;
    case WM_GETOBJECT:
        if (LRESULT answer = answerAccessibleObject(window, wParam, lParam))
            return answer;
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        repaint(); // high contrast may have come or gone
        return DefWindowProcA(window, message, wParam, lParam);
    case BB_RECONFIGURE:
        if (rootMenu) {
            DelMenu(rootMenu);
            rootMenu = nullptr;
        }
        reloadShellStyle();
        repaint();
        return 0;
    case BB_REDRAWGUI:
        reloadShellStyle();
        repaint();
        followUpRepaint();
        return 0;
    case BB_BROAM:
        if (lParam)
            handleCommand(window, reinterpret_cast<const char*>(lParam));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
