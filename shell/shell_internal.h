// What the files of the stand-in shell share among themselves; not for plug-ins or other units.
#pragma once
#include <initializer_list>
#include <string>
#include <vector>
#include "shell/shell_record.h"

// ---- Record (shell_core.cpp) ------------------------------------------------------------------
void recordEvent(const char* name, std::initializer_list<std::string> args);
std::string textArg(const char* text);  // the text, or "(null)"
std::string intArg(long long value);    // decimal
std::string boolArg(bool value);        // "true" or "false"
std::string colourText(COLORREF value); // "#rrggbb"

// ---- Settings files (rc_file.cpp) -------------------------------------------------------------
// The trimmed value of the key's first line in the file, false when the file or key is missing.
bool rcLookup(const char* fileName, const char* key, std::string& value);
// Stores the value text under the key (replacing the key's first line or appending a line).
bool rcStore(const char* fileName, const char* key, const std::string& value);
// Every write of rcStore goes through this pointer; tests put in one that fails as a full disk.
extern BOOL(WINAPI* rcWriteFile)(HANDLE file, LPCVOID bytes, DWORD count, DWORD* written,
                                 LPOVERLAPPED overlapped);
bool parseInt(const std::string& text, int& value);
bool parseBool(const std::string& text, bool& value);
bool parseColour(const std::string& text, COLORREF& value);
std::string shellFolder();    // ends in a backslash
std::string executeLogPath(); // empty when BBExecute starts programs

// ---- Menus (menus.cpp) ------------------------------------------------------------------------
enum MenuItemKind { ITEM_COMMAND, ITEM_INT, ITEM_STRING, ITEM_SUBMENU, ITEM_NOP };
const char* menuItemKindName(MenuItemKind kind);

struct MenuItem {
    MenuItemKind kind;
    std::string label;
    std::string command;
    bool checked;
    int value, minimum, maximum; // integer entries
    std::string text;            // text entries
    Menu* submenu;               // submenu entries; owned by this entry
    Menu* owner;                 // the menu the entry belongs to
};

struct Menu {
    std::string title;
    std::string id;
    bool popup;
    std::vector<MenuItem*> items; // owned, in call order
    MenuItem* parentItem;         // the submenu entry that opens this menu, or null for a tree
    unsigned serial;              // creation order, for "newest"
};

bool isLiveMenu(const Menu* menu);
// Finds the entry at a path ("2.5" or "RSS/Feed URL") below root; null with the reason otherwise.
MenuItem* findMenuEntry(Menu* root, const std::string& path, std::string& error);
// The command a pick of item sends: the command, and for integer and text entries a blank and
// the value.
std::string pickCommand(const MenuItem& item, const std::string& value);

// ---- Style (style.cpp) ------------------------------------------------------------------------
void ensureStyleLoaded();

// ---- Windows (shell_windows.cpp) --------------------------------------------------------------
HWND shellMainWindow();
// Asks the GUI thread to open a popup tree (posted, so the plug-in's handler returns first).
void requestMenuPopup(Menu* root);
// Sends a command as 10901 through the shell's main window to the registered windows.
void deliverCommand(const std::string& command);
// Answers the open input box, or the next one that opens; cancel closes it without a value.
std::string answerInputBox(const std::string& text, bool cancel);
bool inputBoxOpen();
bool popupMenuOpen();
// Picks the entry at path of the open popup menu with the keyboard, as a user would.
std::string pickOpenPopup(const std::string& path);
void closeOpenPopup();

// ---- Registered windows (shell_core.cpp) ------------------------------------------------------
// Adds the messages of a 0-terminated list to the window's registration (10001).
void registerWindowMessages(HWND window, const UINT* list);
// Removes them (10002); a null list removes the window altogether.
void unregisterWindowMessages(HWND window, const UINT* list);
// Drops the window from every set of the shell (it was destroyed).
void forgetWindow(HWND window);

// ---- Popup menus and input boxes (shell_popup.cpp) --------------------------------------------
// Opens the tree as a real popup menu at the cursor and sends the pick (main window's thread).
void openPopupMenu(Menu* root);

// Called when an open request was posted, so that a pick can wait for the popup to open.
void notePopupRequested();

// ---- Control channel (control.cpp) ------------------------------------------------------------
// The message that carries a control line to the main window: wParam its sequence number, lParam
// a new std::string the handler deletes. The reply goes to the output set with setControlOutput.
const UINT WM_SHELL_CONTROL = WM_APP + 2;
bool handleControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
// Adds the time one plug-in took to load (LoadLibrary) and to begin, for the "start-time" command.
void notePluginStartTime(double loadMs, double beginMs);
