// The settings file: one table of the 47 persisted settings drives reading, writing and the
// defaults, so that the three can never disagree about a key, a type or an order. The file is the
// user's: it is read once as bytes, and the plug-in writes back only the keys it changed since
// then, each line replaced in place, every other byte kept. A key the user changed on disk since
// the last read is the user's and is never overwritten with the plug-in's older value.
#include "plugin/settings.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cerrno>
#include <climits>

#include "plugin/item_filters.h"
#include "feed/idn_win32.h"
#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/settings_file.h"
#include "plugin/settings_text.h"
#include "shell/blackbox_api.h"

PluginSettings settings;
FavoriteFeed* favorites;
int favoriteCount;
char settingsPath[MAX_PATH];

namespace {

// TextSetting is held in the ANSI code page, Utf8Setting as UTF-8 (for the wide calls).
enum SettingKind {
    IntSetting,
    BoolSetting,
    ColorSetting,
    TextSetting,
    Utf8Setting,
    UrlSetting,
    ShowSetting
};

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
    {"feedmarquee.font:", "feedmarquee.font:", Utf8Setting, offsetof(PluginSettings, font), 0,
     "Tahoma"},
    {"feedmarquee.feedUrl:", "feedmarquee.feedUrl:", UrlSetting, offsetof(PluginSettings, feedUrl),
     0, ""},
    {"feedmarquee.browserPath:", "feedmarquee.browserPath:", Utf8Setting,
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

const char keyPrefix[] = "feedmarquee.";

// What the file holds as far as the plug-in knows: the values read or written last (bounded values
// in force count as read). A setting that differs from it is a change of the plug-in's.
PluginSettings savedSettings;

// The file's "feedmarquee." lines as they were at the last read or write, one per line, and
// their index: the user's changes on disk since then are the keys whose value differs from these.
char* knownLines;
size_t knownLength;
SettingsIndex knownIndex;
SettingsFileStamp knownStamp;

// The values that did not read, one line each ("feedmarquee.rc line 12: ..."), or null.
char* problemText;

// The defaults used when no file exists. fontColor, feedUrl and browserPath keep the values held
// in memory, so that a "Reload Settings" whose file vanished does not lose the running feed.
void applyDefaults() {
    for (const SettingRow& row : settingRows) {
        switch (row.kind) {
        case IntSetting:
        case ShowSetting:
            intField(row) = row.defaultValue;
            break;
        case BoolSetting:
            boolField(row) = row.defaultValue != 0;
            break;
        case TextSetting:
        case Utf8Setting:
            if (row.offset == offsetof(PluginSettings, font))
                copySettingText(textField(row), row.defaultText);
            break;
        case ColorSetting:
        case UrlSetting:
            break;
        }
    }
}

const char* fieldIn(const PluginSettings& from, const SettingRow& row) {
    return reinterpret_cast<const char*>(&from) + row.offset;
}

bool sameField(const SettingRow& row, const PluginSettings& a, const PluginSettings& b) {
    const char* x = fieldIn(a, row);
    const char* y = fieldIn(b, row);
    switch (row.kind) {
    case IntSetting:
    case ShowSetting:
        return *reinterpret_cast<const int*>(x) == *reinterpret_cast<const int*>(y);
    case BoolSetting:
        return *reinterpret_cast<const bool*>(x) == *reinterpret_cast<const bool*>(y);
    case ColorSetting:
        return *reinterpret_cast<const COLORREF*>(x) == *reinterpret_cast<const COLORREF*>(y);
    case TextSetting:
    case Utf8Setting:
    case UrlSetting:
        return std::strcmp(x, y) == 0;
    }
    return true;
}

void copyField(const SettingRow& row, PluginSettings& to, const PluginSettings& from) {
    size_t size = row.kind == TextSetting || row.kind == Utf8Setting ? 256
                  : row.kind == UrlSetting                           ? feedAddressLimit + 1
                  : row.kind == BoolSetting                          ? sizeof(bool)
                  : row.kind == ColorSetting                         ? sizeof(COLORREF)
                                                                     : sizeof(int);
    std::memcpy(reinterpret_cast<char*>(&to) + row.offset, fieldIn(from, row), size);
}

// ---- Values as text in the file --------------------------------------------------------------

bool isBlankChar(char c) {
    return c == ' ' || c == '\t';
}

bool sameWord(const char* a, const char* b) {
    return _stricmp(a, b) == 0;
}

bool parseIntValue(const char* text, int* value) {
    errno = 0;
    char* end = nullptr;
    long long number = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    while (isBlankChar(*end))
        ++end;
    if (*end)
        return false;
    *value = static_cast<int>(number);
    return true;
}

bool parseBoolValue(const char* text, bool* value) {
    static const char* const truths[] = {"true", "yes", "on", "1"};
    static const char* const untruths[] = {"false", "no", "off", "0"};
    for (int i = 0; i < 4; ++i) {
        if (sameWord(text, truths[i]) || sameWord(text, untruths[i])) {
            *value = sameWord(text, truths[i]);
            return true;
        }
    }
    return false;
}

bool parseColorValue(const char* text, COLORREF* value) {
    const char* digits = text[0] == '#' ? text + 1 : text;
    size_t n = std::strlen(digits);
    if ((n != 6 && n != 3) || std::strspn(digits, "0123456789abcdefABCDEF") != n)
        return false;
    unsigned long rgb = std::strtoul(digits, nullptr, 16);
    if (n == 3) // #rgb stands for #rrggbb
        *value = RGB(((rgb >> 8) & 15) * 17, ((rgb >> 4) & 15) * 17, (rgb & 15) * 17);
    else
        *value = RGB((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255);
    return true;
}

// Text the user may write in any script is stored as UTF-8. A value of a file written by an
// earlier version is in the ANSI code page; valid UTF-8 is read as UTF-8, anything else as the
// code page. Texts in memory are in the code page, as the narrow system calls take them.
char* convertText(const char* text, UINT from, UINT to) {
    int wideLength = MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    wchar_t* wide =
        wideLength > 0 ? static_cast<wchar_t*>(std::malloc(wideLength * sizeof(wchar_t))) : nullptr;
    char* out = nullptr;
    if (wide && MultiByteToWideChar(from, 0, text, -1, wide, wideLength) > 0) {
        int length = WideCharToMultiByte(to, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        out = length > 0 ? static_cast<char*>(std::malloc(length)) : nullptr;
        if (out && WideCharToMultiByte(to, 0, wide, -1, out, length, nullptr, nullptr) == 0) {
            std::free(out);
            out = nullptr;
        }
    }
    std::free(wide);
    return out;
}

bool isAscii(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (*p >= 0x80)
            return false;
    return true;
}

// A file's value as memory holds it (free()); null when memory runs out.
char* textFromFile(const char* value) {
    if (isAscii(value) || !isValidUtf8(value, std::strlen(value)))
        return _strdup(value);
    return convertText(value, CP_UTF8, CP_ACP);
}

// A text of memory as the file holds it (free()); null when memory runs out.
char* textForFile(const char* text) {
    return isAscii(text) ? _strdup(text) : convertText(text, CP_ACP, CP_UTF8);
}

// A file's value as UTF-8 (free()), for texts memory holds in UTF-8; null when memory runs out.
char* utf8FromFile(const char* value) {
    if (isValidUtf8(value, std::strlen(value)))
        return _strdup(value);
    return convertText(value, CP_ACP, CP_UTF8);
}

// The value of row in from as the file holds it (free()); null when memory runs out.
char* valueText(const SettingRow& row, const PluginSettings& from) {
    const char* field = fieldIn(from, row);
    char number[32];
    switch (row.kind) {
    case IntSetting:
        std::snprintf(number, sizeof number, "%d", *reinterpret_cast<const int*>(field));
        return _strdup(number);
    case BoolSetting:
        return _strdup(*reinterpret_cast<const bool*>(field) ? "true" : "false");
    case ColorSetting: {
        COLORREF colour = *reinterpret_cast<const COLORREF*>(field);
        std::snprintf(number, sizeof number, "#%02x%02x%02x", GetRValue(colour), GetGValue(colour),
                      GetBValue(colour));
        return _strdup(number);
    }
    case ShowSetting: {
        int mode = *reinterpret_cast<const int*>(field);
        return _strdup(showWords[mode >= 0 && mode < 3 ? mode : 0]);
    }
    case TextSetting:
        return textForFile(field);
    case Utf8Setting:
    case UrlSetting:
        return _strdup(field);
    }
    return nullptr;
}

// The key's name for messages: "fontHeight" for "feedmarquee.fontHeight:".
void keyNameOf(const char* key, char* name, size_t size) {
    std::snprintf(name, size, "%s", key + sizeof keyPrefix - 1);
    size_t n = std::strlen(name);
    if (n > 0 && name[n - 1] == ':')
        name[n - 1] = '\0';
}

void addProblem(const char* text) {
    size_t used = problemText ? std::strlen(problemText) : 0;
    char* grown = static_cast<char*>(std::realloc(problemText, used + std::strlen(text) + 2));
    if (!grown)
        return;
    if (used > 0)
        grown[used++] = '\n';
    std::strcpy(grown + used, text);
    problemText = grown;
}

// "feedmarquee.rc line 12: " for the entry, the file named as the user sees it.
int problemStart(char* out, size_t size, const SettingsEntry& entry) {
    const char* name = std::strrchr(settingsPath, '\\');
    return std::snprintf(out, size, "%s line %u: ", name ? name + 1 : settingsPath,
                         static_cast<unsigned>(entry.lineNumber));
}

void reportUnreadable(const SettingRow& row, const SettingsEntry& entry, const char* value,
                      const char* what) {
    char key[64];
    keyNameOf(row.writeKey, key, sizeof key);
    char fallback[16];
    if (row.kind == ColorSetting || row.kind == ShowSetting)
        std::snprintf(fallback, sizeof fallback, "%s",
                      row.kind == ColorSetting ? row.defaultText : showWords[row.defaultValue]);
    else if (row.kind == BoolSetting)
        std::snprintf(fallback, sizeof fallback, "%s", row.defaultValue ? "true" : "false");
    else
        std::snprintf(fallback, sizeof fallback, "%d", row.defaultValue);
    char text[400];
    int n = problemStart(text, sizeof text, entry);
    std::snprintf(text + n, sizeof text - n, "%s \"%.60s\" %s; %s is used", key, value, what,
                  fallback);
    addProblem(text);
}

// Reads the entry's value into the row's field; a value that does not read is reported and the
// default taken.
void readRow(const SettingRow& row, const SettingsIndex& index, const SettingsEntry* entry) {
    char* value = entry ? settingValueCopy(index, *entry) : nullptr;
    const char* text = value ? value : row.defaultText;
    bool present = value != nullptr;
    switch (row.kind) {
    case IntSetting:
        intField(row) = row.defaultValue;
        if (present && !parseIntValue(value, &intField(row)))
            reportUnreadable(row, *entry, value, "is not a number");
        break;
    case BoolSetting:
        boolField(row) = row.defaultValue != 0;
        if (present && !parseBoolValue(value, &boolField(row)))
            reportUnreadable(row, *entry, value, "is neither true nor false");
        break;
    case ColorSetting:
        parseColorValue(row.defaultText, &colorField(row));
        if (present && !parseColorValue(value, &colorField(row)))
            reportUnreadable(row, *entry, value, "is not a colour");
        break;
    case ShowSetting:
        intField(row) = showModeOf(text);
        if (present && intField(row) == showOne && !sameWord(value, showWords[showOne]))
            reportUnreadable(row, *entry, value, "is not one, together or inTurn");
        break;
    case Utf8Setting: {
        char* converted = present ? utf8FromFile(value) : nullptr;
        copySettingUtf8(textField(row), converted ? converted : text);
        std::free(converted);
        break;
    }
    case TextSetting: {
        char* converted = present ? textFromFile(value) : nullptr;
        copySettingText(textField(row), converted ? converted : text);
        std::free(converted);
        break;
    }
    case UrlSetting:
        if (!copySettingUrl(urlField(row), text ? text : "")) {
            urlField(row)[0] = '\0';
            reportAddressTooLong();
        }
        break;
    }
    std::free(value);
}

// ---- Favourites ------------------------------------------------------------------------------

unsigned long long addressKeyHash(const char* url) {
    return feedAddressHash(url, systemHostToAscii);
}

const FavoriteFeed* favoriteWithHash(const char* url, unsigned long long hash) {
    for (const FavoriteFeed* f = favorites; f && url; f = f->next)
        if (f->addressHash == hash && sameFeedAddress(f->url, url, systemHostToAscii))
            return f;
    return nullptr;
}

FavoriteFeed* newFavorite() {
    return static_cast<FavoriteFeed*>(std::calloc(1, sizeof(FavoriteFeed)));
}

// ---- Per-feed settings ------------------------------------------------------------------------

enum FeedFieldKind { FeedInt, FeedBool, FeedText, FeedUtf8 };

struct FeedField {
    const char* name;
    FeedFieldKind kind;
    size_t offset; // in FeedSettings
};

const FeedField feedFields[] = {
    {"interval", FeedInt, offsetof(FeedSettings, interval)},
    {"maxItems", FeedInt, offsetof(FeedSettings, maxItems)},
    {"mute", FeedBool, offsetof(FeedSettings, mute)},
    {"sound", FeedBool, offsetof(FeedSettings, sound)},
    {"allowBasicOverHttp", FeedBool, offsetof(FeedSettings, allowBasicOverHttp)},
    {"userAgent", FeedText, offsetof(FeedSettings, userAgent)},
    {"hideWords", FeedUtf8, offsetof(FeedSettings, hideWords)},
    {"highlightWords", FeedUtf8, offsetof(FeedSettings, highlightWords)},
};
const size_t feedFieldCount = sizeof feedFields / sizeof feedFields[0];

// The settings kept for the address shown in "one" mode when it is no favourite.
char shownFeedAddress[feedAddressLimit + 1];
FeedSettings shownFeedSettings;
const FeedSettings noFeedSettings = {};

const FeedField* feedFieldNamed(const char* name, size_t length) {
    for (const FeedField& field : feedFields)
        if (std::strlen(field.name) == length && _strnicmp(field.name, name, length) == 0)
            return &field;
    return nullptr;
}

// Reads value into field of feed; false (field untouched) when it does not read.
bool readFeedField(const FeedField& field, const char* value, FeedSettings* feed) {
    char* at = reinterpret_cast<char*>(feed) + field.offset;
    switch (field.kind) {
    case FeedInt:
        return parseIntValue(value, reinterpret_cast<int*>(at));
    case FeedBool:
        return parseBoolValue(value, reinterpret_cast<bool*>(at));
    case FeedText:
        copySettingText(*reinterpret_cast<char(*)[256]>(at), value);
        return true;
    case FeedUtf8: {
        char* utf8 = utf8FromFile(value);
        copySettingUtf8(*reinterpret_cast<char(*)[256]>(at), utf8 ? utf8 : "");
        std::free(utf8);
        return true;
    }
    }
    return false;
}

// Takes entry as field of feed (label names the feed in a message: "fav3" or "feed").
void takeFeedField(const SettingsIndex& index, const SettingsEntry& entry, const FeedField& field,
                   const char* label, FeedSettings* feed) {
    char* value = settingValueCopy(index, entry);
    if (value && !readFeedField(field, value, feed)) {
        char text[300];
        int n = problemStart(text, sizeof text, entry);
        std::snprintf(text + n, sizeof text - n, "%s.%s \"%.60s\" %s; %s is used", label,
                      field.name, value,
                      field.kind == FeedInt ? "is not a number" : "is neither true nor false",
                      field.kind == FeedInt ? "0" : "false");
        addProblem(text);
    }
    std::free(value);
}

// The record of the shown address: "feedmarquee.feed.url:" and its fields.
void loadShownFeedSettings(const SettingsIndex& index) {
    shownFeedAddress[0] = '\0';
    shownFeedSettings = noFeedSettings;
    const SettingsEntry* url = findSetting(index, "feedmarquee.feed.url");
    char* value = url ? settingValueCopy(index, *url) : nullptr;
    if (!value || !copySettingUrl(shownFeedAddress, value))
        shownFeedAddress[0] = '\0';
    std::free(value);
    if (!shownFeedAddress[0])
        return;
    for (const FeedField& field : feedFields) {
        char key[64];
        std::snprintf(key, sizeof key, "%sfeed.%s", keyPrefix, field.name);
        if (const SettingsEntry* entry = findSetting(index, key))
            takeFeedField(index, *entry, field, "feed", &shownFeedSettings);
    }
}

// ---- Favourites ------------------------------------------------------------------------------

// One line of a favourite: its number, its field and where it is in the file.
struct FavoriteLine {
    int number;
    size_t order; // in the file, so that the first line of a key wins
    const char* field;
    size_t fieldLength;
    const SettingsEntry* entry;
};

int compareFavoriteLines(const void* a, const void* b) {
    const FavoriteLine* x = static_cast<const FavoriteLine*>(a);
    const FavoriteLine* y = static_cast<const FavoriteLine*>(b);
    if (x->number != y->number)
        return x->number < y->number ? -1 : 1;
    return x->order < y->order ? -1 : x->order > y->order;
}

bool fieldIs(const FavoriteLine& line, const char* name) {
    return line.fieldLength == std::strlen(name) && _strnicmp(line.field, name, line.fieldLength) == 0;
}

// The favourite of the lines [first, end) of one number, or null when it has no address (then
// reported) or memory runs out.
FavoriteFeed* readFavorite(const SettingsIndex& index, const FavoriteLine* first,
                           const FavoriteLine* end) {
    const FavoriteLine* url = nullptr;
    const FavoriteLine* title = nullptr;
    for (const FavoriteLine* line = first; line < end; ++line) {
        if (!url && fieldIs(*line, "url"))
            url = line;
        if (!title && fieldIs(*line, "title"))
            title = line;
    }
    char text[300];
    if (!url) {
        int n = problemStart(text, sizeof text, *first->entry);
        std::snprintf(text + n, sizeof text - n, "fav%d has no address; it is left out",
                      first->number);
        addProblem(text);
        return nullptr;
    }
    FavoriteFeed* feed = newFavorite();
    if (!feed)
        return nullptr;
    feed->number = first->number;
    char* value = settingValueCopy(index, *url->entry);
    // A favourite whose address is too long is listed without one, so that it never leads to a
    // cut address.
    if (!value || !copySettingUrl(feed->url, value))
        feed->url[0] = '\0';
    std::free(value);
    value = title ? settingValueCopy(index, *title->entry) : nullptr;
    char* converted = value ? utf8FromFile(value) : nullptr;
    copySettingUtf8(feed->title, converted ? converted : "");
    std::free(converted);
    std::free(value);
    converted = convertText(feed->title, CP_UTF8, CP_ACP);
    copySettingText(feed->codePageTitle, converted ? converted : "");
    std::free(converted);
    char label[16];
    std::snprintf(label, sizeof label, "fav%d", first->number);
    bool taken[feedFieldCount] = {};
    for (const FavoriteLine* line = first; line < end; ++line) {
        const FeedField* field = feedFieldNamed(line->field, line->fieldLength);
        if (field && !taken[field - feedFields]) {
            taken[field - feedFields] = true;
            takeFeedField(index, *line->entry, *field, label, &feed->own);
        }
    }
    return feed;
}

// The favourites of the indexed file, in the order of their numbers. A number with keys but
// without an address, and a second favourite of the same feed, are reported and left out.
void loadFavorites(const SettingsIndex& index) {
    releaseFavorites();
    FavoriteLine* lines =
        static_cast<FavoriteLine*>(std::malloc((index.count + 1) * sizeof(FavoriteLine)));
    if (!lines)
        return;
    size_t count = 0;
    for (size_t i = 0; i < index.count; ++i) {
        const SettingsEntry& entry = index.entries[i];
        int number;
        size_t field, fieldLength;
        if (favoriteKeyParts(index.text + entry.keyStart, entry.keyLength, keyPrefix, &number,
                             &field, &fieldLength))
            lines[count++] = FavoriteLine{number, i, index.text + entry.keyStart + field,
                                          fieldLength, &entry};
    }
    std::qsort(lines, count, sizeof(FavoriteLine), compareFavoriteLines);
    FavoriteFeed** tail = &favorites;
    for (size_t first = 0; first < count;) {
        size_t end = first;
        while (end < count && lines[end].number == lines[first].number)
            ++end;
        FavoriteFeed* feed = readFavorite(index, lines + first, lines + end);
        first = end;
        if (!feed)
            continue;
        // A second favourite of the same feed would be fetched twice and share its marks of
        // what was seen: the first keeps its title and settings, the later one is left out.
        feed->addressHash = addressKeyHash(feed->url);
        const FavoriteFeed* earlier =
            feed->url[0] ? favoriteWithHash(feed->url, feed->addressHash) : nullptr;
        if (earlier) {
            char text[200];
            const FavoriteLine* url = lines + first - 1;
            while (!fieldIs(*url, "url"))
                --url;
            int n = problemStart(text, sizeof text, *url->entry);
            std::snprintf(text + n, sizeof text - n,
                          "fav%d is the same feed as fav%d; it is left out", feed->number,
                          earlier->number);
            addProblem(text);
            std::free(feed);
            continue;
        }
        *tail = feed;
        tail = &feed->next;
        ++favoriteCount;
    }
    std::free(lines);
}

// ---- The file as last known ----------------------------------------------------------------

// Keeps the indexed file's own lines as the state the user's later changes are measured from.
void rememberFile(const SettingsIndex& index) {
    size_t size = 1;
    for (size_t i = 0; i < index.count; ++i)
        size += index.entries[i].lineEnd - index.entries[i].lineStart + 1;
    char* lines = static_cast<char*>(std::malloc(size));
    if (!lines)
        return;
    size_t used = 0;
    for (size_t i = 0; i < index.count; ++i) {
        const SettingsEntry& entry = index.entries[i];
        std::memcpy(lines + used, index.text + entry.lineStart, entry.lineEnd - entry.lineStart);
        used += entry.lineEnd - entry.lineStart;
        lines[used++] = '\n';
    }
    lines[used] = '\0';
    releaseSettingsIndex(&knownIndex);
    std::free(knownLines);
    knownLines = lines;
    knownLength = used;
    indexSettings(knownLines, knownLength, keyPrefix, &knownIndex);
}

void forgetFile() {
    releaseSettingsIndex(&knownIndex);
    std::free(knownLines);
    knownLines = nullptr;
    knownLength = 0;
    knownStamp = SettingsFileStamp{};
}

// Takes the file's values: every setting (whole) or only those the user changed on disk since the
// last read or write (merge; the others keep what memory holds, saved or not). The favourites are
// always the file's.
// Hands the global filter keys of index (null: none) to the filters in force, from the bytes
// already read rather than reading the file again per key.
void applyFilterSettings(const SettingsIndex* index) {
    char* hide = nullptr;
    char* highlight = nullptr;
    FilterSwitches switches = {};
    if (index) {
        const SettingsEntry* entry = findSetting(*index, "feedmarquee.hideWords:");
        hide = entry ? settingValueCopy(*index, *entry) : nullptr;
        entry = findSetting(*index, "feedmarquee.highlightWords:");
        highlight = entry ? settingValueCopy(*index, *entry) : nullptr;
        char* value = nullptr;
        entry = findSetting(*index, "feedmarquee.filterDescriptions:");
        if (entry && (value = settingValueCopy(*index, *entry)) != nullptr)
            parseBoolValue(value, &switches.descriptions);
        std::free(value);
        value = nullptr;
        entry = findSetting(*index, "feedmarquee.filterIgnoreDiacritics:");
        if (entry && (value = settingValueCopy(*index, *entry)) != nullptr)
            parseBoolValue(value, &switches.ignoreDiacritics);
        std::free(value);
    }
    setGlobalFilterSettings(hide, highlight, switches);
    std::free(hide);
    std::free(highlight);
}

void loadFromBytes(const char* bytes, size_t length, bool merge) {
    SettingsIndex index;
    if (!indexSettings(bytes, length, keyPrefix, &index))
        return;
    std::free(problemText);
    problemText = nullptr;
    for (const SettingRow& row : settingRows) {
        const SettingsEntry* entry = findSetting(index, row.readKey);
        if (merge &&
            sameSettingValue(index, entry, knownIndex, findSetting(knownIndex, row.readKey)))
            continue;
        readRow(row, index, entry);
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
        copyField(row, savedSettings, settings);
    }
    loadFavorites(index);
    loadShownFeedSettings(index);
    applyFilterSettings(&index);
    rememberFile(index);
    releaseSettingsIndex(&index);
}

// Writes edits into the file at settingsPath (made when missing), every other byte kept; the
// new bytes in *written (free()) when asked for. False when the file cannot be read or written.
bool editFile(const SettingEdit* edits, size_t count, char** written, size_t* writtenLength) {
    if (!settingsPath[0])
        return false;
    size_t length = 0;
    bool missing = false;
    char* bytes = readSettingsBytes(settingsPath, &length, &missing);
    if (!bytes && !missing)
        return false;
    size_t newLength = 0;
    char* edited = applySettingEdits(bytes ? bytes : "", length, edits, count, &newLength);
    std::free(bytes);
    bool stored = edited && replaceSettingsFile(settingsPath, edited, newLength);
    if (stored && written) {
        *written = edited;
        *writtenLength = newLength;
    } else {
        std::free(edited);
    }
    return stored;
}

bool writeAllRows();

// Writes the rows whose values differ from what the file holds (and, with since, from since
// too). A key the user changed on disk meanwhile keeps the user's value.
bool writeChangedRows(const PluginSettings* since) {
    if (!settingsPath[0])
        return false;
    const size_t rowCount = sizeof settingRows / sizeof settingRows[0];
    SettingEdit edits[rowCount];
    char* values[rowCount] = {};
    const SettingRow* rows[rowCount];
    size_t count = 0;
    size_t length = 0;
    bool missing = false;
    char* bytes = nullptr;
    SettingsIndex index = {};
    bool userChanged = false;
    bool fileRead = false;
    for (const SettingRow& row : settingRows) {
        if (sameField(row, settings, savedSettings) || (since && sameField(row, settings, *since)))
            continue;
        if (!fileRead) {
            fileRead = true;
            bytes = readSettingsBytes(settingsPath, &length, &missing);
            // A file removed meanwhile is made again with every setting.
            if (missing)
                return writeAllRows();
            if (!bytes || !indexSettings(bytes, length, keyPrefix, &index)) {
                std::free(bytes);
                return false;
            }
        }
        if (!sameSettingValue(index, findSetting(index, row.readKey), knownIndex,
                              findSetting(knownIndex, row.readKey))) {
            userChanged = true;
            continue;
        }
        values[count] = valueText(row, settings);
        if (!values[count])
            continue;
        edits[count] = SettingEdit{row.writeKey, values[count]};
        rows[count++] = &row;
    }
    bool stored = true;
    if (count > 0) {
        size_t newLength = 0;
        char* edited = applySettingEdits(bytes, length, edits, count, &newLength);
        stored = edited && replaceSettingsFile(settingsPath, edited, newLength);
        if (stored) {
            for (size_t i = 0; i < count; ++i)
                copyField(*rows[i], savedSettings, settings);
            // The known lines take the same edits, so that the user's own changes elsewhere in
            // the file still show as changes.
            size_t knownNew = 0;
            char* known = applySettingEdits(knownLines ? knownLines : "", knownLength, edits, count,
                                            &knownNew);
            if (known) {
                releaseSettingsIndex(&knownIndex);
                std::free(knownLines);
                knownLines = known;
                knownLength = knownNew;
                indexSettings(knownLines, knownLength, keyPrefix, &knownIndex);
            }
            // The notification of this write finds nothing new unless the user changed a key.
            if (!userChanged)
                knownStamp = settingsFileStamp(settingsPath);
        }
        std::free(edited);
    }
    for (size_t i = 0; i < count; ++i)
        std::free(values[i]);
    releaseSettingsIndex(&index);
    std::free(bytes);
    return stored;
}

// Writes every setting: a new file's content.
bool writeAllRows() {
    const size_t rowCount = sizeof settingRows / sizeof settingRows[0];
    SettingEdit edits[rowCount];
    char* values[rowCount] = {};
    size_t count = 0;
    for (const SettingRow& row : settingRows) {
        values[count] = valueText(row, settings);
        if (values[count]) {
            edits[count] = SettingEdit{row.writeKey, values[count]};
            ++count;
        }
    }
    char* written = nullptr;
    size_t writtenLength = 0;
    bool stored = editFile(edits, count, &written, &writtenLength);
    for (size_t i = 0; i < count; ++i)
        std::free(values[i]);
    if (stored) {
        savedSettings = settings;
        SettingsIndex index;
        if (indexSettings(written, writtenLength, keyPrefix, &index)) {
            rememberFile(index);
            releaseSettingsIndex(&index);
        }
        knownStamp = settingsFileStamp(settingsPath);
    }
    std::free(written);
    return stored;
}

// After the plug-in wrote favourite lines: the new file's favourites, and the keys the user
// changed on disk meanwhile.
void takeWrittenFile(const char* bytes, size_t length) {
    loadFromBytes(bytes, length, true);
    knownStamp = settingsFileStamp(settingsPath);
}

} // namespace

void reportSettingsNotWritten(bool favoriteRefused) {
    char text[MAX_PATH + 256];
    std::snprintf(text, sizeof text,
                  "The settings file could not be written (is it marked read-only, or the disk "
                  "full?), so nothing was saved there%s. The file was left as it was; changes stay "
                  "in effect until FeedMarquee ends.\n\n%s",
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

void copySettingUtf8(char (&field)[256], const char* text) {
    copySettingText(field, text);
    size_t length = std::strlen(field);
    if (length == sizeof field - 1) {
        size_t start = length;
        while (start > 0 && (static_cast<unsigned char>(field[start - 1]) & 0xC0) == 0x80)
            --start;
        if (start > 0 && !isValidUtf8(field + start - 1, length - start + 1))
            field[start - 1] = '\0';
    }
}

void copyTextAsUtf8(char (&field)[256], const char* text) {
    char* utf8 = utf8FromFile(text != nullptr ? text : "");
    copySettingUtf8(field, utf8 != nullptr ? utf8 : "");
    std::free(utf8);
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

namespace {

// The plug-in's folder (ending in a backslash) in the ANSI code page, as the narrow calls take
// it. A folder whose name the code page cannot hold (Cyrillic on a Western system) is given in its
// short form, which is ASCII. False when there is none that fits MAX_PATH.
bool pluginFolderPath(char (&folder)[MAX_PATH]) {
    folder[0] = 0;
    wchar_t wide[MAX_PATH];
    DWORD length = GetModuleFileNameW(runtime.instance, wide, MAX_PATH);
    // A path that filled the whole buffer was truncated and is no folder at all.
    if (length == 0 || length >= MAX_PATH)
        return false;
    wide[length] = 0;
    wchar_t* lastBackslash = std::wcsrchr(wide, L'\\');
    if (!lastBackslash)
        return false;
    lastBackslash[1] = 0;
    BOOL lossy = FALSE;
    int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, folder, MAX_PATH,
                                      nullptr, &lossy);
    if (written > 0 && !lossy)
        return true;
    wchar_t shortForm[MAX_PATH];
    length = GetShortPathNameW(wide, shortForm, MAX_PATH);
    lossy = FALSE;
    written = length > 0 && length < MAX_PATH
                  ? WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortForm, -1, folder,
                                        MAX_PATH, nullptr, &lossy)
                  : 0;
    if (written > 0 && !lossy)
        return true;
    folder[0] = 0;
    return false;
}

} // namespace

void readSettings() {
    char pluginFolder[MAX_PATH];
    bool havePluginFolder = pluginFolderPath(pluginFolder);
    char shellFolder[MAX_PATH + 1] = "";
    GetBlackboxPath(shellFolder, MAX_PATH);
    shellFolder[MAX_PATH - 1] = 0;

    bool found = locateSettingsFile(havePluginFolder ? pluginFolder : nullptr,
                                    shellFolder[0] ? shellFolder : nullptr, settingsPath);
    size_t size = 0;
    bool missing = false;
    char* bytes = found ? readSettingsBytes(settingsPath, &size, &missing) : nullptr;
    if (!bytes) {
        std::free(problemText);
        problemText = nullptr;
        forgetFile();
        settingsReadFromFile = false;
        applyDefaults();
        savedSettings = settings;
        if (!found || missing)
            writeAllRows(); // creates the file; nothing when no path fits
        applyFilterSettings(nullptr);
        return;
    }
    SettingsFileStamp stamp = settingsFileStamp(settingsPath);
    loadFromBytes(bytes, size, false);
    knownStamp = stamp;
    std::free(bytes);
    settingsReadFromFile = true;
}

bool settingsFileChanged(bool* changed) {
    *changed = false;
    if (!settingsPath[0])
        return true;
    SettingsFileStamp stamp = settingsFileStamp(settingsPath);
    if (sameStamp(stamp, knownStamp))
        return true;
    size_t size = 0;
    bool missing = false;
    char* bytes = readSettingsBytes(settingsPath, &size, &missing);
    if (!bytes)
        return missing; // a file being replaced is read at its next notification
    SettingsIndex index;
    if (indexSettings(bytes, size, keyPrefix, &index)) {
        bool same = index.count == knownIndex.count;
        for (size_t i = 0; same && i < index.count; ++i) {
            const SettingsEntry& a = index.entries[i];
            const SettingsEntry& b = knownIndex.entries[i];
            same = a.lineEnd - a.lineStart == b.lineEnd - b.lineStart &&
                   std::memcmp(bytes + a.lineStart, knownLines + b.lineStart,
                               a.lineEnd - a.lineStart) == 0;
        }
        releaseSettingsIndex(&index);
        if (!same) {
            loadFromBytes(bytes, size, true);
            *changed = true;
        }
        knownStamp = stamp;
    }
    std::free(bytes);
    return true;
}

bool writeSettings() {
    if (!settingsPath[0])
        return false;
    if (!knownLines && !FileExists(settingsPath))
        return writeAllRows();
    return writeChangedRows(nullptr);
}

bool writeSettingsChangedSince(const PluginSettings& before) {
    return writeChangedRows(&before);
}

void acceptSettingsInForce(const PluginSettings& asRead) {
    for (const SettingRow& row : settingRows)
        if (sameField(row, asRead, savedSettings) && !sameField(row, settings, asRead))
            copyField(row, savedSettings, settings);
}

const char* settingsProblems() {
    return problemText ? problemText : "";
}

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

bool addFavorites(const char* const* titles, const char* const* urls, size_t count) {
    // The numbers follow the highest in the file now, so that one added by hand since the last
    // read is not overwritten.
    size_t length = 0;
    bool missing = false;
    char* bytes = settingsPath[0] ? readSettingsBytes(settingsPath, &length, &missing) : nullptr;
    bool readable = bytes || (settingsPath[0] && missing);
    SettingsIndex index = {};
    int next = 0;
    if (readable && indexSettings(bytes ? bytes : "", length, keyPrefix, &index)) {
        for (size_t i = 0; i < index.count; ++i) {
            int number;
            size_t field, fieldLength;
            if (favoriteKeyParts(index.text + index.entries[i].keyStart, index.entries[i].keyLength,
                                 keyPrefix, &number, &field, &fieldLength) &&
                number >= next)
                next = number + 1;
        }
        releaseSettingsIndex(&index);
    } else {
        readable = false;
    }
    std::free(bytes);
    SettingEdit* edits =
        readable ? static_cast<SettingEdit*>(std::calloc(count * 2 + 1, sizeof(SettingEdit)))
                 : nullptr;
    char** texts = edits ? static_cast<char**>(std::calloc(count * 4 + 1, sizeof(char*))) : nullptr;
    unsigned long long* hashes =
        static_cast<unsigned long long*>(std::malloc((count + 1) * sizeof(unsigned long long)));
    bool ready = texts != nullptr && hashes != nullptr;
    size_t kept = 0;
    for (size_t i = 0; ready && i < count; ++i) {
        // The same feed twice is refused, against the favourites and within the list.
        hashes[i] = addressKeyHash(urls[i]);
        bool again = favoriteWithHash(urls[i], hashes[i]) != nullptr;
        for (size_t j = 0; j < i && !again; ++j)
            again = hashes[j] == hashes[i] && sameFeedAddress(urls[j], urls[i], systemHostToAscii);
        if (again)
            continue;
        char key[64];
        int number = next + static_cast<int>(kept);
        char** text = texts + kept * 4;
        std::snprintf(key, sizeof key, "%sfav%d.url:", keyPrefix, number);
        text[0] = _strdup(key);
        text[1] = _strdup(urls[i] ? urls[i] : "");
        std::snprintf(key, sizeof key, "%sfav%d.title:", keyPrefix, number);
        text[2] = _strdup(key);
        char* utf8 = utf8FromFile(titles[i] ? titles[i] : "");
        char title[256];
        copySettingUtf8(title, utf8 ? utf8 : "");
        std::free(utf8);
        text[3] = _strdup(title);
        for (int t = 0; t < 4; ++t)
            ready = ready && text[t];
        edits[kept * 2] = SettingEdit{text[0], text[1]};
        edits[kept * 2 + 1] = SettingEdit{text[2], text[3]};
        ++kept;
    }
    char* written = nullptr;
    size_t writtenLength = 0;
    bool stored = ready && (kept == 0 || editFile(edits, kept * 2, &written, &writtenLength));
    for (size_t i = 0; texts && i < count * 4; ++i)
        std::free(texts[i]);
    std::free(texts);
    std::free(hashes);
    std::free(edits);
    if (!stored) {
        reportSettingsNotWritten(true);
        return false;
    }
    if (written)
        takeWrittenFile(written, writtenLength);
    std::free(written);
    return true;
}

bool addFavorite(const char* title, const char* url) {
    return addFavorites(&title, &url, 1);
}

bool removeFavoriteLines(int number) {
    size_t length = 0;
    bool missing = false;
    char* bytes = settingsPath[0] ? readSettingsBytes(settingsPath, &length, &missing) : nullptr;
    if (!bytes)
        return false;
    size_t newLength = 0;
    char* rewritten = withoutFavoriteLines(bytes, length, keyPrefix, number, &newLength);
    std::free(bytes);
    bool stored = rewritten && replaceSettingsFile(settingsPath, rewritten, newLength);
    if (stored)
        takeWrittenFile(rewritten, newLength);
    std::free(rewritten);
    return stored;
}

void releaseFavorites() {
    while (favorites) {
        FavoriteFeed* next = favorites->next;
        std::free(favorites);
        favorites = next;
    }
    favoriteCount = 0;
}

const FavoriteFeed* favoriteWithAddress(const char* url) {
    return url ? favoriteWithHash(url, addressKeyHash(url)) : nullptr;
}

const FavoriteFeed* favoriteAt(int index) {
    if (index < 0)
        return nullptr;
    const FavoriteFeed* feed = favorites;
    while (feed && index-- > 0)
        feed = feed->next;
    return feed;
}

const FeedSettings& feedSettingsFor(const char* url) {
    if (const FavoriteFeed* favorite = url && url[0] ? favoriteWithAddress(url) : nullptr)
        return favorite->own;
    if (url && shownFeedAddress[0] && sameFeedAddress(shownFeedAddress, url, systemHostToAscii))
        return shownFeedSettings;
    return noFeedSettings;
}

bool setFeedSetting(int index, const char* fieldName, const char* value) {
    const FeedField* field = fieldName ? feedFieldNamed(fieldName, std::strlen(fieldName)) : nullptr;
    const FavoriteFeed* favorite =
        index >= 0 ? favoriteAt(index) : settings.feedUrl[0] ? favoriteWithAddress(settings.feedUrl)
                                                            : nullptr;
    if (!field || (index >= 0 && !favorite) || (index < 0 && !favorite && !settings.feedUrl[0]))
        return false;
    FeedSettings own = favorite                        ? favorite->own
                       : sameFeedAddress(shownFeedAddress, settings.feedUrl, systemHostToAscii)
                           ? shownFeedSettings
                           : noFeedSettings;
    const char* at = reinterpret_cast<const char*>(&own) + field->offset;
    char text[32];
    if (field->kind == FeedBool && (!value || !value[0])) {
        value = *reinterpret_cast<const bool*>(at) ? "false" : "true";
    } else if (!value || !readFeedField(*field, value, &own)) {
        return false;
    } else if (field->kind == FeedInt) {
        std::snprintf(text, sizeof text, "%d", *reinterpret_cast<const int*>(at));
        value = text;
    } else if (field->kind != FeedFieldKind::FeedBool) {
        value = at; // as kept: cut to the field, UTF-8 where the field is
    } else {
        value = *reinterpret_cast<const bool*>(at) ? "true" : "false";
    }
    // A favourite's field is its own key; the shown address's fields follow the address they
    // belong to, so all of them are written when the address is another.
    char prefix[48];
    if (favorite)
        std::snprintf(prefix, sizeof prefix, "%sfav%d.", keyPrefix, favorite->number);
    else
        std::snprintf(prefix, sizeof prefix, "%sfeed.", keyPrefix);
    bool sameRecord = favorite || sameFeedAddress(shownFeedAddress, settings.feedUrl, systemHostToAscii);
    SettingEdit edits[feedFieldCount + 1];
    char keys[feedFieldCount + 1][64];
    char values[feedFieldCount][32];
    size_t count = 0;
    std::snprintf(keys[count], sizeof keys[count], "%s%s", prefix, field->name);
    edits[count] = SettingEdit{keys[count], value};
    ++count;
    if (!sameRecord) {
        std::snprintf(keys[count], sizeof keys[count], "%surl", prefix);
        edits[count] = SettingEdit{keys[count], settings.feedUrl};
        ++count;
        for (size_t i = 0; i < feedFieldCount; ++i) {
            if (&feedFields[i] == field)
                continue;
            std::snprintf(keys[count], sizeof keys[count], "%s%s", prefix, feedFields[i].name);
            std::snprintf(values[i], sizeof values[i], "%s",
                          feedFields[i].kind == FeedInt    ? "0"
                          : feedFields[i].kind == FeedBool ? "false"
                                                           : "");
            edits[count] = SettingEdit{keys[count], values[i]};
            ++count;
        }
    }
    char* written = nullptr;
    size_t writtenLength = 0;
    if (!editFile(edits, count, &written, &writtenLength))
        return false;
    takeWrittenFile(written, writtenLength);
    std::free(written);
    return true;
}
