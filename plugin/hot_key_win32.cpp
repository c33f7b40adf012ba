#include "plugin/hot_key_win32.h"

#include <cstdio>
#include <cstring>

#include "plugin/hot_key.h"
#include "plugin/settings.h"

namespace {

bool registered = false;
char registeredText[40];
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
    char name[sizeof registeredText];
    formatHotKey(key, name, sizeof name);
    if (registered)
        std::memcpy(registeredText, name, sizeof registeredText);
    else
        std::snprintf(healthNote, sizeof healthNote, "hot key %s refused (in use)", name);
    return registered;
}

const char* registeredHotKeyText() {
    return registeredText;
}

const char* hotKeyNote() {
    return healthNote;
}

const char* withHotKeyNote(const char* healthLine) {
    if (!healthNote[0])
        return healthLine;
    static char joined[16384]; // a health line with an 8 KiB address fits
    std::snprintf(joined, sizeof joined, "%s%s%s", healthLine, healthLine[0] ? "; " : "",
                  healthNote);
    return joined;
}

void releaseFocusHotKey(HWND window) {
    if (registered)
        UnregisterHotKey(window, focusHotKeyId);
    registered = false;
    registeredText[0] = '\0';
    healthNote[0] = '\0';
}
