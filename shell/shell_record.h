// The stand-in shell's own interface, beyond the exports of blackbox_api.h: what blackbox.exe,
// its tests and the tests of other units use to watch and drive the shell in-process. Everything
// here runs on the shell's GUI thread unless a line says otherwise.
#pragma once
#include <string>
#include <vector>
#include "shell/blackbox_api.h"

// ---- The record -------------------------------------------------------------------------------
// One event, oldest first: an export called by a plug-in (name = the export's name, args = its
// arguments as text: texts as given, null texts as "(null)", handles as handleText gives them,
// bools as "true"/"false") or a message the shell's windows received (name = "message", args[0] =
// the number, then wParam and lParam as text; the registration list as "10103,10881,10901").
struct ShellRecordEntry {
    std::string name;
    std::vector<std::string> args;
};
std::vector<ShellRecordEntry> shellRecord(); // a copy; thread-safe
void clearShellRecord();                     // thread-safe
// The entry as one line: the name and the arguments separated by tabs (control characters
// inside a text shown as \xNN).
std::string recordLine(const ShellRecordEntry& entry);
// How handles appear in the record, the menu dump and the control channel: "0x" and 8 hex digits.
std::string handleText(const void* handle);

// ---- Folders and options ----------------------------------------------------------------------
// The folder GetBlackboxPath reports (with or without the trailing backslash); null or empty
// returns to the program's own folder. For tests that need a temporary shell folder.
void setShellFolder(const char* folder);
// With a path, BBExecute appends one line per call (all arguments, tab-separated) to that file
// and starts nothing; null makes it start programs again.
void setExecuteLog(const char* path);

// ---- Registered windows -----------------------------------------------------------------------
// Sends message to every window registered for it (in registration order); returns how many.
int broadcastMessage(UINT message, WPARAM wParam, LPARAM lParam);
// Sends command as 10901 (lParam the text) to the registered windows; returns how many.
int broadcastCommand(const char* command);
bool isRegistered(HWND window, UINT message);
std::vector<HWND> registeredWindows(); // every window with at least one message, oldest first
bool isSticky(HWND window);
std::vector<HWND> stickyWindows();

// ---- Menus ------------------------------------------------------------------------------------
// The live trees (menus not attached to another menu), oldest first, and all live menus.
std::vector<Menu*> liveRootMenus();
int liveMenuCount();
// The tree of the latest ShowMenu if it still exists, else the newest live tree, else null.
Menu* currentMenuTree();
// The tree as text, one line per menu and entry (format in shell/README.md).
std::string dumpMenuTree(const Menu* root);
// Finds the entry at path in the current tree ("2.5" by 1-based positions, or labels separated
// by '/') and sends its command as 10901 through the shell window, with value appended for
// integer and text entries. Returns "" on success, otherwise why nothing was sent.
std::string pickMenuEntry(const std::string& path, const std::string& value);
// How many times ShowMenu was asked to open a popup tree, and to refresh without opening.
int menuOpenRequests();

// ---- Style ------------------------------------------------------------------------------------
// Reads the style file (shellstyle.rc in the shell's folder) over the built-in defaults; with
// announce, broadcasts 10881 to the registered windows afterwards.
void reloadStyle(bool announce);
std::string styleFilePath();

// ---- Windows ----------------------------------------------------------------------------------
// Creates the shell's hidden main window (GetBBWnd) and the slit; false when that failed.
// destroyShellWindows releases what the slit still holds and destroys both.
bool createShellWindows(HINSTANCE instance);
void destroyShellWindows();
// With real menus on (blackbox.exe turns them on), ShowMenu of a popup tree opens a Win32 popup
// menu once the GUI thread gets to it; off (the default), the request is only counted and
// recorded, so unit tests that pump messages never sit in a modal menu.
void enableRealMenus(bool enable);
HWND shellSlitWindow();
std::vector<HWND> slitChildren();
// Writes the window's client area as a 24-bit BMP file; "" on success, else the reason.
std::string saveWindowBitmap(HWND window, const char* path);

// ---- Control channel --------------------------------------------------------------------------
// Carries out one control line (commands in shell/README.md) and returns the reply lines, the
// last of which is "ok" or "error <reason>". Sets quit when the line asks the shell to end.
std::vector<std::string> runControlLine(const std::string& line, bool& quit);
// For a reader thread: hands the line to the GUI thread, which carries it out and writes the
// reply lines (the terminator carrying the line's sequence number, 1 for the first line) to the
// output handle. Returns the sequence number, 0 when the shell has no window. Thread-safe.
int postControlLine(const std::string& line);
void setControlOutput(HANDLE output);
