// Settings that a hand-edited file, a menu entry or the file system make hostile: the values the
// window is given, a reload that the window must follow, a read-only file and favourites added
// by hand. The plug-in runs in this process against the stand-in shell's real functions.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "content/feed_items.h"
#include "display/painting.h"
#include "display/tooltip.h"
#include "plugin/feed_updates.h"
#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "shell/blackbox_api.h"
#include "shell/shell_record.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"

namespace {

// The opacity of a layered window, or -1 when it has none.
int windowOpacity(HWND window) {
    if (!(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED))
        return -1;
    BYTE alpha = 0;
    DWORD flags = 0;
    if (!GetLayeredWindowAttributes(window, nullptr, &alpha, &flags) || !(flags & LWA_ALPHA))
        return 255;
    return alpha;
}

int tipWidth() {
    return static_cast<int>(SendMessageA(tooltipWindow, TTM_GETMAXTIPWIDTH, 0, 0));
}
int tipHideDelay() {
    return static_cast<int>(SendMessageA(tooltipWindow, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0));
}
bool topmost(HWND window) {
    return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

std::string fileValue(const std::string& path, const char* key) {
    const char* value = ReadString(path.c_str(), key, "(none)");
    return value ? value : "(null)";
}

} // namespace

TEST(values_in_force_stay_within_what_the_window_can_use) {
    struct Row {
        int value;
        int opacity, extent, font, tip, delay;
    };
    const Row rows[] = {
        // value  opacity (low byte, at least 16)  extent (screen 1280)  font  tip  delay (ms)
        {-2147483647 - 1, 16, 10, 12, 50, -1},
        {-5000, 0x78, 10, 12, 50, -1},
        {-1, 255, 10, 12, 50, -1},
        {0, 16, 10, 12, 50, -1},
        {1, 16, 10, 1, 50, 1000},
        {15, 16, 15, 15, 50, 15000},
        {32, 32, 32, 32, 50, 32000},
        {33, 33, 33, 33, 50, 32767},
        {160, 160, 160, 128, 160, 32767},
        {255, 255, 255, 128, 255, 32767},
        {256, 16, 256, 128, 256, 32767},
        {300, 44, 300, 128, 300, 32767},
        {5000, 0x88, 1280, 128, 4096, 32767},
        {100000, 0xa0, 1280, 128, 4096, 32767},
        {2147483647, 255, 1280, 128, 4096, 32767},
    };
    for (const Row& row : rows) {
        CHECK_EQ(int(opacityInForce(row.value)), row.opacity);
        CHECK_EQ(windowExtentInForce(row.value, 1280), row.extent);
        CHECK_EQ(fontHeightInForce(row.value), row.font);
        CHECK_EQ(tipWidthInForce(row.value), row.tip);
        CHECK_EQ(tipHideDelayInForce(row.value), row.delay);
    }
    // An unknown screen extent bounds only from below.
    CHECK_EQ(windowExtentInForce(100000, 0), 100000);
    CHECK_EQ(windowExtentInForce(3, 0), 10);
}

// Each file starts the plug-in, which must show a usable window: within the screen, visible,
// painted with a readable header, with a working tooltip and menu, and then shut down cleanly.
TEST(a_hostile_settings_file_still_gives_a_usable_window) {
    std::string megabyteLine = "feedmarquee.font: " + std::string(1 << 20, 'W') + "\r\n";
    std::string garbage;
    for (int i = 0; i < 65536; ++i)
        garbage += static_cast<char>((i * 7919 + (i >> 3)) & 0xff);
    struct Row {
        const char* label;
        std::string rc;
        bool readOnly;
    };
    const Row rows[] = {
        {"alpha 0", "feedmarquee.transparency: true\nfeedmarquee.alpha: 0\n", false},
        {"alpha 256", "feedmarquee.transparency: true\nfeedmarquee.alpha: 256\n", false},
        {"huge size", "feedmarquee.width: 100000\nfeedmarquee.height: 100000\n", false},
        {"font -5000", "feedmarquee.useRefFont: false\nfeedmarquee.fontHeight: -5000\n", false},
        {"tip width 0", "feedmarquee.tipWidth: 0\n", false},
        {"tip delay 0", "feedmarquee.tipHideDelay: 0\n", false},
        {"tip delay -1", "feedmarquee.tipHideDelay: -1\n", false},
        {"interval -1", "feedmarquee.updateInterval(min): -1\n", false},
        {"1 MB line", "feedmarquee.width: 180\n" + megabyteLine + "feedmarquee.height: 90\n",
         false},
        {"binary garbage", garbage, false},
        {"all at once",
         "feedmarquee.transparency: true\nfeedmarquee.alpha: 0\nfeedmarquee.width: 100000\n"
         "feedmarquee.height: -7\nfeedmarquee.useRefFont: false\nfeedmarquee.fontHeight: 99999\n"
         "feedmarquee.tipWidth: -3\nfeedmarquee.tipHideDelay: -1\n"
         "feedmarquee.updateInterval(min): -1\n" +
             megabyteLine,
         false},
        {"read-only",
         "feedmarquee.width: 150\nfeedmarquee.alpha: 0\nfeedmarquee.transparency: true\n", true},
    };
    int screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    for (const Row& row : rows) {
        std::printf("%s\n", row.label);
        PluginRun run;
        std::string rc = run.pluginFolder + "feedmarquee.rc";
        writeFileText(rc, row.rc); // with every byte, zeros included
        if (row.readOnly)
            SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_READONLY);
        REQUIRE(run.begin() == 0);
        HWND window = runtime.pluginWindow;
        UpdateWindow(window);
        pumpMessages(100);

        RECT rect;
        GetWindowRect(window, &rect);
        CHECK(IsWindowVisible(window));
        CHECK(rect.right - rect.left >= 10 && rect.right - rect.left <= screenWidth);
        CHECK(rect.bottom - rect.top >= 10 && rect.bottom - rect.top <= screenHeight);
        CHECK(windowOpacity(window) == -1 || windowOpacity(window) >= 16);
        // Painted: the header is laid out, at most two lines of a sane font high (without an
        // address, "Couldn't connect!" and where to set one).
        REQUIRE(currentView().count > 0);
        ItemRect header = entryRect(0);
        CHECK(header.bottom > header.top);
        CHECK(header.bottom - header.top < 400);
        CHECK(GetUpdateRect(window, nullptr, FALSE) == 0);
        REQUIRE(tooltipWindow);
        CHECK(tipWidth() >= 50);
        CHECK(tipHideDelay() > 0);

        int menus = menuOpenRequests();
        rightClickWindow(window);
        CHECK_EQ(menuOpenRequests(), menus + 1);

        CHECK(run.end() != 0);
        CHECK(!IsWindow(window));
        CHECK(FindWindowA("FeedMarquee", nullptr) == nullptr);
        if (row.readOnly) {
            CHECK_EQ(readFileText(rc), row.rc);
            SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }
}

TEST(stored_values_are_the_users_where_harmless_and_bounded_where_not) {
    PluginRun run;
    std::string rc = run.pluginFolder + "feedmarquee.rc";
    run.settingsFile("feedmarquee.transparency: true\nfeedmarquee.alpha: 0\n"
                     "feedmarquee.width: 100000\nfeedmarquee.height: 100000\n"
                     "feedmarquee.useRefFont: false\nfeedmarquee.fontHeight: -5000\n"
                     "feedmarquee.tipWidth: 0\nfeedmarquee.tipHideDelay: 0\n");
    REQUIRE(run.begin() == 0);
    pumpMessages(50);
    run.end();
    CHECK_EQ(fileValue(rc, "feedmarquee.alpha:"), "0");
    CHECK_EQ(fileValue(rc, "feedmarquee.fontHeight:"), "-5000");
    CHECK_EQ(fileValue(rc, "feedmarquee.tipWidth:"), "0");
    CHECK_EQ(fileValue(rc, "feedmarquee.tipHideDelay:"), "0");
    // Bounded in force, but no change of the plug-in's: the file keeps what the user wrote.
    CHECK_EQ(fileValue(rc, "feedmarquee.width:"), "100000");
    CHECK_EQ(fileValue(rc, "feedmarquee.height:"), "100000");
}

TEST(after_a_reload_the_window_matches_the_settings) {
    PluginRun run;
    std::string rc = run.pluginFolder + "feedmarquee.rc";
    run.settingsFile("feedmarquee.x: 300\nfeedmarquee.y: 300\n");
    REQUIRE(run.begin() == 0);
    HWND window = runtime.pluginWindow;
    pumpMessages(100);
    struct Row {
        const char* rc;
        bool onTop;
        int opacity, tipWidth, tipDelay, x, y, width, height;
    };
    const Row rows[] = {
        {"feedmarquee.x: 40\nfeedmarquee.y: 50\nfeedmarquee.width: 222\nfeedmarquee.height: 133\n"
         "feedmarquee.alwaysontop: true\nfeedmarquee.transparency: true\nfeedmarquee.alpha: 100\n"
         "feedmarquee.allowtooltip: false\nfeedmarquee.tipWidth: 123\n"
         "feedmarquee.tipHideDelay: 5\n",
         true, 100, 123, 5000, 40, 50, 222, 133},
        {"feedmarquee.x: 300\nfeedmarquee.y: 310\nfeedmarquee.width: 180\n"
         "feedmarquee.height: 90\nfeedmarquee.alwaysontop: false\n"
         "feedmarquee.transparency: false\nfeedmarquee.alpha: 100\n"
         "feedmarquee.allowtooltip: true\nfeedmarquee.tipWidth: 400\n"
         "feedmarquee.tipHideDelay: 7\n",
         false, 255, 400, 7000, 300, 310, 180, 90},
        {"feedmarquee.x: 300\nfeedmarquee.y: 310\nfeedmarquee.transparency: true\n"
         "feedmarquee.alpha: 0\nfeedmarquee.tipWidth: 0\nfeedmarquee.tipHideDelay: 0\n"
         "feedmarquee.width: 100000\nfeedmarquee.height: 100\n",
         false, 16, 50, -1, 300, 310, GetSystemMetrics(SM_CXVIRTUALSCREEN), 100},
    };
    for (const Row& row : rows) {
        writeFileText(rc, row.rc);
        broadcastCommand("@FeedMarqueeReloadSettings");
        pumpMessages(100);
        CHECK_EQ(topmost(window), row.onTop);
        CHECK_EQ(windowOpacity(window), row.opacity);
        CHECK_EQ(tipWidth(), row.tipWidth);
        if (row.tipDelay > 0)
            CHECK_EQ(tipHideDelay(), row.tipDelay);
        else
            CHECK(tipHideDelay() > 0); // the control's own default
        RECT rect;
        GetWindowRect(window, &rect);
        if (row.width < GetSystemMetrics(SM_CXVIRTUALSCREEN)) {
            CHECK_EQ(rect.left, row.x);
            CHECK_EQ(rect.top, row.y);
        }
        CHECK_EQ(rect.right - rect.left, row.width);
        CHECK_EQ(rect.bottom - rect.top, row.height);
        CHECK_EQ(settings.width, row.width);
    }
    run.end();
}

// "Add Favorites" when the file does not take the write: the user is told, and what was changed
// in memory (here through the menu's commands) is not replaced by the file's values or defaults.
TEST(adding_a_favourite_to_a_file_that_cannot_be_written_keeps_every_setting) {
    for (bool readOnly : {true, false}) {
        PluginRun run;
        std::string rc = run.pluginFolder + "feedmarquee.rc";
        const char* text = "feedmarquee.width: 150\nfeedmarquee.highlight: 1\n"
                           "feedmarquee.fav0.url: http://a.example/\nfeedmarquee.fav0.title: A\n";
        run.settingsFile(text);
        REQUIRE(run.begin() == 0);
        pumpMessages(50);
        // Commands write their keys at once: a read-only file refuses them, told once.
        if (readOnly)
            SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_READONLY);
        messageBoxes.clear();
        broadcastCommand("@FeedMarqueeWidthSize 321");
        broadcastCommand("@FeedMarqueeHighlight 2");
        broadcastCommand("@FeedMarqueeFeedUrl http://127.0.0.1:9/b");
        CHECK_EQ(messageBoxes.size(), size_t(readOnly ? 1 : 0));
        if (!readOnly) {
            // The file is gone and its folder takes no new one.
            DeleteFileA(rc.c_str());
            CreateDirectoryA(rc.c_str(), nullptr);
        }
        messageBoxes.clear();

        broadcastCommand("@FeedMarqueeAddFavorites");

        REQUIRE(messageBoxes.size() == 1);
        CHECK(messageBoxes[0].text.find("could not be written") != std::string::npos);
        CHECK(messageBoxes[0].text.find(rc) != std::string::npos);
        CHECK_EQ(messageBoxes[0].caption, "FeedMarquee");
        CHECK(messageBoxes[0].style & MB_ICONWARNING);
        CHECK_EQ(settings.width, 321);
        CHECK_EQ(settings.highlight, 2);
        CHECK_EQ(settings.feedUrl, "http://127.0.0.1:9/b");
        CHECK_EQ(favoriteCount, 1);
        if (readOnly) {
            CHECK_EQ(readFileText(rc), std::string(text));
            // Save Settings tells the user too; shutting down does not ask.
            messageBoxes.clear();
            broadcastCommand("@FeedMarqueeSaveSettings");
            CHECK_EQ(messageBoxes.size(), size_t(1));
            messageBoxes.clear();
            run.end();
            CHECK(messageBoxes.empty());
            CHECK_EQ(readFileText(rc), std::string(text));
            SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_NORMAL);
        } else {
            run.end();
            RemoveDirectoryA(rc.c_str());
        }
    }
}

TEST(adding_a_favourite_keeps_one_added_by_hand_since_the_last_read) {
    PluginRun run;
    std::string rc = run.pluginFolder + "feedmarquee.rc";
    run.settingsFile("feedmarquee.fav0.url: http://a.example/\nfeedmarquee.fav0.title: A\n");
    REQUIRE(run.begin() == 0);
    REQUIRE(favoriteCount == 1);
    // Added by hand, as the file's documentation says, while the plug-in runs.
    writeFileText(rc, readFileText(rc) + "feedmarquee.fav1.url: http://hand.example/\n"
                                         "feedmarquee.fav1.title: By hand\n");
    broadcastCommand("@FeedMarqueeFeedUrl http://127.0.0.1:9/new");

    broadcastCommand("@FeedMarqueeAddFavorites");

    CHECK_EQ(fileValue(rc, "feedmarquee.fav1.url:"), "http://hand.example/");
    CHECK_EQ(fileValue(rc, "feedmarquee.fav1.title:"), "By hand");
    CHECK_EQ(fileValue(rc, "feedmarquee.fav2.url:"), "http://127.0.0.1:9/new");
    CHECK_EQ(favoriteCount, 3);
    REQUIRE(favoriteAt(1) && favoriteAt(2));
    CHECK_EQ(favoriteAt(1)->url, "http://hand.example/");
    CHECK_EQ(favoriteAt(2)->url, "http://127.0.0.1:9/new");
    CHECK(messageBoxes.empty());
    run.end();
}

// "Remove Favorite": the favourite's two lines go, the later ones move up a number, every other
// line stays; a bare or out-of-range number removes nothing; a read-only file is left as it was.
TEST(removing_a_favourite_renumbers_the_later_ones_and_spares_a_read_only_file) {
    PluginRun run;
    std::string rc = run.pluginFolder + "feedmarquee.rc";
    run.settingsFile("# my feeds\n"
                     "feedmarquee.fav0.url: http://a.example/\nfeedmarquee.fav0.title: A\n"
                     "feedmarquee.fav1.url: http://b.example/\nfeedmarquee.fav1.title: B\n"
                     "feedmarquee.fav10note: not a favourite key\n"
                     "feedmarquee.fav2.url: http://c.example/\nFeedMarquee.Fav2.Title: C\n");
    REQUIRE(run.begin() == 0);
    REQUIRE(favoriteCount == 3);
    messageBoxes.clear();
    for (const char* command : {"@FeedMarqueeRemoveFavorite", "@FeedMarqueeRemoveFavorite 3",
                                "@FeedMarqueeRemoveFavorite -1", "@FeedMarqueeRemoveFavorite x",
                                "@FeedMarqueeRemoveFavorite 1x", "@FeedMarqueeRemoveFavorite 1.5"})
        broadcastCommand(command);
    CHECK_EQ(favoriteCount, 3);
    CHECK(messageBoxes.empty());

    broadcastCommand("@FeedMarqueeWidthSize 222"); // unsaved until the file is written
    broadcastCommand("@FeedMarqueeRemoveFavorite 1");
    CHECK(messageBoxes.empty());
    std::string text = readFileText(rc);
    CHECK(text.find("# my feeds\n") == 0);
    CHECK(text.find("b.example") == std::string::npos);
    CHECK(text.find("feedmarquee.fav1.url: http://c.example/\nFeedMarquee.Fav1.Title: C\n") !=
          std::string::npos);
    CHECK(text.find("feedmarquee.fav10note: not a favourite key\n") != std::string::npos);
    CHECK(text.find("feedmarquee.width: 222") != std::string::npos);
    REQUIRE(favoriteCount == 2);
    CHECK_EQ(favoriteAt(1)->title, "C");
    CHECK_EQ(settings.width, 222);

    SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_READONLY);
    broadcastCommand("@FeedMarqueeRemoveFavorite 0");
    REQUIRE(messageBoxes.size() == 1);
    CHECK(messageBoxes[0].text.find("could not be written") != std::string::npos);
    CHECK(messageBoxes[0].text.find("not removed") != std::string::npos);
    CHECK_EQ(readFileText(rc), text);
    CHECK_EQ(favoriteCount, 2);
    CHECK_EQ(settings.width, 222);
    // Saving to the read-only file says so, and nothing about favourites it did not touch.
    messageBoxes.clear();
    settings.width = 333; // a change of the plug-in's own, as a drag would make
    broadcastCommand("@FeedMarqueeSaveSettings");
    REQUIRE(messageBoxes.size() == 1);
    CHECK(messageBoxes[0].text.find("could not be written") != std::string::npos);
    CHECK(messageBoxes[0].text.find("favourite") == std::string::npos);
    messageBoxes.clear();
    run.end();
    SetFileAttributesA(rc.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A value edited in a text editor while the plug-in runs is taken within about two seconds,
// applied to the window and the header's tip, and survives shut-down; the plug-in's own writes
// and other lines of the file do not count as edits.
TEST(a_hand_edit_is_picked_up_and_survives_shut_down) {
    PluginRun run;
    std::string rc = run.pluginFolder + "feedmarquee.rc";
    run.settingsFile("# mine\r\nfeedmarquee.width: 200\r\nfeedmarquee.fontHeight: 12\r\n"
                     "feedmarquee.alpha: 160\r\n");
    REQUIRE(run.begin() == 0);
    pumpMessages(100);
    settings.x = 123; // a move not saved yet
    broadcastCommand("@FeedMarqueeAlphaValue 99");
    CHECK_EQ(fileValue(rc, "feedmarquee.alpha:"), "99");
    // Another program's line changes: no reload (the unsaved move stays in memory).
    writeFileText(rc, readFileText(rc) + "other.plugin: 1\r\n");
    pumpMessages(1200);
    CHECK_EQ(settings.x, 123);

    std::string text = readFileText(rc);
    text.replace(text.find("fontHeight: 12"), 14, "fontHeight: 20");
    text.replace(text.find("width: 200"), 10, "width: 333");
    text += "feedmarquee.tipWidth: wide\r\n";
    writeFileText(rc, text);
    DWORD start = GetTickCount();
    while (settings.fontHeight != 20 && GetTickCount() - start < 5000)
        pumpMessages(50);
    CHECK_EQ(settings.fontHeight, 20);
    CHECK_EQ(settings.x, 123);
    RECT rect;
    GetWindowRect(runtime.pluginWindow, &rect);
    CHECK_EQ(rect.right - rect.left, 333);
    CHECK(std::string(currentView().headerTip)
              .find("feedmarquee.rc line 6: tipWidth \"wide\" is not a number; 350 is used") !=
          std::string::npos);

    run.end();
    text = readFileText(rc);
    CHECK(text.find("feedmarquee.fontHeight: 20\r\n") != std::string::npos);
    CHECK(text.find("feedmarquee.tipWidth: wide\r\n") != std::string::npos);
    CHECK(text.find("feedmarquee.x: 123\r\n") != std::string::npos);
}

// Favourite titles in any script reach the view whole, as UTF-8 for UTF-8 entries (drawn and read
// through the wide functions), and in the code page for entries in the code page.
TEST(favourite_titles_in_any_script_reach_the_view) {
    const std::string cyrillic = "\xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd0\xb8";
    const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac";
    PluginRun run;
    run.settingsFile(("feedmarquee.show: together\nfeedmarquee.updateInterval(min): 60\n"
                      "feedmarquee.fav0.url: http://127.0.0.1:9/a\n"
                      "feedmarquee.fav0.title: " +
                      cyrillic +
                      "\n"
                      "feedmarquee.fav1.url: http://127.0.0.1:9/b\n"
                      "feedmarquee.fav1.title: " +
                      japanese +
                      "\n"
                      "feedmarquee.fav2.url: http://127.0.0.1:9/c\n"
                      "feedmarquee.fav2.title: Caf\xe9\n")
                         .c_str());
    REQUIRE(run.begin() == 0);
    auto tip = [] { return std::string(currentView().headerTip ? currentView().headerTip : ""); };
    DWORD start = GetTickCount();
    while (tip().find("Caf") == std::string::npos && GetTickCount() - start < 5000)
        pumpMessages(50);
    CHECK(tip().find(cyrillic + ": ") != std::string::npos);
    CHECK(tip().find(japanese + ": ") != std::string::npos);
    CHECK(tip().find("Caf\xc3\xa9: ") != std::string::npos);
    CHECK(favoriteAt(2) && std::string(favoriteAt(2)->codePageTitle) == "Caf\xe9");
    // A screen reader hears the same names: the list's description is the header's tip.
    CoInitialize(nullptr);
    IAccessible* list = nullptr;
    REQUIRE(SUCCEEDED(AccessibleObjectFromWindow(
        runtime.pluginWindow, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&list))));
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR heard = nullptr;
    CHECK(SUCCEEDED(list->get_accDescription(self, &heard)));
    std::wstring said = heard ? heard : L"";
    SysFreeString(heard);
    list->Release();
    CoUninitialize();
    CHECK(said.find(L"\u041d\u043e\u0432\u043e\u0441\u0442\u0438: ") != std::wstring::npos);
    CHECK(said.find(L"\u65e5\u672c: ") != std::wstring::npos);
    CHECK(said.find(L"Caf\u00e9: ") != std::wstring::npos);
    // Entries in the code page get the code page's form of the title.
    broadcastCommand("@FeedMarqueeEncode 0");
    start = GetTickCount();
    while (tip().find("Caf\xe9: ") == std::string::npos && GetTickCount() - start < 3000)
        pumpMessages(50);
    CHECK(tip().find("Caf\xe9: ") != std::string::npos);
    run.end();
}
