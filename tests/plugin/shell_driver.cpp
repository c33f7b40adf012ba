// A helper plug-in for the end-to-end tests. blackbox.exe loads it (for the slit, so that it learns
// the slit window); it loads FeedMarquee.dll itself and starts and stops it on command, so that the
// shell's record shows a shut-down while the shell lives on, and so that start and stop can be
// repeated in one shell process while its windows, handles, threads and GDI objects are counted.
//
// Commands arrive as the shell's command strings (message 10901):
//   @FmDriver load PATH | begin | beginSlit | end | cycles N | unload
// and, as a screen reader in the shell's process would act on FeedMarquee's list object:
//   @FmDriver mta      enters the multithreaded apartment on the shell's thread (before "begin")
//   @FmDriver hold     takes the list object on the shell's thread and keeps it
//   @FmDriver threads  reads the held list from worker threads of the apartment (see below)
//   @FmDriver read     asks the held list for its child count: "read 0xHRESULT"
//   @FmDriver release  lets go of the held list: "module loaded" or "module gone" after it
// Each is carried out after the broadcast has returned, and each appends result lines and then
// "done WORD" to driver.log beside this module.
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <oleacc.h>

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

IAccessible* held = nullptr;

std::string hresultText(const char* label, HRESULT result) {
    char line[64];
    std::snprintf(line, sizeof line, "%s 0x%08lx", label, static_cast<unsigned long>(result));
    return line;
}

std::string moduleState() {
    return GetModuleHandleA("FeedMarquee.dll") ? "module loaded" : "module gone";
}

void hold() {
    CoInitialize(nullptr); // S_FALSE (or a change of mode) when the thread has an apartment
    HWND window = FindWindowA("FeedMarquee", nullptr);
    HRESULT result = window ? AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                                         reinterpret_cast<void**>(&held))
                            : E_FAIL;
    logLine(hresultText("hold", result));
}

// Worker threads in the shell's apartment read the list (a reader in the multithreaded apartment
// gets the object itself and calls it on its own threads). One asks while the shell's thread is
// busy and not pumping: "answered while busy 0|1". Two more take and drop references at once,
// many times over; the list must answer sound afterwards: "count after 0xHRESULT N".
volatile LONG shellBusy = 0;
struct Reader {
    IAccessible* list;
    HANDLE ready, go, done;
    HRESULT result;
    long count;
    LONG answeredWhileBusy;
};

DWORD WINAPI readFromWorker(void* data) {
    Reader* reader = static_cast<Reader*>(data);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HWND window = FindWindowA("FeedMarquee", nullptr);
    reader->result = AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                                reinterpret_cast<void**>(&reader->list));
    SetEvent(reader->ready);
    if (SUCCEEDED(reader->result)) {
        WaitForSingleObject(reader->go, 10000);
        reader->result = reader->list->get_accChildCount(&reader->count);
        reader->answeredWhileBusy = shellBusy;
    }
    SetEvent(reader->done);
    CoUninitialize();
    return 0;
}

DWORD WINAPI churnReferences(void* list) {
    IAccessible* object = static_cast<IAccessible*>(list);
    for (int i = 0; i < 200000; ++i) {
        object->AddRef();
        object->Release();
    }
    return 0;
}

bool pumpUntil(HANDLE event, DWORD ms) {
    DWORD start = GetTickCount();
    while (WaitForSingleObject(event, 0) != WAIT_OBJECT_0) {
        if (GetTickCount() - start > ms)
            return false;
        pump(10);
    }
    return true;
}

void readFromThreads() {
    Reader reader = {nullptr,
                     CreateEventA(nullptr, TRUE, FALSE, nullptr),
                     CreateEventA(nullptr, TRUE, FALSE, nullptr),
                     CreateEventA(nullptr, TRUE, FALSE, nullptr),
                     E_FAIL,
                     -1,
                     -1};
    HANDLE worker = CreateThread(nullptr, 0, readFromWorker, &reader, 0, nullptr);
    // The object is handed out through the shell's thread, which pumps meanwhile.
    pumpUntil(reader.ready, 10000);
    logLine(hresultText("taken", reader.result));
    if (SUCCEEDED(reader.result)) {
        InterlockedExchange(&shellBusy, 1);
        SetEvent(reader.go);
        Sleep(600); // busy: no message is handled meanwhile
        InterlockedExchange(&shellBusy, 0);
        pumpUntil(reader.done, 10000);
        logLine(hresultText("answered", reader.result) + " count " + std::to_string(reader.count));
        logLine("answered while busy " + std::to_string(reader.answeredWhileBusy));
        HANDLE churners[2] = {CreateThread(nullptr, 0, churnReferences, reader.list, 0, nullptr),
                              CreateThread(nullptr, 0, churnReferences, reader.list, 0, nullptr)};
        WaitForMultipleObjects(2, churners, TRUE, 60000);
        CloseHandle(churners[0]);
        CloseHandle(churners[1]);
        long count = -1;
        HRESULT after = reader.list->get_accChildCount(&count);
        logLine(hresultText("count after", after) + " " + std::to_string(count));
        reader.list->Release();
    }
    pumpUntil(reader.done, 10000);
    WaitForSingleObject(worker, 10000);
    CloseHandle(worker);
    CloseHandle(reader.ready);
    CloseHandle(reader.go);
    CloseHandle(reader.done);
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
    } else if (word == "mta") {
        logLine(hresultText("mta", CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    } else if (word == "hold") {
        hold();
    } else if (word == "threads") {
        readFromThreads();
    } else if (word == "read") {
        long count = -1;
        logLine(hresultText("read", held ? held->get_accChildCount(&count) : E_POINTER));
    } else if (word == "release") {
        if (held)
            held->Release();
        held = nullptr;
        logLine(moduleState());
    } else if (word == "unload") {
        if (plugin)
            FreeLibrary(plugin);
        plugin = nullptr;
        logLine("unloaded");
        logLine(moduleState());
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
