// Placement of the plug-in window: the stored position and size, transparency, snapping, the
// display-change rule and auto-hide, which parks the window at a monitor edge with one pixel
// column or row left showing. x and y always hold the shown position: moves made while the window
// is hidden or in the slit are not recorded.
#include "plugin/placement.h"

#include "plugin/mouse_tracking.h"
#include "plugin/window_proc.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"
#include "shell/blackbox_api.h"

namespace {

const UINT autoHideTimer = 3;
const UINT autoHideDelay = 300;
const UINT hideMoveFlags = SWP_NOSENDCHANGING | SWP_NOACTIVATE | SWP_NOZORDER;

// Functions that old versions of USER32 lack are looked up once and cached.
enum class Lookup { notYet, unavailable, available };

typedef BOOL(WINAPI* SetLayeredWindowAttributesFunction)(HWND, COLORREF, BYTE, DWORD);
Lookup layeredLookup = Lookup::notYet;
SetLayeredWindowAttributesFunction setLayeredWindowAttributes = nullptr;

Lookup monitorLookup = Lookup::notYet;
MonitorFromWindowFunction monitorFromWindow = nullptr;
GetMonitorInfoFunction getMonitorInfo = nullptr;

typedef HMONITOR(WINAPI* MonitorFromRectFunction)(const RECT* rect, DWORD flags);
Lookup rectLookup = Lookup::notYet;
MonitorFromRectFunction monitorFromRect = nullptr;

// A function of "USER32" by name, or null.
template <typename Function> Function user32Function(const char* name) {
    HMODULE user32 = GetModuleHandleA("USER32");
    FARPROC found = user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
    // Through the generic function pointer type, which converts to any other without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Without the function the call does nothing and counts as done.
void setWindowOpacity(HWND window, BYTE opacity) {
    if (layeredLookup == Lookup::notYet) {
        setLayeredWindowAttributes =
            user32Function<SetLayeredWindowAttributesFunction>("SetLayeredWindowAttributes");
        layeredLookup = setLayeredWindowAttributes ? Lookup::available : Lookup::unavailable;
    }
    if (layeredLookup == Lookup::available)
        setLayeredWindowAttributes(window, 0, opacity, LWA_ALPHA);
}

int clampToInt(long long value) {
    if (value > 0x7fffffffLL)
        return 0x7fffffff;
    if (value < -0x7fffffffLL - 1)
        return -0x7fffffff - 1;
    return static_cast<int>(value);
}

// Steps 4 and 5 of the auto-hide check: the hidden position when autoHidden, else (x, y).
void moveToAutoHidePlace() {
    POINT place = {settings.x, settings.y};
    autoHideTarget(&place);
    SetWindowPos(runtime.pluginWindow, nullptr, place.x, place.y, settings.width, settings.height,
                 hideMoveFlags | (settings.inSlit ? SWP_NOMOVE : 0));
}

// The virtual screen: all monitors together, or the primary screen where the system knows no
// virtual screen (its metrics answer 0).
RECT virtualScreenRect() {
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width <= 0 || height <= 0)
        return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return RECT{left, top, clampToInt(static_cast<long long>(left) + width),
                clampToInt(static_cast<long long>(top) + height)};
}

// value moved into [low, high - extent], or low when the extent does not fit.
long long clampInto(long long value, long long extent, long long low, long long high) {
    if (value > high - extent)
        value = high - extent;
    return value < low ? low : value;
}

} // namespace

RECT nearestWorkArea(const RECT& rect) {
    if (rectLookup == Lookup::notYet) {
        monitorFromRect = user32Function<MonitorFromRectFunction>("MonitorFromRect");
        rectLookup = monitorFromRect ? Lookup::available : Lookup::unavailable;
    }
    if (monitorLookup == Lookup::notYet)
        monitorBounds(runtime.pluginWindow); // looks up GetMonitorInfoA
    if (rectLookup == Lookup::available && monitorLookup == Lookup::available) {
        HMONITOR monitor = monitorFromRect(&rect, MONITOR_DEFAULTTONEAREST);
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        if (monitor != nullptr && getMonitorInfo(monitor, &info))
            return info.rcWork;
    }
    RECT work;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        return work;
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

RECT reachablePlace(const RECT& window, const RECT& virtualScreen, const RECT& workArea) {
    bool overlaps = window.left < virtualScreen.right && virtualScreen.left < window.right &&
                    window.top < virtualScreen.bottom && virtualScreen.top < window.bottom;
    if (overlaps)
        return window;
    long long width = static_cast<long long>(window.right) - window.left;
    long long height = static_cast<long long>(window.bottom) - window.top;
    long long left = clampInto(window.left, width, workArea.left, workArea.right);
    long long top = clampInto(window.top, height, workArea.top, workArea.bottom);
    return RECT{clampToInt(left), clampToInt(top), clampToInt(left + width),
                clampToInt(top + height)};
}

bool bringBackOnScreen() {
    if (settings.inSlit)
        return false;
    RECT window = {settings.x, settings.y,
                   clampToInt(static_cast<long long>(settings.x) + settings.width),
                   clampToInt(static_cast<long long>(settings.y) + settings.height)};
    RECT place = reachablePlace(window, virtualScreenRect(), nearestWorkArea(window));
    if (place.left == settings.x && place.top == settings.y)
        return false;
    settings.x = place.left;
    settings.y = place.top;
    if (runtime.pluginWindow != nullptr)
        moveToAutoHidePlace();
    return true;
}

bool applySize(int width, int height) {
    // A window larger than the virtual screen could neither be painted nor handled.
    width = windowExtentInForce(width, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    height = windowExtentInForce(height, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    if (width == settings.width && height == settings.height)
        return false;
    settings.width = width;
    settings.height = height;
    if (settings.inSlit) {
        SetWindowPos(runtime.pluginWindow, nullptr, 0, 0, settings.width, settings.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (runtime.slitWindow != nullptr)
            SendMessageA(runtime.slitWindow, SLIT_UPDATE, 0, 0);
    } else {
        SetWindowPos(runtime.pluginWindow, nullptr, settings.x, settings.y, settings.width,
                     settings.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return true;
}

void applyTransparency() {
    HWND window = runtime.pluginWindow;
    if (runtime.layeredSupported && window != nullptr) {
        LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
        if (settings.inSlit) {
            SetWindowLongA(window, GWL_EXSTYLE, exStyle & ~WS_EX_LAYERED);
        } else {
            SetWindowLongA(window, GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
            BYTE opacity = settings.transparency ? opacityInForce(settings.alpha) : 255;
            setWindowOpacity(window, opacity);
        }
    }
    repaint();
    buildMenu(false);
}

void setMonitorFunctions(MonitorFromWindowFunction fromWindow, GetMonitorInfoFunction info) {
    monitorFromWindow = fromWindow;
    getMonitorInfo = info;
    monitorLookup = fromWindow && info ? Lookup::available : Lookup::unavailable;
}

RECT monitorBounds(HWND window) {
    if (monitorLookup == Lookup::notYet) {
        setMonitorFunctions(user32Function<MonitorFromWindowFunction>("MonitorFromWindow"),
                            user32Function<GetMonitorInfoFunction>("GetMonitorInfoA"));
    }
    if (monitorLookup == Lookup::available) {
        HMONITOR monitor = monitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        if (monitor != nullptr && getMonitorInfo(monitor, &info))
            return info.rcMonitor;
    }
    return RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool autoHideTarget(POINT* position) {
    if (!settings.autoHide || settings.inSlit)
        return false;
    RECT m = monitorBounds(runtime.pluginWindow);
    long long x = settings.x, y = settings.y;
    long long width = settings.width, height = settings.height;
    long long hiddenX = x, hiddenY = y;
    // A corner window hides sideways: the left and right edges are tried first.
    if (x == m.left)
        hiddenX = m.left + 1 - width;
    else if (x == m.right - width)
        hiddenX = m.right - 1;
    else if (y == m.top)
        hiddenY = m.top + 1 - height;
    else if (y == m.bottom - height)
        hiddenY = m.bottom - 1;
    else
        return false;
    if (position != nullptr && runtime.autoHidden) {
        position->x = clampToInt(hiddenX);
        position->y = clampToInt(hiddenY);
    }
    return true;
}

void autoHideCheck() {
    HWND window = runtime.pluginWindow;
    bool eligible = autoHideTarget(nullptr);
    if (eligible) {
        // Not while the user points at the window: the leave message arms the check again, so
        // nothing runs while the pointer rests there.
        if (pointerOverNow(window)) {
            KillTimer(window, autoHideTimer);
            return;
        }
        // Not while the user drags something: checked again at the next tick.
        if (GetKeyState(VK_LBUTTON) < 0)
            return;
    }
    runtime.autoHidden = eligible;
    KillTimer(window, autoHideTimer);
    moveToAutoHidePlace();
}

void showFromAutoHide() {
    runtime.autoHidden = false;
    if (settings.inSlit)
        return;
    SetWindowPos(runtime.pluginWindow, nullptr, settings.x, settings.y, settings.width,
                 settings.height, hideMoveFlags);
}

void pointerEnteredWindow() {
    KillTimer(runtime.pluginWindow, autoHideTimer);
}

void pointerLeftWindow() {
    if (autoHideTarget(nullptr) && !runtime.autoHidden)
        SetTimer(runtime.pluginWindow, autoHideTimer, autoHideDelay, nullptr);
}

void endMoveOrResize() {
    runtime.autoHidden = autoHideTarget(nullptr);
    // With the pointer still over the window its leave arms the check.
    if (!pointerOverNow(runtime.pluginWindow))
        SetTimer(runtime.pluginWindow, autoHideTimer, autoHideDelay, nullptr);
}

void trackPosition(const WINDOWPOS* position) {
    if (position == nullptr || settings.inSlit || runtime.autoHidden)
        return;
    settings.x = position->x;
    settings.y = position->y;
    if (applySize(position->cx, position->cy))
        repaint();
}

void snapPosition(WINDOWPOS* position) {
    if (position != nullptr && !settings.inSlit && settings.snapWindow &&
        IsWindowVisible(runtime.pluginWindow))
        SnapWindowToEdge(position, 10, 1);
}

void displayChanged() {
    if (settings.inSlit)
        return;
    int oldWidth = runtime.virtualScreenWidth;
    int oldHeight = runtime.virtualScreenHeight;
    runtime.virtualScreenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    runtime.virtualScreenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    // A window in the right (lower) half keeps its distance from the right (lower) edge.
    if (settings.x > oldWidth / 2)
        settings.x =
            clampToInt(static_cast<long long>(settings.x) + runtime.virtualScreenWidth - oldWidth);
    if (settings.y > oldHeight / 2)
        settings.y = clampToInt(static_cast<long long>(settings.y) + runtime.virtualScreenHeight -
                                oldHeight);
    bringBackOnScreen();
    MoveWindow(runtime.pluginWindow, settings.x, settings.y, settings.width, settings.height, TRUE);
}

void placeAfterAutoHideChange() {
    runtime.autoHidden = autoHideTarget(nullptr);
    moveToAutoHidePlace();
}
