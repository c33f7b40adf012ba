// The functions that the shell blackbox.exe exports to its plug-ins, and the numbered messages
// between them. The plug-in DLL imports these from blackbox.exe through an import library; the
// stand-in shell of this project defines them. C linkage, undecorated names, the C calling
// convention (the caller removes the arguments).
#pragma once
#include <windows.h>

// The shell's 300-byte style record. A plug-in reads only textColor, fontHeight and faceName and
// hands the record back to MakeStyleGradient; the rest describes the shell's gradient.
struct HostStyleItem {
    int gradientType;     // 0 flat, 1 horizontal, 2 vertical, 3 diagonal (shell's own codes)
    COLORREF colorFrom;   // gradient start
    COLORREF colorTo;     // gradient end
    COLORREF borderColor; // colour of the border drawn on request
    int borderWidth;      // width of that border in pixels
    int bevel;            // 0 flat, 1 raised, 2 sunken
    COLORREF textColor;   // offset 24
    int fontHeight;       // offset 28, passed unchanged as CreateFontA's height
    int fontWeight;       // offset 32
    int reserved[2];      // offsets 36 and 40
    char faceName[256];   // offset 44, zero-terminated within the record
};
static_assert(sizeof(HostStyleItem) == 300, "the style record is 300 bytes");

struct Menu;     // a menu of the shell's, opaque to plug-ins
struct MenuItem; // an entry of such a menu

// Numbered messages between the shell, its slit and a plug-in window.
enum : UINT {
    BB_REGISTERMESSAGE = 10001,   // to the shell: wParam window, lParam 0-terminated message list
    BB_UNREGISTERMESSAGE = 10002, // to the shell: the same arguments
    BB_RECONFIGURE = 10103,       // from the shell: drop the menu, reload the style, repaint
    BB_ABOUTPLUGIN = 10302,       // to the shell before a plug-in shows its About box
    BB_REDRAWGUI = 10881,         // from the shell: reload the style, repaint
    BB_BROAM = 10901,             // from the shell: lParam a command string
    SLIT_ADD = 11001,             // to the slit: lParam the window to take in
    SLIT_REMOVE = 11002,          // to the slit: lParam the window to release
    SLIT_UPDATE = 11003,          // to the slit: a plug-in's size or look changed
};

extern "C" {
HWND GetBBWnd(void);
void MakeSticky(HWND window);
void RemoveSticky(HWND window);

// Settings files: "key: value" lines, keys matched without regard to case. ReadString's result
// belongs to the shell and stays valid until the next call into the shell.
int ReadInt(const char* fileName, const char* key, int defaultValue);
bool ReadBool(const char* fileName, const char* key, bool defaultValue);
COLORREF ReadColor(const char* fileName, const char* key, const char* defaultColour);
const char* ReadString(const char* fileName, const char* key, const char* defaultText);
void WriteInt(const char* fileName, const char* key, int value);
void WriteBool(const char* fileName, const char* key, bool value);
void WriteColor(const char* fileName, const char* key, COLORREF value);
void WriteString(const char* fileName, const char* key, const char* value);
bool FileExists(const char* path);
// Writes the shell's folder, ending in a backslash, into buffer (size bytes); returns buffer.
char* GetBlackboxPath(char* buffer, int size);

// Menus: entries appear in call order. ShowMenu opens only a tree made with popup true; a pick is
// sent back as a BB_BROAM command (integer and text entries: the command, a blank, the value).
Menu* MakeNamedMenu(const char* title, const char* id, bool popup);
MenuItem* MakeSubmenu(Menu* parent, Menu* child, const char* title);
MenuItem* MakeMenuItem(Menu* menu, const char* label, const char* command, bool checked);
MenuItem* MakeMenuItemInt(Menu* menu, const char* label, const char* command, int value,
                          int minimum, int maximum);
MenuItem* MakeMenuItemString(Menu* menu, const char* label, const char* command, const char* text);
MenuItem* MakeMenuNOP(Menu* menu, const char* label);
void ShowMenu(Menu* menu);
void DelMenu(Menu* menu);

// Index 1 to 6: a HostStyleItem (toolbar, button, pressed button, label, window label, clock);
// 12: the bevel width and 14: the border width, each an int; any other index: null. The pointers
// stay valid while the shell runs; a style reload changes the values in place.
void* GetSettingPtr(int index);
void MakeStyleGradient(HDC dc, RECT* rect, HostStyleItem* style, bool withBorder);
void SnapWindowToEdge(WINDOWPOS* position, LPARAM distance, UINT flags);
BOOL BBExecute(HWND owner, const char* verb, const char* file, const char* arguments,
               const char* directory, int showCommand, bool noErrorMessages);
}
