// A small plug-in for the shell's own end-to-end tests. It starts like a real plug-in (shell
// window, settings file, style, window, registration, sticky, a menu), reports every command it
// receives through BBExecute (which the shell under test writes to its execute log), opens its
// menu on a right-click and shuts down cleanly, writing "ended" to its settings file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "shell/blackbox_api.h"
#include <commdlg.h>

namespace {

const char className[] = "ShellTestPlugin";
const UINT messages[] = {BB_RECONFIGURE, BB_REDRAWGUI, BB_BROAM, 0};
HWND shell = nullptr, window = nullptr, slit = nullptr;
bool inSlit = false;
Menu* root = nullptr;
char rcPath[MAX_PATH];
HostStyleItem style;
int number = 7; // the value the menu's integer entry shows

void buildMenu(bool popup) {
    if (root)
        DelMenu(root);
    Menu* options = MakeNamedMenu("Options", "TP_Options", popup);
    MakeMenuItem(options, "Checked & on", "@TestCheck", true);
    MakeMenuNOP(options, nullptr);
    MakeMenuItemInt(options, "Number", "@TestNumber", number, 1, 50);
    MakeMenuItemString(options, "Text", "@TestText", "old text");
    root = MakeNamedMenu("Test Plugin", "TP_Main", popup);
    MakeSubmenu(root, options, "Options");
    MakeMenuItem(root, "Echo", "@TestEcho menu", false);
    MakeMenuItem(root, "", "@TestUntitled", false);
    ShowMenu(root);
}

void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    MakeStyleGradient(dc, &client, &style, true);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, style.textColor);
    HFONT font = CreateFontA(style.fontHeight, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             0, 0, style.faceName);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextA(dc, "test plug-in", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint(hwnd);
        return 0;
    case WM_NCHITTEST:
        return HTCAPTION;
    case WM_NCRBUTTONUP:
        buildMenu(true);
        return 0;
    case WM_NCLBUTTONDBLCLK:
        BBExecute(GetDesktopWindow(), nullptr, "dblclick", nullptr, nullptr, SW_SHOWNORMAL, false);
        return 0;
    case BB_BROAM: {
        const char* command = reinterpret_cast<const char*>(lParam);
        BBExecute(GetDesktopWindow(), nullptr, "command", command, nullptr, SW_SHOWNORMAL, false);
        if (std::strncmp(command, "@TestSetNumber ", 15) == 0) {
            number = std::atoi(command + 15);
            buildMenu(false); // a refresh, as after any change the menu shows
        }
        if (std::string(command) == "@TestOpenFile") {
            char file[MAX_PATH] = "";
            OPENFILENAMEA dialog = {};
            dialog.lStructSize = sizeof dialog;
            dialog.hwndOwner = hwnd;
            dialog.lpstrFilter = "All files\0*.*\0";
            dialog.lpstrFile = file;
            dialog.nMaxFile = sizeof file;
            dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
            BOOL chosen = GetOpenFileNameA(&dialog);
            BBExecute(GetDesktopWindow(), nullptr, chosen ? "file-chosen" : "file-cancelled", file,
                      nullptr, 1, false);
        }
        if (std::string(command) == "@TestColor") {
            static COLORREF custom[16];
            CHOOSECOLORA dialog = {};
            dialog.lStructSize = sizeof dialog;
            dialog.hwndOwner = hwnd;
            dialog.rgbResult = RGB(1, 2, 3);
            dialog.lpCustColors = custom;
            dialog.Flags = CC_FULLOPEN | CC_RGBINIT;
            BOOL chosen = ChooseColorA(&dialog);
            char text[16];
            std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(dialog.rgbResult));
            BBExecute(GetDesktopWindow(), nullptr, chosen ? "color-chosen" : "color-cancelled",
                      text, nullptr, 1, false);
        }
        if (std::string(command) == "@TestAbout") {
            SendMessageA(shell, BB_ABOUTPLUGIN, 0, 0);
            MessageBoxA(shell, "Test plug-in", "About", MB_OK | MB_TOPMOST);
            BBExecute(GetDesktopWindow(), nullptr, "about-closed", nullptr, nullptr, 1, false);
        }
        return 0;
    }
    case BB_RECONFIGURE:
    case BB_REDRAWGUI:
        style = *static_cast<HostStyleItem*>(GetSettingPtr(1));
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

} // namespace

extern "C" {

__declspec(dllexport) int beginPlugin(HINSTANCE instance) {
    shell = GetBBWnd();
    GetBlackboxPath(rcPath, sizeof rcPath);
    lstrcatA(rcPath, "test_plugin.rc");
    if (ReadBool(rcPath, "test.fail:", false))
        return 1; // a start that fails before it has taken anything
    int starts = ReadInt(rcPath, "test.starts:", 0);
    WriteInt(rcPath, "test.starts:", starts + 1);
    WriteBool(rcPath, "test.ended:", false);
    style = *static_cast<HostStyleItem*>(GetSettingPtr(1));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass))
        return 1;
    buildMenu(false);
    window = CreateWindowExA(WS_EX_TOOLWINDOW, className, "", WS_POPUP, 40, 50, 160, 60, nullptr,
                             nullptr, instance, nullptr);
    if (!window)
        return 1;
    SendMessageA(shell, BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(messages));
    MakeSticky(window);
    if (inSlit && slit)
        SendMessageA(slit, SLIT_ADD, 0, reinterpret_cast<LPARAM>(window));
    ShowWindow(window, SW_SHOWNOACTIVATE);
    return 0;
}

__declspec(dllexport) int beginPluginEx(HINSTANCE instance, HWND slitWindow) {
    inSlit = true;
    slit = slitWindow;
    return beginPlugin(instance);
}

__declspec(dllexport) int endPlugin(HINSTANCE instance) {
    if (root)
        DelMenu(root);
    root = nullptr;
    RemoveSticky(window);
    SendMessageA(shell, BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(messages));
    if (inSlit && slit)
        SendMessageA(slit, SLIT_REMOVE, 0, reinterpret_cast<LPARAM>(window));
    DestroyWindow(window);
    WriteBool(rcPath, "test.ended:", true);
    return UnregisterClassA(className, instance);
}

__declspec(dllexport) const char* pluginInfo(int) {
    return "ShellTestPlugin";
}

} // extern "C"
