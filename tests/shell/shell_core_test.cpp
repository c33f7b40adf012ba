// The shell's style records, gradients, snapping, registration and record, in-process.
#include <cstddef>
#include "tests/support/check.h"
#include "tests/support/temp_folder.h"
#include "shell/shell_record.h"

namespace {

std::vector<std::string> commands;
int redraws = 0;
LRESULT CALLBACK pluginProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BB_BROAM) {
        commands.push_back(reinterpret_cast<const char*>(lParam));
        return 0;
    }
    if (message == BB_REDRAWGUI) {
        ++redraws;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makePluginWindow(int x, int y) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = pluginProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "CoreTestPlugin";
    RegisterClassA(&windowClass);
    return CreateWindowExA(WS_EX_TOOLWINDOW, "CoreTestPlugin", "", WS_POPUP, x, y, 60, 40, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
}

COLORREF pixel(HDC dc, int x, int y) {
    return GetPixel(dc, x, y);
}

} // namespace

TEST(styleRecordsHaveTheirFieldsWhereTheRecordSaysAndLookSensible) {
    CHECK_EQ(offsetof(HostStyleItem, textColor), static_cast<size_t>(24));
    CHECK_EQ(offsetof(HostStyleItem, fontHeight), static_cast<size_t>(28));
    CHECK_EQ(offsetof(HostStyleItem, faceName), static_cast<size_t>(44));
    for (int index = 1; index <= 6; ++index) {
        const unsigned char* record = static_cast<const unsigned char*>(GetSettingPtr(index));
        REQUIRE(record != nullptr);
        const char* face = reinterpret_cast<const char*>(record + 44);
        CHECK(std::strlen(face) > 0 && std::strlen(face) < 256);
        int height = *reinterpret_cast<const int*>(record + 28);
        CHECK(height > 6 && height < 40);
        const HostStyleItem* item = reinterpret_cast<const HostStyleItem*>(record);
        // The text must stand out from the background it is drawn on.
        int text =
            GetRValue(item->textColor) + GetGValue(item->textColor) + GetBValue(item->textColor);
        int back =
            GetRValue(item->colorFrom) + GetGValue(item->colorFrom) + GetBValue(item->colorFrom);
        CHECK(text - back > 200 || back - text > 200);
    }
    CHECK(GetSettingPtr(1) != GetSettingPtr(2));
    REQUIRE(GetSettingPtr(12) != nullptr);
    REQUIRE(GetSettingPtr(14) != nullptr);
    int inset = *static_cast<int*>(GetSettingPtr(12)) + *static_cast<int*>(GetSettingPtr(14));
    CHECK(inset >= 0 && inset < 20);
    for (int index : {0, 7, 11, 13, 15, -1, 1000})
        CHECK(GetSettingPtr(index) == nullptr);
}

TEST(theStyleFileOverridesTheDefaultsAndAReloadAnnouncesIt) {
    TempFolder folder;
    setShellFolder(folder.path.c_str());
    REQUIRE(createShellWindows(GetModuleHandleA(nullptr)));
    HWND window = makePluginWindow(100, 100);
    static const UINT messages[] = {BB_RECONFIGURE, BB_REDRAWGUI, BB_BROAM, 0};
    SendMessageA(GetBBWnd(), BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(messages));
    HostStyleItem* toolbar = static_cast<HostStyleItem*>(GetSettingPtr(1));
    writeFileText(folder.file("shellstyle.rc"), "toolbar.textColor: #010203\n"
                                                "toolbar.font: Courier New\n"
                                                "toolbar.fontHeight: 17\n"
                                                "toolbar.gradient: flat\n"
                                                "clock.color: #ff0000\n"
                                                "bevelWidth: 4\n"
                                                "borderWidth: nonsense\n");
    redraws = 0;
    reloadStyle(true);
    CHECK_EQ(redraws, 1);
    CHECK(GetSettingPtr(1) == toolbar); // the pointer stays valid; the record changes in place
    CHECK_EQ(toolbar->textColor, RGB(1, 2, 3));
    CHECK_EQ(std::string(toolbar->faceName), "Courier New");
    CHECK_EQ(toolbar->fontHeight, 17);
    CHECK_EQ(toolbar->gradientType, 0);
    CHECK_EQ(static_cast<HostStyleItem*>(GetSettingPtr(6))->colorFrom, RGB(255, 0, 0));
    CHECK_EQ(*static_cast<int*>(GetSettingPtr(12)), 4);
    CHECK_EQ(*static_cast<int*>(GetSettingPtr(14)), 1); // unparsable: the default stays
    DeleteFileA(folder.file("shellstyle.rc").c_str());
    reloadStyle(false);
    CHECK_EQ(std::string(toolbar->faceName), "Tahoma");
    CHECK_EQ(redraws, 1);
    SendMessageA(GetBBWnd(), BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(messages));
    DestroyWindow(window);
    destroyShellWindows();
    setShellFolder(nullptr);
}

TEST(gradientsFillTheRectangleAndBordersOnlyWhenAsked) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 100, 60);
    HGDIOBJ old = SelectObject(dc, bitmap);
    ReleaseDC(nullptr, screen);
    HostStyleItem style;
    std::memset(&style, 0, sizeof style);
    style.gradientType = 2; // vertical
    style.colorFrom = RGB(0, 0, 0);
    style.colorTo = RGB(0, 0, 250);
    style.borderColor = RGB(255, 0, 0);
    style.borderWidth = 2;
    RECT whole = {0, 0, 100, 60};
    MakeStyleGradient(dc, &whole, &style, false);
    CHECK(GetBValue(pixel(dc, 50, 2)) < 30);
    CHECK(GetBValue(pixel(dc, 50, 57)) > 200);
    CHECK(GetBValue(pixel(dc, 50, 30)) > 90 && GetBValue(pixel(dc, 50, 30)) < 160);
    CHECK_EQ(pixel(dc, 0, 30) == RGB(255, 0, 0), false);
    MakeStyleGradient(dc, &whole, &style, true);
    CHECK_EQ(pixel(dc, 0, 30), RGB(255, 0, 0));
    CHECK_EQ(pixel(dc, 1, 30), RGB(255, 0, 0));
    CHECK_EQ(pixel(dc, 99, 59), RGB(255, 0, 0));
    CHECK(pixel(dc, 2, 30) != RGB(255, 0, 0));
    // Only the given rectangle is painted.
    style.gradientType = 0;
    style.colorFrom = RGB(0, 200, 0);
    RECT part = {10, 10, 20, 20};
    MakeStyleGradient(dc, &part, &style, false);
    CHECK_EQ(pixel(dc, 15, 15), RGB(0, 200, 0));
    CHECK(pixel(dc, 9, 15) != RGB(0, 200, 0));
    CHECK(pixel(dc, 20, 15) != RGB(0, 200, 0));
    RECT empty = {30, 30, 30, 40};
    MakeStyleGradient(dc, &empty, &style, true); // nothing to paint, nothing painted
    CHECK(pixel(dc, 30, 35) != RGB(0, 200, 0));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST(snappingPullsNearEdgesOfTheWorkAreaOnly) {
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    WINDOWPOS position = {};
    position.x = work.left + 7;
    position.y = work.top + 9;
    position.cx = 200;
    position.cy = 100;
    SnapWindowToEdge(&position, 10, 1);
    CHECK_EQ(position.x, static_cast<int>(work.left));
    CHECK_EQ(position.y, static_cast<int>(work.top));
    position.x = work.right - 200 - 5; // the right edge 5 pixels short of the work area's
    position.y = work.bottom - 100 + 3;
    SnapWindowToEdge(&position, 10, 1);
    CHECK_EQ(position.x, static_cast<int>(work.right - 200));
    CHECK_EQ(position.y, static_cast<int>(work.bottom - 100));
    position.x = work.left + 10; // exactly the distance away: left alone
    position.y = work.top + 300;
    SnapWindowToEdge(&position, 10, 1);
    CHECK_EQ(position.x, static_cast<int>(work.left + 10));
    CHECK_EQ(position.y, static_cast<int>(work.top + 300));
    position.x = work.left + 3;
    position.flags = SWP_NOMOVE;
    SnapWindowToEdge(&position, 10, 1);
    CHECK_EQ(position.x, static_cast<int>(work.left + 3));
    SnapWindowToEdge(nullptr, 10, 1);
}

TEST(registrationDeliversOnlyTheListedMessagesAndTheRecordKeepsOrder) {
    REQUIRE(createShellWindows(GetModuleHandleA(nullptr)));
    clearShellRecord();
    HWND window = makePluginWindow(200, 200);
    static const UINT commandsOnly[] = {BB_BROAM, 0};
    HWND shell = GetBBWnd();
    REQUIRE(shell != nullptr);
    SendMessageA(shell, BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(commandsOnly));
    MakeSticky(window);
    CHECK(isSticky(window));
    commands.clear();
    redraws = 0;
    CHECK_EQ(broadcastCommand("@BBShowPlugins"), 1);
    CHECK_EQ(broadcastMessage(BB_REDRAWGUI, 0, 0), 0);
    const char* text = "@FeedMarqueeUpdateNow";
    SendMessageA(shell, BB_BROAM, 0, reinterpret_cast<LPARAM>(text)); // through the shell window
    SendMessageA(shell, BB_ABOUTPLUGIN, 0, 0);
    CHECK_EQ(redraws, 0);
    REQUIRE(commands.size() == 2);
    CHECK_EQ(commands[0], "@BBShowPlugins");
    CHECK_EQ(commands[1], "@FeedMarqueeUpdateNow");
    RemoveSticky(window);
    SendMessageA(shell, BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(commandsOnly));
    CHECK_EQ(broadcastCommand("@BBHidePlugins"), 0);
    CHECK(!isSticky(window));
    CHECK(registeredWindows().empty());

    std::vector<std::string> lines;
    for (const ShellRecordEntry& entry : shellRecord())
        lines.push_back(recordLine(entry));
    std::string w = handleText(window);
    std::vector<std::string> expected = {"GetBBWnd",
                                         "message\t10001\t" + w + "\t10901",
                                         "MakeSticky\t" + w,
                                         "broadcast\t@BBShowPlugins",
                                         "message\t10901\t0\t@FeedMarqueeUpdateNow",
                                         "broadcast\t@FeedMarqueeUpdateNow",
                                         "message\t10302\t0\t0",
                                         "RemoveSticky\t" + w,
                                         "message\t10002\t" + w + "\t10901",
                                         "broadcast\t@BBHidePlugins"};
    CHECK_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size() && i < expected.size(); ++i)
        CHECK_EQ(lines[i], expected[i]);
    DestroyWindow(window);
    destroyShellWindows();
}

TEST(theSlitTakesWindowsInAndGivesThemBack) {
    REQUIRE(createShellWindows(GetModuleHandleA(nullptr)));
    HWND slit = shellSlitWindow();
    HWND window = makePluginWindow(300, 300);
    SendMessageA(slit, SLIT_ADD, 0, reinterpret_cast<LPARAM>(window));
    CHECK(GetParent(window) == slit);
    CHECK(IsWindowVisible(slit));
    REQUIRE(slitChildren().size() == 1);
    RECT slitRect, windowRect;
    GetWindowRect(slit, &slitRect);
    GetWindowRect(window, &windowRect);
    CHECK(windowRect.left >= slitRect.left && windowRect.right <= slitRect.right);
    CHECK(windowRect.top >= slitRect.top && windowRect.bottom <= slitRect.bottom);
    SetWindowPos(window, nullptr, 0, 0, 90, 70, SWP_NOMOVE | SWP_NOZORDER);
    SendMessageA(slit, SLIT_UPDATE, 0, 0);
    GetWindowRect(slit, &slitRect);
    CHECK(slitRect.right - slitRect.left >= 90);
    CHECK(slitRect.bottom - slitRect.top >= 70);
    SendMessageA(slit, SLIT_REMOVE, 0, reinterpret_cast<LPARAM>(window));
    CHECK(GetParent(window) == nullptr);
    CHECK((GetWindowLongA(window, GWL_STYLE) & WS_CHILD) == 0);
    CHECK(slitChildren().empty());
    CHECK(!IsWindowVisible(slit));
    DestroyWindow(window);
    destroyShellWindows();
}

TEST(executeLogRecordsEveryArgument) {
    TempFolder folder;
    std::string log = folder.file("exec.log");
    setExecuteLog(log.c_str());
    CHECK(BBExecute(GetDesktopWindow(), nullptr, "http://example.com/a b", nullptr, nullptr,
                    SW_SHOWNORMAL, false));
    CHECK(BBExecute(nullptr, "open", "C:\\browser.exe", "http://x/", "C:\\", 1, true));
    setExecuteLog(nullptr);
    std::string d = handleText(GetDesktopWindow());
    CHECK_EQ(readFileText(log),
             "BBExecute\t" + d + "\t(null)\thttp://example.com/a b\t(null)\t(null)\t1\tfalse\r\n" +
                 "BBExecute\t0x00000000\topen\tC:\\browser.exe\thttp://x/\tC:\\\t1\ttrue\r\n");
}
