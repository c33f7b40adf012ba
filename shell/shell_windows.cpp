// The shell's two windows: the hidden main window that plug-ins talk to (registration, About,
// command strings, the request to open a menu) and the slit, a strip at the right edge of the
// primary work area that takes plug-in windows in as children and stacks them. Also the window
// screenshot for tests.
#include <algorithm>
#include <cstdio>
#include "shell/shell_internal.h"

namespace {

const char mainClass[] = "BlackboxShellWindow";
const char slitClass[] = "BlackboxSlit";
const UINT WM_SHELL_OPENMENU = WM_APP + 1; // lParam: the menu to open

HWND mainWindow = nullptr;
HWND slitWindow = nullptr;
HINSTANCE shellInstance = nullptr;
bool realMenus = false;

struct SlitChild {
    HWND window;
    LONG style, exStyle; // what the window had before the slit took it in
};
std::vector<SlitChild> slitChildList;

std::string listText(const UINT* list) {
    std::string text;
    for (int i = 0; list && list[i] && i < 256; ++i) {
        if (i)
            text += ',';
        text += std::to_string(list[i]);
    }
    return text;
}

void recordMessage(UINT message, const std::string& wParam, const std::string& lParam) {
    recordEvent("message", {intArg(message), wParam, lParam});
}

// Stacks the children top to bottom, each at the left after the slit's margin, and sizes the
// slit round them at the right edge of the primary work area; an empty slit hides.
void layoutSlit() {
    if (!slitWindow)
        return;
    ensureStyleLoaded();
    const HostStyleItem* style = static_cast<const HostStyleItem*>(GetSettingPtr(1));
    int margin = (style ? style->borderWidth : 1) + 2;
    int width = 0, height = margin;
    for (const SlitChild& child : slitChildList) {
        RECT r;
        GetWindowRect(child.window, &r);
        SetWindowPos(child.window, nullptr, margin, height, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        width = std::max(width, static_cast<int>(r.right - r.left));
        height += (r.bottom - r.top) + margin;
    }
    if (slitChildList.empty()) {
        ShowWindow(slitWindow, SW_HIDE);
        return;
    }
    width += 2 * margin;
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int top = work.top + std::max(0, static_cast<int>((work.bottom - work.top) - height) / 2);
    SetWindowPos(slitWindow, HWND_TOPMOST, work.right - width, top, width, height,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(slitWindow, nullptr, TRUE);
}

void slitAdd(HWND window) {
    if (!IsWindow(window) || window == slitWindow)
        return;
    for (const SlitChild& child : slitChildList)
        if (child.window == window)
            return;
    SlitChild child = {window, GetWindowLongA(window, GWL_STYLE),
                       GetWindowLongA(window, GWL_EXSTYLE)};
    slitChildList.push_back(child);
    // A child window has client coordinates and no layered or topmost state of its own.
    SetWindowLongA(window, GWL_STYLE, (child.style & ~WS_POPUP) | WS_CHILD);
    SetWindowLongA(window, GWL_EXSTYLE, child.exStyle & ~(WS_EX_LAYERED | WS_EX_TOPMOST));
    SetParent(window, slitWindow);
    layoutSlit();
}

void slitRemove(HWND window) {
    auto found = std::find_if(slitChildList.begin(), slitChildList.end(),
                              [&](const SlitChild& c) { return c.window == window; });
    if (found == slitChildList.end())
        return;
    SlitChild child = *found;
    slitChildList.erase(found);
    if (IsWindow(window)) {
        RECT r;
        GetWindowRect(window, &r); // stays where it stood on the screen
        SetParent(window, nullptr);
        SetWindowLongA(window, GWL_STYLE, child.style & ~WS_CHILD);
        SetWindowLongA(window, GWL_EXSTYLE, child.exStyle & ~WS_EX_LAYERED);
        SetWindowPos(window, nullptr, r.left, r.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    layoutSlit();
}

// The shell's own small menu, on a right-click on the slit: reload the style, or quit.
void showShellMenu(HWND owner) {
    enum { RELOAD_STYLE = 1, QUIT_SHELL = 2 };
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, RELOAD_STYLE, "Reload Style");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, QUIT_SHELL, "Quit");
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(owner);
    int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, cursor.x,
                                cursor.y, 0, owner, nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);
    if (chosen == RELOAD_STYLE) {
        reloadStyle(true);
        InvalidateRect(owner, nullptr, TRUE);
    } else if (chosen == QUIT_SHELL) {
        PostQuitMessage(0);
    }
}

LRESULT CALLBACK slitProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case SLIT_ADD:
        recordMessage(message, intArg(wParam), handleText(reinterpret_cast<void*>(lParam)));
        slitAdd(reinterpret_cast<HWND>(lParam));
        return 0;
    case SLIT_REMOVE:
        recordMessage(message, intArg(wParam), handleText(reinterpret_cast<void*>(lParam)));
        slitRemove(reinterpret_cast<HWND>(lParam));
        return 0;
    case SLIT_UPDATE:
        recordMessage(message, intArg(wParam), intArg(lParam));
        layoutSlit();
        return 0;
    case WM_PARENTNOTIFY:
        if (LOWORD(wParam) == WM_DESTROY) {
            HWND gone = reinterpret_cast<HWND>(lParam);
            slitChildList.erase(
                std::remove_if(slitChildList.begin(), slitChildList.end(),
                               [&](const SlitChild& c) { return c.window == gone; }),
                slitChildList.end());
            layoutSlit(); // the window still exists now, but no longer counts
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        MakeStyleGradient(dc, &client, static_cast<HostStyleItem*>(GetSettingPtr(1)), true);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_RBUTTONUP:
        showShellMenu(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK mainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case BB_REGISTERMESSAGE: {
        const UINT* list = reinterpret_cast<const UINT*>(lParam);
        recordMessage(message, handleText(reinterpret_cast<void*>(wParam)), listText(list));
        if (wParam && IsWindow(reinterpret_cast<HWND>(wParam)))
            registerWindowMessages(reinterpret_cast<HWND>(wParam), list);
        return 0;
    }
    case BB_UNREGISTERMESSAGE: {
        const UINT* list = reinterpret_cast<const UINT*>(lParam);
        recordMessage(message, handleText(reinterpret_cast<void*>(wParam)), listText(list));
        if (wParam)
            unregisterWindowMessages(reinterpret_cast<HWND>(wParam), list);
        return 0;
    }
    case BB_ABOUTPLUGIN:
        recordMessage(message, intArg(wParam), intArg(lParam));
        return 0;
    case BB_BROAM: {
        // A command string sent to the shell goes to every window registered for commands.
        const char* command = reinterpret_cast<const char*>(lParam);
        recordMessage(message, intArg(wParam), textArg(command));
        if (command)
            broadcastCommand(command);
        return 0;
    }
    case BB_RECONFIGURE:
    case BB_REDRAWGUI:
        recordMessage(message, intArg(wParam), intArg(lParam));
        if (message == BB_REDRAWGUI)
            reloadStyle(false);
        broadcastMessage(message, 0, 0);
        return 0;
    case WM_SHELL_OPENMENU:
        openPopupMenu(reinterpret_cast<Menu*>(lParam));
        return 0;
    case WM_CLOSE: // asked to close (the system, a task list): end like "quit" does
        PostQuitMessage(0);
        return 0;
    }
    LRESULT handled = 0;
    if (handleControlMessage(window, message, wParam, lParam, handled))
        return handled;
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

HWND shellMainWindow() {
    return mainWindow;
}
HWND shellSlitWindow() {
    return slitWindow;
}

std::vector<HWND> slitChildren() {
    std::vector<HWND> windows;
    for (const SlitChild& child : slitChildList)
        windows.push_back(child.window);
    return windows;
}

bool createShellWindows(HINSTANCE instance) {
    if (mainWindow)
        return true;
    shellInstance = instance;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = mainProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = mainClass;
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = slitProc;
    windowClass.lpszClassName = slitClass;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&windowClass);
    // The main window never shows: it is the address of the shell's messages and the owner of
    // its menus and input boxes.
    mainWindow = CreateWindowExA(WS_EX_TOOLWINDOW, mainClass, "blackbox", WS_POPUP, 0, 0, 0, 0,
                                 nullptr, nullptr, instance, nullptr);
    slitWindow = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, slitClass, "Slit",
                                 WS_POPUP | WS_CLIPCHILDREN, 0, 0, 1, 1, nullptr, nullptr, instance,
                                 nullptr);
    if (!mainWindow || !slitWindow) {
        destroyShellWindows();
        return false;
    }
    return true;
}

void destroyShellWindows() {
    while (!slitChildList.empty())
        slitRemove(slitChildList.back().window);
    if (slitWindow)
        DestroyWindow(slitWindow);
    if (mainWindow)
        DestroyWindow(mainWindow);
    slitWindow = mainWindow = nullptr;
    if (shellInstance) {
        UnregisterClassA(mainClass, shellInstance);
        UnregisterClassA(slitClass, shellInstance);
    }
}

void enableRealMenus(bool enable) {
    realMenus = enable;
}

void requestMenuPopup(Menu* root) {
    if (realMenus && mainWindow &&
        PostMessageA(mainWindow, WM_SHELL_OPENMENU, 0, reinterpret_cast<LPARAM>(root)))
        notePopupRequested();
}

void deliverCommand(const std::string& command) {
    if (mainWindow)
        SendMessageA(mainWindow, BB_BROAM, 0, reinterpret_cast<LPARAM>(command.c_str()));
    else
        broadcastCommand(command.c_str());
}

std::string saveWindowBitmap(HWND window, const char* path) {
    if (!IsWindow(window))
        return "no such window";
    RECT client;
    GetClientRect(window, &client);
    int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0)
        return "empty window";
    UpdateWindow(window); // a change just made is painted first
    HDC windowDc = GetDC(window);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::string error;
    if (!bitmap || !bits) {
        error = "no bitmap";
    } else {
        HGDIOBJ old = SelectObject(memoryDc, bitmap);
        BitBlt(memoryDc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memoryDc, old);
        DWORD rowBytes = ((width * 3) + 3) & ~3u;
        DWORD imageBytes = rowBytes * height;
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42; // "BM"
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + imageBytes;
        info.bmiHeader.biSizeImage = imageBytes;
        FILE* file = path ? std::fopen(path, "wb") : nullptr;
        if (!file) {
            error = "cannot write the file";
        } else {
            bool ok = std::fwrite(&header, sizeof header, 1, file) == 1 &&
                      std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
                      std::fwrite(bits, 1, imageBytes, file) == imageBytes;
            if (std::fclose(file) != 0 || !ok)
                error = "cannot write the file";
        }
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memoryDc);
    ReleaseDC(window, windowDc);
    return error;
}
