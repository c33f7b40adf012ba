// Placeholder until the stand-in shell is built: every export with a neutral answer.
#include "shell/blackbox_api.h"

extern "C" {
HWND GetBBWnd(void) { return nullptr; }
void MakeSticky(HWND) {}
void RemoveSticky(HWND) {}
int ReadInt(const char*, const char*, int d) { return d; }
bool ReadBool(const char*, const char*, bool d) { return d; }
COLORREF ReadColor(const char*, const char*, const char*) { return 0; }
const char* ReadString(const char*, const char*, const char* d) { return d; }
void WriteInt(const char*, const char*, int) {}
void WriteBool(const char*, const char*, bool) {}
void WriteColor(const char*, const char*, COLORREF) {}
void WriteString(const char*, const char*, const char*) {}
bool FileExists(const char*) { return false; }
char* GetBlackboxPath(char* b, int) { b[0] = 0; return b; }
Menu* MakeNamedMenu(const char*, const char*, bool) { return nullptr; }
MenuItem* MakeSubmenu(Menu*, Menu*, const char*) { return nullptr; }
MenuItem* MakeMenuItem(Menu*, const char*, const char*, bool) { return nullptr; }
MenuItem* MakeMenuItemInt(Menu*, const char*, const char*, int, int, int) { return nullptr; }
MenuItem* MakeMenuItemString(Menu*, const char*, const char*, const char*) { return nullptr; }
MenuItem* MakeMenuNOP(Menu*, const char*) { return nullptr; }
void ShowMenu(Menu*) {}
void DelMenu(Menu*) {}
void* GetSettingPtr(int) { return nullptr; }
void MakeStyleGradient(HDC, RECT*, HostStyleItem*, bool) {}
void SnapWindowToEdge(WINDOWPOS*, LPARAM, UINT) {}
BOOL BBExecute(HWND, const char*, const char*, const char*, const char*, int, bool) { return FALSE; }
}
