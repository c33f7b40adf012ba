// Start-up and shut-down in this process: the real window under Wine, the stand-in shell's real
// functions recording every call and message, message boxes answered through the plug-in's hook.
#include <cstdio>
#include <string>

#include "content/feed_items.h"
#include "display/tooltip.h"
#include "plugin/feed_updates.h"
#include "plugin/window_proc.h"
#include "plugin/lifecycle.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "shell/blackbox_api.h"
#include "shell/shell_record.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"

namespace {

std::string handle(const void* h) {
    return handleText(h);
}
std::string registration(HWND window, UINT number) {
    return "message\t" + std::to_string(number) + "\t" + handle(window) + "\t10103,10881,10901";
}

bool classRegistered(HINSTANCE module) {
    WNDCLASSA windowClass;
    return GetClassInfoA(module, "FeedMarquee", &windowClass) != 0;
}

// Whether the plug-in window was topmost at the moment it was shown.
HHOOK showHook;
int shownTopmost = -1;
LRESULT CALLBACK watchShow(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    char name[32] = "";
    if (code == HC_ACTION && call->message == WM_SHOWWINDOW && call->wParam &&
        GetClassNameA(call->hwnd, name, sizeof name) && std::string(name) == "FeedMarquee")
        shownTopmost = (GetWindowLongA(call->hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0;
    return CallNextHookEx(showHook, code, wParam, lParam);
}

// Refuses the creation of the plug-in window, as a failing CreateWindowExA would.
HHOOK createHook;
LRESULT CALLBACK refuseCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CBT_CREATEWNDA* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
        const char* name = create->lpcs->lpszClass;
        if (HIWORD(reinterpret_cast<UINT_PTR>(name)) && std::string(name) == "FeedMarquee")
            return 1;
    }
    return CallNextHookEx(createHook, code, wParam, lParam);
}

// Counts timer-1 ticks taken from the queue.
HHOOK timerHook;
int updateTicks = 0;
LRESULT CALLBACK countTicks(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_TIMER &&
        message->wParam == 1 && message->hwnd == runtime.pluginWindow)
        ++updateTicks;
    return CallNextHookEx(timerHook, code, wParam, lParam);
}

// A box answered only once the test sets boxAnswered; its text, caption and thread are kept.
DWORD startThread = GetCurrentThreadId();
HANDLE boxShown = CreateEventA(nullptr, FALSE, FALSE, nullptr);
HANDLE boxAnswered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE boxClosed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
std::string boxText, boxCaption;
DWORD boxThread = 0;
int WINAPI answerLater(HWND, LPCSTR text, LPCSTR caption, UINT) {
    boxText = text ? text : "";
    boxCaption = caption ? caption : "";
    boxThread = GetCurrentThreadId();
    SetEvent(boxShown);
    if (boxThread != startThread) // a box on the starting thread would wait for ever
        WaitForSingleObject(boxAnswered, 20000);
    SetEvent(boxClosed);
    return IDOK;
}

int WINAPI failingStartup(WORD, WSADATA*) {
    return WSASYSNOTREADY;
}
int WINAPI wrongVersionStartup(WORD version, WSADATA* data) {
    int result = WSAStartup(version, data);
    data->wVersion = MAKEWORD(2, 2);
    return result;
}

} // namespace

TEST(plugin_info_answers_every_index) {
    CHECK_EQ(pluginInfo(1), "FeedMarquee");
    std::string version = pluginInfo(2);
    unsigned major = 0, minor = 0, patch = 0;
    char end = 0;
    CHECK_EQ(std::sscanf(version.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &end), 3);
    CHECK_EQ(pluginInfo(3), "Mara Lindqvist");
    int year = 0, month = 0, day = 0;
    CHECK_EQ(std::sscanf(pluginInfo(4), "%4d-%2d-%2d%c", &year, &month, &day, &end), 3);
    CHECK(year >= 2026 && month >= 1 && month <= 12 && day >= 1 && day <= 31);
    // No web page and no mail address that would lead nowhere.
    CHECK_EQ(pluginInfo(5), "");
    CHECK_EQ(pluginInfo(6), "");
    for (int index : {0, 7, 100, -1, -2147483647 - 1})
        CHECK_EQ(pluginInfo(index), "FeedMarquee " + version);
}

TEST(winsock_1_1_is_required_at_load) {
    messageBoxes.clear();
    showMessageBox = recordMessageBox;
    CHECK(!attachWinsock(failingStartup));
    CHECK(!runtime.winsockReady);
    CHECK(!attachWinsock(wrongVersionStartup));
    CHECK(!runtime.winsockReady);
    REQUIRE(messageBoxes.size() == 2);
    for (const MessageBoxCall& box : messageBoxes) {
        CHECK(box.owner == nullptr);
        CHECK_EQ(box.text, "Couldn't open Winsock!");
        CHECK_EQ(box.caption, "Error!");
        CHECK_EQ(box.style, UINT(MB_ICONWARNING));
    }
    messageBoxes.clear();
    // From no start-up at all, so that the clean-ups below count exactly.
    int earlierStartups = 0;
    while (WSACleanup() == 0)
        ++earlierStartups;
    CHECK(attachWinsock(WSAStartup));
    CHECK(runtime.winsockReady);
    CHECK(messageBoxes.empty());
    processDetach(false); // the DLL is unloaded from a process that goes on: cleaned up
    CHECK(!runtime.winsockReady);
    CHECK(WSACleanup() != 0);
    // At process end Winsock is left alone: a thread killed inside it may hold its locks.
    CHECK(attachWinsock(WSAStartup));
    processDetach(true);
    CHECK(!runtime.winsockReady);
    CHECK_EQ(WSACleanup(), 0);
    CHECK(WSACleanup() != 0);
    WSADATA data;
    for (int i = 0; i < earlierStartups; ++i)
        WSAStartup(MAKEWORD(1, 1), &data);
}

TEST(start_up_registers_makes_sticky_and_shows_a_topmost_window) {
    PluginRun run;
    run.settingsFile("feedmarquee.x: 50\nfeedmarquee.y: 60\nfeedmarquee.width: 210\n"
                     "feedmarquee.height: 120\nfeedmarquee.alwaysontop: true\n");
    shownTopmost = -1;
    showHook = SetWindowsHookExA(WH_CALLWNDPROC, watchShow, nullptr, GetCurrentThreadId());
    int result = run.begin();
    UnhookWindowsHookEx(showHook);
    REQUIRE(result == 0);

    HWND window = runtime.pluginWindow;
    REQUIRE(IsWindow(window));
    CHECK(runtime.shellWindow == GetBBWnd());
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    CHECK_EQ(name, "FeedMarquee");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    LONG extended = GetWindowLongA(window, GWL_EXSTYLE);
    CHECK_EQ(style & ~WS_VISIBLE, LONG(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
    CHECK(IsWindowVisible(window));
    CHECK(extended & WS_EX_TOOLWINDOW);
    CHECK_EQ(shownTopmost, 1); // topmost before it was shown
    RECT rect;
    GetWindowRect(window, &rect);
    CHECK_EQ(rect.left, 50);
    CHECK_EQ(rect.top, 60);
    CHECK_EQ(rect.right - rect.left, 210);
    CHECK_EQ(rect.bottom - rect.top, 120);

    int registered = findRecord(registration(window, 10001));
    int sticky = findRecord("MakeSticky\t" + handle(window));
    CHECK(registered >= 0);
    CHECK(sticky > registered);
    CHECK(isRegistered(window, 10103) && isRegistered(window, 10881) &&
          isRegistered(window, 10901));
    CHECK(isSticky(window));
    CHECK_EQ(countRecord("message\t11001"), 0);
    CHECK(runtime.slitWindow == nullptr);
    // The first pass was started: its placeholder is on show at once.
    REQUIRE(shownFirst());
    CHECK_EQ(shownFirst()->title, "Connecting...");
    CHECK(messageBoxes.empty());
}

TEST(shut_down_writes_first_and_leaves_nothing_behind) {
    PluginRun run;
    std::string rc = run.pluginFolder + "feedmarquee.rc";
    run.settingsFile("feedmarquee.x: 70\nfeedmarquee.y: 80\n");
    REQUIRE(run.begin() == 0);
    pumpMessages(100);
    HWND window = runtime.pluginWindow;
    HWND tooltip = tooltipWindow;
    settings.width = 271; // an unsaved change reaches the file at shut-down
    // A menu of the plug-in's own, so that its deletion shows in the record.
    if (!rootMenu)
        rootMenu = MakeNamedMenu("FeedMarquee", "FDMQ_Main", false);
    clearShellRecord();

    int result = run.end();

    CHECK(result != 0);
    int deleted = findRecord("DelMenu");
    int unsticky = findRecord("RemoveSticky\t" + handle(window));
    int unregistered = findRecord(registration(window, 10002));
    CHECK(deleted >= 0);
    CHECK(unsticky > deleted);
    CHECK(unregistered > unsticky);
    CHECK(rootMenu == nullptr);
    CHECK_EQ(countRecord("message\t11002"), 0);
    CHECK(!IsWindow(window));
    CHECK(tooltip == nullptr || !IsWindow(tooltip));
    CHECK(!classRegistered(run.module));
    CHECK(!isSticky(window));
    CHECK(registeredWindows().empty());
    CHECK(shownFirst() == nullptr);
    CHECK(favorites == nullptr);
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.width:", 0), 271);
    CHECK_EQ(ReadInt(rc.c_str(), "feedmarquee.x:", 0), 70);
}

TEST(the_plugin_starts_again_after_it_was_stopped) {
    PluginRun run;
    run.settingsFile("feedmarquee.updateInterval(min): 5\n");
    for (int round = 0; round < 3; ++round) {
        REQUIRE(run.begin() == 0);
        CHECK(IsWindow(runtime.pluginWindow));
        pumpMessages(50);
        CHECK(run.end() != 0);
        CHECK(!classRegistered(run.module));
    }
    CHECK(messageBoxes.empty());
}

TEST(a_second_start_is_refused_and_leaves_the_running_copy_alone) {
    PluginRun run;
    run.settingsFile("feedmarquee.x: 60\nfeedmarquee.y: 70\nfeedmarquee.width: 200\n"
                     "feedmarquee.inSlit: false\n");
    REQUIRE(run.begin() == 0);
    pumpMessages(100);
    HWND window = runtime.pluginWindow;
    HWND tooltip = tooltipWindow;
    messageBoxes.clear();
    clearShellRecord();

    // Each refused start returns while its box is still up (the box waits here for an answer the
    // test gives only afterwards), so the shell's start is not held up by it.
    showMessageBox = answerLater;
    for (int start = 0; start < 2; ++start) {
        ResetEvent(boxAnswered);
        CHECK_EQ(start == 0 ? beginPlugin(run.module)
                            : beginSlitPlugin(run.module, shellSlitWindow()),
                 1);
        CHECK_EQ(WaitForSingleObject(boxShown, 10000), WAIT_OBJECT_0);
        CHECK(boxThread != GetCurrentThreadId());
        CHECK_EQ(boxText, "FeedMarquee is already running.");
        CHECK_EQ(boxCaption, "FeedMarquee");
        SetEvent(boxAnswered);
        CHECK_EQ(WaitForSingleObject(boxClosed, 10000), WAIT_OBJECT_0);
    }
    showMessageBox = recordMessageBox;
    // Nothing of the running copy was touched: its handles, its slit state, its registration.
    CHECK(runtime.pluginWindow == window);
    CHECK(tooltipWindow == tooltip);
    CHECK(!settings.inSlit);
    CHECK(runtime.slitWindow == nullptr);
    CHECK_EQ(countRecord("ReadInt"), 0);
    CHECK_EQ(countRecord("message\t10001"), 0);
    CHECK_EQ(countRecord("message\t11001"), 0);
    CHECK(isRegistered(window, 10901));
    CHECK(classRegistered(run.module));

    // It still follows commands and repaints.
    ValidateRect(window, nullptr);
    broadcastCommand("@FeedMarqueeWidthSize 260");
    RECT rect;
    GetWindowRect(window, &rect);
    CHECK_EQ(rect.right - rect.left, 260);
    CHECK(GetUpdateRect(window, nullptr, FALSE) != 0);

    // And it shuts down completely.
    CHECK(run.end() != 0);
    CHECK(!IsWindow(window));
    CHECK(tooltip == nullptr || !IsWindow(tooltip));
    CHECK(!classRegistered(run.module));
    CHECK(registeredWindows().empty());
}

TEST(a_slit_start_follows_the_stored_inSlit) {
    {
        PluginRun run;
        run.settingsFile("feedmarquee.inSlit: false\n");
        REQUIRE(run.beginSlit() == 0);
        CHECK(!settings.inSlit);
        CHECK(runtime.slitWindow == shellSlitWindow());
        CHECK_EQ(countRecord("message\t11001"), 0);
        run.end();
        CHECK_EQ(countRecord("message\t11002"), 0);
    }
    // Listed for the slit with no inSlit in the file (or no file at all): docked, and so saved.
    for (const char* rc : {static_cast<const char*>(nullptr), "feedmarquee.x: 30\n"}) {
        PluginRun run;
        run.settingsFile(rc);
        REQUIRE(run.beginSlit() == 0);
        CHECK(settings.inSlit);
        CHECK(findRecord("message\t11001\t0\t" + handle(runtime.pluginWindow)) >= 0);
        run.end();
        CHECK(ReadBool(settingsPath, "feedmarquee.inSlit:", false));
    }
    {
        PluginRun run;
        run.settingsFile("feedmarquee.inSlit: true\n");
        REQUIRE(run.beginSlit() == 0);
        HWND window = runtime.pluginWindow;
        CHECK(settings.inSlit);
        CHECK(findRecord("message\t11001\t0\t" + handle(window)) >= 0);
        CHECK(findRecord("message\t11001") > findRecord(registration(window, 10001)));
        clearShellRecord();
        run.end();
        int released = findRecord("message\t11002\t0\t" + handle(window));
        CHECK(released > findRecord(registration(window, 10002)));
    }
}

TEST(a_free_start_with_inSlit_stored_is_not_layered_and_has_no_slit) {
    PluginRun run;
    run.settingsFile("feedmarquee.inSlit: true\nfeedmarquee.transparency: true\n");
    REQUIRE(run.begin() == 0);
    CHECK(settings.inSlit);
    CHECK(runtime.slitWindow == nullptr);
    CHECK(!(GetWindowLongA(runtime.pluginWindow, GWL_EXSTYLE) & WS_EX_LAYERED));
    CHECK_EQ(countRecord("message\t11001"), 0);
    RECT before, after;
    GetWindowRect(runtime.pluginWindow, &before);
    dragWindow(runtime.pluginWindow, 40, 30, false);
    GetWindowRect(runtime.pluginWindow, &after);
    CHECK_EQ(after.left, before.left);
    CHECK_EQ(after.top, before.top);
    run.end();
    CHECK_EQ(countRecord("message\t11002"), 0);
}

TEST(a_class_that_cannot_be_registered_fails_the_start_with_its_box) {
    PluginRun run;
    run.settingsFile("");
    WNDCLASSA squatter = {};
    squatter.lpfnWndProc = DefWindowProcA;
    squatter.hInstance = run.module;
    squatter.lpszClassName = "FeedMarquee";
    REQUIRE(RegisterClassA(&squatter));

    CHECK_EQ(run.begin(), 1);

    REQUIRE(messageBoxes.size() == 1);
    CHECK(messageBoxes[0].owner == GetBBWnd());
    CHECK_EQ(messageBoxes[0].text, "Error registering window class");
    CHECK_EQ(messageBoxes[0].caption, "FeedMarquee");
    CHECK_EQ(messageBoxes[0].style, UINT(0x40010));
    // Nothing reached the shell.
    CHECK_EQ(countRecord("message\t10001"), 0);
    CHECK_EQ(countRecord("message\t10002"), 0);
    CHECK_EQ(countRecord("MakeSticky"), 0);
    CHECK(FindWindowA("FeedMarquee", nullptr) == nullptr);
    UnregisterClassA("FeedMarquee", run.module);
}

TEST(a_window_that_cannot_be_created_fails_the_start_and_unregisters) {
    PluginRun run;
    run.settingsFile("");
    createHook = SetWindowsHookExA(WH_CBT, refuseCreation, nullptr, GetCurrentThreadId());
    int result = run.begin();
    UnhookWindowsHookEx(createHook);

    CHECK_EQ(result, 1);
    REQUIRE(messageBoxes.size() == 1);
    CHECK(messageBoxes[0].owner == nullptr);
    CHECK_EQ(messageBoxes[0].text, "Error creating window");
    CHECK_EQ(messageBoxes[0].caption, "FeedMarquee");
    CHECK_EQ(messageBoxes[0].style, UINT(0x40010));
    CHECK(findRecord("message\t10002\t" + handle(nullptr) + "\t10103,10881,10901") >= 0);
    CHECK_EQ(countRecord("message\t10001"), 0);
    CHECK_EQ(countRecord("MakeSticky"), 0);
    CHECK(!classRegistered(run.module));
    CHECK(rootMenu == nullptr);
    CHECK(liveRootMenus().empty());

    // Nothing of the failed start is in the way of the next one.
    messageBoxes.clear();
    CHECK_EQ(run.begin(), 0);
    CHECK(messageBoxes.empty());
    run.end();
}

TEST(the_update_timer_has_a_floor_of_one_minute_and_a_safe_cap) {
    CHECK_EQ(updateTimerPeriod(15), UINT(900000));
    CHECK_EQ(updateTimerPeriod(1), UINT(60000));
    CHECK_EQ(updateTimerPeriod(0), UINT(60000));
    CHECK_EQ(updateTimerPeriod(-5), UINT(60000));
    CHECK_EQ(updateTimerPeriod(35791), UINT(35791u * 60000u));
    CHECK_EQ(updateTimerPeriod(35792), UINT(USER_TIMER_MAXIMUM));
    CHECK_EQ(updateTimerPeriod(2147483647), UINT(USER_TIMER_MAXIMUM));

    // A stored interval of 0 does not poll the feed in a tight loop, and keeps its value.
    PluginRun run;
    run.settingsFile("feedmarquee.updateInterval(min): 0\n");
    updateTicks = 0;
    timerHook = SetWindowsHookExA(WH_GETMESSAGE, countTicks, nullptr, GetCurrentThreadId());
    REQUIRE(run.begin() == 0);
    pumpMessages(400);
    UnhookWindowsHookEx(timerHook);
    CHECK_EQ(updateTicks, 0);
    CHECK_EQ(settings.updateInterval, 0);
    run.end();
    CHECK_EQ(ReadInt((run.pluginFolder + "feedmarquee.rc").c_str(),
                     "feedmarquee.updateInterval(min):", 99),
             0);
}
