// A helper plug-in for the end-to-end tests. blackbox.exe loads it (for the slit, so that it learns
// the slit window); it loads FeedMarquee.dll itself and starts and stops it on command, so that the
// shell's record shows a shut-down while the shell lives on, and so that start and stop can be
// repeated in one shell process while its windows, handles, threads and GDI objects are counted.
//
// Commands arrive as the shell's command strings (message 10901):
//   @FmDriver load PATH | begin | beginSlit | end | cycles N | unload
// Each is carried out after the broadcast has returned, and each appends result lines and then
// "done WORD" to driver.log beside this module.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shell/blackbox_api.h"
#include "tests/support/message_pump.h"

namespace {

typedef int (*BeginFunction)(HINSTANCE);
typedef int (*BeginSlitFunction)(HINSTANCE, HWND);
typedef int (*EndFunction)(HINSTANCE);
typedef LONG (*CountFunction)();
typedef LONG(WINAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

const UINT WM_DRIVER_RUN = WM_APP + 1;
UINT driverMessages[] = {BB_BROAM, 0};

HINSTANCE driverModule;
HWND driverWindow;
HWND slitWindow;
HMODULE plugin;
std::string logPath;

void logLine(const std::string& line) {
    FILE* file = std::fopen(logPath.c_str(), "ab");
    if (!file)
        return;
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
}

void pump(DWORD ms) {
    pumpMessagesFor(ms);
}

BOOL CALLBACK countChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}
BOOL CALLBACK countWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<int*>(count);
        EnumChildWindows(window, countChild, count);
    }
    return TRUE;
}

int windowCount() {
    int count = 0;
    EnumWindows(countWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The process's handles from the system's handle table (the per-process counters of the system
// report 0 under Wine).
int handleCount() {
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    struct Entry {
        ULONG process;
        BYTE type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<BYTE> buffer(1 << 16);
    LONG status;
    ULONG needed = 0;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
               static_cast<LONG>(0xC0000004) &&
           buffer.size() < (64u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    ULONG total = *reinterpret_cast<ULONG*>(buffer.data());
    const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    int count = 0;
    for (ULONG i = 0; i < total; ++i)
        if (entries[i].process == GetCurrentProcessId())
            ++count;
    return count;
}

int threadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof thread;
    int count = 0;
    if (Thread32First(snapshot, &thread)) {
        do {
            if (thread.th32OwnerProcessID == GetCurrentProcessId())
                ++count;
        } while (Thread32Next(snapshot, &thread));
    }
    CloseHandle(snapshot);
    return count;
}

std::string counts(const char* label) {
    long gdi = -1, created = -1;
    if (plugin) {
        CountFunction alive = reinterpret_cast<CountFunction>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "countedGdiObjects")));
        CountFunction creations = reinterpret_cast<CountFunction>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "countedGdiCreations")));
        if (alive)
            gdi = alive();
        if (creations)
            created = creations();
    }
    char line[200];
    std::snprintf(line, sizeof line, "%s windows=%d handles=%d threads=%d gdi=%ld created=%ld",
                  label, windowCount(), handleCount(), threadCount(), gdi, created);
    return line;
}

template <typename Function> Function pluginFunction(const char* name) {
    return plugin
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(plugin, name)))
               : nullptr;
}

bool classExists() {
    WNDCLASSA windowClass;
    return plugin && GetClassInfoA(plugin, "FeedMarquee", &windowClass);
}

int begin(bool forSlit) {
    if (forSlit) {
        BeginSlitFunction start = pluginFunction<BeginSlitFunction>("beginPluginEx");
        return start ? start(plugin, slitWindow) : -1;
    }
    BeginFunction start = pluginFunction<BeginFunction>("beginPlugin");
    return start ? start(plugin) : -1;
}

int end() {
    EndFunction stop = pluginFunction<EndFunction>("endPlugin");
    return stop ? stop(plugin) : -1;
}

void run(const std::string& command) {
    std::string word = command.substr(0, command.find(' '));
    std::string argument =
        command.find(' ') == std::string::npos ? "" : command.substr(command.find(' ') + 1);
    if (word == "load") {
        plugin = LoadLibraryA(argument.c_str());
        logLine(plugin ? "loaded" : "load failed " + std::to_string(GetLastError()));
    } else if (word == "begin" || word == "beginSlit") {
        logLine(word + " " + std::to_string(begin(word == "beginSlit")));
    } else if (word == "end") {
        int result = end();
        logLine("end " + std::to_string(result));
        logLine(classExists() ? "class registered" : "class gone");
    } else if (word == "cycles") {
        int rounds = std::atoi(argument.c_str());
        // One round first, so that what the first start loads once (common controls, Winsock's
        // helpers, the shell's style) is not counted as a leak.
        begin(false);
        pump(300);
        logLine(counts("running"));
        end();
        pump(100);
        logLine(counts("before"));
        int failures = 0;
        for (int i = 0; i < rounds; ++i) {
            if (begin(false) != 0)
                ++failures;
            pump(120);
            if (end() == 0)
                ++failures;
            pump(20);
        }
        pump(200);
        logLine(counts("after"));
        logLine("failures " + std::to_string(failures));
    } else if (word == "unload") {
        if (plugin)
            FreeLibrary(plugin);
        plugin = nullptr;
        logLine("unloaded");
    }
    logLine("done " + word);
}

LRESULT CALLBACK driverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BB_BROAM && lParam) {
        const char* text = reinterpret_cast<const char*>(lParam);
        if (std::strncmp(text, "@FmDriver ", 10) == 0)
            PostMessageA(window, WM_DRIVER_RUN, 0,
                         reinterpret_cast<LPARAM>(new std::string(text + 10)));
        return 0;
    }
    if (message == WM_DRIVER_RUN) {
        std::string* command = reinterpret_cast<std::string*>(lParam);
        run(*command);
        delete command;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

extern "C" {

int beginPluginEx(HINSTANCE instance, HWND slit) {
    driverModule = instance;
    slitWindow = slit;
    char path[MAX_PATH];
    GetModuleFileNameA(instance, path, MAX_PATH);
    logPath = path;
    logPath = logPath.substr(0, logPath.rfind('\\') + 1) + "driver.log";
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = driverProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "FmShellDriver";
    RegisterClassA(&windowClass);
    driverWindow = CreateWindowExA(WS_EX_TOOLWINDOW, "FmShellDriver", nullptr, WS_POPUP, 0, 0, 1, 1,
                                   nullptr, nullptr, instance, nullptr);
    if (!driverWindow)
        return 1;
    SendMessageA(GetBBWnd(), BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(driverWindow),
                 reinterpret_cast<LPARAM>(driverMessages));
    logLine("driver ready");
    return 0;
}

int beginPlugin(HINSTANCE instance) {
    return beginPluginEx(instance, nullptr);
}

int endPlugin(HINSTANCE instance) {
    if (plugin && classExists())
        end();
    SendMessageA(GetBBWnd(), BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(driverWindow),
                 reinterpret_cast<LPARAM>(driverMessages));
    DestroyWindow(driverWindow);
    if (plugin)
        FreeLibrary(plugin);
    plugin = nullptr;
    return UnregisterClassA("FmShellDriver", instance);
}
}
