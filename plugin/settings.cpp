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
#include <cerrno>
#include <climits>

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
    case UrlSetting:
        return std::strcmp(x, y) == 0;
    }
    return true;
}

void copyField(const SettingRow& row, PluginSettings& to, const PluginSettings& from) {
    size_t size = row.kind == TextSetting    ? 256
                  : row.kind == UrlSetting   ? feedAddressLimit + 1
                  : row.kind == BoolSetting  ? sizeof(bool)
                  : row.kind == ColorSetting ? sizeof(COLORREF)
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

// A hash of the form in which addresses of one feed are equal.
unsigned long long addressKeyHash(const char* url) {
    static char key[feedAddressLimit + 1];
    const char* text = feedAddressKey(url, systemHostToAscii, key, sizeof key) ? key : url;
    unsigned long long hash = 14695981039346656037ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        hash = (hash ^ *p) * 1099511628211ull;
    return hash;
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

int compareInts(const void* a, const void* b) {
    int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return x < y ? -1 : x > y;
}

// The field of favourite number's entry in the index ("url", "title", ...), or null.
const SettingsEntry* favoriteField(const SettingsIndex& index, int number, const char* field) {
    char key[64];
    std::snprintf(key, sizeof key, "%sfav%d.%s", keyPrefix, number, field);
    return findSetting(index, key);
}

// The favourites of the indexed file, in the order of their numbers. A number with keys but
// without an address is reported and left out.
void loadFavorites(const SettingsIndex& index) {
    releaseFavorites();
    int* numbers = static_cast<int*>(std::malloc((index.count + 1) * sizeof(int)));
    if (!numbers)
        return;
    size_t count = 0;
    for (size_t i = 0; i < index.count; ++i) {
        const SettingsEntry& entry = index.entries[i];
        int number;
        size_t field, fieldLength;
        if (favoriteKeyParts(index.text + entry.keyStart, entry.keyLength, keyPrefix, &number,
                             &field, &fieldLength))
            numbers[count++] = number;
    }
    std::qsort(numbers, count, sizeof(int), compareInts);
    FavoriteFeed** tail = &favorites;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && numbers[i] == numbers[i - 1])
            continue;
        int number = numbers[i];
        const SettingsEntry* url = favoriteField(index, number, "url");
        if (!url) {
            // Any key of the number names the line.
            const SettingsEntry* any = nullptr;
            for (size_t e = 0; e < index.count && !any; ++e) {
                int n;
                size_t f, fl;
                if (favoriteKeyParts(index.text + index.entries[e].keyStart,
                                     index.entries[e].keyLength, keyPrefix, &n, &f, &fl) &&
                    n == number)
                    any = &index.entries[e];
            }
            char text[200];
            int n = problemStart(text, sizeof text, *any);
            std::snprintf(text + n, sizeof text - n, "fav%d has no address; it is left out",
                          number);
            addProblem(text);
            continue;
        }
        FavoriteFeed* feed = newFavorite();
        if (!feed)
            break;
        feed->number = number;
        char* value = settingValueCopy(index, *url);
        // A favourite whose address is too long is listed without one, so that it never leads
        // to a cut address.
        if (!value || !copySettingUrl(feed->url, value))
            feed->url[0] = '\0';
        std::free(value);
        // A second favourite of the same feed would be fetched twice and share its marks of
        // what was seen: the first keeps its title and settings, the later one is left out.
        feed->addressHash = addressKeyHash(feed->url);
        const FavoriteFeed* first =
            feed->url[0] ? favoriteWithHash(feed->url, feed->addressHash) : nullptr;
        if (first) {
            char text[200];
            int n = problemStart(text, sizeof text, *url);
            std::snprintf(text + n, sizeof text - n,
                          "fav%d is the same feed as fav%d; it is left out", number, first->number);
            addProblem(text);
            std::free(feed);
            continue;
        }
        const SettingsEntry* title = favoriteField(index, number, "title");
        value = title ? settingValueCopy(index, *title) : nullptr;
        char* converted = value ? utf8FromFile(value) : nullptr;
        copySettingUtf8(feed->title, converted ? converted : "");
        std::free(converted);
        std::free(value);
        *tail = feed;
        tail = &feed->next;
        ++favoriteCount;
    }
    std::free(numbers);
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
    for (const SettingRow& row : settingRows) {
        if (sameField(row, settings, savedSettings) || (since && sameField(row, settings, *since)))
            continue;
        if (count == 0) {
            bytes = readSettingsBytes(settingsPath, &length, &missing);
            if ((!bytes && !missing) ||
                !indexSettings(bytes ? bytes : "", length, keyPrefix, &index)) {
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
        char* edited = applySettingEdits(bytes ? bytes : "", length, edits, count, &newLength);
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

void reportSettingsNotWritten() {
    char text[MAX_PATH + 256];
    std::snprintf(text, sizeof text,
                  "The settings file could not be written (is it marked read-only, or the disk "
                  "full?), so nothing was saved there and no favourite was added. The file was "
                  "left as it was; changes stay in effect until FeedMarquee ends.\n\n%s",
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
    size_t size = 0;
    bool missing = false;
    char* bytes = found ? readSettingsBytes(settingsPath, &size, &missing) : nullptr;
    if (!bytes) {
        std::free(problemText);
        problemText = nullptr;
        forgetFile();
        applyDefaults();
        savedSettings = settings;
        if (!found || missing)
            writeAllRows(); // creates the file; nothing when no path fits
        return;
    }
    SettingsFileStamp stamp = settingsFileStamp(settingsPath);
    loadFromBytes(bytes, size, false);
    knownStamp = stamp;
    std::free(bytes);
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
    bool ready = texts != nullptr;
    size_t kept = 0;
    for (size_t i = 0; ready && i < count; ++i) {
        // The same feed twice is refused, against the favourites and within the list.
        bool again = favoriteWithAddress(urls[i]) != nullptr;
        for (size_t j = 0; j < i && !again; ++j)
            again = sameFeedAddress(urls[j], urls[i], systemHostToAscii);
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
    std::free(edits);
    if (!stored) {
        reportSettingsNotWritten();
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
