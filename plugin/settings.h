// The plug-in's settings file: the 47 persisted settings and the favourite feeds, read and written
// through the shell's settings functions.
#pragma once
#include <windows.h>
#include "feed/feed_address.h"

struct PluginSettings {
    int x, y, width, height;
    int fontHeight;
    int alpha;
    int styleType;
    int justification;
    int padding;
    int title_offset;
    int desc_offset;
    int updateInterval; // minutes, key "updateInterval(min)"
    int encoding;
    int highlight;
    int tipWidth;
    int tipHideDelay; // seconds
    bool alwaysontop;
    bool transparency;
    bool snapWindow;
    bool pluginToggle;
    bool inSlit;
    bool showBorder;
    bool allowtooltip;
    bool lockPos;
    bool autoHide;
    bool useRefFont;
    bool showDesc;
    bool showDate;
    bool abbreviatedDate;
    bool datePosHead;
    bool showItemCounts;
    bool showUpdateTime;
    bool wordWrap;
    bool tipShowTitle;
    bool hilightBorder;
    COLORREF fontColor;
    char font[256];
    char feedUrl[feedAddressLimit + 1]; // kept whole or not at all (copySettingUrl)
    char browserPath[256];
    bool keepHeadlines; // a failed update keeps the last good headlines, saved across starts
    int show;           // a ShowMode: which feeds the window shows and how
    bool showFeedName;  // together: each item's line starts with its feed's name
    int maxItemsPerFeed; // together: each feed's share of the list (1-1000 in force)
    int turnSeconds;     // inTurn: seconds each feed is shown (5-3600 in force)
    bool markNew;        // items not seen before are marked new
    bool localTime;      // short dates in the reader's time zone, converted from the feed's
    char hotkey[256];    // the global hot key that focuses the window ("Ctrl+Alt+R"); empty: none
};

// feedmarquee.show: "one" (feedUrl only, the default), "together" (every favourite in one list),
// "inTurn" (every favourite, one at a time). Unknown words read as "one".
enum ShowMode { showOne = 0, showTogether = 1, showInTurn = 2 };

struct FavoriteFeed {
    char title[256];
    char url[feedAddressLimit + 1];
    FavoriteFeed* next;
};

extern PluginSettings settings;
extern FavoriteFeed* favorites; // index 0 first; owned here
extern int favoriteCount;
extern char settingsPath[MAX_PATH]; // empty when no candidate path fits

// Locates the file, loads all settings (defaults for missing keys) and then the favourites;
// creates the file with the defaults when none exists. Memory only: callers apply the values.
void readSettings();
// Writes all 47 settings in table order. Favourites are not written. False, with nothing
// written, when there is no path or the file cannot be written (marked read-only, locked).
bool writeSettings();
// Tells the user (through showMessageBox) that the settings file could not be written, and with
// favoriteRefused that the favourite asked for was not added.
void reportSettingsNotWritten(bool favoriteRefused = false);
// True when the file the last readSettings read holds key (false for a file it had to make).
bool settingsFileHolds(const char* key);
// The number of favourites in the file at settingsPath (0 when it cannot be opened).
int countFavorites();
// Writes url and title as the next favourite after those in the file now, then writes and
// re-reads the settings. When the file does not take the write, nothing is re-read, the user is
// told, and the result is false.
bool addFavorite(const char* title, const char* url);
// Frees the favourites list; favoriteCount becomes 0.
void releaseFavorites();
// The favourite at index, or null.
const FavoriteFeed* favoriteAt(int index);
// Copies text (null reads as empty) into a 256-character setting field, cut to 255 characters.
void copySettingText(char (&field)[256], const char* text);
// Copies an address (null reads as empty) into an address field whole. One longer than
// feedAddressLimit is never cut: the field is left as it was and the result is false.
bool copySettingUrl(char (&field)[feedAddressLimit + 1], const char* text);
// Tells the user (through showMessageBox) that an address was too long to be used.
void reportAddressTooLong();
// The file search of readSettings over the given folders (each ending in a backslash, or null):
// true with the existing file in path (MAX_PATH), else false with the file to create there (the
// plug-in folder's "feedmarquee.rc"), or an empty path when that would not fit in MAX_PATH.
bool locateSettingsFile(const char* pluginFolder, const char* shellFolder, char* path);
