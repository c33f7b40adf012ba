#include "plugin/hot_key_win32.h"

#include <cstdio>
#include <string>

#include "plugin/hot_key.h"
#include "plugin/settings.h"

namespace {

bool registered = false;
char healthNote[160];

} // namespace

bool registerFocusHotKey(HWND window) {
    releaseFocusHotKey(window);
    HotKey key;
    switch (readHotKey(settings.hotkey, &key)) {
    case hotKeyNone:
        return false;
    case hotKeyUnreadable:
        std::snprintf(healthNote, sizeof healthNote, "hot key \"%.60s\" not understood",
                      settings.hotkey);
        return false;
    case hotKeyRead:
        break;
    }
    registered = RegisterHotKey(window, focusHotKeyId, key.modifiers, key.key) != FALSE;
    if (!registered) {
        char name[40];
        formatHotKey(key, name, sizeof name);
        std::snprintf(healthNote, sizeof healthNote, "hot key %s refused (in use)", name);
    }
    return registered;
}

const char* hotKeyNote() {
    return healthNote;
}

const char* withHotKeyNote(const char* healthLine) {
    if (!healthNote[0])
        return healthLine;
    static std::string joined;
    joined = healthLine;
    if (!joined.empty())
        joined += "; ";
    joined += healthNote;
    return joined.c_str();
}

void releaseFocusHotKey(HWND window) {
    if (registered)
        UnregisterHotKey(window, focusHotKeyId);
    registered = false;
    healthNote[0] = '\0';
}
