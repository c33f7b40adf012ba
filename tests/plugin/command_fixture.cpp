#include "tests/plugin/command_fixture.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "content/feed_items.h"
#include "display/tooltip.h"
#include "plugin/feed_updates.h"
#include "plugin/commands.h"
#include "plugin/dialog_library.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

std::vector<SentMessage> sentMessages;
volatile LONG sentMessageCount;
HWND testShellWindow;
HWND testSlitWindow;

namespace {

const char pluginClass[] = "FeedMarqueeCommandTest";
const char recorderClass[] = "FeedMarqueeCommandTestRecorder";

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER) {
        sentMessages.push_back({window, message, wParam, lParam});
        InterlockedExchange(&sentMessageCount, static_cast<LONG>(sentMessages.size()));
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The plug-in window hands command strings on as the real window procedure does.
LRESULT CALLBACK pluginProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == 10901) {
        handleCommand(runtime.pluginWindow, reinterpret_cast<const char*>(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Watching SetTimer
// ---------------------------------------------------------------------------

typedef UINT_PTR(WINAPI* SetTimerFunction)(HWND, UINT_PTR, UINT, TIMERPROC);
SetTimerFunction realSetTimer;
UINT timerPeriods[8];

UINT_PTR WINAPI watchedSetTimer(HWND window, UINT_PTR id, UINT period, TIMERPROC procedure) {
    if (window && window == runtime.pluginWindow && id < 8)
        timerPeriods[id] = period;
    return realSetTimer(window, id, period, procedure);
}

// Points the program's import of user32's SetTimer at watchedSetTimer.
void watchSetTimer() {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    realSetTimer = reinterpret_cast<SetTimerFunction>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetTimer")));
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; library->Name; ++library) {
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; slot->u1.Function; ++slot) {
            if (slot->u1.Function != reinterpret_cast<DWORD_PTR>(realSetTimer))
                continue;
            DWORD protection;
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE,
                           &protection);
            slot->u1.Function = reinterpret_cast<DWORD_PTR>(watchedSetTimer);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
        }
    }
}

void registerClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    watchSetTimer();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = pluginProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = pluginClass;
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = recordingProc;
    windowClass.lpszClassName = recorderClass;
    RegisterClassA(&windowClass);
}

std::string settingsFileName() {
    return testProgramFolder() + "feedmarquee.rc";
}

} // namespace

void startPlugin(const char* rcText, bool withSlit) {
    registerClasses();
    runtime = RuntimeState();
    runtime.instance = GetModuleHandleA(nullptr);
    runtime.layeredSupported = true;
    std::memset(timerPeriods, 0, sizeof timerPeriods);
    sentMessages.clear();
    InterlockedExchange(&sentMessageCount, 0);

    DeleteFileA((testProgramFolder() + "feedmarqueerc").c_str());
    writeFileText(settingsFileName(), rcText);
    settings.fontColor = 0;
    settings.feedUrl[0] = '\0';
    settings.browserPath[0] = '\0';
    readSettings();

    testShellWindow = CreateWindowExA(0, recorderClass, "shell", WS_POPUP, 0, 0, 10, 10, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
    runtime.shellWindow = testShellWindow;
    testSlitWindow = nullptr;
    if (withSlit) {
        testSlitWindow = CreateWindowExA(0, recorderClass, "slit", WS_POPUP, 0, 0, 10, 10, nullptr,
                                         nullptr, GetModuleHandleA(nullptr), nullptr);
        runtime.slitWindow = testSlitWindow;
    }
    runtime.pluginWindow = CreateWindowExA(WS_EX_TOOLWINDOW, pluginClass, nullptr, WS_POPUP,
                                           settings.x, settings.y, settings.width, settings.height,
                                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(runtime.pluginWindow, SW_SHOWNOACTIVATE);
    tooltipWindow =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                        nullptr, GetModuleHandleA(nullptr), nullptr);
    tooltipOwner = runtime.pluginWindow;
    ValidateRect(runtime.pluginWindow, nullptr);
}

void stopPlugin() {
    waitForPass();
    showListDirectly(nullptr);
    if (rootMenu) {
        DelMenu(rootMenu);
        rootMenu = nullptr;
    }
    if (tooltipWindow)
        DestroyWindow(tooltipWindow);
    DestroyWindow(runtime.pluginWindow);
    DestroyWindow(testShellWindow);
    if (testSlitWindow)
        DestroyWindow(testSlitWindow);
    testShellWindow = testSlitWindow = nullptr;
    runtime = RuntimeState();
    releaseFavorites();
    openFileDialog = openFileDialogOnDemand;
    chooseColorDialog = chooseColorDialogOnDemand;
    chooseFontDialog = chooseFontDialogOnDemand;
    // Drop what the closed windows left in the queue (posted timers, the worker's message).
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::string settingsFileText() {
    return readFileText(settingsFileName());
}

std::string fileValue(const char* key) {
    size_t keyLength = std::strlen(key);
    for (const std::string& line : textLines(settingsFileText())) {
        if (line.size() >= keyLength && _strnicmp(line.c_str(), key, keyLength) == 0) {
            std::string value = line.substr(keyLength);
            size_t first = value.find_first_not_of(" \t");
            size_t last = value.find_last_not_of(" \t");
            return first == std::string::npos ? "" : value.substr(first, last - first + 1);
        }
    }
    return "<missing>";
}

bool repaintPending() {
    RECT area;
    bool pending = GetUpdateRect(runtime.pluginWindow, &area, FALSE) != 0;
    ValidateRect(runtime.pluginWindow, nullptr);
    return pending;
}

UINT timerPeriod(UINT id) {
    return id < 8 ? timerPeriods[id] : 0;
}

bool timerArmed(UINT id) {
    return KillTimer(runtime.pluginWindow, id) != 0;
}

bool isTopmost(HWND window) {
    return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

RECT windowRect() {
    RECT r = {};
    GetWindowRect(runtime.pluginWindow, &r);
    return r;
}

void setDisplayTitle(const char* title) {
    FeedList* list = newFeedList(0);
    FeedItem* entry = appendEntry(list);
    if (entry)
        entry->title = listText(list, title, 0);
    showListDirectly(list);
    releaseFeedList(list);
}

const char* displayTitle() {
    return shownFirst() ? shownFirst()->title : nullptr;
}

void waitForPass() {
    stopUpdate();
}

int messagesTo(HWND window, UINT message) {
    int count = 0;
    for (const SentMessage& m : sentMessages)
        count += (m.window == window && m.message == message) ? 1 : 0;
    return count;
}
