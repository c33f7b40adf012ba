// The plug-in's settings file: the 47 persisted settings and the favourite feeds. The file is read
// once as bytes; the plug-in writes back only the keys it changed, in place.
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
    char font[256];                     // the face name, UTF-8 whatever the system's code page
    char feedUrl[feedAddressLimit + 1]; // kept whole or not at all (copySettingUrl)
    char browserPath[256];              // UTF-8, whatever the system's code page
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

// A feed's own settings, beside a favourite's address and title ("feedmarquee.fav<n>.<field>:"),
// or for the address shown in "one" mode that is no favourite ("feedmarquee.feed.<field>:" with
// "feedmarquee.feed.url:" naming the address they belong to). Zero and empty mean the global one.
struct FeedSettings {
    int interval;             // field "interval": minutes between updates
    int maxItems;             // field "maxItems": the feed's share of the "together" list
    bool mute;                // field "mute": kept as a favourite, neither fetched nor shown
    bool sound;               // field "sound": a sound when a pass brings new items
    bool allowBasicOverHttp;  // field "allowBasicOverHttp": a login may be sent in clear
    char userAgent[256];      // field "userAgent": the User-Agent text sent for this feed
    char hideWords[256];      // field "hideWords": UTF-8, words or phrases separated by commas
    char highlightWords[256]; // field "highlightWords": UTF-8, as hideWords
};

struct FavoriteFeed {
    int number; // n of its keys "feedmarquee.fav<n>.url:" in the file
    char title[256];         // UTF-8, whatever the system's code page
    char codePageTitle[256]; // the title in the ANSI code page, for narrow text
    char url[feedAddressLimit + 1];
    unsigned long long addressHash; // of url's feedAddressKey form: a quick duplicate test
    FeedSettings own;
    FavoriteFeed* next;
};

extern PluginSettings settings;
extern FavoriteFeed* favorites; // index 0 first; owned here
extern int favoriteCount;
extern char settingsPath[MAX_PATH]; // empty when no candidate path fits

// Locates the file and reads it whole: every setting (defaults for missing keys and for values
// that do not read, which settingsProblems names) and the favourites; creates the file with the
// defaults when none exists. Memory only: callers apply the values.
void readSettings();
// Writes the settings changed since the file was last read or written, each key's line replaced in
// place and every other byte kept; a missing file is made with all 47. A key the user changed in
// the file meanwhile keeps the user's value. False, with the file left as it was, when there is no
// path or the file cannot be written (marked read-only, locked, a full disk).
bool writeSettings();
// As writeSettings, for the settings that also differ from before: what one command changed.
bool writeSettingsChangedSince(const PluginSettings& before);
// The start-up and a reload bound some settings in force (a width below 10); asRead holds them as
// read. A value bounded so is no change of the plug-in's: the file keeps what the user wrote.
void acceptSettingsInForce(const PluginSettings& asRead);
// Reads the file again when its content differs from what was read or written last (not when only
// its time or other programs' lines changed): the keys the user changed take the file's values,
// the favourites are the file's. *changed tells whether anything was taken. False when the file
// could not be read (it is tried again at the next change).
bool settingsFileChanged(bool* changed);
// The values of the last read that did not read, one per line ("feedmarquee.rc line 12: fontHeight
// \"big\" is not a number; 12 is used"); empty when all did.
const char* settingsProblems();
// Tells the user (through showMessageBox) that the settings file could not be written, and with
// favoriteRefused that the favourite asked for was not added.
void reportSettingsNotWritten(bool favoriteRefused = false);
// True when the file the last readSettings read holds key (false for a file it had to make).
bool settingsFileHolds(const char* key);
// Writes url and title as the next favourite after those in the file now (the numbers follow the
// highest there), then takes the file's favourites. The title is UTF-8 (text that is not valid
// UTF-8 is read in the ANSI code page), cut to 255 bytes on a character's boundary. When the file
// does not take the write, it is left as it was, the user is told, and the result is false.
bool addFavorite(const char* title, const char* url);
// As addFavorite, for count favourites in one write of the file. An address that names a
// favourite's feed already, or one earlier in the list, is left out (sameFeedAddress).
bool addFavorites(const char* const* titles, const char* const* urls, size_t count);
// Removes the lines of favourite number (any field) from the file, the favourites above it
// numbered one lower, every other byte kept; then takes the file's favourites. False, with the
// file as it was, when it cannot be read or written.
bool removeFavoriteLines(int number);
// Frees the favourites list; favoriteCount becomes 0.
void releaseFavorites();
// The favourite whose address names the same feed as url (feed/feed_address.h), or null.
const FavoriteFeed* favoriteWithAddress(const char* url);
// The own settings of the feed at url: a favourite's (by sameFeedAddress), else those kept for the
// address shown in "one" mode when url is that address, else all zero (the global ones).
const FeedSettings& feedSettingsFor(const char* url);
// Sets field (a FeedSettings field name, letter case ignored) of favourite index, or with index -1
// of the address shown now (feedUrl; a favourite's own when it is one), and writes that key at
// once. value: a number, true/false (empty or null toggles a switch) or text. False for an unknown
// field or index, a value that does not read, or a file that does not take the write.
bool setFeedSetting(int index, const char* field, const char* value);
// The favourite at index, or null.
const FavoriteFeed* favoriteAt(int index);
// Copies text (null reads as empty) into a 256-character setting field, cut to 255 characters.
void copySettingText(char (&field)[256], const char* text);
// As copySettingText for UTF-8 text: cut before a character that would not fit whole.
void copySettingUtf8(char (&field)[256], const char* text);
// As copySettingUtf8 for a text that may be in the ANSI code page: valid UTF-8 is taken as it is,
// anything else is read in the code page (a menu's or a narrow dialog's text).
void copyTextAsUtf8(char (&field)[256], const char* text);
// Copies an address (null reads as empty) into an address field whole. One longer than
// feedAddressLimit is never cut: the field is left as it was and the result is false.
bool copySettingUrl(char (&field)[feedAddressLimit + 1], const char* text);
// Tells the user (through showMessageBox) that an address was too long to be used.
void reportAddressTooLong();
// The file search of readSettings over the given folders (each ending in a backslash, or null):
// true with the existing file in path (MAX_PATH), else false with the file to create there (the
// plug-in folder's "feedmarquee.rc"), or an empty path when that would not fit in MAX_PATH.
bool locateSettingsFile(const char* pluginFolder, const char* shellFolder, char* path);
