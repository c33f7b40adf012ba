// The global hot key at work: registered from the setting with RegisterHotKey, a key the system
// refuses (another program holds it) or a text that names no key noted in the health line, and
// released when the plug-in ends.
#pragma once
#include <windows.h>

// The identifier of the window's hot key (WM_HOTKEY's wParam).
const int focusHotKeyId = 1;

// Releases the key registered before, then registers settings.hotkey for window; true when a key
// is registered now. Sets or clears the note accordingly.
bool registerFocusHotKey(HWND window);
// Releases the registered key, if any, and clears the note.
void releaseFocusHotKey(HWND window);
// The registered key as text ("Ctrl+Alt+R"); "" when none is registered.
const char* registeredHotKeyText();
// What the health line adds about the hot key ("hot key Ctrl+Alt+R refused (in use)"); "" when all
// is well.
const char* hotKeyNote();
// healthLine with the note after it ("...; hot key ..."), or healthLine itself without a note. The
// text stays valid until the next call.
const char* withHotKeyNote(const char* healthLine);
