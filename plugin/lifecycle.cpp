// Start-up and shut-down. The order of the steps matters to the shell and to the other units: the
// window exists before it is registered with the shell, the worker is stopped before any list is
// freed, and the tooltip is destroyed before the window it watches.
#include "plugin/lifecycle.h"

#include "content/feed_items.h"
#include "display/painting.h"
#include "plugin/placement.h"
#include "display/tooltip.h"
#include "plugin/window_proc.h"
#include "feed/feed_engine.h"
#include "feed/fetch.h"
#include "plugin/feed_updates.h"
#include "plugin/item_filters.h"
#include "plugin/keyboard.h"
#include "plugin/menu.h"
#include "plugin/new_item_sound.h"
#include "plugin/tip_sources.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"
#include "plugin/settings_watch.h"
#include "plugin/view.h"
#include "release/version.h"
#include "shell/blackbox_api.h"

RuntimeState runtime;
UINT pluginMessages[4] = {BB_RECONFIGURE, BB_REDRAWGUI, BB_BROAM, 0};
const char* const pluginName = "FeedMarquee";
MessageBoxFunction showMessageBox = MessageBoxA;

namespace {

const UINT errorBoxStyle = MB_TOPMOST | MB_ICONERROR;

// Window creation failed after the class was registered and the menu built: undo both, so that
// nothing of a failed start stays behind and a later start in the same process can succeed.
int failCreation() {
    showMessageBox(nullptr, "Error creating window", pluginName, errorBoxStyle);
    SendMessageA(runtime.shellWindow, BB_UNREGISTERMESSAGE, 0,
                 reinterpret_cast<LPARAM>(pluginMessages));
    if (rootMenu) {
        DelMenu(rootMenu);
        rootMenu = nullptr;
    }
    releaseFavorites();
    UnregisterClassA(pluginName, runtime.instance);
    return 1;
}

// True while a started copy's window exists. The shell may start the plug-in a second time (listed
// twice, or started again from a script); that start must leave the running copy alone, since the
// copy's window, tooltip, timers and class are all known only through the shared records.
bool alreadyRunning() {
    return runtime.pluginWindow != nullptr && IsWindow(runtime.pluginWindow);
}

const char alreadyRunningText[] = "FeedMarquee is already running.";
const UINT alreadyRunningStyle = MB_TOPMOST | MB_ICONINFORMATION;

// The box of a refused start, on a thread of its own; the thread holds a reference on this module
// (module) until the box is closed, so the box outlives even an unload of the running copy.
DWORD WINAPI tellAlreadyRunning(void* module) {
    showMessageBox(nullptr, alreadyRunningText, pluginName, alreadyRunningStyle);
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

// The user is told without holding up the shell, which is still starting its plug-ins: a box
// shown here would keep the shell's start waiting until it is answered.
int refuseSecondStart() {
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(&tellAlreadyRunning), &module)) {
        HANDLE thread = CreateThread(nullptr, 0, tellAlreadyRunning, module, 0, nullptr);
        if (thread) {
            CloseHandle(thread);
            return 1;
        }
        FreeLibrary(module);
    }
    showMessageBox(nullptr, alreadyRunningText, pluginName, alreadyRunningStyle);
    return 1;
}

int startPlugin(HINSTANCE instance) {
    // A start after an earlier endPlugin in the same process begins from a clean run.
    runtime.pluginWindow = nullptr;
    tooltipWindow = nullptr;
    runtime.mouseInside = false;
    runtime.autoHidden = false;

    runtime.shellWindow = GetBBWnd();

    runtime.instance = instance;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    runtime.layeredSupported =
        version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 4;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = pluginName;
    if (!RegisterClassA(&windowClass)) {
        showMessageBox(runtime.shellWindow, "Error registering window class", pluginName,
                       errorBoxStyle);
        return 1;
    }

    bool forSlit = settings.inSlit && runtime.slitWindow;
    readSettings();
    // Listed for the slit, the plug-in docks unless its file says otherwise: a file without the
    // key (or a first start, which makes the file) leaves it in the slit.
    if (forSlit && !settingsFileHolds("feedmarquee.inSlit:"))
        settings.inSlit = true;
    reloadShellStyle();

    runtime.virtualScreenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    runtime.virtualScreenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    PluginSettings asRead = settings;
    settings.width = windowExtentInForce(settings.width, runtime.virtualScreenWidth);
    settings.height = windowExtentInForce(settings.height, runtime.virtualScreenHeight);
    bringBackOnScreen(); // a place saved on a monitor since unplugged
    acceptSettingsInForce(asRead);

    DWORD extendedStyle = WS_EX_TOOLWINDOW | (runtime.layeredSupported ? WS_EX_LAYERED : 0);
    HWND window =
        CreateWindowExA(extendedStyle, pluginName, nullptr,
                        WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, settings.x, settings.y,
                        settings.width, settings.height, nullptr, nullptr, instance, nullptr);
    if (!window)
        return failCreation();
    runtime.pluginWindow = window;

    SendMessageA(runtime.shellWindow, BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(pluginMessages));
    MakeSticky(window);
    if (settings.alwaysontop)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    applyTransparency();
    runtime.autoHidden = autoHideTarget(nullptr);
    SetTimer(window, 3, 300, nullptr);
    armTurnTimer();
    // Shown without taking the activation from the program the user is in: an activated window
    // also has the system start its input-method machinery (COM with it) for nothing.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    InvalidateRect(window, nullptr, FALSE);
    createPluginTooltip();
    startKeyboard(window);
    watchSettingsFolder(window);
    // The feeds start last: the reading of their saved copies (a thread of its own, parsing up to
    // megabytes) would otherwise compete with the rest of the start for the processor and for
    // Wine's server, and the shell waits for the start to return. The window paints them once the
    // shell's message loop runs, after the start.
    requestUpdate();
    armUpdateTimer();
    return 0;
}

} // namespace

bool attachWinsock(WinsockStartup startup) {
    WSADATA data = {};
    int failed = startup(MAKEWORD(1, 1), &data);
    if (failed || data.wVersion != MAKEWORD(1, 1)) {
        // A successful start-up with the wrong version still has to be balanced.
        if (!failed)
            WSACleanup();
        runtime.winsockReady = false;
        showMessageBox(nullptr, "Couldn't open Winsock!", "Error!", MB_ICONWARNING);
        return false;
    }
    runtime.winsockReady = true;
    return true;
}

bool processAttach() {
    return attachWinsock(WSAStartup);
}

void processDetach(bool processEnding) {
    // When the process ends, its other threads are already gone, perhaps killed inside Winsock
    // (a worker waiting for the resolver) while holding its locks: WSACleanup could then wait
    // for ever and hang the shell's exit. The system releases everything anyway.
    if (runtime.winsockReady && !processEnding)
        WSACleanup();
    runtime.winsockReady = false;
}

int beginPlugin(HINSTANCE instance) {
    if (alreadyRunning())
        return refuseSecondStart();
    runtime.slitWindow = nullptr;
    return startPlugin(instance);
}

int beginSlitPlugin(HINSTANCE instance, HWND slit) {
    if (alreadyRunning())
        return refuseSecondStart();
    settings.inSlit = true;
    runtime.slitWindow = slit;
    int result = startPlugin(instance);
    if (result == 0 && settings.inSlit && runtime.slitWindow)
        SendMessageA(runtime.slitWindow, SLIT_ADD, 0,
                     reinterpret_cast<LPARAM>(runtime.pluginWindow));
    return result;
}

int endPlugin(HINSTANCE instance) {
    HWND window = runtime.pluginWindow;

    stopWatchingSettings();
    writeSettings(); // what changed since the last write (a moved window), nothing else
    if (rootMenu) {
        DelMenu(rootMenu);
        rootMenu = nullptr;
    }
    // Every pass stops within the bound; the lists go with the engine.
    stopUpdate();
    releaseFavorites();
    KillTimer(window, 1);
    RemoveSticky(window);
    SendMessageA(runtime.shellWindow, BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(pluginMessages));
    if (settings.inSlit && runtime.slitWindow)
        SendMessageA(runtime.slitWindow, SLIT_REMOVE, 0, reinterpret_cast<LPARAM>(window));
    endKeyboard(window);
    removeAllTools();
    forgetTipSources();
    releasePaintTexts();
    releaseView();
    releaseFilters();
    releaseNewItemSound();
    if (tooltipWindow)
        DestroyWindow(tooltipWindow);
    tooltipWindow = nullptr;
    if (window)
        DestroyWindow(window);
    runtime.pluginWindow = nullptr;
    runtime.mouseInside = false;
    runtime.autoHidden = false;
    return UnregisterClassA(pluginName, instance);
}

// The version and release date are the release's own (the DLL's version resource says the same).
// The plug-in has no web page and no mail address of its own, so those two are empty.
const char* pluginInfo(int index) {
    switch (index) {
    case 1:
        return FM_PRODUCT_NAME;
    case 2:
        return FM_VERSION;
    case 3:
        return FM_AUTHOR;
    case 4:
        return FM_RELEASE_DATE;
    case 5:
    case 6:
        return "";
    default:
        return FM_PRODUCT_NAME " " FM_VERSION;
    }
}
