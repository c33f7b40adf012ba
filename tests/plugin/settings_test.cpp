// The settings file against the real settings functions of the stand-in shell, with the plug-in's
// folder and the shell's folder as real temporary folders.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"
#include "plugin/settings_file.h"
#include "shell/blackbox_api.h"
#include "shell/shell_record.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"

namespace {

const char* const allKeys[47] = {
    "feedmarquee.x:",
    "feedmarquee.y:",
    "feedmarquee.width:",
    "feedmarquee.height:",
    "feedmarquee.fontHeight:",
    "feedmarquee.alpha:",
    "feedmarquee.styleType:",
    "feedmarquee.justification:",
    "feedmarquee.padding:",
    "feedmarquee.title_offset:",
    "feedmarquee.desc_offset:",
    "feedmarquee.updateInterval(min):",
    "feedmarquee.encoding:",
    "feedmarquee.highlight:",
    "feedmarquee.tipWidth:",
    "feedmarquee.tipHideDelay:",
    "feedmarquee.alwaysontop:",
    "feedmarquee.transparency:",
    "feedmarquee.snapWindow:",
    "feedmarquee.pluginToggle:",
    "feedmarquee.inSlit:",
    "feedmarquee.showBorder:",
    "feedmarquee.allowtooltip:",
    "feedmarquee.lockPos:",
    "feedmarquee.autoHide:",
    "feedmarquee.useRefFont:",
    "feedmarquee.showDesc:",
    "feedmarquee.showDate:",
    "feedmarquee.abbreviatedDate:",
    "feedmarquee.datePosHead:",
    "feedmarquee.showItemCounts:",
    "feedmarquee.showUpdateTime:",
    "feedmarquee.wordWrap:",
    "feedmarquee.tipShowTitle:",
    "feedmarquee.hilightBorder:",
    "feedmarquee.fontColor:",
    "feedmarquee.font:",
    "feedmarquee.feedUrl:",
    "feedmarquee.browserPath:",
    "feedmarquee.keepHeadlines:",
    "feedmarquee.show:",
    "feedmarquee.showFeedName:",
    "feedmarquee.maxItemsPerFeed:",
    "feedmarquee.turnSeconds:",
    "feedmarquee.markNew:",
    "feedmarquee.localTime:",
    "feedmarquee.hotkey:",
};

// A plug-in folder holding the stand-in module, and a shell folder; both empty at first.
struct Folders {
    std::string plugin = makeTempFolder("plugin");
    std::string shell = makeTempFolder("shell");
    HINSTANCE module = nullptr;

    Folders() {
        module = loadModuleIn(plugin);
        runtime.instance = module;
        setShellFolder(shell.c_str());
        std::memset(&settings, 0, sizeof settings);
        settingsPath[0] = 0;
        releaseFavorites();
        showMessageBox = recordMessageBox;
        messageBoxes.clear();
    }
    ~Folders() {
        releaseFavorites();
        settingsPath[0] = 0;
        runtime.instance = nullptr;
        if (module)
            FreeLibrary(module);
        setShellFolder(nullptr);
        removeFolder(plugin);
        removeFolder(shell);
    }
};

void checkDefaults() {
    CHECK_EQ(settings.x, 10);
    CHECK_EQ(settings.y, 10);
    CHECK_EQ(settings.width, 200);
    CHECK_EQ(settings.height, 250);
    CHECK_EQ(settings.fontHeight, 12);
    CHECK_EQ(settings.alpha, 160);
    CHECK_EQ(settings.styleType, 1);
    CHECK_EQ(settings.justification, 0);
    CHECK_EQ(settings.padding, 5);
    CHECK_EQ(settings.title_offset, 5);
    CHECK_EQ(settings.desc_offset, 15);
    CHECK_EQ(settings.updateInterval, 15);
    CHECK_EQ(settings.encoding, 1);
    CHECK_EQ(settings.highlight, 1);
    CHECK_EQ(settings.tipWidth, 350);
    CHECK_EQ(settings.tipHideDelay, 10);
    CHECK(!settings.alwaysontop && !settings.transparency && settings.snapWindow);
    CHECK(!settings.pluginToggle && !settings.inSlit && !settings.showBorder);
    CHECK(settings.allowtooltip && !settings.lockPos && !settings.autoHide);
    CHECK(settings.useRefFont && !settings.showDesc && !settings.showDate);
    CHECK(settings.abbreviatedDate && !settings.datePosHead && !settings.showItemCounts);
    CHECK(!settings.showUpdateTime && !settings.wordWrap && settings.tipShowTitle);
    CHECK(!settings.hilightBorder && settings.localTime);
    CHECK_EQ(settings.font, "Tahoma");
    CHECK_EQ(settings.show, int(showOne));
    CHECK(settings.showFeedName && settings.markNew);
    CHECK_EQ(settings.maxItemsPerFeed, 20);
    CHECK_EQ(settings.turnSeconds, 20);
}

} // namespace

TEST(no_file_anywhere_creates_one_with_the_defaults_in_the_plugin_folder) {
    Folders folders;
    REQUIRE(folders.module);
    // These three survive from memory into the new file; everything else takes its default.
    settings.fontColor = RGB(1, 2, 3);
    copySettingUrl(settings.feedUrl, "http://kept.example/feed");
    copySettingText(settings.browserPath, "C:\\kept\\browser.exe");
    settings.x = 999;
    settings.snapWindow = false;

    readSettings();

    CHECK_EQ(std::string(settingsPath), folders.plugin + "feedmarquee.rc");
    checkDefaults();
    CHECK_EQ(settings.fontColor, RGB(1, 2, 3));
    CHECK_EQ(settings.feedUrl, "http://kept.example/feed");
    CHECK_EQ(settings.browserPath, "C:\\kept\\browser.exe");
    CHECK_EQ(favoriteCount, 0);

    std::vector<std::string> keys = fileKeys(settingsPath);
    CHECK_EQ(keys.size(), size_t(47));
    for (const char* key : allKeys)
        CHECK_EQ(std::count(keys.begin(), keys.end(), std::string(key)), 1);
    CHECK_EQ(ReadString(settingsPath, "feedmarquee.feedUrl:", ""), "http://kept.example/feed");
    CHECK_EQ(ReadColor(settingsPath, "feedmarquee.fontColor:", "#ffffff"), RGB(1, 2, 3));
    CHECK(!fileExists(folders.shell + "feedmarquee.rc"));
    CHECK(!fileExists(folders.shell + "feedmarqueerc"));
}

TEST(the_plugin_folder_wins_and_the_dotted_name_wins_within_a_folder) {
    {
        Folders folders;
        writeFileText(folders.plugin + "feedmarquee.rc", "feedmarquee.width: 301\n");
        writeFileText(folders.plugin + "feedmarqueerc", "feedmarquee.width: 302\n");
        writeFileText(folders.shell + "feedmarquee.rc", "feedmarquee.width: 303\n");
        readSettings();
        CHECK_EQ(std::string(settingsPath), folders.plugin + "feedmarquee.rc");
        CHECK_EQ(settings.width, 301);
    }
    {
        Folders folders;
        writeFileText(folders.plugin + "feedmarqueerc", "feedmarquee.width: 302\n");
        writeFileText(folders.shell + "feedmarquee.rc", "feedmarquee.width: 303\n");
        readSettings();
        CHECK_EQ(std::string(settingsPath), folders.plugin + "feedmarqueerc");
        CHECK_EQ(settings.width, 302);
    }
    {
        Folders folders;
        writeFileText(folders.shell + "feedmarqueerc", "feedmarquee.width: 304\n");
        writeFileText(folders.shell + "feedmarquee.rc", "feedmarquee.width: 303\n");
        readSettings();
        CHECK_EQ(std::string(settingsPath), folders.shell + "feedmarquee.rc");
        CHECK_EQ(settings.width, 303);
        // A file found in the shell's folder is used where it is; nothing appears beside the
        // module.
        CHECK(!fileExists(folders.plugin + "feedmarquee.rc"));
    }
}

TEST(all_46_settings_survive_a_write_and_a_read) {
    Folders folders;
    writeFileText(folders.plugin + "feedmarquee.rc", "");
    readSettings();
    PluginSettings written = {};
    written.x = -37;
    written.y = 123;
    written.width = 321;
    written.height = 77;
    written.fontHeight = 19;
    written.alpha = 33;
    written.styleType = 6;
    written.justification = 2;
    written.padding = 0;
    written.title_offset = 44;
    written.desc_offset = 0;
    written.updateInterval = 300;
    written.encoding = 0;
    written.highlight = 2;
    written.tipWidth = 999;
    written.tipHideDelay = 299;
    written.alwaysontop = written.transparency = written.pluginToggle = written.inSlit = true;
    written.showBorder = written.lockPos = written.autoHide = written.showDesc = true;
    written.showDate = written.datePosHead = written.showItemCounts = true;
    written.showUpdateTime = written.wordWrap = written.hilightBorder = true;
    written.snapWindow = written.allowtooltip = written.useRefFont = false;
    written.abbreviatedDate = written.tipShowTitle = written.keepHeadlines = false;
    written.showFeedName = written.markNew = false;
    written.show = showInTurn;
    written.maxItemsPerFeed = 7;
    written.turnSeconds = 300;
    written.localTime = false;
    written.fontColor = RGB(0x12, 0x34, 0x56);
    copySettingText(written.font, "Courier New");
    copySettingUrl(written.feedUrl, "http://example.com/rss?a=1&b=2");
    copySettingText(written.browserPath, "C:\\Program Files\\Browser\\browser.exe");
    copySettingText(written.hotkey, "Ctrl+Alt+R");
    settings = written;
    writeSettings();

    std::vector<std::string> keys = fileKeys(settingsPath);
    CHECK_EQ(keys.size(), size_t(47));
    for (const char* key : allKeys)
        CHECK_EQ(std::count(keys.begin(), keys.end(), std::string(key)), 1);

    std::memset(&settings, 0, sizeof settings);
    readSettings();
#define SAME(field) CHECK_EQ(settings.field, written.field)
    SAME(x);
    SAME(y);
    SAME(width);
    SAME(height);
    SAME(fontHeight);
    SAME(alpha);
    SAME(styleType);
    SAME(justification);
    SAME(padding);
    SAME(title_offset);
    SAME(desc_offset);
    SAME(updateInterval);
    SAME(encoding);
    SAME(highlight);
    SAME(tipWidth);
    SAME(tipHideDelay);
    SAME(alwaysontop);
    SAME(transparency);
    SAME(snapWindow);
    SAME(pluginToggle);
    SAME(inSlit);
    SAME(showBorder);
    SAME(allowtooltip);
    SAME(lockPos);
    SAME(autoHide);
    SAME(useRefFont);
    SAME(showDesc);
    SAME(showDate);
    SAME(abbreviatedDate);
    SAME(datePosHead);
    SAME(showItemCounts);
    SAME(showUpdateTime);
    SAME(wordWrap);
    SAME(tipShowTitle);
    SAME(hilightBorder);
    SAME(fontColor);
    SAME(font);
    SAME(feedUrl);
    SAME(browserPath);
    SAME(keepHeadlines);
    SAME(show);
    SAME(showFeedName);
    SAME(maxItemsPerFeed);
    SAME(turnSeconds);
    SAME(markNew);
    SAME(localTime);
    CHECK_EQ(ReadString(settingsPath, "feedmarquee.show:", ""), "inTurn");
#undef SAME
    // snapWindow is written in mixed case and found again by the case-blind lookup.
    CHECK(readFileText(settingsPath).find("feedmarquee.snapWindow:") != std::string::npos);
    CHECK(readFileText(settingsPath).find("feedmarquee.snapwindow:") == std::string::npos);
}

TEST(only_x_and_y_beyond_the_virtual_screen_are_clamped) {
    Folders folders;
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    std::string path = folders.plugin + "feedmarquee.rc";
    struct Row {
        int x, y, expectedX, expectedY;
    } rows[] = {
        {width, height, 10, 10},
        {width - 1, height - 1, width - 1, height - 1},
        {-50, -3000, -50, -3000},
        {width + 5000, 0, 10, 0},
    };
    for (const Row& row : rows) {
        writeFileText(path, "feedmarquee.x: " + std::to_string(row.x) +
                                "\nfeedmarquee.y: " + std::to_string(row.y) +
                                "\nfeedmarquee.alpha: 999\nfeedmarquee.styleType: 0\n"
                                "feedmarquee.padding: -4\nfeedmarquee.updateInterval(min): 0\n");
        readSettings();
        CHECK_EQ(settings.x, row.expectedX);
        CHECK_EQ(settings.y, row.expectedY);
        // Everything else is stored as read, out of range or not.
        CHECK_EQ(settings.alpha, 999);
        CHECK_EQ(settings.styleType, 0);
        CHECK_EQ(settings.padding, -4);
        CHECK_EQ(settings.updateInterval, 0);
    }
}

TEST(an_empty_file_gives_the_defaults_and_is_not_written) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    writeFileText(path, "");
    settings.fontColor = RGB(200, 100, 50);
    copySettingUrl(settings.feedUrl, "http://stale.example/");
    readSettings();
    checkDefaults();
    CHECK_EQ(settings.fontColor, RGB(0, 0, 0));
    CHECK_EQ(settings.feedUrl, "");
    CHECK_EQ(settings.browserPath, "");
    CHECK_EQ(readFileText(path), "");
}

TEST(favourites_are_the_numbers_with_an_address_in_any_letter_case) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    struct Row {
        const char* label;
        const char* file;
        int count;
    } rows[] = {
        {"0, 1 and 3",
         "feedmarquee.fav0.url: http://a/\nfeedmarquee.fav1.url: http://b/\n"
         "feedmarquee.fav3.url: http://d/\n",
         3},
        {"1 before 0", "feedmarquee.fav1.url: http://b/\nfeedmarquee.fav0.url: http://a/\n", 2},
        {"leading blank", " feedmarquee.fav0.url: http://a/\n", 1},
        {"capital letters", "FeedMarquee.FAV0.URL: http://a/\n", 1},
        {"titles only", "feedmarquee.fav0.title: A\n", 0},
        {"none", "feedmarquee.width: 5\n", 0},
        {"10 after 9",
         "feedmarquee.fav0.url: 0\nfeedmarquee.fav1.url: 1\nfeedmarquee.fav2.url: 2\n"
         "feedmarquee.fav3.url: 3\nfeedmarquee.fav4.url: 4\nfeedmarquee.fav5.url: 5\n"
         "feedmarquee.fav6.url: 6\nfeedmarquee.fav7.url: 7\nfeedmarquee.fav8.url: 8\n"
         "feedmarquee.fav10.url: 10\nfeedmarquee.fav9.url: 9\n",
         11},
    };
    for (const Row& row : rows) {
        writeFileText(path, row.file);
        readSettings();
        if (favoriteCount != row.count)
            std::printf("case %s\n", row.label);
        CHECK_EQ(favoriteCount, row.count);
        int listed = 0;
        for (const FavoriteFeed* feed = favorites; feed; feed = feed->next)
            ++listed;
        CHECK_EQ(listed, row.count);
    }

    writeFileText(path, "feedmarquee.fav1.url: http://b.example/\nfeedmarquee.fav0.title: First\n"
                        "feedmarquee.fav0.url: http://a.example/\n");
    readSettings();
    REQUIRE(favoriteAt(0) && favoriteAt(1));
    CHECK_EQ(favoriteAt(0)->url, "http://a.example/");
    CHECK_EQ(favoriteAt(0)->title, "First");
    CHECK_EQ(favoriteAt(1)->url, "http://b.example/");
    CHECK_EQ(favoriteAt(1)->title, ""); // no title key: an empty label
    CHECK(favoriteAt(2) == nullptr);
    CHECK(favoriteAt(-1) == nullptr);
}

TEST(adding_a_favourite_writes_its_lines_after_the_highest_number_and_nothing_else) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    writeFileText(path, "feedmarquee.fav0.url: http://a/\nfeedmarquee.fav0.title: A\n"
                        "feedmarquee.fav1.url: http://b/\nfeedmarquee.fav1.title: B\n");
    readSettings();
    REQUIRE(favoriteCount == 2);
    settings.width = 444; // an unsaved change stays unsaved

    addFavorite("Third feed", "http://c.example/rss");

    CHECK_EQ(favoriteCount, 3);
    REQUIRE(favoriteAt(2));
    CHECK_EQ(favoriteAt(2)->url, "http://c.example/rss");
    CHECK_EQ(favoriteAt(2)->title, "Third feed");
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.fav2.url:", ""), "http://c.example/rss");
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.fav2.title:", ""), "Third feed");
    CHECK_EQ(ReadInt(path.c_str(), "feedmarquee.width:", 0), 0);
    CHECK_EQ(settings.width, 444);
    CHECK_EQ(favoriteAt(0)->title, "A");
    // A favourite added by hand with a higher number is never overwritten.
    writeFileText(path, readFileText(path) + "feedmarquee.fav7.url: http://hand/\n");
    addFavorite("After", "http://d.example/");
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.fav7.url:", ""), "http://hand/");
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.fav8.url:", ""), "http://d.example/");
    CHECK_EQ(favoriteCount, 5);
}

TEST(text_longer_than_a_field_is_cut_to_255_characters_and_addresses_are_never_cut) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    std::string longUrl = "http://example.com/" + std::string(feedAddressLimit - 19, 'u');
    std::string exact(255, 'f');
    writeFileText(path, "feedmarquee.feedUrl: " + longUrl + "\nfeedmarquee.font: " + exact +
                            "\nfeedmarquee.fav0.url: " + longUrl + "\nfeedmarquee.fav0.title: " +
                            std::string(300, 't') + "\nfeedmarquee.height: 99\n");
    readSettings();
    CHECK_EQ(std::string(settings.feedUrl), longUrl);
    CHECK_EQ(std::string(settings.font), exact);
    CHECK_EQ(settings.height, 99); // the fields after the long texts are intact
    REQUIRE(favoriteAt(0));
    CHECK_EQ(std::string(favoriteAt(0)->url), longUrl);
    CHECK_EQ(std::string(favoriteAt(0)->title), std::string(255, 't'));
    CHECK(messageBoxes.empty());
    // One byte more: the address is not used (the user is told), the favourite has none.
    writeFileText(path, "feedmarquee.feedUrl: " + longUrl + "u\nfeedmarquee.fav0.url: " + longUrl +
                            "u\nfeedmarquee.fav0.title: t\n");
    readSettings();
    CHECK_EQ(std::string(settings.feedUrl), "");
    REQUIRE(favoriteAt(0));
    CHECK_EQ(std::string(favoriteAt(0)->url), "");
    CHECK_EQ(messageBoxes.size(), size_t(1));

    char field[256];
    copySettingText(field, nullptr);
    CHECK_EQ(field, "");
}

TEST(a_folder_too_long_for_a_path_is_skipped_as_a_candidate) {
    Folders folders;
    char path[MAX_PATH];
    // 245 + strlen("feedmarquee.rc") = 259 characters: the longest path that fits.
    std::string fits = "C:\\" + std::string(241, 'a') + "\\";
    std::string tooLong = "C:\\" + std::string(242, 'a') + "\\";
    CHECK(!locateSettingsFile(fits.c_str(), nullptr, path));
    CHECK_EQ(std::string(path), fits + "feedmarquee.rc");
    CHECK(!locateSettingsFile(tooLong.c_str(), nullptr, path));
    CHECK_EQ(path, "");
    CHECK(!locateSettingsFile(nullptr, nullptr, path));
    CHECK_EQ(path, "");

    // A plug-in folder that does not fit still lets the shell's file be found, but a new file is
    // never made in the shell's folder.
    CHECK(!locateSettingsFile(tooLong.c_str(), folders.shell.c_str(), path));
    CHECK_EQ(path, "");
    writeFileText(folders.shell + "feedmarqueerc", "feedmarquee.width: 7\n");
    CHECK(locateSettingsFile(tooLong.c_str(), folders.shell.c_str(), path));
    CHECK_EQ(std::string(path), folders.shell + "feedmarqueerc");

    // Without a path nothing is written or counted, and a favourite that cannot be stored is
    // reported.
    settingsPath[0] = 0;
    CHECK(!writeSettings());
    CHECK(!addFavorite("t", "http://u/"));
    CHECK_EQ(favoriteCount, 0);
    CHECK_EQ(messageBoxes.size(), size_t(1));
}

TEST(a_reload_whose_file_vanished_recreates_it_keeping_the_feed_and_the_favourites) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    writeFileText(path,
                  "feedmarquee.fav0.url: http://a/\nfeedmarquee.width: 333\n"
                  "feedmarquee.feedUrl: http://running.example/\nfeedmarquee.fontColor: #102030\n");
    readSettings();
    REQUIRE(favoriteCount == 1);
    DeleteFileA(path.c_str());

    readSettings();

    CHECK(fileExists(path));
    CHECK_EQ(settings.width, 200);
    CHECK_EQ(settings.feedUrl, "http://running.example/");
    CHECK_EQ(settings.fontColor, RGB(0x10, 0x20, 0x30));
    CHECK_EQ(favoriteCount, 1); // left as it was: the new file is not scanned
    REQUIRE(favoriteAt(0));
    CHECK_EQ(favoriteAt(0)->url, "http://a/");
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.feedUrl:", ""), "http://running.example/");
}

namespace {

// Fails every write after the first `allowed` bytes, as a full disk does.
size_t writeAllowance;
BOOL WINAPI fullDiskWrite(HANDLE file, LPCVOID bytes, DWORD count, DWORD* written,
                          LPOVERLAPPED overlapped) {
    if (count > writeAllowance) {
        count = static_cast<DWORD>(writeAllowance);
        if (count == 0) {
            *written = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
    }
    writeAllowance -= count;
    return WriteFile(file, bytes, count, written, overlapped);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    REQUIRE(at != std::string::npos);
    return text.replace(at, from.size(), to);
}

} // namespace

TEST(the_file_stays_the_users_only_changed_keys_are_written_in_place) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    // A comment with a Ctrl-Z (which hid every later line from a text-mode read), a NUL, a line
    // of 100,000 bytes, another plug-in's lines and odd spacing around the keys.
    const char head[] = "# mine \x1a still a comment\r\nother.plugin.key: \0 value\r\n";
    const std::string original = std::string(head, sizeof head - 1) +
                                 "other.long: " + std::string(100000, 'L') +
                                 "\r\n"
                                 "  feedmarquee.width :  5\r\n"
                                 "feedmarquee.fontHeight: 12\r\n"
                                 "FeedMarquee.Fav0.Url: http://a.example/\r\n"
                                 "feedmarquee.fav0.title: A\r\n"
                                 "feedmarquee.alpha: 99";
    REQUIRE(writeFileText(path, original));
    readSettings();
    CHECK_EQ(settings.width, 5);
    CHECK_EQ(favoriteCount, 1); // after the Ctrl-Z, in any letter case

    // A value bounded in force is no change; nothing changed means nothing written.
    PluginSettings asRead = settings;
    settings.width = 10;
    acceptSettingsInForce(asRead);
    CHECK(writeSettings());
    CHECK_EQ(readFileText(path), original);

    // One changed key: only its value changes; a key that was missing is appended.
    PluginSettings before = settings;
    settings.alpha = 200;
    settings.turnSeconds = 45;
    CHECK(writeSettingsChangedSince(before));
    std::string expected =
        replaced(original, "alpha: 99", "alpha: 200") + "\r\nfeedmarquee.turnSeconds: 45\r\n";
    CHECK_EQ(readFileText(path), expected);

    // The user edits fontHeight on disk while the plug-in holds its own unsaved fontHeight: the
    // user's value is kept in the file and taken into memory; the plug-in's other change is
    // written.
    settings.fontHeight = 30;
    settings.x = 77;
    expected = replaced(expected, "fontHeight: 12", "fontHeight: 20");
    REQUIRE(writeFileText(path, expected));
    CHECK(writeSettings());
    expected = replaced(expected, "feedmarquee.turnSeconds: 45\r\n",
                        "feedmarquee.turnSeconds: 45\r\nfeedmarquee.x: 77\r\n");
    CHECK_EQ(readFileText(path), expected);
    bool changed = false;
    CHECK(settingsFileChanged(&changed));
    CHECK(changed);
    CHECK_EQ(settings.fontHeight, 20);
    CHECK_EQ(settings.x, 77);
    CHECK_EQ(settings.alpha, 200);

    // The plug-in's own writes and changes to other programs' lines are no change of the file.
    before = settings;
    settings.alpha = 201;
    CHECK(writeSettingsChangedSince(before));
    CHECK(settingsFileChanged(&changed));
    CHECK(!changed);
    REQUIRE(writeFileText(path, readFileText(path) + "other.plugin.more: 1\r\n"));
    CHECK(settingsFileChanged(&changed));
    CHECK(!changed);
    CHECK(writeSettings());
    CHECK_EQ(readFileText(path).find("fontHeight: 30"), std::string::npos);

    // Removing the favourite keeps the NUL, the long line and every other byte.
    std::string withFavourite = readFileText(path);
    REQUIRE(removeFavoriteLines(0));
    CHECK_EQ(favoriteCount, 0);
    CHECK_EQ(readFileText(path),
             replaced(replaced(withFavourite, "FeedMarquee.Fav0.Url: http://a.example/\r\n", ""),
                      "feedmarquee.fav0.title: A\r\n", ""));

    // A file removed while the plug-in runs is made again, with every setting, at the next write.
    DeleteFileA(path.c_str());
    before = settings;
    settings.alpha = 5;
    CHECK(writeSettingsChangedSince(before));
    CHECK_EQ(fileKeys(path).size(), size_t(47));
    CHECK_EQ(ReadInt(path.c_str(), "feedmarquee.alpha:", 0), 5);
}

TEST(a_failed_write_leaves_the_old_file_whole_and_is_reported) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    const std::string original = "feedmarquee.width: 300\r\n# " + std::string(70000, 'c') + "\r\n";
    REQUIRE(writeFileText(path, original));
    readSettings();
    settingsWriteFile = fullDiskWrite;
    for (size_t allowance : {size_t(0), size_t(1000), original.size() - 1}) {
        writeAllowance = allowance;
        PluginSettings before = settings;
        settings.width = 444;
        CHECK(!writeSettingsChangedSince(before));
        CHECK(!addFavorite("F", "http://f.example/"));
        CHECK_EQ(readFileText(path), original);
        CHECK(!fileExists(path + ".new"));
        settings = before;
    }
    settingsWriteFile = WriteFile;
    CHECK_EQ(messageBoxes.size(), size_t(3)); // each refused favourite was reported
    CHECK_EQ(favoriteCount, 0);

    // A file marked read-only is never replaced.
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    settings.width = 555;
    CHECK(!writeSettings());
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    CHECK_EQ(readFileText(path), original);
}

TEST(values_that_do_not_read_and_duplicate_favourites_are_named_with_their_line) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    REQUIRE(writeFileText(path, "# my settings\n"
                                "feedmarquee.fontHeight: big\n"
                                "feedmarquee.show: sideways\n"
                                "feedmarquee.alwaysontop: maybe\n"
                                "feedmarquee.fontColor: #12345\n"
                                "feedmarquee.fav0.url: http://a/\n"
                                "feedmarquee.fav1.title: Nowhere\n"
                                "feedmarquee.fav2.url: http://c/\n"
                                "feedmarquee.width: 300\n"
                                "feedmarquee.fav3.title: Again\n"
                                "feedmarquee.fav3.url: HTTP://C:80/#top\n"));
    readSettings();
    CHECK_EQ(std::string(settingsProblems()),
             "feedmarquee.rc line 2: fontHeight \"big\" is not a number; 12 is used\n"
             "feedmarquee.rc line 4: alwaysontop \"maybe\" is neither true nor false; false is "
             "used\n"
             "feedmarquee.rc line 5: fontColor \"#12345\" is not a colour; #000000 is used\n"
             "feedmarquee.rc line 3: show \"sideways\" is not one, together or inTurn; one is "
             "used\n"
             "feedmarquee.rc line 7: fav1 has no address; it is left out\n"
             "feedmarquee.rc line 11: fav3 is the same feed as fav2; it is left out");
    CHECK_EQ(settings.fontHeight, 12);
    CHECK_EQ(settings.show, int(showOne));
    CHECK_EQ(settings.width, 300);
    CHECK_EQ(favoriteCount, 2);
    CHECK(messageBoxes.empty());
    // Nothing of this is a change: the file keeps the user's words.
    std::string before = readFileText(path);
    CHECK(writeSettings());
    CHECK_EQ(readFileText(path), before);
    REQUIRE(writeFileText(path, "feedmarquee.fontHeight: 14\n"));
    readSettings();
    CHECK_EQ(std::string(settingsProblems()), "");
}

TEST(titles_keep_every_character_and_code_page_files_still_read) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    // Valid UTF-8 is UTF-8; anything else is the ANSI code page (1252 under the tests' Wine).
    REQUIRE(writeFileText(path, "feedmarquee.fav0.url: http://a/\n"
                                "feedmarquee.fav0.title: Caf\xc3\xa9 Z\xc3\xbcrich\n"
                                "feedmarquee.fav1.url: http://b/\n"
                                "feedmarquee.fav1.title: Caf\xe9 old\n"
                                "feedmarquee.font: \xe6\x98\x8e\xe6\x9c\x9d\n"));
    readSettings();
    REQUIRE(favoriteCount == 2);
    CHECK_EQ(favoriteAt(0)->title, "Caf\xc3\xa9 Z\xc3\xbcrich");
    CHECK_EQ(favoriteAt(1)->title, "Caf\xc3\xa9 old");
    // A face name beyond the code page is kept whole, for the wide font functions.
    CHECK_EQ(settings.font, "\xe6\x98\x8e\xe6\x9c\x9d");
    // Titles in any script, as UTF-8 or in the code page; only what changed is written.
    const char* cyrillic = "\xd0\x9d\xd0\xbe\xd0\xb2\xd0\xbe\xd1\x81\xd1\x82\xd0\xb8 "
                           "\xd0\xb4\xd0\xbd\xd1\x8f";
    const char* japanese = "\xe6\x97\xa5\xe6\x9c\xac\xe3\x81\xae\xe3\x83\x8b\xe3\x83\xa5"
                           "\xe3\x83\xbc\xe3\x82\xb9 \xf0\x9f\x93\xb0";
    REQUIRE(addFavorite(cyrillic, "http://c/"));
    REQUIRE(addFavorite(japanese, "http://d/"));
    REQUIRE(addFavorite("Cr\xe8me", "http://e/"));
    // A title longer than a field is cut before a character that would not fit whole.
    std::string longTitle = "a";
    for (int i = 0; i < 100; ++i)
        longTitle += "\xe6\x97\xa5";
    REQUIRE(addFavorite(longTitle.c_str(), "http://f/"));
    PluginSettings before = settings;
    copySettingText(settings.browserPath, "C:\\Programme\\Gr\xc3\xbc\xc3\x9f\\b.exe");
    CHECK(writeSettingsChangedSince(before));
    std::string text = readFileText(path);
    CHECK(text.find(std::string("feedmarquee.fav2.title: ") + cyrillic) != std::string::npos);
    CHECK(text.find("feedmarquee.fav4.title: Cr\xc3\xa8me") != std::string::npos);
    CHECK(text.find("feedmarquee.fav1.title: Caf\xe9 old\n") != std::string::npos);
    CHECK(text.find("feedmarquee.browserPath: C:\\Programme\\Gr\xc3\xbc\xc3\x9f\\b.exe") !=
          std::string::npos);
    readSettings();
    REQUIRE(favoriteCount == 6);
    CHECK_EQ(favoriteAt(2)->title, cyrillic);
    CHECK_EQ(favoriteAt(3)->title, japanese);
    CHECK_EQ(favoriteAt(4)->title, "Cr\xc3\xa8me");
    CHECK_EQ(std::string(favoriteAt(5)->title), longTitle.substr(0, 1 + 84 * 3));
    CHECK_EQ(settings.browserPath, "C:\\Programme\\Gr\xc3\xbc\xc3\x9f\\b.exe");
}

TEST(each_feed_keeps_its_own_settings_beside_its_address) {
    Folders folders;
    std::string path = folders.plugin + "feedmarquee.rc";
    REQUIRE(writeFileText(path, "feedmarquee.fav0.url: http://a.example/\r\n"
                                "feedmarquee.fav0.title: A\r\n"
                                "FeedMarquee.Fav0.Interval: 90\r\n"
                                "feedmarquee.fav0.mute: yes\r\n"
                                "feedmarquee.fav0.userAgent: Mozilla/5.0 (compatible)\r\n"
                                "feedmarquee.fav0.hideWords: Sport, Wetter\r\n"
                                "feedmarquee.fav1.url: http://b.example/\r\n"
                                "feedmarquee.fav1.maxItems: many\r\n"
                                "feedmarquee.fav1.sound: true\r\n"
                                "feedmarquee.feedUrl: http://c.example/\r\n"));
    readSettings();
    REQUIRE(favoriteCount == 2);
    const FeedSettings& a = feedSettingsFor("HTTP://A.example:80/#x"); // the same feed
    CHECK_EQ(a.interval, 90);
    CHECK(a.mute && !a.sound && !a.allowBasicOverHttp);
    CHECK_EQ(a.userAgent, "Mozilla/5.0 (compatible)");
    CHECK_EQ(a.hideWords, "Sport, Wetter");
    CHECK_EQ(feedSettingsFor("http://b.example/").maxItems, 0);
    CHECK(feedSettingsFor("http://b.example/").sound);
    CHECK_EQ(std::string(settingsProblems()),
             "feedmarquee.rc line 8: fav1.maxItems \"many\" is not a number; 0 is used");
    CHECK_EQ(feedSettingsFor("http://c.example/").interval, 0);
    // Zero is the global value; an own value is bounded as the global one is.
    CHECK_EQ(feedIntervalInForce(a.interval, 15), 90);
    CHECK_EQ(feedIntervalInForce(0, 15), 15);
    CHECK_EQ(feedIntervalInForce(5000, 15), 1440);
    CHECK_EQ(feedShareInForce(0, 20), 20);
    CHECK_EQ(feedShareInForce(7, 20), 7);
    CHECK_EQ(feedShareInForce(-3, 5000), 1000);

    // A menu entry or command writes that one key at once, beside the favourite's other lines.
    std::string before = readFileText(path);
    CHECK(setFeedSetting(1, "maxitems", "7"));
    CHECK(setFeedSetting(0, "mute", nullptr)); // a switch without a value toggles
    CHECK(setFeedSetting(1, "highlightWords", "Caf\xe9"));
    CHECK(!setFeedSetting(1, "interval", "soon"));
    CHECK(!setFeedSetting(2, "mute", "true"));
    CHECK(!setFeedSetting(0, "colour", "red"));
    std::string after = before;
    after.replace(after.find("fav1.maxItems: many"), 19, "fav1.maxItems: 7");
    after.replace(after.find("fav0.mute: yes"), 14, "fav0.mute: false");
    after += "feedmarquee.fav1.highlightWords: Caf\xc3\xa9\r\n";
    CHECK_EQ(readFileText(path), after);
    CHECK_EQ(feedSettingsFor("http://b.example/").maxItems, 7);
    CHECK(!feedSettingsFor("http://a.example/").mute);
    CHECK_EQ(feedSettingsFor("http://b.example/").highlightWords, "Caf\xc3\xa9");

    // The shown address that is no favourite keeps its own record, keyed by its address; another
    // address starts from the global settings.
    CHECK(setFeedSetting(-1, "interval", "45"));
    CHECK_EQ(feedSettingsFor("http://c.example/").interval, 45);
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.feed.url:", ""), "http://c.example/");
    copySettingUrl(settings.feedUrl, "http://d.example/");
    CHECK_EQ(feedSettingsFor("http://d.example/").interval, 0);
    CHECK(setFeedSetting(-1, "sound", "true"));
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.feed.url:", ""), "http://d.example/");
    CHECK_EQ(feedSettingsFor("http://d.example/").interval, 0);
    CHECK(feedSettingsFor("http://d.example/").sound);
    // The shown address that is a favourite has that favourite's settings.
    copySettingUrl(settings.feedUrl, "http://b.example/");
    CHECK(setFeedSetting(-1, "interval", "20"));
    CHECK_EQ(feedSettingsFor("http://b.example/").interval, 20);
    CHECK_EQ(ReadString(path.c_str(), "feedmarquee.fav1.interval:", ""), "20");
}

TEST(a_plugin_folder_named_beyond_the_code_page_still_holds_the_settings) {
    Folders folders;
    // "Новости" beside the fixture's folders: no form of it in code page 1252.
    std::wstring base(folders.plugin.begin(), folders.plugin.end());
    std::wstring folder = base + L"\x041d\x043e\x0432\x043e\x0441\x0442\x0438\\";
    REQUIRE(CreateDirectoryW(folder.c_str(), nullptr));
    std::string stub = testProgramFolder() + "fm_module_stub.dll";
    std::wstring source(stub.begin(), stub.end());
    REQUIRE(CopyFileW(source.c_str(), (folder + L"fm_module_stub.dll").c_str(), FALSE));
    HMODULE module = LoadLibraryW((folder + L"fm_module_stub.dll").c_str());
    REQUIRE(module != nullptr);
    runtime.instance = module;
    readSettings();
    // The file is made in that folder, and read back from there.
    CHECK(settingsPath[0] != 0);
    CHECK(std::string(settingsPath).find('?') == std::string::npos);
    CHECK(GetFileAttributesW((folder + L"feedmarquee.rc").c_str()) != INVALID_FILE_ATTRIBUTES);
    settings.width = 1;
    readSettings();
    CHECK_EQ(settings.width, 200);
    runtime.instance = folders.module;
    FreeLibrary(module);
    DeleteFileW((folder + L"feedmarquee.rc").c_str());
    DeleteFileW((folder + L"fm_module_stub.dll").c_str());
    RemoveDirectoryW(folder.c_str());
}
