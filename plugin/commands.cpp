// The command strings that the context menu (and anything else in the shell) sends back to the
// plug-in window: "@FeedMarquee", a command word, and for most words one separator character and
// an argument. The settings a command changes are written to the settings file at once, only those.
#include "plugin/commands.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <commctrl.h>

#include "content/feed_items.h"
#include "content/utf8_ansi.h"
#include "display/painting.h"
#include "plugin/placement.h"
#include "display/tooltip.h"
#include "plugin/window_proc.h"
#include "feed/feed_engine.h"
#include "feed/feed_health.h"
#include "feed/login_store.h"
#include "plugin/dialog_library.h"
#include "plugin/feed_updates.h"
#include "plugin/favorite_removal.h"
#include "plugin/lifecycle.h"
#include "plugin/login_dialog.h"
#include "plugin/keyboard.h"
#include "plugin/menu.h"
#include "plugin/opml_commands.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "shell/blackbox_api.h"

static_assert(sizeof(OPENFILENAMEA) == 88, "the file dialog is given the 88-byte record");
static_assert(sizeof(CHOOSECOLORA) == 36, "the colour dialog is given the 36-byte record");
static_assert(sizeof(CHOOSEFONTA) == 60, "the font dialog is given the 60-byte record");
static_assert(sizeof(LOGFONTA) == 60, "the font dialog works on the 60-byte LOGFONTA");

BOOL(WINAPI* openFileDialog)(OPENFILENAMEA*) = openFileDialogOnDemand;
BOOL(WINAPI* chooseColorDialog)(CHOOSECOLORA*) = chooseColorDialogOnDemand;
BOOL(WINAPI* chooseFontDialog)(CHOOSEFONTA*) = chooseFontDialogOnDemand;

namespace {

const char commandPrefix[] = "@FeedMarquee";
const size_t commandPrefixLength = sizeof commandPrefix - 1;

// ---- Matching and arguments (plain text work, no window involved) ----------------------------

char foldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the first length characters of text equal word, ignoring ASCII letter case. text
// may be shorter than word: its terminator then differs from the word's next character.
bool startsWithNoCase(const char* text, const char* word, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (foldCase(text[i]) != foldCase(word[i]))
            return false;
        if (text[i] == '\0')
            return false;
    }
    return true;
}

bool equalsNoCase(const char* text, const char* word) {
    size_t length = std::strlen(word);
    return startsWithNoCase(text, word, length) && text[length] == '\0';
}

// A number of digits alone, blanks after it allowed; false for anything else or one too large.
bool readWholeNumber(const char* text, int* out) {
    long long value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return false;
    }
    if (p == text)
        return false;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p != '\0')
        return false;
    *out = static_cast<int>(value);
    return true;
}

// The integer argument as the C library's atoi reads it: white space, an optional sign, then
// decimal digits up to the first other character; 0 without digits. Unlike atoi, a number too
// large for an int stops at INT_MAX (INT_MIN) instead of being undefined.
int parseInteger(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// ---- The three short steps ---------------------------------------------------------------------

void update() {
    if (requestUpdate())
        repaint();
}

void refreshMenu() {
    buildMenu(false);
}

bool toggle(bool& setting) {
    setting = !setting;
    return setting;
}

// ---- Longer commands ---------------------------------------------------------------------------

void showAbout() {
    SendMessageA(runtime.shellWindow, BB_ABOUTPLUGIN, 0, 0);
    showMessageBox(runtime.shellWindow, pluginInfo(0), pluginName, MB_TOPMOST);
}

// Indices of 0 or less select the first favourite; an index past the end selects none.
void selectFavorite(int index) {
    const FavoriteFeed* favorite = favorites;
    for (int i = 0; favorite && i < index; ++i)
        favorite = favorite->next;
    if (!favorite)
        return;
    copySettingUrl(settings.feedUrl, favorite->url);
    update();
    refreshMenu();
}

// True while the DisplayList holds only the placeholder of a running or failed fetch.
bool showsPlaceholder() {
    const FeedItem* first = shownFirst();
    return first && !first->next && first->title &&
           (std::strcmp(first->title, connectingText) == 0 ||
            std::strcmp(first->title, failedText) == 0);
}

// Stores the current feed as the next favourite, titled with the feed's own title (the header
// entry of the DisplayList), or an empty title when there is none yet: a placeholder such as
// "Couldn't connect!" is no name for a feed, nor is the title of the feed shown before the
// address changed.
void addCurrentFavorite() {
    // The same feed twice would be fetched twice and share one record of what was seen.
    if (const FavoriteFeed* already = favoriteWithAddress(settings.feedUrl)) {
        char* name = utf8ToAnsi(already->title);
        char text[400];
        std::snprintf(text, sizeof text, "This feed is a favourite already%s%.255s%s.",
                      name && name[0] ? " (\"" : "", name ? name : "",
                      name && name[0] ? "\")" : "");
        free(name);
        showMessageBox(nullptr, text, pluginName, MB_TOPMOST | MB_ICONINFORMATION);
        return;
    }
    // The feed's title as the feed gave it: UTF-8 is stored as it is, other bytes are read in the
    // ANSI code page.
    const char* title = "";
    if (shownFirst() && shownFirst()->title && !showsPlaceholder() &&
        !headlinesOfAnotherAddress(settings.feedUrl))
        title = shownFirst()->title;
    // The favourite is stored while feedUrl may be rewritten, so hand over a copy.
    char url[sizeof settings.feedUrl];
    std::memcpy(url, settings.feedUrl, sizeof url);
    addFavorite(title, url);
    refreshMenu();
}

void setUpdateInterval(int minutes) {
    settings.updateInterval = minutes;
    armUpdateTimer(); // kills and re-arms timer 1, at least a minute and never overflowing
}

void setTipWidth(int width) {
    settings.tipWidth = width;
    if (tooltipWindow)
        SendMessageA(tooltipWindow, TTM_SETMAXTIPWIDTH, 0, tipWidthInForce(width));
}

void setTipHideDelay(int seconds) {
    settings.tipHideDelay = seconds;
    applyTooltipSettings(); // sends seconds x 1000, computed and capped without overflow
}

void toggleOnTop(HWND window) {
    bool onTop = toggle(settings.alwaysontop);
    // The slit decides the z-order of the windows it holds.
    if (!settings.inSlit)
        SetWindowPos(window, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    refreshMenu();
}

void moveToOrFromSlit(HWND window) {
    if (!runtime.slitWindow)
        return;
    if (settings.inSlit) {
        SendMessageA(runtime.slitWindow, SLIT_REMOVE, 0, reinterpret_cast<LPARAM>(window));
        // Out of the slit without taking the foreground from the user's program.
        SetWindowPos(window, nullptr, settings.x, settings.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        settings.inSlit = false;
        applyTransparency();
        runtime.autoHidden = autoHideTarget(nullptr);
        SetTimer(window, 3, 300, nullptr);
    } else {
        settings.inSlit = true;
        applyTransparency(); // drops the layered style, which the slit cannot host
        SendMessageA(runtime.slitWindow, SLIT_ADD, 0, reinterpret_cast<LPARAM>(window));
    }
}

// The dialog works on its own buffer: a cancelled or failed dialog may still write into it (a
// too small buffer gets the needed size in its first bytes), and browserPath must not change then.
void chooseBrowser() {
    char path[256];
    // The dialog is narrow: it starts at the path's code-page form, and its choice is kept as
    // UTF-8.
    char* current = utf8ToAnsi(settings.browserPath);
    std::snprintf(path, sizeof path, "%s", current ? current : "");
    std::free(current);
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = nullptr;
    dialog.lpstrFilter = "Programs(*.exe)\0*.exe\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (openFileDialog(&dialog))
        copyTextAsUtf8(settings.browserPath, path);
}

void chooseFontColor() {
    COLORREF customColors[16];
    for (COLORREF& c : customColors)
        c = RGB(255, 255, 255);
    CHOOSECOLORA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = nullptr;
    dialog.rgbResult = settings.fontColor;
    dialog.lpCustColors = customColors;
    dialog.Flags = CC_RGBINIT;
    if (!chooseColorDialog(&dialog))
        return;
    settings.fontColor = dialog.rgbResult;
    repaint();
}

void chooseFont(HWND window) {
    LOGFONTA logFont;
    ZeroMemory(&logFont, sizeof logFont);
    // The dialog is narrow: it starts at the face's code-page form.
    char* face = utf8ToAnsi(settings.font);
    HFONT font = CreateFontA(fontHeightInForce(settings.fontHeight), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, face ? face : "");
    if (font) {
        GetObjectA(font, sizeof logFont, &logFont);
        DeleteObject(font);
    } else {
        logFont.lfHeight = settings.fontHeight;
        logFont.lfWeight = FW_NORMAL;
        logFont.lfCharSet = DEFAULT_CHARSET;
        std::snprintf(logFont.lfFaceName, sizeof logFont.lfFaceName, "%s", face ? face : "");
    }
    std::free(face);
    CHOOSEFONTA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window;
    dialog.lpLogFont = &logFont;
    dialog.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
    dialog.nFontType = SCREEN_FONTTYPE;
    if (!chooseFontDialog(&dialog))
        return;
    logFont.lfFaceName[sizeof logFont.lfFaceName - 1] = '\0';
    copyTextAsUtf8(settings.font, logFont.lfFaceName);
    // The dialog reports a character height (negative); the setting holds it positive.
    settings.fontHeight = logFont.lfHeight == INT_MIN ? INT_MAX : -logFont.lfHeight;
    repaint();
    followUpRepaint();
    refreshMenu();
}

void editSettingsFile() {
    BBExecute(GetDesktopWindow(), nullptr, settingsPath, nullptr, nullptr, SW_SHOWNORMAL, false);
}

// Answers the health line to the shell as the command string "@FeedMarqueeHealthReport TEXT", which
// the shell hands on to every window registered for commands (and records), so scripts and tests
// can read the state of the feed.
void reportHealth() {
    static char report[2 * healthReportLimit];
    std::snprintf(report, sizeof report, "@FeedMarqueeHealthReport %s", healthReport());
    SendMessageA(runtime.shellWindow, BB_BROAM, 0, reinterpret_cast<LPARAM>(report));
}

// Hands the window every setting it holds itself, so that after a reload the window agrees with
// the file and with the menu: size and place (or the auto-hide place), z-order, the tooltip, the
// update timer and the opacity.
void applyReloadedSettings(HWND window) {
    PluginSettings asRead = settings;
    settings.width = windowExtentInForce(settings.width, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    settings.height = windowExtentInForce(settings.height, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    bringBackOnScreen();
    acceptSettingsInForce(asRead);
    placeAfterAutoHideChange(); // moves to (x, y) or the hidden place, at the stored size
    if (settings.autoHide)
        SetTimer(window, 3, 300, nullptr);
    // The slit decides the z-order of the windows it holds.
    if (!settings.inSlit)
        SetWindowPos(window, settings.alwaysontop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    applyTooltipSettings();
    activateTooltip(settings.allowtooltip);
    reconfigureFeeds(); // the mode or the favourites may differ
    armTurnTimer();
    viewChanged();
    armUpdateTimer();
    keyboardSettingsChanged(window);
    applyTransparency(); // drops the layered style in the slit; repaints and rebuilds the menu
}

// Applies settings just taken from the file; previous are those in force before.
void applyTakenSettings(HWND window, const PluginSettings& previous) {
    bool wasInSlit = previous.inSlit && runtime.slitWindow;
    // A file that names another feed is fetched at once, as choosing it from the menu would be.
    if (std::strcmp(previous.feedUrl, settings.feedUrl) != 0)
        requestUpdate();
    reloadShellStyle();
    HWND slit = runtime.slitWindow;
    if (!(settings.inSlit && slit) && slit)
        SendMessageA(slit, SLIT_REMOVE, 0, reinterpret_cast<LPARAM>(window));
    applyReloadedSettings(window);
    keyboardListShown(window); // the filters may hide or show other items now
    if (settings.inSlit && slit) {
        // A window that the reload puts into the slit must be handed to it, not just announced.
        if (wasInSlit)
            SendMessageA(slit, SLIT_UPDATE, 0, 0);
        else
            SendMessageA(slit, SLIT_ADD, 0, reinterpret_cast<LPARAM>(window));
    }
    repaint();
}

void reloadSettings(HWND window) {
    PluginSettings previous = settings;
    readSettings();
    applyTakenSettings(window, previous);
}

// "@FeedMarqueeFeedSetting <n|shown> <field> [value]": a feed's own setting, for favourite n (0
// first) or the address shown now; a switch without a value is toggled. The feeds and the menu
// follow at once.
void setFeedSettingCommand(const char* argument) {
    while (*argument == ' ')
        ++argument;
    int index = -1;
    if (*argument >= '0' && *argument <= '9')
        index = parseInteger(argument);
    else if (!startsWithNoCase(argument, "shown", 5))
        return;
    argument += std::strcspn(argument, " ");
    while (*argument == ' ')
        ++argument;
    char field[32];
    size_t length = std::strcspn(argument, " ");
    if (length == 0 || length >= sizeof field)
        return;
    std::memcpy(field, argument, length);
    field[length] = '\0';
    const char* value = argument + length;
    if (*value == ' ')
        ++value;
    if (setFeedSetting(index, field, value))
        favoritesChanged(); // the feeds (a muted one leaves them) and the menu
}

// ---- The command table -------------------------------------------------------------------------

enum MatchKind { exactMatch, wordPrefixMatch };

// window: the plug-in window the command acts on; argument: for word-prefix commands the text
// after the separator (never null), else null.
typedef void (*CommandAction)(HWND window, const char* argument);

struct CommandWord {
    const char* word;
    MatchKind match;
    CommandAction action;
};

// Tried in this order; the first match is carried out.
const CommandWord commandWords[] = {
    {"About", exactMatch, [](HWND, const char*) { showAbout(); }},
    {"feedUrl", wordPrefixMatch,
     [](HWND, const char* a) {
         // An address too long to keep is refused, never cut: the feed stays as it was.
         if (!copySettingUrl(settings.feedUrl, a)) {
             reportAddressTooLong();
             return;
         }
         update();
         refreshMenu();
     }},
    {"UpdateNow", exactMatch,
     [](HWND, const char*) {
         // The user asks for it: a login the server refused is tried once more.
         releaseLoginHolds();
         update();
         refreshMenu();
     }},
    {"Login", wordPrefixMatch, [](HWND w, const char* a) { loginCommand(w, a); }},
    {"ForgetLogin", wordPrefixMatch, [](HWND, const char* a) { forgetLoginCommand(a); }},
    {"Favorites", wordPrefixMatch, [](HWND, const char* a) { selectFavorite(parseInteger(a)); }},
    {"AddFavorites", exactMatch, [](HWND, const char*) { addCurrentFavorite(); }},
    {"ImportOpml", wordPrefixMatch, [](HWND, const char* a) { importOpmlCommand(a); }},
    {"ExportOpml", wordPrefixMatch, [](HWND, const char* a) { exportOpmlCommand(a); }},
    {"UpdateInterval", wordPrefixMatch,
     [](HWND, const char* a) { setUpdateInterval(parseInteger(a)); }},
    {"StyleType", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.styleType = parseInteger(a);
         reloadShellStyle(); // rebuilds the menu too
         repaint();
     }},
    {"Encode", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.encoding = parseInteger(a);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"Highlight", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.highlight = parseInteger(a);
         repaint();
         refreshMenu();
     }},
    {"JustifyType", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.justification = parseInteger(a);
         repaint();
         refreshMenu();
     }},
    {"WidthSize", wordPrefixMatch,
     [](HWND, const char* a) {
         if (applySize(parseInteger(a), settings.height))
             repaint();
     }},
    {"HeightSize", wordPrefixMatch,
     [](HWND, const char* a) {
         if (applySize(settings.width, parseInteger(a)))
             repaint();
     }},
    {"PaddingSize", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.padding = parseInteger(a);
         repaint();
         followUpRepaint();
     }},
    {"TitleOffsetSize", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.title_offset = parseInteger(a);
         repaint();
         followUpRepaint();
     }},
    {"DescOffsetSize", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.desc_offset = parseInteger(a);
         repaint();
         followUpRepaint();
     }},
    {"TipWidth", wordPrefixMatch, [](HWND, const char* a) { setTipWidth(parseInteger(a)); }},
    {"TipHideDelay", wordPrefixMatch,
     [](HWND, const char* a) { setTipHideDelay(parseInteger(a)); }},
    {"FontSize", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.fontHeight = parseInteger(a);
         repaint();
         followUpRepaint();
     }},
    {"FontFace", wordPrefixMatch,
     [](HWND, const char* a) {
         copyTextAsUtf8(settings.font, a);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"UseRefFont", exactMatch,
     [](HWND, const char*) {
         toggle(settings.useRefFont);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"pluginToggle", exactMatch,
     [](HWND, const char*) {
         toggle(settings.pluginToggle);
         applyTransparency(); // repaints and rebuilds the menu
     }},
    {"OnTop", exactMatch, [](HWND w, const char*) { toggleOnTop(w); }},
    {"InSlit", exactMatch, [](HWND w, const char*) { moveToOrFromSlit(w); }},
    {"Transparent", exactMatch,
     [](HWND, const char*) {
         toggle(settings.transparency);
         applyTransparency();
     }},
    {"AlphaValue", wordPrefixMatch,
     [](HWND, const char* a) {
         settings.alpha = parseInteger(a);
         applyTransparency();
     }},
    {"SnapToEdge", exactMatch,
     [](HWND, const char*) {
         toggle(settings.snapWindow);
         refreshMenu();
     }},
    {"ShowBorder", exactMatch,
     [](HWND, const char*) {
         toggle(settings.showBorder);
         repaint();
         refreshMenu();
     }},
    {"AllowTip", exactMatch,
     [](HWND, const char*) {
         activateTooltip(toggle(settings.allowtooltip));
         refreshMenu();
     }},
    {"LockPosition", exactMatch,
     [](HWND, const char*) {
         toggle(settings.lockPos);
         refreshMenu();
     }},
    {"AutoHide", exactMatch,
     [](HWND, const char*) {
         toggle(settings.autoHide);
         // A window flush with a monitor edge hides at once, any other is shown at its place.
         placeAfterAutoHideChange();
         refreshMenu();
     }},
    {"ShowDescription", exactMatch,
     [](HWND, const char*) {
         toggle(settings.showDesc);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"ShowDate", exactMatch,
     [](HWND, const char*) {
         toggle(settings.showDate);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"AbbreviatedDate", exactMatch,
     [](HWND, const char*) {
         toggle(settings.abbreviatedDate);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"DatePosHead", exactMatch,
     [](HWND, const char*) {
         toggle(settings.datePosHead);
         repaint();
         refreshMenu();
     }},
    {"ShowItemCounts", exactMatch,
     [](HWND, const char*) {
         toggle(settings.showItemCounts);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"ShowUpdateTime", exactMatch,
     [](HWND, const char*) {
         toggle(settings.showUpdateTime);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"WordWrap", exactMatch,
     [](HWND, const char*) {
         toggle(settings.wordWrap);
         repaint();
         followUpRepaint();
         refreshMenu();
     }},
    {"TipShowTitle", exactMatch,
     [](HWND, const char*) {
         toggle(settings.tipShowTitle);
         repaint();
         refreshMenu();
     }},
    {"HilightBorder", exactMatch,
     [](HWND, const char*) {
         toggle(settings.hilightBorder);
         repaint();
         refreshMenu();
     }},
    {"SetBrowser", exactMatch, [](HWND, const char*) { chooseBrowser(); }},
    {"DefaultBrowser", exactMatch, [](HWND, const char*) { settings.browserPath[0] = '\0'; }},
    {"FontColor", exactMatch, [](HWND, const char*) { chooseFontColor(); }},
    {"SetFont", exactMatch, [](HWND w, const char*) { chooseFont(w); }},
    {"EditRC", exactMatch, [](HWND, const char*) { editSettingsFile(); }},
    {"ReloadSettings", exactMatch, [](HWND w, const char*) { reloadSettings(w); }},
    // The keys changed since the file was read; a command's own change is written at once.
    {"SaveSettings", exactMatch,
     [](HWND, const char*) {
         if (!writeSettings())
             reportSettingsNotWritten();
     }},
    {"Health", exactMatch, [](HWND, const char*) { reportHealth(); }},
    {"MarkAllRead", exactMatch, [](HWND, const char*) { markEverythingRead(); }},
    {"RemoveFavorite", wordPrefixMatch,
     [](HWND, const char* a) {
         // Only a whole number names a favourite: a bare command must not remove the first one,
         // nor "2x" the second.
         int number;
         if (readWholeNumber(a, &number) && removeFavorite(number))
             favoritesChanged();
     }},
    {"FeedSetting", wordPrefixMatch, [](HWND, const char* a) { setFeedSettingCommand(a); }},
    // Last: the words above that begin with "Show" are matched whole before this one.
    {"Show", wordPrefixMatch, [](HWND, const char* a) { setShowMode(a); }},
};
static_assert(sizeof commandWords / sizeof commandWords[0] == 55, "55 command words");

// Runs a command and writes the settings it changed at once, only those: the file stays the
// user's between commands.
// A file that does not take the writes is reported once, not at every command, until a write
// succeeds again.
void carryOut(const CommandWord& entry, HWND window, const char* argument) {
    static bool failureReported;
    PluginSettings before = settings;
    entry.action(window, argument);
    if (writeSettingsChangedSince(before)) {
        failureReported = false;
    } else if (!failureReported) {
        failureReported = true;
        reportSettingsNotWritten();
    }
}

} // namespace

void applyFileSettings(HWND window, const PluginSettings& previous) {
    applyTakenSettings(window, previous);
}

void handleCommand(HWND window, const char* command) {
    if (!command)
        return;
    bool standalone = !settings.inSlit && settings.pluginToggle;
    if (equalsNoCase(command, "@BBShowPlugins")) {
        if (standalone) {
            ShowWindow(window, SW_SHOWNOACTIVATE);
            repaint();
        }
    } else if (equalsNoCase(command, "@BBHidePlugins")) {
        if (standalone)
            ShowWindow(window, SW_HIDE);
    }
    if (!startsWithNoCase(command, commandPrefix, commandPrefixLength))
        return;
    const char* rest = command + commandPrefixLength;
    for (const CommandWord& entry : commandWords) {
        if (entry.match == exactMatch) {
            if (!equalsNoCase(rest, entry.word))
                continue;
            carryOut(entry, window, nullptr);
            return;
        }
        size_t length = std::strlen(entry.word);
        if (!startsWithNoCase(rest, entry.word, length))
            continue;
        // One separator character is skipped whatever it is; the argument is the rest.
        const char* argument = rest + length;
        if (*argument)
            ++argument;
        carryOut(entry, window, argument);
        return;
    }
}
