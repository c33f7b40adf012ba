// What the plug-in frame's tests share: real temporary folders, a stand-in module whose file lies
// in such a folder (so the plug-in's own folder is a real, chosen place), file helpers and a
// bounded message pump.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

// Copies the stub module into folder and loads it; its instance stands for the plug-in's module.
HINSTANCE loadModuleIn(const std::string& folder);

std::vector<std::string> fileLines(const std::string& path);
// The keys of the file's lines: each line up to and including its first colon.
std::vector<std::string> fileKeys(const std::string& path);

// Dispatches this thread's messages for about ms milliseconds.
void pumpMessages(DWORD ms);

// Pumps this thread's messages until wanted() holds; false once timeoutMs has passed first.
template <typename Wanted> bool waitFor(Wanted wanted, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!wanted()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        pumpMessages(30);
    }
    return true;
}

// ---- A plug-in started in this process against the stand-in shell's real functions ----------
struct MessageBoxCall {
    HWND owner;
    std::string text, caption;
    UINT style;
};
// Every box the plug-in showed since the last clear (answered at once, never on screen).
extern std::vector<MessageBoxCall> messageBoxes;
// Records a box in messageBoxes and answers it with IDOK; PluginRun installs it.
int WINAPI recordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

struct PluginRun {
    std::string pluginFolder, shellFolder, executeLog;
    HINSTANCE module = nullptr;

    // Temporary folders, the stand-in module, the shell's windows; boxes and BBExecute recorded.
    PluginRun();
    ~PluginRun(); // ends a running plug-in, removes the folders
    // Writes rcText as the plug-in folder's feedmarquee.rc (none when null).
    void settingsFile(const char* rcText);
    int begin();
    int beginSlit();
    int end();
    bool running = false;
};

// The index of the first record entry at or after from whose line (name and arguments joined by
// tabs) starts with prefix; -1 when there is none.
int findRecord(const std::string& prefix, int from = 0);
// How many record entries start with prefix.
int countRecord(const std::string& prefix);

// Presses the left button in the middle of window, moves the mouse by (dx, dy) in steps and
// releases it, as real input (with Alt held when alt); then lets the window handle it all.
void dragWindow(HWND window, int dx, int dy, bool alt);
// Moves the mouse to the screen point (x, y) as real input and lets the windows react.
void moveMouseTo(int x, int y);
// Clicks the right button in the middle of window as real input.
void rightClickWindow(HWND window);
