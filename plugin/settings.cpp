// Placeholder until this unit is built; replaced by its real implementation.
#include "plugin/settings.h"

PluginSettings settings;
FavoriteFeed* favorites;
int favoriteCount;
char settingsPath[MAX_PATH];
void readSettings() {}
void writeSettings() {}
int countFavorites() { return 0; }
void addFavorite(const char*, const char*) {}
void releaseFavorites() {}
const FavoriteFeed* favoriteAt(int) { return nullptr; }
void copySettingText(char (&field)[256], const char*) { field[0] = 0; }
