// The shell's process-wide records: the record of calls and messages, the shell folder, the
// registered and the sticky windows; and the exports that work on them or on the screen alone
// (GetBBWnd, MakeSticky, RemoveSticky, SnapWindowToEdge, BBExecute).
#include <algorithm>
#include <cstdio>
#include <mutex>
#include "shell/shell_internal.h"
#include <shellapi.h>

namespace {

// The record is bounded so that a shell left running for days does not grow without end: when
// it is full the older half goes.
const size_t recordLimit = 200000;
std::mutex recordLock;
std::vector<ShellRecordEntry> recordEntries;

std::string folderOverride;
std::string executeLogFile;

struct Registration {
    HWND window;
    std::vector<UINT> messages;
};
std::vector<Registration> registrations;
std::vector<HWND> sticky;

} // namespace

// ---- Record -----------------------------------------------------------------------------------

void recordEvent(const char* name, std::initializer_list<std::string> args) {
    std::lock_guard<std::mutex> hold(recordLock);
    if (recordEntries.size() >= recordLimit)
        recordEntries.erase(recordEntries.begin(), recordEntries.begin() + recordLimit / 2);
    recordEntries.push_back(ShellRecordEntry{name, std::vector<std::string>(args)});
}

std::vector<ShellRecordEntry> shellRecord() {
    std::lock_guard<std::mutex> hold(recordLock);
    return recordEntries;
}

void clearShellRecord() {
    std::lock_guard<std::mutex> hold(recordLock);
    recordEntries.clear();
}

namespace {
void appendEscaped(std::string& out, const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
}
} // namespace

std::string recordLine(const ShellRecordEntry& entry) {
    std::string line = entry.name;
    for (const std::string& arg : entry.args) {
        line += '\t';
        appendEscaped(line, arg);
    }
    return line;
}

std::string handleText(const void* handle) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

std::string textArg(const char* text) {
    return text ? std::string(text) : std::string("(null)");
}
std::string intArg(long long value) {
    return std::to_string(value);
}
std::string boolArg(bool value) {
    return value ? "true" : "false";
}

// ---- Folder and options -----------------------------------------------------------------------

void setShellFolder(const char* folder) {
    folderOverride = folder ? folder : "";
    if (!folderOverride.empty() && folderOverride.back() != '\\' && folderOverride.back() != '/')
        folderOverride += '\\';
}

std::string shellFolder() {
    if (!folderOverride.empty())
        return folderOverride;
    char path[MAX_PATH * 2];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return "";
    std::string folder(path, length);
    size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

void setExecuteLog(const char* path) {
    executeLogFile = path ? path : "";
}
std::string executeLogPath() {
    return executeLogFile;
}

// ---- Registered windows -----------------------------------------------------------------------

void registerWindowMessages(HWND window, const UINT* list) {
    auto found = std::find_if(registrations.begin(), registrations.end(),
                              [&](const Registration& r) { return r.window == window; });
    if (found == registrations.end()) {
        registrations.push_back(Registration{window, {}});
        found = registrations.end() - 1;
    }
    // The list ends in 0; a plug-in without one would make the shell read on forever, so stop at
    // a sensible bound.
    for (int i = 0; list && list[i] && i < 256; ++i)
        if (std::find(found->messages.begin(), found->messages.end(), list[i]) ==
            found->messages.end())
            found->messages.push_back(list[i]);
}

void unregisterWindowMessages(HWND window, const UINT* list) {
    auto found = std::find_if(registrations.begin(), registrations.end(),
                              [&](const Registration& r) { return r.window == window; });
    if (found == registrations.end())
        return;
    if (!list) {
        registrations.erase(found);
        return;
    }
    for (int i = 0; list[i] && i < 256; ++i)
        found->messages.erase(std::remove(found->messages.begin(), found->messages.end(), list[i]),
                              found->messages.end());
    if (found->messages.empty())
        registrations.erase(found);
}

void forgetWindow(HWND window) {
    registrations.erase(std::remove_if(registrations.begin(), registrations.end(),
                                       [&](const Registration& r) { return r.window == window; }),
                        registrations.end());
    sticky.erase(std::remove(sticky.begin(), sticky.end(), window), sticky.end());
}

bool isRegistered(HWND window, UINT message) {
    for (const Registration& r : registrations)
        if (r.window == window)
            return std::find(r.messages.begin(), r.messages.end(), message) != r.messages.end();
    return false;
}

std::vector<HWND> registeredWindows() {
    std::vector<HWND> windows;
    for (const Registration& r : registrations)
        windows.push_back(r.window);
    return windows;
}

int broadcastMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // A receiver may register or unregister while it handles the message, so walk a copy.
    std::vector<HWND> receivers;
    for (const Registration& r : registrations)
        if (std::find(r.messages.begin(), r.messages.end(), message) != r.messages.end())
            receivers.push_back(r.window);
    int delivered = 0;
    for (HWND window : receivers) {
        if (!IsWindow(window)) {
            // Destroyed without unregistering: drop it before its handle is given to another.
            forgetWindow(window);
            continue;
        }
        if (!isRegistered(window, message))
            continue;
        SendMessageA(window, message, wParam, lParam);
        ++delivered;
    }
    return delivered;
}

int broadcastCommand(const char* command) {
    if (!command)
        return 0;
    std::string copy(command); // the receivers see a text that stays put while they run
    recordEvent("broadcast", {copy});
    return broadcastMessage(BB_BROAM, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

bool isSticky(HWND window) {
    return std::find(sticky.begin(), sticky.end(), window) != sticky.end();
}
std::vector<HWND> stickyWindows() {
    return sticky;
}

// ---- Exports ----------------------------------------------------------------------------------

extern "C" {

HWND GetBBWnd(void) {
    recordEvent("GetBBWnd", {});
    return shellMainWindow();
}

void MakeSticky(HWND window) {
    recordEvent("MakeSticky", {handleText(window)});
    if (window && !isSticky(window))
        sticky.push_back(window);
}

void RemoveSticky(HWND window) {
    recordEvent("RemoveSticky", {handleText(window)});
    sticky.erase(std::remove(sticky.begin(), sticky.end(), window), sticky.end());
}

// Moves the proposed position so that an edge within distance of an edge of the work area of
// the window's monitor lies on it. The size is never changed. flags is accepted for the callers'
// sake; the stand-in snaps the same way for every value.
void SnapWindowToEdge(WINDOWPOS* position, LPARAM distance, UINT flags) {
    recordEvent("SnapWindowToEdge", {position ? handleText(position->hwnd) : "(null)",
                                     intArg(distance), intArg(flags)});
    if (!position || (position->flags & SWP_NOMOVE) || distance <= 0)
        return;
    int width = position->cx, height = position->cy;
    if (position->flags & SWP_NOSIZE) {
        RECT current;
        if (!position->hwnd || !GetWindowRect(position->hwnd, &current))
            return;
        width = current.right - current.left;
        height = current.bottom - current.top;
    }
    RECT proposed = {position->x, position->y, position->x + width, position->y + height};
    HMONITOR monitor = MonitorFromRect(&proposed, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info;
    info.cbSize = sizeof info;
    RECT work;
    if (monitor && GetMonitorInfoA(monitor, &info))
        work = info.rcWork;
    else if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        return;
    long reach = static_cast<long>(distance);
    if (std::labs(proposed.left - work.left) < reach)
        position->x = work.left;
    else if (std::labs(proposed.right - work.right) < reach)
        position->x = work.right - width;
    if (std::labs(proposed.top - work.top) < reach)
        position->y = work.top;
    else if (std::labs(proposed.bottom - work.bottom) < reach)
        position->y = work.bottom - height;
}

BOOL BBExecute(HWND owner, const char* verb, const char* file, const char* arguments,
               const char* directory, int showCommand, bool noErrorMessages) {
    recordEvent("BBExecute", {handleText(owner), textArg(verb), textArg(file), textArg(arguments),
                              textArg(directory), intArg(showCommand), boolArg(noErrorMessages)});
    if (!executeLogFile.empty()) {
        FILE* log = std::fopen(executeLogFile.c_str(), "ab");
        if (!log)
            return FALSE;
        std::string line = recordLine(
            ShellRecordEntry{"BBExecute",
                             {handleText(owner), textArg(verb), textArg(file), textArg(arguments),
                              textArg(directory), intArg(showCommand), boolArg(noErrorMessages)}});
        line += "\r\n";
        bool ok = std::fwrite(line.data(), 1, line.size(), log) == line.size();
        ok = std::fclose(log) == 0 && ok;
        return ok ? TRUE : FALSE;
    }
    if (!file || !*file)
        return FALSE;
    HINSTANCE result = ShellExecuteA(owner, verb, file, arguments, directory, showCommand);
    if (reinterpret_cast<INT_PTR>(result) > 32)
        return TRUE;
    if (!noErrorMessages) {
        std::string text = std::string("Could not open \"") + file + "\".";
        MessageBoxA(owner, text.c_str(), "blackbox", MB_OK | MB_ICONWARNING | MB_TOPMOST);
    }
    return FALSE;
}

} // extern "C"
