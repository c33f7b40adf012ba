// The control channel: one line per command, carried out on the GUI thread. Commands and the
// reply format are described in shell/README.md. A reply is any number of data lines beginning
// with "- " and one terminator line, "ok" or "error <reason>" (with the line's sequence number
// after the word when the line came through postControlLine).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "shell/shell_internal.h"

namespace {

HANDLE controlOutput = INVALID_HANDLE_VALUE;
std::atomic<int> nextSequence{1};

std::string firstWord(std::string& rest) {
    size_t start = rest.find_first_not_of(' ');
    if (start == std::string::npos) {
        rest.clear();
        return "";
    }
    size_t end = rest.find(' ', start);
    std::string word = rest.substr(start, end == std::string::npos ? end : end - start);
    rest = end == std::string::npos ? "" : rest.substr(end + 1);
    return word;
}

long numberArg(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 0);
}

HWND windowArg(const std::string& text) {
    std::vector<HWND> windows = registeredWindows();
    if (text.empty() || text == "plugin")
        return windows.empty() ? nullptr : windows.front();
    if (text == "slit")
        return shellSlitWindow();
    if (text == "shell")
        return shellMainWindow();
    if (text[0] == '#') {
        long index = std::atol(text.c_str() + 1);
        return index >= 1 && static_cast<size_t>(index) <= windows.size() ? windows[index - 1]
                                                                          : nullptr;
    }
    HWND window =
        reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoul(text.c_str(), nullptr, 0)));
    return IsWindow(window) ? window : nullptr;
}

std::string windowLine(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s %ld %ld %ld %ld visible=%d topmost=%d layered=%d parent=%s",
                  handleText(window).c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top,
                  IsWindowVisible(window) ? 1 : 0, (exStyle & WS_EX_TOPMOST) ? 1 : 0,
                  (exStyle & WS_EX_LAYERED) ? 1 : 0, handleText(GetParent(window)).c_str());
    std::string text = line;
    if (exStyle & WS_EX_LAYERED) {
        typedef BOOL(WINAPI * GetAttributes)(HWND, COLORREF*, BYTE*, DWORD*);
        GetAttributes get = reinterpret_cast<GetAttributes>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("user32.dll"), "GetLayeredWindowAttributes")));
        BYTE alpha = 255;
        DWORD flags = 0;
        if (get && get(window, nullptr, &alpha, &flags))
            text += " alpha=" + std::to_string((flags & LWA_ALPHA) ? alpha : 255);
    }
    return text;
}

BOOL CALLBACK findDialogWindow(HWND window, LPARAM data) {
    char name[32];
    if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) &&
        std::strcmp(name, "#32770") == 0) {
        *reinterpret_cast<HWND*>(data) = window;
        return FALSE;
    }
    return TRUE;
}

// The topmost visible dialog (message box or common dialog) of the shell's GUI thread.
HWND findDialog() {
    HWND found = nullptr;
    DWORD thread = GetWindowThreadProcessId(shellMainWindow(), nullptr);
    EnumThreadWindows(thread, findDialogWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK listControl(HWND child, LPARAM data) {
    char name[64], text[256];
    GetClassNameA(child, name, sizeof name);
    GetWindowTextA(child, text, sizeof text);
    std::string line = "- " + std::to_string(GetDlgCtrlID(child)) + "\t" + name + "\t" + text +
                       "\t" + (IsWindowVisible(child) ? "visible" : "hidden");
    reinterpret_cast<std::vector<std::string>*>(data)->push_back(line);
    return TRUE;
}

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK findControlWindow(HWND child, LPARAM data) {
    ControlSearch* search = reinterpret_cast<ControlSearch*>(data);
    if (GetDlgCtrlID(child) == search->id) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

// The dialog's control with that id: a direct child first, else the first descendant (common
// dialogs nest some of their fields in other controls).
HWND findControl(HWND dialog, int id) {
    if (HWND direct = GetDlgItem(dialog, id))
        return direct;
    ControlSearch search = {id, nullptr};
    EnumChildWindows(dialog, findControlWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void listDialog(HWND dialog, std::vector<std::string>& out) {
    char title[256];
    GetWindowTextA(dialog, title, sizeof title);
    out.push_back(std::string("- dialog ") + handleText(dialog) + " " + title);
    EnumChildWindows(dialog, listControl, reinterpret_cast<LPARAM>(&out));
}

std::string mouseCommand(std::string rest) {
    std::string action = firstWord(rest);
    long x = numberArg(firstWord(rest)), y = numberArg(firstWord(rest));
    HWND window = windowArg(firstWord(rest));
    if (!window)
        return "no such window";
    POINT point = {x, y}; // given in the window's client coordinates
    ClientToScreen(window, &point);
    if (action == "leave") {
        // Away from every window of the shell's: the bottom-left corner of the virtual screen.
        SetCursorPos(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN) +
                                                              GetSystemMetrics(SM_CYVIRTUALSCREEN) -
                                                              1);
        return "";
    }
    SetCursorPos(point.x, point.y);
    LPARAM screen = MAKELPARAM(static_cast<short>(point.x), static_cast<short>(point.y));
    LRESULT hit = SendMessageA(window, WM_NCHITTEST, 0, screen);
    bool client = hit == HTCLIENT;
    LPARAM where = client ? MAKELPARAM(static_cast<short>(x), static_cast<short>(y)) : screen;
    WPARAM code = client ? 0 : static_cast<WPARAM>(hit);
    auto send = [&](UINT clientMessage, UINT frameMessage) {
        SendMessageA(window, client ? clientMessage : frameMessage, code, where);
    };
    if (action == "move") {
        send(WM_MOUSEMOVE, WM_NCMOUSEMOVE);
    } else if (action == "dblclick") {
        send(WM_LBUTTONDBLCLK, WM_NCLBUTTONDBLCLK);
    } else if (action == "rclick") {
        // Only the release: it is what opens menus, and a press on a caption enters the system's
        // own loop that waits for a real release.
        send(WM_RBUTTONUP, WM_NCRBUTTONUP);
    } else if (action == "ldown") {
        // Posted: a press on a caption enters the system's move loop, which the next "lup" ends.
        PostMessageA(window, client ? WM_LBUTTONDOWN : WM_NCLBUTTONDOWN, code, where);
    } else if (action == "lup") {
        ScreenToClient(window, &point);
        PostMessageA(window, WM_LBUTTONUP, 0,
                     MAKELPARAM(static_cast<short>(point.x), static_cast<short>(point.y)));
    } else {
        return "unknown mouse action " + action;
    }
    return "";
}

std::string fileLines(const std::string& path, std::vector<std::string>& out) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return "";
    std::string line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == '\n') {
            out.push_back("- " + line);
            line.clear();
        } else if (c != '\r') {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty())
        out.push_back("- " + line);
    std::fclose(file);
    return "";
}

} // namespace

namespace {
double pluginLoadMs = 0;
double pluginBeginMs = 0;
} // namespace

void notePluginStartTime(double loadMs, double beginMs) {
    pluginLoadMs += loadMs;
    pluginBeginMs += beginMs;
}

std::vector<std::string> runControlLine(const std::string& line, bool& quit) {
    std::vector<std::string> out;
    std::string rest = line;
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n'))
        rest.pop_back();
    std::string command = firstWord(rest);
    std::string error;

    if (command.empty() || command == "ping") {
    } else if (command == "quit") {
        quit = true;
    } else if (command == "broadcast") {
        out.push_back("- delivered " + std::to_string(broadcastCommand(rest.c_str())));
    } else if (command == "message") {
        UINT number = static_cast<UINT>(numberArg(firstWord(rest)));
        WPARAM wParam = static_cast<WPARAM>(numberArg(firstWord(rest)));
        LPARAM lParam = static_cast<LPARAM>(numberArg(firstWord(rest)));
        out.push_back("- delivered " + std::to_string(broadcastMessage(number, wParam, lParam)));
    } else if (command == "menu") {
        std::string dump = dumpMenuTree(currentMenuTree());
        size_t start = 0, end;
        while ((end = dump.find('\n', start)) != std::string::npos) {
            out.push_back("- " + dump.substr(start, end - start));
            start = end + 1;
        }
    } else if (command == "menus") {
        out.push_back("- trees " + std::to_string(liveRootMenus().size()) + " menus " +
                      std::to_string(liveMenuCount()) + " opened " +
                      std::to_string(menuOpenRequests()));
    } else if (command == "pick") {
        size_t equals = rest.find('=');
        error = pickMenuEntry(rest.substr(0, equals),
                              equals == std::string::npos ? "" : rest.substr(equals + 1));
    } else if (command == "popup-pick") {
        error = pickOpenPopup(rest);
    } else if (command == "popup-close") {
        closeOpenPopup();
    } else if (command == "answer") {
        error = answerInputBox(rest, false);
    } else if (command == "answer-cancel") {
        error = answerInputBox("", true);
    } else if (command == "state") {
        out.push_back(std::string("- popup ") + (popupMenuOpen() ? "open" : "closed"));
        out.push_back(std::string("- inputbox ") + (inputBoxOpen() ? "open" : "closed"));
        HWND dialog = findDialog();
        out.push_back("- dialog " + (dialog ? handleText(dialog) : std::string("none")));
    } else if (command == "start-time") {
        char text[96];
        snprintf(text, sizeof text, "- load %.3f ms begin %.3f ms", pluginLoadMs, pluginBeginMs);
        out.push_back(text);
    } else if (command == "reload-style") {
        reloadStyle(true);
    } else if (command == "screenshot") {
        HWND window = windowArg(firstWord(rest));
        error = window ? saveWindowBitmap(window, rest.c_str()) : "no such window";
    } else if (command == "record") {
        for (const ShellRecordEntry& entry : shellRecord())
            out.push_back("- " + recordLine(entry));
    } else if (command == "record-clear") {
        clearShellRecord();
    } else if (command == "exec-log") {
        if (executeLogPath().empty())
            error = "no execute log";
        else
            fileLines(executeLogPath(), out);
    } else if (command == "mouse") {
        error = mouseCommand(rest);
    } else if (command == "cursor") {
        long x = numberArg(firstWord(rest)), y = numberArg(firstWord(rest));
        SetCursorPos(x, y);
    } else if (command == "send" || command == "post") {
        HWND window = windowArg(firstWord(rest));
        UINT number = static_cast<UINT>(numberArg(firstWord(rest)));
        WPARAM wParam = static_cast<WPARAM>(numberArg(firstWord(rest)));
        LPARAM lParam = static_cast<LPARAM>(numberArg(firstWord(rest)));
        if (!window)
            error = "no such window";
        else if (command == "send")
            out.push_back("- result " +
                          std::to_string(SendMessageA(window, number, wParam, lParam)));
        else
            PostMessageA(window, number, wParam, lParam);
    } else if (command == "window") {
        HWND window = windowArg(firstWord(rest));
        if (window)
            out.push_back("- " + windowLine(window));
        else
            error = "no such window";
    } else if (command == "windows") {
        for (HWND window : registeredWindows()) {
            std::string messages;
            for (UINT m : {BB_RECONFIGURE, BB_REDRAWGUI, BB_BROAM})
                if (isRegistered(window, m))
                    messages += " " + std::to_string(m);
            out.push_back("- " + handleText(window) + messages);
        }
    } else if (command == "sticky") {
        for (HWND window : stickyWindows())
            out.push_back("- " + handleText(window));
    } else if (command == "slit") {
        out.push_back("- " + windowLine(shellSlitWindow()));
        for (HWND window : slitChildren())
            out.push_back("- child " + handleText(window));
    } else if (command == "dialog") {
        std::string action = firstWord(rest);
        HWND dialog = findDialog();
        if (!dialog) {
            error = "no dialog";
        } else if (action == "list") {
            listDialog(dialog, out);
        } else if (action == "ok" || action == "cancel" || action == "click") {
            int id = action == "ok" ? IDOK : action == "cancel" ? IDCANCEL : atoi(rest.c_str());
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
        } else if (action == "set") {
            int id = static_cast<int>(numberArg(firstWord(rest)));
            HWND control = findControl(dialog, id);
            if (!control)
                error = "no control " + std::to_string(id);
            else
                SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(rest.c_str()));
        } else {
            error = "unknown dialog action " + action;
        }
    } else if (command == "style") {
        for (int i = 1; i <= 6; ++i) {
            const HostStyleItem* s = static_cast<const HostStyleItem*>(GetSettingPtr(i));
            out.push_back("- " + std::to_string(i) + " gradient=" +
                          std::to_string(s->gradientType) + " from=" + colourText(s->colorFrom) +
                          " to=" + colourText(s->colorTo) + " text=" + colourText(s->textColor) +
                          " fontHeight=" + std::to_string(s->fontHeight) + " font=" + s->faceName);
        }
        out.push_back("- 12 " + std::to_string(*static_cast<int*>(GetSettingPtr(12))));
        out.push_back("- 14 " + std::to_string(*static_cast<int*>(GetSettingPtr(14))));
    } else {
        error = "unknown command " + command;
    }
    out.push_back(error.empty() ? "ok" : "error " + error);
    return out;
}

int postControlLine(const std::string& line) {
    HWND window = shellMainWindow();
    if (!window)
        return 0;
    int sequence = nextSequence++;
    std::string* copy = new std::string(line);
    if (!PostMessageA(window, WM_SHELL_CONTROL, static_cast<WPARAM>(sequence),
                      reinterpret_cast<LPARAM>(copy))) {
        delete copy;
        return 0;
    }
    return sequence;
}

void setControlOutput(HANDLE output) {
    controlOutput = output;
}

bool handleControlMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message != WM_SHELL_CONTROL)
        return false;
    std::string* line = reinterpret_cast<std::string*>(lParam);
    bool quit = false;
    std::vector<std::string> reply = runControlLine(*line, quit);
    delete line;
    // The terminator names the line it answers: a command that waits on a modal box of a
    // plug-in's may be answered after later commands that close that box.
    std::string& last = reply.back();
    std::string sequence = std::to_string(static_cast<int>(wParam));
    last = last == "ok" ? "ok " + sequence : "error " + sequence + last.substr(5);
    std::string text;
    for (const std::string& l : reply)
        text += l + "\n";
    if (controlOutput != INVALID_HANDLE_VALUE && controlOutput) {
        DWORD written = 0;
        WriteFile(controlOutput, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        FlushFileBuffers(controlOutput);
    }
    if (quit) {
        // Close what a user could have open, so that no modal loop outlives the shell's.
        closeOpenPopup();
        if (inputBoxOpen())
            answerInputBox("", true);
        PostQuitMessage(0);
    }
    result = 0;
    return true;
}
