// An observer plug-in for the system tests. blackbox.exe loads it after FeedMarquee.dll, in the
// same process and on the same GUI thread, so it can ask FeedMarquee's tooltip control what a
// user would see: the tools the paint registered (one per painted entry, with its rectangle and
// the text it was drawn with) and the tip that is showing. Tooltip messages carry pointers, so
// this can only be done from inside the shell's process.
//
// The command string "@SystemProbe tools" (delivered by the shell's broadcast, which sends it and
// returns once it was handled) writes probe.txt beside this module. The tools it lists are those
// registered now: a tool whose entry moved stays registered until the paint after the one that
// moved it, so "@SystemProbe tools repainted" first has FeedMarquee paint once more and then
// lists exactly what is painted. The report:
//   window 0xHANDLE                  FeedMarquee's window, or 0x00000000 when there is none
//   tooltip 0xHANDLE visible=0|1     its tooltip control and whether a tip shows
//   current TEXT                     the text of the tool that is showing (only while one shows)
//   tool LEFT TOP RIGHT BOTTOM TEXT  one line per registered tool, in the control's order
//   end
// Texts are written with "\n", "\t" and "\\" escaped so that each record stays on one line.
// "@SystemProbe tools utf8" is "@SystemProbe tools repainted" with the texts in UTF-8 rather than
// the ANSI code page, for texts in any script.
// "@SystemProbe paint N" writes "paint MICROSECONDS", the median of N whole paints, for benchmarks.
#include <windows.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <cstring>
#include <string>
#include "shell/blackbox_api.h"

namespace {

const char probeClass[] = "SystemProbe";
const UINT probeMessages[] = {BB_BROAM, 0};
HWND shellWindow = nullptr;
HWND probeWindow = nullptr;
HINSTANCE probeModule = nullptr;
// The code page the report's texts are written in.
UINT reportCodePage = CP_ACP;

struct ThreadWindows {
    const char* className;
    HWND found[16];
    int count;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM data) {
    ThreadWindows* windows = reinterpret_cast<ThreadWindows*>(data);
    char name[64];
    if (GetClassNameA(window, name, sizeof name) && std::strcmp(name, windows->className) == 0 &&
        windows->count < 16)
        windows->found[windows->count++] = window;
    return TRUE;
}

ThreadWindows threadWindows(const char* className) {
    ThreadWindows windows = {className, {}, 0};
    EnumThreadWindows(GetCurrentThreadId(), collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

// The tool's text through the wide query: the narrow one is cut at 79 characters by some
// versions of the control.
std::string toolText(HWND tooltip, HWND owner, UINT_PTR id) {
    static WCHAR wide[4096];
    wide[0] = 0;
    TOOLINFOW query = {};
    query.cbSize = sizeof query;
    query.hwnd = owner;
    query.uId = id;
    query.lpszText = wide;
    SendMessageW(tooltip, TTM_GETTEXTW, sizeof wide / sizeof wide[0],
                 reinterpret_cast<LPARAM>(&query));
    static char narrow[4096];
    narrow[0] = '\0';
    WideCharToMultiByte(reportCodePage, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

bool ownsTool(HWND tooltip, HWND owner) {
    int count = static_cast<int>(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TOOLINFOA info = {};
        info.cbSize = sizeof info;
        if (SendMessageA(tooltip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&info)) &&
            info.hwnd == owner)
            return true;
    }
    return false;
}

std::string handleText(HWND window) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
    return text;
}

std::string describeTools() {
    std::string out;
    ThreadWindows plugins = threadWindows("FeedMarquee");
    HWND plugin = plugins.count > 0 ? plugins.found[0] : nullptr;
    out += "window " + handleText(plugin) + "\n";
    // The plug-in's tooltip is the one holding tools of its window; before the first tool is
    // registered it is the only tooltip control of the thread.
    ThreadWindows tooltips = threadWindows("tooltips_class32");
    HWND tooltip = tooltips.count == 1 ? tooltips.found[0] : nullptr;
    for (int i = 0; i < tooltips.count; ++i)
        if (plugin && ownsTool(tooltips.found[i], plugin))
            tooltip = tooltips.found[i];
    if (!tooltip)
        return out + "end\n";
    out += "tooltip " + handleText(tooltip) + " visible=" + (IsWindowVisible(tooltip) ? "1" : "0") +
           "\n";
    TOOLINFOW current = {};
    current.cbSize = sizeof current;
    if (IsWindowVisible(tooltip)) {
        // A tracking tip (shown on command) is no current tool of the control's own; the window's
        // text is the tip it shows.
        if (SendMessageW(tooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&current))) {
            out += "current " + escaped(toolText(tooltip, current.hwnd, current.uId)) + "\n";
        } else {
            static wchar_t shown[4096];
            static char narrow[4096];
            shown[0] = 0;
            narrow[0] = '\0';
            GetWindowTextW(tooltip, shown, sizeof shown / sizeof shown[0]);
            WideCharToMultiByte(CP_ACP, 0, shown, -1, narrow, sizeof narrow, nullptr, nullptr);
            out += "current " + escaped(narrow) + "\n";
        }
    }
    int count = static_cast<int>(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TOOLINFOA info = {};
        info.cbSize = sizeof info;
        if (!SendMessageA(tooltip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&info)))
            break;
        char rect[64];
        std::snprintf(rect, sizeof rect, "tool %ld %ld %ld %ld ", info.rect.left, info.rect.top,
                      info.rect.right, info.rect.bottom);
        out += rect + escaped(toolText(tooltip, info.hwnd, info.uId)) + "\n";
    }
    return out + "end\n";
}

// "paint MICROSECONDS": the median time of count whole paints of FeedMarquee's window.
std::string timePaints(int count) {
    ThreadWindows plugins = threadWindows("FeedMarquee");
    if (plugins.count == 0 || count <= 0 || count > 1000)
        return "end\n";
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        RedrawWindow(plugins.found[0], nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        QueryPerformanceCounter(&after);
        times.push_back(1e6 * static_cast<double>(after.QuadPart - before.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    char line[64];
    std::snprintf(line, sizeof line, "paint %.1f\nend\n", times[times.size() / 2]);
    return line;
}

// Writes the report through a temporary file, so a reader never sees half of it.
void writeReport(const std::string& report) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(probeModule, path, sizeof path);
    std::string folder(path, length);
    folder = folder.substr(0, folder.find_last_of('\\') + 1);
    std::string temporary = folder + "probe.tmp", final = folder + "probe.txt";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return;
    std::fwrite(report.data(), 1, report.size(), file);
    std::fclose(file);
    MoveFileExA(temporary.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BB_BROAM && lParam) {
        const char* text = reinterpret_cast<const char*>(lParam);
        bool utf8 = std::strcmp(text, "@SystemProbe tools utf8") == 0;
        if (utf8 || std::strcmp(text, "@SystemProbe tools repainted") == 0) {
            // A paint sweeps the tools the paint before it left behind, so after this one the
            // tools are exactly the entries as they are painted now.
            ThreadWindows plugins = threadWindows("FeedMarquee");
            if (plugins.count > 0)
                RedrawWindow(plugins.found[0], nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            reportCodePage = utf8 ? CP_UTF8 : CP_ACP;
            writeReport(describeTools());
            reportCodePage = CP_ACP;
        } else if (std::strcmp(text, "@SystemProbe tools") == 0) {
            writeReport(describeTools());
        } else if (std::strncmp(text, "@SystemProbe paint ", 19) == 0) {
            writeReport(timePaints(std::atoi(text + 19)));
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

extern "C" {

__declspec(dllexport) int beginPlugin(HINSTANCE instance) {
    probeModule = instance;
    shellWindow = GetBBWnd();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = probeProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = probeClass;
    if (!RegisterClassA(&windowClass))
        return 1;
    // Never shown: it must not stand in the way of the mouse or of WindowFromPoint.
    probeWindow = CreateWindowExA(WS_EX_TOOLWINDOW, probeClass, "", WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, instance, nullptr);
    if (!probeWindow)
        return 1;
    SendMessageA(shellWindow, BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(probeWindow),
                 reinterpret_cast<LPARAM>(probeMessages));
    return 0;
}

__declspec(dllexport) int endPlugin(HINSTANCE instance) {
    SendMessageA(shellWindow, BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(probeWindow),
                 reinterpret_cast<LPARAM>(probeMessages));
    DestroyWindow(probeWindow);
    return UnregisterClassA(probeClass, instance);
}

__declspec(dllexport) const char* pluginInfo(int) {
    return "SystemProbe";
}

} // extern "C"
