// Removing a favourite: its lines leave the settings file and the favourites after it move up one
// number, every other byte of the file kept (plugin/settings.cpp does the rewrite).
#include "plugin/favorite_removal.h"

#include <windows.h>

#include <cstdio>

#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

namespace {

void tellNotRemoved() {
    char text[MAX_PATH + 200];
    snprintf(text, sizeof text,
             "The settings file could not be written (is it marked read-only, or the disk "
             "full?), so the favourite was not removed and the file was left as it was.\n\n%s",
             settingsPath[0] ? settingsPath : "(no place for a settings file was found)");
    showMessageBox(nullptr, text, pluginName, MB_TOPMOST | MB_ICONWARNING);
}

} // namespace

bool removeFavorite(int index) {
    const FavoriteFeed* favorite = favoriteAt(index);
    if (favorite == nullptr)
        return false;
    if (!removeFavoriteLines(favorite->number)) {
        tellNotRemoved();
        return false;
    }
    return true;
}
