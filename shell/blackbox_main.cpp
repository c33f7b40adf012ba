// blackbox.exe: the stand-in shell. It creates its windows, loads the plug-in DLLs named on the
// command line (or, without any, those listed in plugins.rc in its folder), runs the message loop
// and, at the end, shuts every plug-in down and frees it. With --control it reads control lines
// from standard input (shell/README.md).
//
//   blackbox.exe [--control] [--exec-log FILE] [[--slit] PLUGIN.dll]...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "shell/shell_internal.h"

namespace {

typedef int (*BeginPlugin)(HINSTANCE);
typedef int (*BeginPluginEx)(HINSTANCE, HWND);
typedef int (*EndPlugin)(HINSTANCE);

struct LoadedPlugin {
    std::string path;
    HMODULE module;
};
std::vector<LoadedPlugin> plugins;

struct PluginRequest {
    std::string path;
    bool inSlit;
};

void complain(const std::string& text) {
    std::string line = "blackbox: " + text + "\n";
    DWORD written;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE)
        WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

bool isAbsolute(const std::string& path) {
    return (path.size() > 1 && path[1] == ':') ||
           (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

// plugins.rc: one plug-in per line, its path absolute or relative to the shell's folder, with
// "slit " in front for a plug-in that is to sit in the slit; "#" begins a comment line.
std::vector<PluginRequest> readPluginsFile() {
    std::vector<PluginRequest> requests;
    std::string path = shellFolder() + "plugins.rc";
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return requests;
    std::string content;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    std::fclose(file);
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        std::string line =
            trimmed(content.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? content.size() : end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        bool inSlit = false;
        if (line.size() > 5 && _strnicmp(line.c_str(), "slit ", 5) == 0) {
            inSlit = true;
            line = trimmed(line.substr(5));
        }
        requests.push_back(PluginRequest{isAbsolute(line) ? line : shellFolder() + line, inSlit});
    }
    return requests;
}

// Milliseconds since an earlier performance-counter reading.
double millisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

void loadPlugin(const PluginRequest& request) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HMODULE module = LoadLibraryA(request.path.c_str());
    double loadMs = millisecondsSince(start);
    if (!module) {
        recordEvent("plugin-failed", {request.path, "load"});
        complain("cannot load " + request.path);
        return;
    }
    BeginPlugin begin = reinterpret_cast<BeginPlugin>(
        reinterpret_cast<void*>(GetProcAddress(module, "beginPlugin")));
    BeginPluginEx beginEx = reinterpret_cast<BeginPluginEx>(
        reinterpret_cast<void*>(GetProcAddress(module, "beginPluginEx")));
    int result = 1;
    QueryPerformanceCounter(&start);
    if (request.inSlit && beginEx) {
        recordEvent("plugin-begin", {request.path, "beginPluginEx"});
        result = beginEx(module, shellSlitWindow());
    } else if (begin) {
        recordEvent("plugin-begin", {request.path, "beginPlugin"});
        result = begin(module);
    } else {
        complain(request.path + " has no beginPlugin");
    }
    notePluginStartTime(loadMs, millisecondsSince(start));
    if (result != 0) {
        // A plug-in that did not start is not shut down: it holds nothing to release.
        recordEvent("plugin-failed", {request.path, intArg(result)});
        complain("plug-in " + request.path + " did not start");
        FreeLibrary(module);
        return;
    }
    plugins.push_back(LoadedPlugin{request.path, module});
}

void unloadPlugins() {
    while (!plugins.empty()) {
        LoadedPlugin plugin = plugins.back();
        plugins.pop_back();
        EndPlugin end = reinterpret_cast<EndPlugin>(
            reinterpret_cast<void*>(GetProcAddress(plugin.module, "endPlugin")));
        recordEvent("plugin-end", {plugin.path});
        if (end)
            end(plugin.module);
        FreeLibrary(plugin.module);
    }
}

// Reads standard input line by line and hands each line to the GUI thread; the end of the input
// ends the shell, so a test driver that goes away does not leave it running.
DWORD WINAPI readControlLines(LPVOID) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            postControlLine(line);
        }
    }
    if (!pending.empty())
        postControlLine(pending);
    postControlLine("quit");
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    bool control = false;
    std::vector<PluginRequest> requests;
    bool nextInSlit = false;
    for (int i = 1; i < __argc; ++i) {
        std::string arg = __argv[i];
        if (arg == "--control") {
            control = true;
        } else if (arg == "--exec-log" && i + 1 < __argc) {
            setExecuteLog(__argv[++i]);
        } else if (arg == "--slit") {
            nextInSlit = true;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            complain("unknown option " + arg);
            return 2;
        } else {
            requests.push_back(PluginRequest{arg, nextInSlit});
            nextInSlit = false;
        }
    }
    if (!createShellWindows(instance)) {
        complain("cannot create the shell's windows");
        return 1;
    }
    enableRealMenus(true);
    ensureStyleLoaded();
    if (requests.empty())
        requests = readPluginsFile();
    for (const PluginRequest& request : requests)
        loadPlugin(request);

    if (control) {
        setControlOutput(GetStdHandle(STD_OUTPUT_HANDLE));
        HANDLE reader = CreateThread(nullptr, 0, readControlLines, nullptr, 0, nullptr);
        if (reader)
            CloseHandle(reader);
        // The first line tells a driver that the plug-ins have started and lines are read.
        std::string ready = "ready\n";
        DWORD written;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), ready.data(), static_cast<DWORD>(ready.size()),
                  &written, nullptr);
    }

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    unloadPlugins();
    destroyShellWindows();
    return 0;
}
