// Placement under Wine with real windows: size, transparency, auto-hide targets and moves, the
// recording of moves, and the display-change rule.
#include "tests/display/display_fixture.h"
#include "tests/support/check.h"

using namespace fixture;

namespace {

RECT fakeMonitor = {0, 0, 1024, 768};
bool fakeInfoFails = false;

HMONITOR WINAPI fakeMonitorFromWindow(HWND, DWORD) {
    return reinterpret_cast<HMONITOR>(1);
}
BOOL WINAPI fakeGetMonitorInfo(HMONITOR, MONITORINFO* info) {
    if (fakeInfoFails || info->cbSize != sizeof(MONITORINFO))
        return FALSE;
    info->rcMonitor = fakeMonitor;
    info->rcWork = fakeMonitor;
    info->rcWork.bottom -= 30; // a task bar: the hide rules must use the full rectangle
    return TRUE;
}

RECT windowRect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return r;
}

// A stand-in slit that counts the size updates it is sent.
int slitUpdates = 0;
LRESULT CALLBACK slitProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == SLIT_UPDATE) {
        ++slitUpdates;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
HWND openSlit() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = slitProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FeedMarqueeTestSlit";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, "FeedMarqueeTestSlit", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
}

void freshState() {
    defaultSettings();
    runtime = RuntimeState{};
}

} // namespace

TEST(applySize_changes_only_a_new_size_and_keeps_the_minimum) {
    freshState();
    HWND window = openWindow();
    HWND slit = openSlit();
    runtime.slitWindow = slit;
    slitUpdates = 0;

    settings.inSlit = true;
    CHECK(!applySize(300, 200));
    CHECK_EQ(slitUpdates, 0);

    settings.inSlit = false;
    CHECK(applySize(5, 5));
    CHECK_EQ(settings.width, 10);
    CHECK_EQ(settings.height, 10);
    RECT r = windowRect(window);
    CHECK_EQ(r.right - r.left, 10);
    CHECK_EQ(r.bottom - r.top, 10);
    CHECK_EQ(r.left, 100);
    CHECK_EQ(slitUpdates, 0);

    // In the slit the window keeps its place (the slit owns it) and the slit hears of the change.
    settings.inSlit = true;
    SetWindowPos(window, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    CHECK(applySize(120, 60));
    CHECK_EQ(slitUpdates, 1);
    r = windowRect(window);
    CHECK_EQ(r.left, 40);
    CHECK_EQ(r.right - r.left, 120);
    CHECK_EQ(r.bottom - r.top, 60);

    DestroyWindow(slit);
    closeWindow(window);
}

TEST(transparency_uses_the_low_byte_of_alpha_and_never_layers_in_the_slit) {
    freshState();
    runtime.layeredSupported = true;
    HWND window = openWindow();

    settings.transparency = true;
    settings.alpha = 300;
    applyTransparency();
    CHECK((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) != 0);
    BYTE opacity = 0;
    DWORD flags = 0;
    REQUIRE(GetLayeredWindowAttributes(window, nullptr, &opacity, &flags));
    CHECK_EQ(static_cast<int>(opacity), 44);
    CHECK((flags & LWA_ALPHA) != 0);

    settings.transparency = false;
    applyTransparency();
    REQUIRE(GetLayeredWindowAttributes(window, nullptr, &opacity, &flags));
    CHECK_EQ(static_cast<int>(opacity), 255);

    settings.inSlit = true;
    settings.transparency = true;
    applyTransparency();
    CHECK((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0);

    // Without layered-window support nothing is layered at all.
    settings.inSlit = false;
    runtime.layeredSupported = false;
    applyTransparency();
    CHECK((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED) == 0);
    closeWindow(window);
}

TEST(hide_targets_follow_the_monitor_edges) {
    freshState();
    setMonitorFunctions(fakeMonitorFromWindow, fakeGetMonitorInfo);
    fakeInfoFails = false;
    settings.autoHide = true;
    runtime.autoHidden = true;

    struct Row {
        const char* label;
        RECT monitor;
        int x, y, width, height;
        bool eligible;
        int hiddenX, hiddenY;
    } rows[] = {
        {"left edge", {0, 0, 1024, 768}, 0, 300, 200, 100, true, -199, 300},
        {"right edge", {0, 0, 1024, 768}, 824, 300, 200, 100, true, 1023, 300},
        {"top edge", {0, 0, 1024, 768}, 300, 0, 200, 100, true, 300, -99},
        {"bottom edge (full monitor, not work area)",
         {0, 0, 1024, 768},
         300,
         668,
         200,
         100,
         true,
         300,
         767},
        {"top-left corner hides sideways", {0, 0, 1024, 768}, 0, 0, 200, 100, true, -199, 0},
        {"bottom-right corner hides sideways",
         {0, 0, 1024, 768},
         824,
         668,
         200,
         100,
         true,
         1023,
         668},
        {"one pixel off the edge", {0, 0, 1024, 768}, 1, 300, 200, 100, false, 0, 0},
        {"monitor left of the primary",
         {-1280, 0, 0, 1024},
         -1280,
         500,
         200,
         100,
         true,
         -1479,
         500},
        {"right edge of that monitor", {-1280, 0, 0, 1024}, -200, 500, 200, 100, true, -1, 500},
        {"monitor above the primary", {0, -900, 1440, 0}, 600, -900, 200, 100, true, 600, -999},
    };
    for (const Row& row : rows) {
        fakeMonitor = row.monitor;
        settings.x = row.x;
        settings.y = row.y;
        settings.width = row.width;
        settings.height = row.height;
        POINT place = {12345, 12345};
        bool eligible = autoHideTarget(&place);
        if (eligible != row.eligible)
            std::fprintf(stderr, "row: %s\n", row.label);
        CHECK_EQ(eligible, row.eligible);
        if (row.eligible) {
            CHECK_EQ(place.x, row.hiddenX);
            CHECK_EQ(place.y, row.hiddenY);
        } else {
            CHECK_EQ(place.x, 12345);
        }
    }

    // Eligibility alone does not write the position while the window is not hidden.
    fakeMonitor = RECT{0, 0, 1024, 768};
    settings.x = 0;
    settings.y = 300;
    runtime.autoHidden = false;
    POINT place = {7, 8};
    CHECK(autoHideTarget(&place));
    CHECK_EQ(place.x, 7);
    CHECK_EQ(place.y, 8);
    // Off, or in the slit: never eligible.
    settings.autoHide = false;
    CHECK(!autoHideTarget(nullptr));
    settings.autoHide = true;
    settings.inSlit = true;
    CHECK(!autoHideTarget(nullptr));
    settings.inSlit = false;

    // Without the monitor functions, or when the monitor cannot be asked, the primary screen.
    fakeInfoFails = true;
    RECT bounds = monitorBounds(nullptr);
    CHECK_EQ(bounds.left, 0);
    CHECK_EQ(bounds.right, GetSystemMetrics(SM_CXSCREEN));
    CHECK_EQ(bounds.bottom, GetSystemMetrics(SM_CYSCREEN));
    setMonitorFunctions(nullptr, nullptr);
    bounds = monitorBounds(nullptr);
    CHECK_EQ(bounds.right, GetSystemMetrics(SM_CXSCREEN));

    // The system's own functions on the test display.
    setMonitorFunctions(MonitorFromWindow, GetMonitorInfoA);
    bounds = monitorBounds(GetDesktopWindow());
    CHECK_EQ(bounds.left, 0);
    CHECK_EQ(bounds.top, 0);
    CHECK_EQ(bounds.right, GetSystemMetrics(SM_CXSCREEN));
    CHECK_EQ(bounds.bottom, GetSystemMetrics(SM_CYSCREEN));
}

TEST(auto_hide_parks_the_window_and_shows_it_again) {
    freshState();
    setMonitorFunctions(MonitorFromWindow, GetMonitorInfoA);
    settings.autoHide = true;
    settings.x = 0;
    settings.y = 300;
    settings.width = 200;
    settings.height = 100;
    HWND window = openWindow();
    SetCursorPos(900, 900);

    // The cursor over the window keeps it shown, and the check stops until the pointer leaves.
    SetCursorPos(50, 350);
    SetTimer(window, 3, 300, nullptr);
    autoHideCheck();
    CHECK(!runtime.autoHidden);
    CHECK_EQ(windowRect(window).left, 0);
    CHECK(!KillTimer(window, 3));
    pointerLeftWindow();
    CHECK(KillTimer(window, 3));
    pointerLeftWindow();
    pointerEnteredWindow();
    CHECK(!KillTimer(window, 3));

    SetCursorPos(900, 900);
    autoHideCheck();
    CHECK(runtime.autoHidden);
    RECT r = windowRect(window);
    CHECK_EQ(r.left, -199);
    CHECK_EQ(r.right - r.left, 200);
    CHECK_EQ(settings.x, 0); // the hidden position is never recorded

    showFromAutoHide();
    CHECK(!runtime.autoHidden);
    CHECK_EQ(windowRect(window).left, 0);
    CHECK_EQ(settings.x, 0);

    // Switching auto-hide off puts a hidden window back at its stored place at once.
    autoHideCheck();
    CHECK_EQ(windowRect(window).left, -199);
    settings.autoHide = false;
    placeAfterAutoHideChange();
    CHECK(!runtime.autoHidden);
    CHECK_EQ(windowRect(window).left, 0);
    settings.autoHide = true;
    placeAfterAutoHideChange();
    CHECK(runtime.autoHidden);
    CHECK_EQ(windowRect(window).left, -199);

    // A window away from every edge is just put at its stored place and size.
    showFromAutoHide();
    settings.x = 400;
    autoHideCheck();
    CHECK(!runtime.autoHidden);
    CHECK_EQ(windowRect(window).left, 400);

    // The end of a move decides again where the window stands now.
    settings.x = 0;
    endMoveOrResize();
    CHECK(runtime.autoHidden);
    closeWindow(window);
}

TEST(moves_are_recorded_only_while_shown) {
    freshState();
    setMonitorFunctions(MonitorFromWindow, GetMonitorInfoA);
    HWND window = openWindow();

    SetWindowPos(window, nullptr, 250, 260, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    CHECK_EQ(settings.x, 250);
    CHECK_EQ(settings.y, 260);
    // A change of z-order alone moves nothing.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    CHECK_EQ(settings.x, 250);
    CHECK_EQ(settings.width, 300);

    runtime.autoHidden = true;
    SetWindowPos(window, nullptr, 600, 610, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    CHECK_EQ(settings.x, 250);
    CHECK_EQ(settings.y, 260);
    runtime.autoHidden = false;

    settings.inSlit = true;
    SetWindowPos(window, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    CHECK_EQ(settings.x, 250);
    settings.inSlit = false;

    // A resize by the user lands in the settings, raised to the minimum.
    SetWindowPos(window, nullptr, 0, 0, 4, 80, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CHECK_EQ(settings.width, 10);
    CHECK_EQ(settings.height, 80);
    RECT r = windowRect(window);
    CHECK_EQ(r.right - r.left, 10);
    closeWindow(window);
}

TEST(display_change_keeps_the_distance_to_the_nearer_edge) {
    freshState();
    HWND window = openWindow();
    int newWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int newHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    REQUIRE(newWidth == 1280);

    runtime.virtualScreenWidth = 1024;
    runtime.virtualScreenHeight = newHeight;
    settings.x = 600;
    settings.y = 100;
    displayChanged();
    CHECK_EQ(settings.x, 856);
    CHECK_EQ(settings.y, 100);
    CHECK_EQ(windowRect(window).left, 856);
    CHECK_EQ(runtime.virtualScreenWidth, 1280);

    runtime.virtualScreenWidth = 1024;
    settings.x = 512;
    displayChanged();
    CHECK_EQ(settings.x, 512);
    CHECK_EQ(windowRect(window).left, 512);

    // In the slit the rule does nothing.
    runtime.virtualScreenWidth = 1024;
    settings.inSlit = true;
    settings.x = 900;
    displayChanged();
    CHECK_EQ(settings.x, 900);
    CHECK_EQ(runtime.virtualScreenWidth, 1024);
    closeWindow(window);
}

TEST(a_window_off_every_screen_comes_back_onto_the_nearest_work_area) {
    // The virtual screen spans a monitor left of the primary one; the work area is the nearest
    // monitor's, without its task bar.
    const RECT screen = {-1024, 0, 1280, 1024};
    const RECT work = {0, 0, 1280, 994};
    struct Case {
        RECT window;
        RECT expected;
    } cases[] = {
        {{-3000, -2000, -2700, -1700}, {0, 0, 300, 300}},     // far up-left: the corner
        {{-1100, 100, -1030, 200}, {0, 100, 70, 200}},        // left of the screen: x only
        {{1280, 500, 1580, 800}, {980, 500, 1280, 800}},      // just past the right edge
        {{400, 1100, 700, 1400}, {400, 694, 700, 994}},       // below: onto the work area
        {{0, 5000, 2000, 5100}, {0, 894, 2000, 994}},         // wider than the area: its left
        {{-1030, 10, -1020, 20}, {-1030, 10, -1020, 20}},     // on the left monitor: stays
        {{1270, 1014, 1570, 1314}, {1270, 1014, 1570, 1314}}, // one pixel showing: stays
    };
    for (const Case& c : cases) {
        RECT place = reachablePlace(c.window, screen, work);
        CHECK_EQ(place.left, c.expected.left);
        CHECK_EQ(place.top, c.expected.top);
        CHECK_EQ(place.right, c.expected.right);
        CHECK_EQ(place.bottom, c.expected.bottom);
    }

    // Through the real metrics: a saved place off the screen comes back, the window with it, and
    // one on the screen is left where it is.
    freshState();
    HWND window = openWindow();
    settings.x = -3000;
    settings.y = -2000;
    CHECK(bringBackOnScreen());
    RECT r = windowRect(window);
    CHECK(r.left >= 0 && r.top >= 0);
    CHECK(r.right <= GetSystemMetrics(SM_CXVIRTUALSCREEN));
    CHECK_EQ(r.left, settings.x);
    CHECK_EQ(r.top, settings.y);
    settings.x = 100;
    settings.y = 20;
    CHECK(!bringBackOnScreen());
    CHECK_EQ(settings.x, 100);

    // A display change that leaves the place off the screen brings it back too.
    runtime.virtualScreenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    runtime.virtualScreenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    settings.x = 5000;
    displayChanged();
    CHECK(settings.x + settings.width <= GetSystemMetrics(SM_CXVIRTUALSCREEN));
    CHECK_EQ(windowRect(window).left, settings.x);
    closeWindow(window);
}
