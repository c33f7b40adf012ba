// The global hot key that gives the window the keyboard focus: the setting's text ("Ctrl+Alt+R")
// read into what RegisterHotKey takes, and written back for messages. Portable: no <windows.h>.
#pragma once
#include <cstddef>

// The modifier bits have RegisterHotKey's values (MOD_ALT, MOD_CONTROL, MOD_SHIFT, MOD_WIN).
enum : unsigned { hotKeyAlt = 1, hotKeyControl = 2, hotKeyShift = 4, hotKeyWin = 8 };

struct HotKey {
    unsigned modifiers; // hotKeyAlt | hotKeyControl | ...
    unsigned key;       // the virtual-key code
};

enum HotKeyReading {
    hotKeyNone,      // empty or blank text: no hot key
    hotKeyRead,      // out holds the key
    hotKeyUnreadable // not a key this reader knows, or a key other programs are typed with
};

// Reads text: modifiers ("Ctrl"/"Control", "Alt", "Shift", "Win") and one key joined by '+', in any
// case, blanks around the parts ignored. Keys: A-Z, 0-9, F1-F24, "Space", "Enter", "Tab", "Esc",
// "Backspace", "Insert", "Delete", "Home", "End", "PageUp", "PageDown", "Up", "Down", "Left",
// "Right", "Pause", "NumPad0"-"NumPad9". A key other than F1-F24 needs Ctrl, Alt or Win (Shift
// alone is not enough), so that the hot key never takes a key that is typed in other programs.
HotKeyReading readHotKey(const char* text, HotKey* out);
// Writes key as readHotKey reads it ("Ctrl+Alt+R"), cut to size bytes (at least 1).
void formatHotKey(const HotKey& key, char* out, size_t size);
