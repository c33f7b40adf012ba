// The global hot key at work: registered from the setting with RegisterHotKey, a key the system
// refuses (another program holds it) or a text that names no key noted in the health line, and
// released when the plug-in ends.
#pragma once
#include <windows.h>

// The identifier of the window's hot key (WM_HOTKEY's wParam).
const int focusHotKeyId = 1;

// Releases the key registered before, then registers settings.hotkey for window; true when a key
// is registered now. Sets or clears healthNote accordingly.
bool registerFocusHotKey(HWND window);
// Releases the registered key, if any, and clears the note.
void releaseFocusHotKey(HWND window);
