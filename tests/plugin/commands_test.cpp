// The command strings, driven through handleCommand as the window procedure would on message
// 10901, with their effects observed on the settings, the window, the tooltip control, the stand-in
// shell and slit, and the settings file.
#include "tests/support/check.h"
#include "tests/plugin/command_fixture.h"

#include <climits>
#include <commctrl.h>
#include <cstring>
#include <string>

#include "content/feed_items.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "plugin/feed_updates.h"
#include "plugin/commands.h"
#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "shell/blackbox_api.h"

namespace {

// Three favourites, as the settings file keeps them.
const char threeFavorites[] = "feedmarquee.fav0.url: http://127.0.0.1/zero.xml\n"
                              "feedmarquee.fav0.title: Zero\n"
                              "feedmarquee.fav1.url: http://127.0.0.1/one.xml\n"
                              "feedmarquee.fav1.title: One\n"
                              "feedmarquee.fav2.url: http://127.0.0.1/two.xml\n"
                              "feedmarquee.fav2.title: Two\n";

} // namespace

TEST(prefix_and_word_are_matched_in_any_letter_case) {
    startPlugin();
    CHECK(!settings.alwaysontop);
    handleCommand(runtime.pluginWindow, "@feedmarqueeONTOP");
    CHECK(settings.alwaysontop);
    CHECK(isTopmost(runtime.pluginWindow));
    handleCommand(runtime.pluginWindow, "@FEEDMARQUEEontop");
    CHECK(!settings.alwaysontop);
    CHECK(!isTopmost(runtime.pluginWindow));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeshowdate");
    CHECK(settings.showDate);
    handleCommand(runtime.pluginWindow, "@fEEDmARQUEEpADDINGsIZE 33");
    CHECK_EQ(settings.padding, 33);
    stopPlugin();
}

TEST(strings_that_are_no_command_change_nothing) {
    startPlugin();
    const char* const ignored[] = {
        "",
        "@FeedMarquee",
        "@FeedMarque",
        "FeedMarqueeOnTop",
        " @FeedMarqueeOnTop",
        "@FeedMarquee OnTop",
        "@FeedMarqueeOnTopX", // exact words take nothing after them
        "@FeedMarqueeShowDate 1",
        "@FeedMarqueeOn",
        "@FeedMarqueeUnknown 5",
        "@FeedMarqueeSaveSettingsNow",
        "@BBShowPlugins", // pluginToggle is off
        "@BBHidePlugins",
        "@BBHidePluginsX",
    };
    PluginSettings before;
    std::memcpy(&before, &settings, sizeof settings);
    std::string fileBefore = settingsFileText();
    for (const char* command : ignored) {
        handleCommand(runtime.pluginWindow, command);
        if (std::memcmp(&before, &settings, sizeof settings) != 0) {
            check::fail(__FILE__, __LINE__, std::string("changed settings: ") + command);
            std::memcpy(&settings, &before, sizeof settings);
        }
    }
    handleCommand(runtime.pluginWindow, nullptr);
    CHECK(IsWindowVisible(runtime.pluginWindow));
    CHECK(!isTopmost(runtime.pluginWindow));
    CHECK(!repaintPending());
    CHECK_EQ(settingsFileText(), fileBefore);
    stopPlugin();
}

TEST(the_separator_is_skipped_whatever_it_is) {
    startPlugin();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeWidthSizeX150");
    CHECK_EQ(settings.width, 150);
    CHECK_EQ(windowRect().right - windowRect().left, 150);
    CHECK(repaintPending());
    handleCommand(runtime.pluginWindow,
                  "@feedmarqueeWIDTHSIZEX5"); // 5 asks for a width below the minimum
    CHECK_EQ(settings.width, 10);
    CHECK_EQ(windowRect().right - windowRect().left, 10);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeWidthSize 180");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeWidthSize"); // no argument reads as 0
    CHECK_EQ(settings.width, 10);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeHeightSize:120");
    CHECK_EQ(settings.height, 120);
    CHECK_EQ(windowRect().bottom - windowRect().top, 120);
    ValidateRect(runtime.pluginWindow, nullptr);
    handleCommand(runtime.pluginWindow,
                  "@FeedMarqueeHeightSize 120"); // the same size changes nothing
    CHECK(!repaintPending());
    stopPlugin();
}

TEST(integer_arguments_are_read_as_atoi_reads_them_and_never_clamped) {
    startPlugin();
    struct Row {
        const char* command;
        int* field;
        int expected;
    };
    const Row rows[] = {
        {"@FeedMarqueePaddingSize 7", &settings.padding, 7},
        {"@FeedMarqueePaddingSize\t-7", &settings.padding, -7},
        {"@FeedMarqueePaddingSize    +42px", &settings.padding, 42},
        {"@FeedMarqueePaddingSize x", &settings.padding, 0},
        {"@FeedMarqueeTitleOffsetSize 60", &settings.title_offset, 60},
        {"@FeedMarqueeTitleOffsetSize 99999999999", &settings.title_offset, INT_MAX},
        {"@FeedMarqueeDescOffsetSize -99999999999", &settings.desc_offset, INT_MIN},
        {"@FeedMarqueeDescOffsetSize 12 34", &settings.desc_offset, 12},
        {"@FeedMarqueeFontSize 300", &settings.fontHeight, 300},
        {"@FeedMarqueeEncode 5", &settings.encoding, 5},
        {"@FeedMarqueeJustifyType 2", &settings.justification, 2},
        {"@FeedMarqueeJustifyType -1", &settings.justification, -1},
        {"@FeedMarqueeAlphaValue 300", &settings.alpha, 300},
        {"@FeedMarqueeHighlight 0", &settings.highlight, 0},
        {"@FeedMarqueeStyleType 9", &settings.styleType, 9},
    };
    for (const Row& row : rows) {
        handleCommand(runtime.pluginWindow, row.command);
        if (*row.field != row.expected)
            check::fail(__FILE__, __LINE__,
                        std::string(row.command) + " gave " + std::to_string(*row.field));
        if (!repaintPending())
            check::fail(__FILE__, __LINE__, std::string(row.command) + " did not repaint");
    }
    stopPlugin();
}

TEST(layout_commands_ask_for_a_follow_up_repaint_only_when_everything_is_highlighted) {
    startPlugin();
    const char* const withFollowUp[] = {
        "@FeedMarqueeEncode 0",          "@FeedMarqueePaddingSize 3",
        "@FeedMarqueeTitleOffsetSize 4", "@FeedMarqueeDescOffsetSize 6",
        "@FeedMarqueeFontSize 14",       "@FeedMarqueeFontFace Arial",
        "@FeedMarqueeUseRefFont",        "@FeedMarqueeShowDescription",
        "@FeedMarqueeShowDate",          "@FeedMarqueeAbbreviatedDate",
        "@FeedMarqueeShowItemCounts",    "@FeedMarqueeShowUpdateTime",
        "@FeedMarqueeWordWrap",
    };
    const char* const withoutFollowUp[] = {
        "@FeedMarqueeJustifyType 1", "@FeedMarqueeDatePosHead",   "@FeedMarqueeShowBorder",
        "@FeedMarqueeTipShowTitle",  "@FeedMarqueeHilightBorder",
    };
    handleCommand(runtime.pluginWindow, "@FeedMarqueeHighlight 2");
    CHECK_EQ(settings.highlight, 2);
    for (const char* command : withFollowUp) {
        timerArmed(4);
        handleCommand(runtime.pluginWindow, command);
        if (!timerArmed(4))
            check::fail(__FILE__, __LINE__, std::string("no follow-up after ") + command);
        if (!repaintPending())
            check::fail(__FILE__, __LINE__, std::string("no repaint after ") + command);
    }
    for (const char* command : withoutFollowUp) {
        handleCommand(runtime.pluginWindow, command);
        if (timerArmed(4))
            check::fail(__FILE__, __LINE__, std::string("follow-up after ") + command);
        if (!repaintPending())
            check::fail(__FILE__, __LINE__, std::string("no repaint after ") + command);
    }
    handleCommand(runtime.pluginWindow, "@FeedMarqueeHighlight 1");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeWordWrap");
    CHECK(!timerArmed(4));
    stopPlugin();
}

TEST(toggles_flip_their_setting_and_back) {
    startPlugin();
    struct Row {
        const char* command;
        bool* field;
    };
    const Row rows[] = {
        {"@FeedMarqueeUseRefFont", &settings.useRefFont},
        {"@FeedMarqueePluginToggle", &settings.pluginToggle},
        {"@FeedMarqueeTransparent", &settings.transparency},
        {"@FeedMarqueeSnapToEdge", &settings.snapWindow},
        {"@FeedMarqueeShowBorder", &settings.showBorder},
        {"@FeedMarqueeAllowTip", &settings.allowtooltip},
        {"@FeedMarqueeLockPosition", &settings.lockPos},
        {"@FeedMarqueeShowDescription", &settings.showDesc},
        {"@FeedMarqueeShowDate", &settings.showDate},
        {"@FeedMarqueeAbbreviatedDate", &settings.abbreviatedDate},
        {"@FeedMarqueeDatePosHead", &settings.datePosHead},
        {"@FeedMarqueeShowItemCounts", &settings.showItemCounts},
        {"@FeedMarqueeShowUpdateTime", &settings.showUpdateTime},
        {"@FeedMarqueeWordWrap", &settings.wordWrap},
        {"@FeedMarqueeTipShowTitle", &settings.tipShowTitle},
        {"@FeedMarqueeHilightBorder", &settings.hilightBorder},
    };
    for (const Row& row : rows) {
        bool before = *row.field;
        handleCommand(runtime.pluginWindow, row.command);
        bool once = *row.field;
        handleCommand(runtime.pluginWindow, row.command);
        if (once == before || *row.field != before)
            check::fail(__FILE__, __LINE__, std::string(row.command) + " did not toggle");
    }
    stopPlugin();
}

namespace {
int messageBoxCount;
int WINAPI countMessageBox(HWND, LPCSTR, LPCSTR, UINT) {
    ++messageBoxCount;
    return IDOK;
}
} // namespace

TEST(text_arguments_are_taken_whole_and_cut_to_255_characters) {
    startPlugin();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontFace Courier New");
    CHECK_EQ(settings.font, "Courier New");
    std::string longFace(400, 'f');
    handleCommand(runtime.pluginWindow, ("@FeedMarqueeFontFace " + longFace).c_str());
    CHECK_EQ(std::strlen(settings.font), size_t(255));
    CHECK_EQ(std::string(settings.font), longFace.substr(0, 255));
    // A face in UTF-8 is kept as it is; one in the code page (the menu's) is kept as UTF-8.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontFace \xe6\x98\x8e\xe6\x9c\x9d");
    CHECK_EQ(settings.font, "\xe6\x98\x8e\xe6\x9c\x9d");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontFace Caf\xe9");
    CHECK_EQ(settings.font, "Caf\xc3\xa9");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedUrl http://127.0.0.1/a b.xml");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/a b.xml");
    waitForPass();
    // An address is kept whole up to 8 KiB; a longer one is refused with a message, never cut.
    std::string longUrl = "http://127.0.0.1/" + std::string(feedAddressLimit - 17, 'u');
    handleCommand(runtime.pluginWindow, ("@FeedMarqueeFeedUrl " + longUrl).c_str());
    CHECK_EQ(std::string(settings.feedUrl), longUrl);
    waitForPass();
    MessageBoxFunction previous = showMessageBox;
    showMessageBox = countMessageBox;
    handleCommand(runtime.pluginWindow, ("@FeedMarqueeFeedUrl " + longUrl + "u").c_str());
    showMessageBox = previous;
    CHECK_EQ(std::string(settings.feedUrl), longUrl);
    CHECK_EQ(messageBoxCount, 1);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontFace");
    CHECK_EQ(settings.font, "");
    stopPlugin();
}

TEST(feed_address_and_update_now_start_an_update_at_once) {
    startPlugin("feedmarquee.feedUrl: http://127.0.0.1/old.xml\n");
    setDisplayTitle("old headlines");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedUrl http://127.0.0.1/feed.xml");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/feed.xml");
    CHECK_EQ(displayTitle(), "Connecting...");
    CHECK(repaintPending());
    waitForPass();
    setDisplayTitle("old headlines");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateNow");
    CHECK_EQ(displayTitle(), "Connecting...");
    CHECK(repaintPending());
    // A command writes its own key at once.
    CHECK_EQ(fileValue("feedmarquee.feedUrl:"), "http://127.0.0.1/feed.xml");
    stopPlugin();
}

TEST(favorites_are_selected_by_index_and_never_past_the_end) {
    startPlugin(threeFavorites);
    REQUIRE(favoriteCount == 3);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites 2");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/two.xml");
    CHECK_EQ(displayTitle(), "Connecting...");
    waitForPass();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites 0");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/zero.xml");
    waitForPass();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites 1");
    waitForPass();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites -3");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/zero.xml");
    waitForPass();

    // At or beyond the count nothing happens: no new address and no update.
    setDisplayTitle("kept");
    ValidateRect(runtime.pluginWindow, nullptr);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites 3");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites 2147483647");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/zero.xml");
    CHECK_EQ(displayTitle(), "kept");
    CHECK(!repaintPending());
    stopPlugin();

    startPlugin();
    REQUIRE(favoriteCount == 0);
    setDisplayTitle("kept");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFavorites 0");
    CHECK_EQ(settings.feedUrl, "");
    CHECK_EQ(displayTitle(), "kept");
    stopPlugin();
}

TEST(add_favorites_stores_the_feed_under_the_next_index) {
    startPlugin(threeFavorites);
    REQUIRE(favoriteCount == 3);
    copySettingUrl(settings.feedUrl, "http://127.0.0.1/news.xml");
    settings.padding = 33; // unsaved until the favourite is stored
    settings.encoding = 0;
    setDisplayTitle("World News");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAddFavorites");
    CHECK_EQ(fileValue("feedmarquee.fav3.url:"), "http://127.0.0.1/news.xml");
    CHECK_EQ(fileValue("feedmarquee.fav3.title:"), "World News");
    CHECK_EQ(fileValue("feedmarquee.fav2.url:"), "http://127.0.0.1/two.xml");
    CHECK_EQ(fileValue("feedmarquee.padding:"), "<missing>");
    CHECK_EQ(settings.padding, 33);
    CHECK_EQ(favoriteCount, 4);
    const FavoriteFeed* added = favorites;
    for (int i = 0; added && i < 3; ++i)
        added = added->next;
    REQUIRE(added != nullptr);
    CHECK_EQ(added->title, "World News");
    CHECK_EQ(added->url, "http://127.0.0.1/news.xml");
    CHECK_EQ(settings.feedUrl, "http://127.0.0.1/news.xml");

    // The same feed again (the host in capitals, the default port) is refused and told.
    int boxes = messageBoxCount;
    MessageBoxFunction previous = showMessageBox;
    showMessageBox = countMessageBox;
    copySettingUrl(settings.feedUrl, "HTTP://127.0.0.1:80/news.xml#latest");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAddFavorites");
    showMessageBox = previous;
    CHECK_EQ(favoriteCount, 4);
    CHECK_EQ(messageBoxCount, boxes + 1);
    CHECK_EQ(fileValue("feedmarquee.fav4.url:"), "<missing>");

    // Titles are stored as UTF-8 whatever the feed's encoding.
    copySettingUrl(settings.feedUrl, "http://127.0.0.1/cafe.xml");
    settings.encoding = 1;
    setDisplayTitle("Caf\xC3\xA9 du Monde");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAddFavorites");
    CHECK_EQ(fileValue("feedmarquee.fav4.title:"), "Caf\xC3\xA9 du Monde");
    CHECK_EQ(favoriteCount, 5);

    // Nothing shown yet, or only a placeholder: the favourite is stored with an empty title.
    copySettingUrl(settings.feedUrl, "http://127.0.0.1/five.xml");
    showListDirectly(nullptr);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAddFavorites");
    CHECK_EQ(fileValue("feedmarquee.fav5.url:"), "http://127.0.0.1/five.xml");
    CHECK_EQ(fileValue("feedmarquee.fav5.title:"), "");
    CHECK_EQ(favoriteCount, 6);
    copySettingUrl(settings.feedUrl, "http://127.0.0.1/six.xml");
    setDisplayTitle("Couldn't connect!");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAddFavorites");
    CHECK_EQ(fileValue("feedmarquee.fav6.title:"), "");
    CHECK_EQ(favoriteCount, 7);
    stopPlugin();
}

TEST(update_interval_is_stored_as_given_and_rearms_timer_1) {
    startPlugin("feedmarquee.updateInterval(min): 15\n");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateInterval 30");
    CHECK_EQ(settings.updateInterval, 30);
    CHECK(timerArmed(1));
    CHECK_EQ(timerPeriod(1), UINT(1800000));
    // A period below a minute would poll the server in a loop: the timer keeps one minute.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateInterval 0");
    CHECK_EQ(settings.updateInterval, 0);
    CHECK(timerArmed(1));
    CHECK_EQ(timerPeriod(1), UINT(60000));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateInterval -5");
    CHECK_EQ(settings.updateInterval, -5);
    CHECK_EQ(timerPeriod(1), UINT(60000));
    // 99999 minutes overflow 32 bits in milliseconds; automatic updates come at least daily.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateInterval 99999");
    CHECK_EQ(settings.updateInterval, 99999);
    CHECK(timerArmed(1));
    CHECK_EQ(timerPeriod(1), UINT(86400000));
    // Written to the file at once, as given.
    CHECK_EQ(fileValue("feedmarquee.updateInterval(min):"), "99999");
    stopPlugin();
}

TEST(tooltip_commands_reach_the_control) {
    startPlugin();
    HWND tip = tooltipWindow;
    REQUIRE(tip != nullptr);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTipWidth 500");
    CHECK_EQ(settings.tipWidth, 500);
    CHECK_EQ(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0), LRESULT(500));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTipHideDelay 20");
    CHECK_EQ(settings.tipHideDelay, 20);
    CHECK_EQ(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), LRESULT(20000));
    // Delays the control cannot hold are sent as its longest delay; the setting keeps the value.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTipHideDelay 300");
    CHECK_EQ(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), LRESULT(32767));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTipHideDelay 3000000");
    CHECK_EQ(settings.tipHideDelay, 3000000);
    CHECK_EQ(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), LRESULT(32767));
    CHECK_EQ(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0), LRESULT(500));

    // Without a tooltip the settings still change.
    tooltipWindow = nullptr;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTipWidth 70");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTipHideDelay 3");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAllowTip");
    CHECK_EQ(settings.tipWidth, 70);
    CHECK_EQ(settings.tipHideDelay, 3);
    CHECK(!settings.allowtooltip);
    CHECK_EQ(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0), LRESULT(500));
    tooltipWindow = tip;
    stopPlugin();
}

TEST(show_and_hide_plugins_follow_the_shell_only_with_plugin_toggle_outside_the_slit) {
    startPlugin("", true);
    handleCommand(runtime.pluginWindow, "@BBHidePlugins");
    CHECK(IsWindowVisible(runtime.pluginWindow));
    settings.pluginToggle = true;
    handleCommand(runtime.pluginWindow, "@bbhideplugins");
    CHECK(!IsWindowVisible(runtime.pluginWindow));
    ValidateRect(runtime.pluginWindow, nullptr);
    handleCommand(runtime.pluginWindow, "@BBSHOWPLUGINS");
    CHECK(IsWindowVisible(runtime.pluginWindow));
    CHECK(repaintPending());
    settings.inSlit = true;
    handleCommand(runtime.pluginWindow, "@BBHidePlugins");
    CHECK(IsWindowVisible(runtime.pluginWindow));
    settings.inSlit = false;
    settings.pluginToggle = false;
    ShowWindow(runtime.pluginWindow, SW_HIDE);
    handleCommand(runtime.pluginWindow, "@BBShowPlugins");
    CHECK(!IsWindowVisible(runtime.pluginWindow));
    stopPlugin();
}

TEST(on_top_in_the_slit_changes_only_the_setting) {
    startPlugin("", true);
    settings.inSlit = true;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeOnTop");
    CHECK(settings.alwaysontop);
    CHECK(!isTopmost(runtime.pluginWindow));
    settings.inSlit = false;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeOnTop");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeOnTop");
    CHECK(settings.alwaysontop);
    CHECK(isTopmost(runtime.pluginWindow));
    stopPlugin();
}

TEST(in_slit_moves_the_window_into_and_out_of_a_known_slit) {
    startPlugin("feedmarquee.x: 120\nfeedmarquee.y: 130\n", true);
    HWND window = runtime.pluginWindow;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeInSlit");
    CHECK(settings.inSlit);
    REQUIRE(messagesTo(testSlitWindow, 11001) == 1);
    CHECK_EQ(sentMessages.back().lParam, reinterpret_cast<LPARAM>(window));
    CHECK_EQ(messagesTo(testSlitWindow, 11002), 0);

    SetWindowPos(window, nullptr, 600, 600, 0, 0, SWP_NOSIZE | SWP_NOZORDER); // as the slit would
    sentMessages.clear();
    // Out of the slit, the user's program keeps the foreground and the keyboard.
    HWND other = CreateWindowExA(0, "STATIC", "the user's program", WS_POPUP | WS_VISIBLE, 0, 0, 50,
                                 50, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeInSlit");
    CHECK(GetForegroundWindow() == other);
    DestroyWindow(other);
    CHECK(!settings.inSlit);
    REQUIRE(messagesTo(testSlitWindow, 11002) == 1);
    CHECK_EQ(sentMessages[0].lParam, reinterpret_cast<LPARAM>(window));
    CHECK_EQ(windowRect().left, 120);
    CHECK_EQ(windowRect().top, 130);
    CHECK(timerArmed(3));
    CHECK_EQ(timerPeriod(3), UINT(300));
    stopPlugin();

    // Without a slit window nothing happens in either direction.
    startPlugin();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeInSlit");
    CHECK(!settings.inSlit);
    settings.inSlit = true;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeInSlit");
    CHECK(settings.inSlit);
    CHECK(!timerArmed(3));
    stopPlugin();
}

TEST(auto_hide_places_the_window_at_once) {
    startPlugin("feedmarquee.x: 0\nfeedmarquee.y: 100\n");
    runtime.autoHidden = false;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAutoHide");
    CHECK(settings.autoHide);
    CHECK(runtime.autoHidden);
    CHECK_EQ(windowRect().left, 1 - settings.width); // one column stays on the monitor
    CHECK_EQ(windowRect().top, 100);
    CHECK(!timerArmed(3));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAutoHide");
    CHECK(!settings.autoHide);
    CHECK(!runtime.autoHidden);
    CHECK_EQ(windowRect().left, 0);
    CHECK_EQ(settings.x, 0);
    stopPlugin();

    // A window away from every edge stays where it is.
    startPlugin("feedmarquee.x: 300\nfeedmarquee.y: 200\n");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAutoHide");
    CHECK(settings.autoHide);
    CHECK(!runtime.autoHidden);
    CHECK_EQ(windowRect().left, 300);
    stopPlugin();
}

TEST(transparency_commands_reach_the_window) {
    startPlugin();
    BYTE alpha = 0;
    DWORD flags = 0;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTransparent");
    CHECK(settings.transparency);
    REQUIRE(GetLayeredWindowAttributes(runtime.pluginWindow, nullptr, &alpha, &flags));
    CHECK_EQ(int(alpha), 160);
    // Stored as given; the window takes the low eight bits.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAlphaValue 300");
    CHECK_EQ(settings.alpha, 300);
    GetLayeredWindowAttributes(runtime.pluginWindow, nullptr, &alpha, &flags);
    CHECK_EQ(int(alpha), 300 & 0xff);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeTransparent");
    GetLayeredWindowAttributes(runtime.pluginWindow, nullptr, &alpha, &flags);
    CHECK_EQ(int(alpha), 255);
    stopPlugin();
}

TEST(default_browser_clears_the_browser_program) {
    startPlugin("feedmarquee.browserPath: C:\\Programs\\browser.exe\n");
    CHECK_EQ(settings.browserPath, "C:\\Programs\\browser.exe");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeDefaultBrowser");
    CHECK_EQ(settings.browserPath, "");
    stopPlugin();
}

TEST(commands_write_their_own_keys_at_once_and_save_writes_the_rest) {
    startPlugin("feedmarquee.padding: 3\nfeedmarquee.x: 40\n");
    handleCommand(runtime.pluginWindow, "@FeedMarqueePaddingSize 21");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShowDate");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontFace Courier New");
    CHECK_EQ(fileValue("feedmarquee.padding:"), "21");
    CHECK_EQ(fileValue("feedmarquee.showDate:"), "true");
    CHECK_EQ(fileValue("feedmarquee.font:"), "Courier New");
    // A window moved by the mouse is saved by "Save Settings" (and at shut-down).
    settings.x = 55;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShowBorder");
    CHECK_EQ(fileValue("feedmarquee.x:"), "40");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSaveSettings");
    CHECK_EQ(fileValue("feedmarquee.x:"), "55");
    CHECK_EQ(fileValue("feedmarquee.width:"), "<missing>");
    stopPlugin();
}

TEST(reload_settings_restores_the_file_and_tells_the_slit) {
    startPlugin("feedmarquee.padding: 9\nfeedmarquee.showDate: true\n", true);
    settings.padding = 20; // changes not saved
    settings.showDate = false;
    ValidateRect(runtime.pluginWindow, nullptr);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeReloadSettings");
    CHECK_EQ(settings.padding, 9);
    CHECK(settings.showDate);
    CHECK(repaintPending());
    // Not in the slit by the file: the slit is told to let the window go.
    CHECK_EQ(messagesTo(testSlitWindow, 11002), 1);
    stopPlugin();

    startPlugin("feedmarquee.inSlit: true\n", true);
    REQUIRE(settings.inSlit);
    sentMessages.clear();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeReloadSettings");
    CHECK(settings.inSlit);
    CHECK_EQ(messagesTo(testSlitWindow, 11003), 1);
    CHECK_EQ(messagesTo(testSlitWindow, 11002), 0);

    // A reload that puts the window into the slit hands it to the slit.
    settings.inSlit = false;
    sentMessages.clear();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeReloadSettings");
    CHECK(settings.inSlit);
    REQUIRE(messagesTo(testSlitWindow, 11001) == 1);
    CHECK_EQ(messagesTo(testSlitWindow, 11003), 0);
    stopPlugin();

    // Started without a slit, a reload sends nothing anywhere.
    startPlugin("feedmarquee.inSlit: true\n");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeReloadSettings");
    CHECK(sentMessages.empty());
    stopPlugin();
}

TEST(style_type_takes_the_chosen_style_record) {
    startPlugin();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeStyleType 4");
    CHECK_EQ(settings.styleType, 4);
    CHECK(repaintPending());
    void* record = GetSettingPtr(4);
    REQUIRE(record != nullptr);
    CHECK(std::memcmp(&windowStyle, record, sizeof windowStyle) == 0);
    stopPlugin();
}

TEST(a_feed_setting_command_writes_its_key_and_a_muted_favourite_is_not_fetched) {
    startPlugin(std::string(threeFavorites).append("feedmarquee.show: together\n").c_str());
    REQUIRE(favoriteCount == 3);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 1 mute");
    CHECK_EQ(fileValue("feedmarquee.fav1.mute:"), "true");
    CHECK_EQ(favoriteCount, 3); // still a favourite
    CHECK_EQ(shownFeedCount(), 2);
    ShownFeed feed;
    for (int i = 0; i < shownFeedCount(); ++i)
        CHECK(shownFeedAt(i, &feed) && std::string(feed.url) != favoriteAt(1)->url);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 1 mute");
    CHECK_EQ(fileValue("feedmarquee.fav1.mute:"), "false");
    CHECK_EQ(shownFeedCount(), 3);
    // A value, the shown address, and arguments that name nothing.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 2 interval 30");
    CHECK_EQ(fileValue("feedmarquee.fav2.interval:"), "30");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 2 userAgent Mozilla/5.0 (X)");
    CHECK_EQ(fileValue("feedmarquee.fav2.userAgent:"), "Mozilla/5.0 (X)");
    std::string before = settingsFileText();
    for (const char* command : {"@FeedMarqueeFeedSetting 9 mute", "@FeedMarqueeFeedSetting x mute",
                                "@FeedMarqueeFeedSetting 0 colour red",
                                "@FeedMarqueeFeedSetting 0 maxItems lots",
                                "@FeedMarqueeFeedSetting"})
        handleCommand(runtime.pluginWindow, command);
    CHECK_EQ(settingsFileText(), before);
    stopPlugin();
}
