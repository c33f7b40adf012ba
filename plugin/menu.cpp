// The context menu: one tree of named menus, built fresh from the settings and the
// favourites after every change and never edited in place. The shell owns the menu objects; the
// plug-in keeps only the top menu's handle and deletes the whole tree through it.
#include "plugin/menu.h"

#include <cstdio>
#include <cstdlib>

#include "content/utf8_ansi.h"

#include "feed/login_store.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

Menu* rootMenu;

namespace {

// Every MakeNamedMenu call of one build gets the same popup flag.
bool buildPopup;

Menu* namedMenu(const char* title, const char* id) {
    return MakeNamedMenu(title, id, buildPopup);
}

void addCommand(Menu* menu, const char* label, const char* command) {
    MakeMenuItem(menu, label, command, false);
}

void addCheck(Menu* menu, const char* label, const char* command, bool checked) {
    MakeMenuItem(menu, label, command, checked);
}

struct Choice {
    const char* label;
    int number;
};

// One entry per choice, commanding "<command> <number>", checked where current equals number.
template <size_t count>
void addChoices(Menu* menu, const char* command, const Choice (&choices)[count], int current) {
    for (const Choice& choice : choices) {
        char text[64];
        std::snprintf(text, sizeof text, "%s %d", command, choice.number);
        MakeMenuItem(menu, choice.label, text, current == choice.number);
    }
}

void addSeparator(Menu* menu) {
    MakeMenuNOP(menu, nullptr);
}

// One feed's own settings: "@FeedMarqueeFeedSetting <which> <field> [value]", which being the
// favourite's index or "shown"; then the login of the feed's origin, whose entries only open the
// login dialog or forget the login (a password never travels in a command). loginWhich is the
// Login commands' argument: the favourite's index, or empty for the shown address.
Menu* buildFeedSettingsMenu(const char* title, const char* id, const char* which,
                            const char* loginWhich, const FeedSettings& own) {
    Menu* menu = namedMenu(title, id);
    char command[64];
    // The command that sets field for this feed.
    auto setting = [&](const char* field) {
        std::snprintf(command, sizeof command, "@FeedMarqueeFeedSetting %s %s", which, field);
        return command;
    };
    MakeMenuItemInt(menu, "Update Interval (min, 0: all feeds')", setting("interval"), own.interval,
                    0, 1440);
    MakeMenuItemInt(menu, "Items Together (0: all feeds')", setting("maxItems"), own.maxItems, 0,
                    1000);
    addCheck(menu, "Mute", setting("mute"), own.mute);
    addCheck(menu, "Sound for New Items", setting("sound"), own.sound);
    addCheck(menu, "Allow Login over http", setting("allowBasicOverHttp"), own.allowBasicOverHttp);
    addSeparator(menu);
    MakeMenuItemString(menu, "User-Agent", setting("userAgent"), own.userAgent);
    // The shell's menus take the code page; the words are kept as UTF-8.
    char* words = utf8ToAnsi(own.hideWords);
    MakeMenuItemString(menu, "Hide Words", setting("hideWords"), words ? words : "");
    std::free(words);
    words = utf8ToAnsi(own.highlightWords);
    MakeMenuItemString(menu, "Highlight Words", setting("highlightWords"), words ? words : "");
    std::free(words);
    addSeparator(menu);
    const char* blank = loginWhich[0] ? " " : "";
    std::snprintf(command, sizeof command, "@FeedMarqueeLogin%s%s", blank, loginWhich);
    addCommand(menu, "Login...", command);
    std::snprintf(command, sizeof command, "@FeedMarqueeForgetLogin%s%s", blank, loginWhich);
    addCommand(menu, "Forget Login", command);
    return menu;
}

// A submenu of settings for the address shown in "one" mode and one for each favourite.
Menu* buildAllFeedSettingsMenu() {
    Menu* menu = namedMenu("Feed Settings", "FDMQ_FeedSettings");
    if (settings.feedUrl[0])
        MakeSubmenu(menu,
                    buildFeedSettingsMenu("Shown Feed", "FDMQ_FeedShown", "shown", "",
                                          feedSettingsFor(settings.feedUrl)),
                    "Shown Feed");
    int index = 0;
    for (const FavoriteFeed* favorite = favorites; favorite; favorite = favorite->next, ++index) {
        char which[16], id[32];
        std::snprintf(which, sizeof which, "%d", index);
        std::snprintf(id, sizeof id, "FDMQ_Feed%d", index);
        const char* title = favorite->title[0] ? favorite->codePageTitle : favorite->url;
        MakeSubmenu(menu, buildFeedSettingsMenu(title, id, which, which, favorite->own), title);
    }
    // A proxy's own login, once a proxy asked for one: it serves every feed.
    char proxy[320];
    if (proxyWantingLogin(proxy, sizeof proxy)) {
        addSeparator(menu);
        addCommand(menu, "Proxy Login...", "@FeedMarqueeLogin proxy");
        addCommand(menu, "Forget Proxy Login", "@FeedMarqueeForgetLogin proxy");
    }
    return menu;
}

Menu* buildFavoritesMenu() {
    Menu* menu = namedMenu("Favorites", "FDMQ_Favorites");
    int index = 0;
    for (const FavoriteFeed* favorite = favorites; favorite; favorite = favorite->next, ++index) {
        char command[256];
        std::snprintf(command, sizeof command, "@FeedMarqueeFavorites %d", index);
        // The shell's menus take the code page; a favourite without a title is named by its
        // address, as elsewhere in the menu.
        addCommand(menu, favorite->title[0] ? favorite->codePageTitle : favorite->url, command);
    }
    if (index > 0)
        addSeparator(menu);
    if (index > 0 || settings.feedUrl[0])
        MakeSubmenu(menu, buildAllFeedSettingsMenu(), "Feed Settings");
    addCommand(menu, "Import OPML...", "@FeedMarqueeImportOpml");
    addCommand(menu, "Export OPML...", "@FeedMarqueeExportOpml");
    return menu;
}

Menu* buildShowMenu() {
    static const struct {
        const char* label;
        const char* command;
        int mode;
    } modes[] = {{"One Feed", "@FeedMarqueeShow one", showOne},
                 {"Together", "@FeedMarqueeShow together", showTogether},
                 {"In Turn", "@FeedMarqueeShow inTurn", showInTurn}};
    Menu* menu = namedMenu("Show", "FDMQ_Show");
    for (const auto& mode : modes)
        addCheck(menu, mode.label, mode.command, settings.show == mode.mode);
    return menu;
}

Menu* buildRemoveFavoriteMenu() {
    Menu* menu = namedMenu("Remove Favorite", "FDMQ_RemoveFavorite");
    int index = 0;
    for (const FavoriteFeed* favorite = favorites; favorite; favorite = favorite->next, ++index) {
        char command[64];
        std::snprintf(command, sizeof command, "@FeedMarqueeRemoveFavorite %d", index);
        addCommand(menu, favorite->title[0] ? favorite->codePageTitle : favorite->url, command);
    }
    return menu;
}

Menu* buildEncodingMenu() {
    static const Choice choices[] = {{"None", 0}, {"UTF-8", 1}};
    Menu* menu = namedMenu("encoding", "FDMQ_encoding");
    addChoices(menu, "@FeedMarqueeEncode", choices, settings.encoding);
    return menu;
}

Menu* buildHighlightMenu() {
    static const Choice choices[] = {{"None", 0}, {"MouseOver", 1}, {"ALL", 2}};
    Menu* menu = namedMenu("highlight", "FDMQ_highlight");
    addChoices(menu, "@FeedMarqueeHighlight", choices, settings.highlight);
    addSeparator(menu);
    addCheck(menu, "Show Border", "@FeedMarqueeHilightBorder", settings.hilightBorder);
    return menu;
}

Menu* buildBrowserMenu() {
    Menu* menu = namedMenu("browser", "FDMQ_browser");
    addCommand(menu, "Browse...", "@FeedMarqueeSetBrowser");
    addCommand(menu, "Default", "@FeedMarqueeDefaultBrowser");
    return menu;
}

Menu* buildTooltipMenu() {
    Menu* menu = namedMenu("tooltip", "FDMQ_tooltip");
    addCheck(menu, "Allow Tooltip", "@FeedMarqueeAllowTip", settings.allowtooltip);
    addCheck(menu, "Show Title", "@FeedMarqueeTipShowTitle", settings.tipShowTitle);
    addSeparator(menu);
    // The ranges are those in force (plugin/setting_limits.h, the update schedule).
    MakeMenuItemInt(menu, "Tooltip Width", "@FeedMarqueeTipWidth", settings.tipWidth, 50, 4096);
    MakeMenuItemInt(menu, "Hide Delay (sec)", "@FeedMarqueeTipHideDelay", settings.tipHideDelay, 1,
                    300);
    return menu;
}

Menu* buildOffsetMenu() {
    Menu* menu = namedMenu("Offset Size", "FDMQ_offset");
    MakeMenuItemInt(menu, "title", "@FeedMarqueeTitleOffsetSize", settings.title_offset, 0, 50);
    MakeMenuItemInt(menu, "description", "@FeedMarqueeDescOffsetSize", settings.desc_offset, 0, 50);
    return menu;
}

Menu* buildRssMenu() {
    Menu* menu = namedMenu("RSS", "FDMQ_RSS");
    MakeSubmenu(menu, buildFavoritesMenu(), "Favorites");
    MakeMenuItemString(menu, "Feed URL", "@FeedMarqueeFeedUrl", settings.feedUrl);
    addCommand(menu, "Add Favorites", "@FeedMarqueeAddFavorites");
    addCommand(menu, "Update Now", "@FeedMarqueeUpdateNow");
    // This one command ends with the blank that separates it from the value.
    MakeMenuItemInt(menu, "Update Interval (min)", "@FeedMarqueeUpdateInterval ",
                    settings.updateInterval, 1, 1440);
    addSeparator(menu);
    MakeSubmenu(menu, buildEncodingMenu(), "encoding");
    MakeSubmenu(menu, buildHighlightMenu(), "highlight");
    MakeSubmenu(menu, buildBrowserMenu(), "browser");
    MakeSubmenu(menu, buildTooltipMenu(), "tooltip");
    addSeparator(menu);
    MakeMenuItemInt(menu, "Padding Size", "@FeedMarqueePaddingSize", settings.padding, 0, 50);
    MakeSubmenu(menu, buildOffsetMenu(), "Offset Size");
    addSeparator(menu);
    addCheck(menu, "Show Description", "@FeedMarqueeShowDescription", settings.showDesc);
    addCheck(menu, "Show Date", "@FeedMarqueeShowDate", settings.showDate);
    addCheck(menu, "Abbreviated Date", "@FeedMarqueeAbbreviatedDate", settings.abbreviatedDate);
    addCheck(menu, "Date Position Head", "@FeedMarqueeDatePosHead", settings.datePosHead);
    addCheck(menu, "Show Item Counts", "@FeedMarqueeShowItemCounts", settings.showItemCounts);
    addCheck(menu, "Show Update Time", "@FeedMarqueeShowUpdateTime", settings.showUpdateTime);
    addCheck(menu, "Word Wrap", "@FeedMarqueeWordWrap", settings.wordWrap);
    // The feeds: how the favourites are shown, what is new, and which of them to drop.
    addSeparator(menu);
    MakeSubmenu(menu, buildShowMenu(), "Show");
    addCommand(menu, "Mark All Read", "@FeedMarqueeMarkAllRead");
    MakeSubmenu(menu, buildRemoveFavoriteMenu(), "Remove Favorite");
    return menu;
}

Menu* buildFontMenu() {
    Menu* menu = namedMenu("Font", "FDMQ_Font");
    addCheck(menu, "Use Ref Font", "@FeedMarqueeUseRefFont", settings.useRefFont);
    // The plug-in's own font is only worth offering while the style's font is not used.
    if (!settings.useRefFont) {
        MakeMenuItemInt(menu, "Font Size", "@FeedMarqueeFontSize", settings.fontHeight, 1, 128);
        // The shell's menus take the code page; the face is kept as UTF-8.
        char* face = utf8ToAnsi(settings.font);
        MakeMenuItemString(menu, "Font Face", "@FeedMarqueeFontFace", face ? face : "");
        std::free(face);
        addCommand(menu, "Font Color", "@FeedMarqueeFontColor");
        addCommand(menu, "Browse...", "@FeedMarqueeSetFont");
    }
    return menu;
}

Menu* buildConfigurationMenu() {
    Menu* menu = namedMenu("Configuration", "FDMQ_Config");
    // The maxima follow the virtual screen as it is now.
    MakeMenuItemInt(menu, "Width Size", "@FeedMarqueeWidthSize", settings.width, 10,
                    GetSystemMetrics(SM_CXVIRTUALSCREEN));
    MakeMenuItemInt(menu, "Height Size", "@FeedMarqueeHeightSize", settings.height, 10,
                    GetSystemMetrics(SM_CYVIRTUALSCREEN));
    MakeSubmenu(menu, buildFontMenu(), "Font");
    addSeparator(menu);
    if (runtime.slitWindow)
        addCheck(menu, "In Slit", "@FeedMarqueeInSlit", settings.inSlit);
    addCheck(menu, "Plugin Toggle", "@FeedMarqueePluginToggle", settings.pluginToggle);
    addCheck(menu, "Always on Top", "@FeedMarqueeOnTop", settings.alwaysontop);
    addCheck(menu, "Transparency", "@FeedMarqueeTransparent", settings.transparency);
    MakeMenuItemInt(menu, "Alpha Value", "@FeedMarqueeAlphaValue", settings.alpha, 0, 255);
    addCheck(menu, "Snap To Edge", "@FeedMarqueeSnapToEdge", settings.snapWindow);
    addCheck(menu, "Show Border", "@FeedMarqueeShowBorder", settings.showBorder);
    addCheck(menu, "Lock Position", "@FeedMarqueeLockPosition", settings.lockPos);
    addCheck(menu, "Auto Hide", "@FeedMarqueeAutoHide", settings.autoHide);
    return menu;
}

Menu* buildStyleTypeMenu() {
    static const Choice choices[] = {{"Toolbar", 1}, {"Button", 2},   {"ButtonP", 3},
                                     {"Label", 4},   {"WinLabel", 5}, {"Clock", 6}};
    Menu* menu = namedMenu("Style Type", "FDMQ_StyleType");
    addChoices(menu, "@FeedMarqueeStyleType", choices, settings.styleType);
    return menu;
}

Menu* buildJustificationMenu() {
    static const Choice choices[] = {{"Left", 0}, {"Center", 1}, {"Right", 2}};
    Menu* menu = namedMenu("Justification", "FDMQ_JustifyType");
    addChoices(menu, "@FeedMarqueeJustifyType", choices, settings.justification);
    return menu;
}

Menu* buildSettingsMenu() {
    Menu* menu = namedMenu("Settings", "FDMQ_Settings");
    addCommand(menu, "Edit Settings", "@FeedMarqueeEditRC");
    addCommand(menu, "Reload Settings", "@FeedMarqueeReloadSettings");
    addCommand(menu, "Save Settings", "@FeedMarqueeSaveSettings");
    return menu;
}

} // namespace

void buildMenu(bool popup) {
    if (rootMenu) {
        DelMenu(rootMenu);
        rootMenu = nullptr;
    }
    buildPopup = popup;
    Menu* rss = buildRssMenu();
    Menu* configuration = buildConfigurationMenu();
    Menu* styleType = buildStyleTypeMenu();
    Menu* justification = buildJustificationMenu();
    Menu* settingsMenu = buildSettingsMenu();

    rootMenu = namedMenu("FeedMarquee", "FDMQ_Main");
    MakeSubmenu(rootMenu, rss, "RSS");
    MakeSubmenu(rootMenu, configuration, "Configuration");
    MakeSubmenu(rootMenu, styleType, "Style Type");
    MakeSubmenu(rootMenu, justification, "Justification");
    MakeSubmenu(rootMenu, settingsMenu, "Settings");
    addCommand(rootMenu, "About", "@FeedMarqueeAbout");
    ShowMenu(rootMenu);
}
