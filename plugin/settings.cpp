// The settings file: one table of the 47 persisted settings drives reading, writing and the
// defaults, so that the three can never disagree about a key, a type or an order. All values go
// through the shell's settings functions; the file is opened here only to count the favourites.
#include "plugin/settings.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/item_filters.h"
#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "shell/blackbox_api.h"

PluginSettings settings;
FavoriteFeed* favorites;
int favoriteCount;
char settingsPath[MAX_PATH];

namespace {

enum SettingKind { IntSetting, BoolSetting, ColorSetting, TextSetting, UrlSetting, ShowSetting };

struct SettingRow {
    const char* readKey;
    const char* writeKey; // differs from readKey only for snapWindow
    SettingKind kind;
    size_t offset;           // of the field in PluginSettings
    int defaultValue;        // ints and bools
    const char* defaultText; // colour as text, strings
};

#define ROW_INT(name, key, value)                                                                  \
    { key, key, IntSetting, offsetof(PluginSettings, name), value, nullptr }
#define ROW_BOOL(name, key, value)                                                                 \
    { key, key, BoolSetting, offsetof(PluginSettings, name), value, nullptr }

// The order of this table is the order of reading and writing.
const SettingRow settingRows[] = {
    ROW_INT(x, "feedmarquee.x:", 10),
    ROW_INT(y, "feedmarquee.y:", 10),
    ROW_INT(width, "feedmarquee.width:", 200),
    ROW_INT(height, "feedmarquee.height:", 250),
    ROW_INT(fontHeight, "feedmarquee.fontHeight:", 12),
    ROW_INT(alpha, "feedmarquee.alpha:", 160),
    ROW_INT(styleType, "feedmarquee.styleType:", 1),
    ROW_INT(justification, "feedmarquee.justification:", 0),
    ROW_INT(padding, "feedmarquee.padding:", 5),
    ROW_INT(title_offset, "feedmarquee.title_offset:", 5),
    ROW_INT(desc_offset, "feedmarquee.desc_offset:", 15),
    ROW_INT(updateInterval, "feedmarquee.updateInterval(min):", 15),
    ROW_INT(encoding, "feedmarquee.encoding:", 1),
    ROW_INT(highlight, "feedmarquee.highlight:", 1),
    ROW_INT(tipWidth, "feedmarquee.tipWidth:", 350),
    ROW_INT(tipHideDelay, "feedmarquee.tipHideDelay:", 10),
    ROW_BOOL(alwaysontop, "feedmarquee.alwaysontop:", false),
    ROW_BOOL(transparency, "feedmarquee.transparency:", false),
    // Read in lower case, written in mixed case: the shell matches keys without regard to case.
    {"feedmarquee.snapwindow:", "feedmarquee.snapWindow:", BoolSetting,
     offsetof(PluginSettings, snapWindow), true, nullptr},
    ROW_BOOL(pluginToggle, "feedmarquee.pluginToggle:", false),
    ROW_BOOL(inSlit, "feedmarquee.inSlit:", false),
    ROW_BOOL(showBorder, "feedmarquee.showBorder:", false),
    ROW_BOOL(allowtooltip, "feedmarquee.allowtooltip:", true),
    ROW_BOOL(lockPos, "feedmarquee.lockPos:", false),
    ROW_BOOL(autoHide, "feedmarquee.autoHide:", false),
    ROW_BOOL(useRefFont, "feedmarquee.useRefFont:", true),
    ROW_BOOL(showDesc, "feedmarquee.showDesc:", false),
    ROW_BOOL(showDate, "feedmarquee.showDate:", false),
    ROW_BOOL(abbreviatedDate, "feedmarquee.abbreviatedDate:", true),
    ROW_BOOL(datePosHead, "feedmarquee.datePosHead:", false),
    ROW_BOOL(showItemCounts, "feedmarquee.showItemCounts:", false),
    ROW_BOOL(showUpdateTime, "feedmarquee.showUpdateTime:", false),
    ROW_BOOL(wordWrap, "feedmarquee.wordWrap:", false),
    ROW_BOOL(tipShowTitle, "feedmarquee.tipShowTitle:", true),
    ROW_BOOL(hilightBorder, "feedmarquee.hilightBorder:", false),
    {"feedmarquee.fontColor:", "feedmarquee.fontColor:", ColorSetting,
     offsetof(PluginSettings, fontColor), 0, "#000000"},
    {"feedmarquee.font:", "feedmarquee.font:", TextSetting, offsetof(PluginSettings, font), 0,
     "Tahoma"},
    {"feedmarquee.feedUrl:", "feedmarquee.feedUrl:", UrlSetting, offsetof(PluginSettings, feedUrl),
     0, ""},
    {"feedmarquee.browserPath:", "feedmarquee.browserPath:", TextSetting,
     offsetof(PluginSettings, browserPath), 0, ""},
    ROW_BOOL(keepHeadlines, "feedmarquee.keepHeadlines:", true),
    {"feedmarquee.show:", "feedmarquee.show:", ShowSetting, offsetof(PluginSettings, show), showOne,
     "one"},
    ROW_BOOL(showFeedName, "feedmarquee.showFeedName:", true),
    ROW_INT(maxItemsPerFeed, "feedmarquee.maxItemsPerFeed:", 20),
    ROW_INT(turnSeconds, "feedmarquee.turnSeconds:", 20),
    ROW_BOOL(markNew, "feedmarquee.markNew:", true),
    ROW_BOOL(localTime, "feedmarquee.localTime:", true),
    {"feedmarquee.hotkey:", "feedmarquee.hotkey:", TextSetting, offsetof(PluginSettings, hotkey), 0,
     ""},
};
static_assert(sizeof settingRows / sizeof settingRows[0] == 47, "47 persisted settings");

// The words of feedmarquee.show:, by ShowMode.
const char* const showWords[3] = {"one", "together", "inTurn"};

int showModeOf(const char* word) {
    for (int mode = 0; mode < 3; ++mode)
        if (word != nullptr && _stricmp(word, showWords[mode]) == 0)
            return mode;
    return showOne;
}

#undef ROW_INT
#undef ROW_BOOL

char* fieldOf(const SettingRow& row) {
    return reinterpret_cast<char*>(&settings) + row.offset;
}
int& intField(const SettingRow& row) {
    return *reinterpret_cast<int*>(fieldOf(row));
}
bool& boolField(const SettingRow& row) {
    return *reinterpret_cast<bool*>(fieldOf(row));
}
COLORREF& colorField(const SettingRow& row) {
    return *reinterpret_cast<COLORREF*>(fieldOf(row));
}
char (&textField(const SettingRow& row))[256] {
    return *reinterpret_cast<char(*)[256]>(fieldOf(row));
}
char (&urlField(const SettingRow& row))[feedAddressLimit + 1] {
    return *reinterpret_cast<char(*)[feedAddressLimit + 1]>(fieldOf(row));
}

const char* const settingsNames[2] = {"feedmarquee.rc", "feedmarqueerc"};

// folder + name into out (MAX_PATH); false, leaving out empty, when it would not fit.
bool joinPath(char* out, const char* folder, const char* name) {
    out[0] = 0;
    size_t folderLength = std::strlen(folder);
    size_t nameLength = std::strlen(name);
    if (folderLength + nameLength >= MAX_PATH)
        return false;
    std::memcpy(out, folder, folderLength);
    std::memcpy(out + folderLength, name, nameLength + 1);
    return true;
}

// Tests the two names in folder, "feedmarquee.rc" first; copies the first existing one to found.
bool findInFolder(const char* folder, char* found) {
    char candidate[MAX_PATH];
    for (const char* name : settingsNames) {
        if (joinPath(candidate, folder, name) && FileExists(candidate)) {
            std::strcpy(found, candidate);
            return true;
        }
    }
    return false;
}

// The defaults used when no file exists. fontColor, feedUrl and browserPath keep the values held
// in memory, so that a "Reload Settings" whose file vanished does not lose the running feed.
void applyDefaults() {
    for (const SettingRow& row : settingRows) {
        switch (row.kind) {
        case IntSetting:
            intField(row) = row.defaultValue;
            break;
        case BoolSetting:
            boolField(row) = row.defaultValue != 0;
            break;
        case ColorSetting:
            break;
        case TextSetting:
            if (row.offset == offsetof(PluginSettings, font))
                copySettingText(textField(row), row.defaultText);
            break;
        case ShowSetting:
            intField(row) = row.defaultValue;
            break;
        case UrlSetting:
            break;
        }
    }
}

void loadFavorites() {
    int count = countFavorites();
    releaseFavorites();
    favoriteCount = count;
    FavoriteFeed** tail = &favorites;
    for (int i = 0; i < favoriteCount; ++i) {
        FavoriteFeed* feed = static_cast<FavoriteFeed*>(std::calloc(1, sizeof(FavoriteFeed)));
        if (!feed) {
            favoriteCount = i;
            break;
        }
        char key[256];
        std::snprintf(key, sizeof key, "feedmarquee.fav%d.url:", i);
        // A favourite whose address is too long is listed without one, so that it never leads
        // to a cut address.
        if (!copySettingUrl(feed->url, ReadString(settingsPath, key, "")))
            feed->url[0] = '\0';
        std::snprintf(key, sizeof key, "feedmarquee.fav%d.title:", i);
        copySettingText(feed->title, ReadString(settingsPath, key, ""));
        *tail = feed;
        tail = &feed->next;
    }
}

// True when the settings file may be written: it exists and opens for writing, or it does not
// exist yet (the write makes it). A file marked read-only, or one that another program holds
// locked, is left alone.
bool settingsFileWritable() {
    if (!settingsPath[0])
        return false;
    // Checked apart from the opening below, which an administrator's rights would let through.
    DWORD attributes = GetFileAttributesA(settingsPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    HANDLE file = CreateFileA(settingsPath, GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Writes text under key and reads it back: the shell's write functions report nothing, so this
// is how a failed write shows. A value never holds a line break, so "\n" never reads back.
bool writeAndConfirm(const char* key, const char* text) {
    WriteString(settingsPath, key, text);
    const char* stored = ReadString(settingsPath, key, "\n");
    return stored && std::strcmp(stored, text) == 0;
}

} // namespace

void reportSettingsNotWritten(bool favoriteRefused) {
    char text[MAX_PATH + 256];
    std::snprintf(text, sizeof text,
                  "The settings file could not be written (is it marked read-only?), so nothing "
                  "was saved there%s. Changes stay in effect until FeedMarquee ends.\n\n%s",
                  favoriteRefused ? " and no favourite was added" : "",
                  settingsPath[0] ? settingsPath : "(no place for a settings file was found)");
    showMessageBox(nullptr, text, pluginName, MB_TOPMOST | MB_ICONWARNING);
}

void copySettingText(char (&field)[256], const char* text) {
    if (!text)
        text = "";
    size_t length = std::strlen(text);
    if (length > sizeof field - 1)
        length = sizeof field - 1;
    std::memcpy(field, text, length);
    field[length] = 0;
}

bool locateSettingsFile(const char* pluginFolder, const char* shellFolder, char* path) {
    path[0] = 0;
    if (pluginFolder && findInFolder(pluginFolder, path))
        return true;
    if (shellFolder && findInFolder(shellFolder, path))
        return true;
    // A new file is only ever made in the plug-in's own folder; the shell's folder is not written.
    if (pluginFolder)
        joinPath(path, pluginFolder, settingsNames[0]);
    return false;
}

namespace {
bool settingsReadFromFile = false; // the last readSettings found a file (it did not make one)
} // namespace

bool settingsFileHolds(const char* key) {
    const char absent[] = "\x01(absent)";
    const char* value = settingsReadFromFile ? ReadString(settingsPath, key, absent) : absent;
    return value != nullptr && std::strcmp(value, absent) != 0;
}

void readSettings() {
    // The plug-in's folder: its module path cut after the last backslash. A path that filled the
    // whole buffer was truncated and is no folder at all.
    char pluginFolder[MAX_PATH] = "";
    bool havePluginFolder = false;
    DWORD length = GetModuleFileNameA(runtime.instance, pluginFolder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        pluginFolder[length] = 0;
        char* lastBackslash = std::strrchr(pluginFolder, '\\');
        if (lastBackslash) {
            lastBackslash[1] = 0;
            havePluginFolder = true;
        }
    }
    char shellFolder[MAX_PATH + 1] = "";
    GetBlackboxPath(shellFolder, MAX_PATH);
    shellFolder[MAX_PATH - 1] = 0;

    bool found = locateSettingsFile(havePluginFolder ? pluginFolder : nullptr,
                                    shellFolder[0] ? shellFolder : nullptr, settingsPath);
    settingsReadFromFile = found;
    if (!found) {
        applyDefaults();
        readFilterSettings(nullptr);
        writeSettings(); // creates the file; nothing when no path fits
        return;
    }

    for (const SettingRow& row : settingRows) {
        switch (row.kind) {
        case IntSetting:
            intField(row) = ReadInt(settingsPath, row.readKey, row.defaultValue);
            break;
        case BoolSetting:
            boolField(row) = ReadBool(settingsPath, row.readKey, row.defaultValue != 0);
            break;
        case ColorSetting:
            colorField(row) = ReadColor(settingsPath, row.readKey, row.defaultText);
            break;
        case TextSetting:
            copySettingText(textField(row), ReadString(settingsPath, row.readKey, row.defaultText));
            break;
        case ShowSetting:
            intField(row) = showModeOf(ReadString(settingsPath, row.readKey, row.defaultText));
            break;
        case UrlSetting:
            if (!copySettingUrl(urlField(row),
                                ReadString(settingsPath, row.readKey, row.defaultText))) {
                urlField(row)[0] = '\0';
                reportAddressTooLong();
            }
            break;
        }
        // A position beyond the virtual screen's right (lower) edge would put the window out of
        // reach; the screen may start left of or above the primary monitor, so the edge is its
        // origin plus its extent. A window wholly left of or above it is brought back by the
        // placement when the window is placed.
        if (row.offset == offsetof(PluginSettings, x) &&
            settings.x >= static_cast<long long>(GetSystemMetrics(SM_XVIRTUALSCREEN)) +
                              GetSystemMetrics(SM_CXVIRTUALSCREEN))
            settings.x = 10;
        if (row.offset == offsetof(PluginSettings, y) &&
            settings.y >= static_cast<long long>(GetSystemMetrics(SM_YVIRTUALSCREEN)) +
                              GetSystemMetrics(SM_CYVIRTUALSCREEN))
            settings.y = 10;
    }
    readFilterSettings(settingsPath);
    loadFavorites();
}

bool writeSettings() {
    if (!settingsFileWritable())
        return false;
    for (const SettingRow& row : settingRows) {
        switch (row.kind) {
        case IntSetting:
            WriteInt(settingsPath, row.writeKey, intField(row));
            break;
        case BoolSetting:
            WriteBool(settingsPath, row.writeKey, boolField(row));
            break;
        case ColorSetting:
            WriteColor(settingsPath, row.writeKey, colorField(row));
            break;
        case TextSetting:
            WriteString(settingsPath, row.writeKey, textField(row));
            break;
        case ShowSetting:
            WriteString(settingsPath, row.writeKey,
                        showWords[intField(row) >= 0 && intField(row) < 3 ? intField(row) : 0]);
            break;
        case UrlSetting:
            WriteString(settingsPath, row.writeKey, urlField(row));
            break;
        }
    }
    return FileExists(settingsPath);
}

// The length of the run of indices 0, 1, 2, ... for which some line begins with that index's url
// key (case-sensitive, no leading blanks); the file is scanned from the top for each index.
bool copySettingUrl(char (&field)[feedAddressLimit + 1], const char* text) {
    if (!text)
        text = "";
    size_t length = std::strlen(text);
    if (length > feedAddressLimit)
        return false;
    std::memcpy(field, text, length + 1);
    return true;
}

void reportAddressTooLong() {
    char text[256];
    std::snprintf(text, sizeof text,
                  "The feed address is longer than %u characters, so it was not used.",
                  static_cast<unsigned>(feedAddressLimit));
    showMessageBox(nullptr, text, pluginName, MB_TOPMOST | MB_ICONWARNING);
}

int countFavorites() {
    if (!settingsPath[0])
        return 0;
    FILE* file = std::fopen(settingsPath, "rt");
    if (!file)
        return 0;
    int count = 0;
    char key[256];
    char line[256];
    std::snprintf(key, sizeof key, "feedmarquee.fav%d.url:", count);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, key, std::strlen(key)) == 0) {
            std::rewind(file);
            ++count;
            std::snprintf(key, sizeof key, "feedmarquee.fav%d.url:", count);
        }
    }
    std::fclose(file);
    return count;
}

bool addFavorite(const char* title, const char* url) {
    // Favourites are managed by editing the file: count them there again, so that one added by
    // hand since the last read is not overwritten.
    int index = countFavorites();
    char text[256];
    char key[256];
    std::snprintf(key, sizeof key, "feedmarquee.fav%d.url:", index);
    bool written = settingsFileWritable() && writeAndConfirm(key, url ? url : "");
    if (written) {
        std::snprintf(key, sizeof key, "feedmarquee.fav%d.title:", index);
        copySettingText(text, title);
        WriteString(settingsPath, key, text);
        written = writeSettings();
    }
    // Reading a file that did not take the write would replace the settings in memory with
    // whatever (or, for a missing file, the defaults) it holds.
    if (!written) {
        reportSettingsNotWritten(true);
        return false;
    }
    readSettings();
    return true;
}

void releaseFavorites() {
    while (favorites) {
        FavoriteFeed* next = favorites->next;
        std::free(favorites);
        favorites = next;
    }
    favoriteCount = 0;
}

const FavoriteFeed* favoriteAt(int index) {
    if (index < 0)
        return nullptr;
    const FavoriteFeed* feed = favorites;
    while (feed && index-- > 0)
        feed = feed->next;
    return feed;
}
