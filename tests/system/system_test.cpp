// The whole plug-in at work: blackbox.exe loads the real FeedMarquee.dll from a fresh folder and is
// driven through its control channel, as a user would drive it, against a feed server on
// 127.0.0.1 in this program. What the window shows is read back through the tooltip tools the
// paint registers (one per painted entry, carrying the text it drew and the rectangle it drew it
// in), which the observer plug-in system_probe.dll reports from inside the shell's process.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"
#include "tests/system/system_run.h"
#include "feed/headline_cache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

namespace {

const char feedTitle[] = "System Test Feed";
const char firstLink[] = "http://news.example.com/first-story";
const char secondLink[] = "https://news.example.com/second?id=2&view=full";
const char firstTip[] = "First headline\n\nThe first story in full.";
const char secondTip[] = "Second headline\n\nThe second story, with an & ampersand.";
const char fileTip[] = "Local file\n\nA link to a file on this machine.";

const char feedDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<rss version=\"2.0\">\n<channel>\n"
    "<title>System Test Feed</title>\n"
    "<link>http://news.example.com/</link>\n"
    "<description>Headlines for the system tests</description>\n"
    "<item>\n<title>First headline</title>\n"
    "<link>http://news.example.com/first-story</link>\n"
    "<description>The first story in full.</description>\n"
    "<pubDate>Mon, 07 Dec 2026 09:30:00 GMT</pubDate>\n</item>\n"
    "<item>\n<title>Second headline</title>\n"
    "<link>https://news.example.com/second?id=2&amp;view=full</link>\n"
    "<description>The second story, with an &amp; ampersand.</description>\n</item>\n"
    "<item>\n<title>Local file</title>\n"
    "<link>file:///C:/windows/win.ini</link>\n"
    "<description>A link to a file on this machine.</description>\n</item>\n"
    "</channel>\n</rss>\n";

// ---- what the window shows, through the observer ----------------------------------------------

struct Tool {
    RECT rect;
    std::string text;
};

struct View {
    bool read = false;
    bool tipShowing = false;
    std::string tipText;     // the text of the tool whose tip is showing
    std::vector<Tool> tools; // top to bottom

    // In a repainted view: the header line (its tip's first line), then the items' tip texts.
    std::string header() const { return tools.empty() ? "" : firstLine(tools[0].text); }
    // The header's whole tip: the header line, then the health line.
    std::string headerTip() const { return tools.empty() ? "" : tools[0].text; }
    static std::string firstLine(const std::string& text) {
        return text.substr(0, text.find('\n'));
    }
    std::vector<std::string> itemTexts() const {
        std::vector<std::string> texts;
        for (size_t i = 1; i < tools.size(); ++i)
            texts.push_back(tools[i].text);
        return texts;
    }
    // In any view: a header tool (at the top of the content) with that text.
    bool hasHeader(const std::string& text) const {
        for (const Tool& tool : tools)
            if (tool.rect.top == tools[0].rect.top && firstLine(tool.text) == text)
                return true;
        return false;
    }
    // In any view: a tool with that text and a rectangle height (bottom - top) of height.
    bool hasTool(const std::string& text, long height) const {
        for (const Tool& tool : tools)
            if (tool.text == text && tool.rect.bottom - tool.rect.top == height)
                return true;
        return false;
    }
};

std::string unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What the tooltip control holds now; with repaint, after one more paint of the window, so that
// the tools are exactly the entries as painted (without it, tools of entries that moved in the
// last paint are still there).
View look(SystemRun& run, bool repaint = false) {
    View view;
    std::string path = run.folder.file("probe.txt");
    DeleteFileA(path.c_str());
    if (!broadcast(run, repaint ? "@SystemProbe tools repainted" : "@SystemProbe tools"))
        return view;
    for (const std::string& line : textLines(readFileText(path))) {
        if (line.compare(0, 8, "tooltip ") == 0) {
            view.tipShowing = line.find("visible=1") != std::string::npos;
        } else if (line.compare(0, 8, "current ") == 0) {
            view.tipText = unescaped(line.substr(8));
        } else if (line.compare(0, 5, "tool ") == 0) {
            Tool tool = {};
            int used = 0;
            if (std::sscanf(line.c_str() + 5, "%ld %ld %ld %ld %n", &tool.rect.left, &tool.rect.top,
                            &tool.rect.right, &tool.rect.bottom, &used) >= 4) {
                tool.text = unescaped(line.substr(5 + used));
                view.tools.push_back(tool);
            }
        } else if (line == "end") {
            view.read = true;
        }
    }
    std::stable_sort(view.tools.begin(), view.tools.end(),
                     [](const Tool& a, const Tool& b) { return a.rect.top < b.rect.top; });
    return view;
}

void printView(const char* what, const View& view) {
    std::fprintf(stderr, "  %s: %s, tip %s \"%s\"\n", what, view.read ? "read" : "not read",
                 view.tipShowing ? "showing" : "hidden", view.tipText.c_str());
    for (const Tool& tool : view.tools)
        std::fprintf(stderr, "    tool %ld %ld %ld %ld \"%s\"\n", tool.rect.left, tool.rect.top,
                     tool.rect.right, tool.rect.bottom, tool.text.c_str());
}

// Looks until the view satisfies wanted (bounded); the last view is left in view.
template <typename Wanted>
bool waitView(SystemRun& run, View& view, Wanted wanted, DWORD timeoutMs, bool repaint = false) {
    DWORD start = GetTickCount();
    while (true) {
        view = look(run, repaint);
        if (view.read && wanted(view))
            return true;
        if (GetTickCount() - start >= timeoutMs) {
            printView("last view", view);
            return false;
        }
        Sleep(40);
    }
}

// Waits until the plug-in has painted header (by itself: no repaint is asked for).
bool waitHeader(SystemRun& run, const std::string& header, DWORD timeoutMs) {
    View view;
    return waitView(
        run, view, [&](const View& v) { return v.hasHeader(header); }, timeoutMs);
}

// Waits until the window, painted once more, shows exactly what wanted wants.
template <typename Wanted>
bool waitPainted(SystemRun& run, View& view, Wanted wanted, DWORD timeoutMs) {
    return waitView(run, view, wanted, timeoutMs, true);
}

// Exactly the feed's three items, in order.
bool showsItems(const View& view) {
    std::vector<std::string> items = view.itemTexts();
    return items.size() == 3 && items[0] == firstTip && items[1] == secondTip &&
           items[2] == fileTip;
}

// Exactly the feed's title and its three items, in order.
bool showsHeadlines(const View& view) {
    return view.header() == feedTitle && showsItems(view);
}

POINT middle(const RECT& rect) {
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

std::string at(POINT point) {
    return std::to_string(point.x) + " " + std::to_string(point.y);
}

// ---- the settings file ------------------------------------------------------------------------

struct Setting {
    std::string key;
    std::string value;
};

// The file's "key: value" lines in order (values trimmed).
std::vector<Setting> settingLines(const std::string& path) {
    std::vector<Setting> lines;
    for (const std::string& line : textLines(readFileText(path))) {
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        lines.push_back({line.substr(0, colon + 1), value});
    }
    return lines;
}

std::string settingValue(const std::string& path, const std::string& key) {
    for (const Setting& line : settingLines(path))
        if (line.key == key)
            return line.value;
    return "(missing)";
}

// Replaces the value of key's line in the file (the line must exist).
bool editSetting(const std::string& path, const std::string& key, const std::string& value) {
    std::string text = readFileText(path);
    size_t at = text.find(key);
    if (at == std::string::npos || (at > 0 && text[at - 1] != '\n'))
        return false;
    size_t end = text.find_first_of("\r\n", at);
    text.replace(at, (end == std::string::npos ? text.size() : end) - at, key + " " + value);
    writeFileText(path, text);
    return true;
}

// "%m/%d %H:%M" of the local time, as the header shows the time of the last update.
std::string stamp(time_t when) {
    char text[20];
    std::strftime(text, sizeof text, "%m/%d %H:%M", std::localtime(&when));
    return text;
}

// Every text the update time can have when it was taken between from and to.
std::set<std::string> stampsBetween(time_t from, time_t to) {
    std::set<std::string> stamps;
    for (time_t when = from; when <= to + 1; when += 30)
        stamps.insert(stamp(when));
    stamps.insert(stamp(to));
    return stamps;
}

// ---- the menu dump ----------------------------------------------------------------------------

// Each expected line is the dump line after "item\t": path, kind, label, command and the state.
std::vector<std::string> menuLines(const std::vector<std::string>& dump, const char* kind) {
    std::vector<std::string> lines;
    std::string prefix = std::string(kind) + "\t";
    for (const std::string& line : dump)
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line.substr(prefix.size()));
    return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The lines of the menu at path (its direct entries only), in order.
std::vector<std::string> entriesOf(const std::vector<std::string>& items, const std::string& path) {
    std::vector<std::string> entries;
    std::string prefix = path.empty() ? "" : path + ".";
    for (const std::string& line : items) {
        std::string entryPath = line.substr(0, line.find('\t'));
        if (entryPath.compare(0, prefix.size(), prefix) == 0 &&
            entryPath.find('.', prefix.size()) == std::string::npos)
            entries.push_back(line);
    }
    return entries;
}

void checkMenu(const std::vector<std::string>& dump, const std::string& path,
               const std::vector<std::string>& expected) {
    std::vector<std::string> entries = entriesOf(menuLines(dump, "item"), path);
    CHECK_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size() && i < entries.size(); ++i)
        CHECK_EQ(entries[i], expected[i]);
}

std::string number(int value) {
    return std::to_string(value);
}

} // namespace

// ---- first start, the feed, and a failed update ---------------------------------------------

TEST(first_start_creates_the_settings_and_shows_the_feed_then_the_failure) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed, feedDocument, 2500);
    SystemRun run;
    REQUIRE(run.started);

    // No settings file existed: one is made in the plug-in's folder (not the shell's) with every
    // setting, in order, at its default.
    const Setting defaults[] = {
        {"feedmarquee.x:", "10"},
        {"feedmarquee.y:", "10"},
        {"feedmarquee.width:", "200"},
        {"feedmarquee.height:", "250"},
        {"feedmarquee.fontHeight:", "12"},
        {"feedmarquee.alpha:", "160"},
        {"feedmarquee.styleType:", "1"},
        {"feedmarquee.justification:", "0"},
        {"feedmarquee.padding:", "5"},
        {"feedmarquee.title_offset:", "5"},
        {"feedmarquee.desc_offset:", "15"},
        {"feedmarquee.updateInterval(min):", "15"},
        {"feedmarquee.encoding:", "1"},
        {"feedmarquee.highlight:", "1"},
        {"feedmarquee.tipWidth:", "350"},
        {"feedmarquee.tipHideDelay:", "10"},
        {"feedmarquee.alwaysontop:", "false"},
        {"feedmarquee.transparency:", "false"},
        {"feedmarquee.snapWindow:", "true"},
        {"feedmarquee.pluginToggle:", "false"},
        {"feedmarquee.inSlit:", "false"},
        {"feedmarquee.showBorder:", "false"},
        {"feedmarquee.allowtooltip:", "true"},
        {"feedmarquee.lockPos:", "false"},
        {"feedmarquee.autoHide:", "false"},
        {"feedmarquee.useRefFont:", "true"},
        {"feedmarquee.showDesc:", "false"},
        {"feedmarquee.showDate:", "false"},
        {"feedmarquee.abbreviatedDate:", "true"},
        {"feedmarquee.datePosHead:", "false"},
        {"feedmarquee.showItemCounts:", "false"},
        {"feedmarquee.showUpdateTime:", "false"},
        {"feedmarquee.wordWrap:", "false"},
        {"feedmarquee.tipShowTitle:", "true"},
        {"feedmarquee.hilightBorder:", "false"},
        {"feedmarquee.fontColor:", "#000000"},
        {"feedmarquee.font:", "Tahoma"},
        {"feedmarquee.feedUrl:", ""},
        {"feedmarquee.browserPath:", ""},
        {"feedmarquee.keepHeadlines:", "true"},
        {"feedmarquee.show:", "one"},
        {"feedmarquee.showFeedName:", "true"},
        {"feedmarquee.maxItemsPerFeed:", "20"},
        {"feedmarquee.turnSeconds:", "20"},
        {"feedmarquee.markNew:", "true"},
        {"feedmarquee.localTime:", "true"},
        {"feedmarquee.hotkey:", ""},
    };
    CHECK(GetFileAttributesA(run.folder.file("feedmarquee.rc").c_str()) == INVALID_FILE_ATTRIBUTES);
    std::vector<Setting> written = settingLines(run.settingsFile());
    CHECK_EQ(written.size(), sizeof defaults / sizeof defaults[0]);
    for (size_t i = 0; i < written.size() && i < sizeof defaults / sizeof defaults[0]; ++i) {
        CHECK_EQ(written[i].key, defaults[i].key);
        CHECK_EQ(written[i].value, defaults[i].value);
    }

    // No address yet: the first pass fails.
    View view;
    CHECK(waitHeader(run, "Couldn't connect!", 5000));
    auto onlyHeader = [](const std::string& header) {
        return [header](const View& v) { return v.tools.size() == 1 && v.header() == header; };
    };
    CHECK(waitPainted(run, view, onlyHeader("Couldn't connect!"), 2000));

    // An address: the placeholder while the server makes the pass wait, then the headlines.
    time_t before = std::time(nullptr);
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + feedServerUrl(server, "/feed.xml")));
    CHECK(waitHeader(run, "Connecting...", 2000));
    CHECK(waitHeader(run, feedTitle, 10000));
    CHECK(waitPainted(run, view, showsHeadlines, 2000));
    time_t after = std::time(nullptr);
    CHECK_EQ(feedRequests(server), 1L);

    // The count and the time of the update join the header when they are switched on.
    REQUIRE(broadcast(run, "@FeedMarqueeShowItemCounts"));
    CHECK(waitHeader(run, std::string(feedTitle) + "  (3)", 2000));
    REQUIRE(broadcast(run, "@FeedMarqueeShowUpdateTime"));
    std::set<std::string> times = stampsBetween(before, after);
    std::string updated;
    waitView(
        run, view,
        [&](const View& v) {
            for (const std::string& time : times)
                if (v.hasHeader(std::string(feedTitle) + "  (3) (" + time + ")"))
                    updated = time;
            return !updated.empty();
        },
        2000);
    CHECK(!updated.empty());
    if (updated.empty())
        std::fprintf(stderr, "  header with count and time: \"%s\"\n", view.header().c_str());

    // The server goes away: the next update fails, the headlines stay, and the header marks them
    // stale with the count and the time of the last update that worked.
    stopFeedServer(server);
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    std::string stale = std::string(feedTitle) + "  (3)  [stale since " + updated + "]";
    CHECK(waitHeader(run, stale, 8000));
    CHECK(waitPainted(
        run, view, [&](const View& v) { return v.header() == stale && v.itemTexts().size() == 3; },
        2000));

    // For comparison with a quit during a download: a quit with no pass running.
    DWORD start = GetTickCount();
    CHECK_EQ(stopShell(run.shell), 0);
    std::printf("  quit with no download running: %lu ms\n",
                static_cast<unsigned long>(GetTickCount() - start));
}

// ---- tooltip and links ------------------------------------------------------------------------

TEST(hover_shows_the_description_and_a_double_click_opens_only_web_links) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed, feedDocument);
    SystemRun run;
    REQUIRE(run.started);
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + feedServerUrl(server, "/feed.xml")));
    View view;
    REQUIRE(waitPainted(run, view, showsHeadlines, 10000));
    RECT first = view.tools[1].rect, second = view.tools[2].rect, file = view.tools[3].rect;

    // Resting the mouse on an entry shows its title and description; on the next entry, that
    // entry's.
    auto hoverShows = [&](const RECT& rect, const char* tip) {
        POINT point = middle(rect);
        DWORD start = GetTickCount();
        int nudge = 0;
        View seen;
        do {
            // A resting mouse still reports small moves; one move is enough for the control.
            command(run, "mouse move " + std::to_string(point.x + (nudge++ % 2)) + " " +
                             std::to_string(point.y));
            DWORD moved = GetTickCount();
            do {
                seen = look(run);
                if (seen.tipShowing && seen.tipText == tip)
                    return true;
                Sleep(40);
            } while (GetTickCount() - moved < 400);
        } while (GetTickCount() - start < 4000);
        printView("no tip; last view", seen);
        return false;
    };
    CHECK(hoverShows(first, firstTip));
    CHECK(hoverShows(second, secondTip));
    command(run, "mouse leave");

    // A double-click opens the entry's link through the shell, once; the file link, a point
    // below the entries and the point between nothing open anything.
    REQUIRE(command(run, "mouse dblclick " + at(middle(first))));
    ShellReply log = shellCommand(run.shell, "exec-log");
    CHECK_EQ(log.lines.size(), static_cast<size_t>(1));
    // Owner the desktop, no verb, the link as the file, no arguments or folder, shown normally.
    char desktop[16];
    std::snprintf(desktop, sizeof desktop, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(GetDesktopWindow())));
    if (!log.lines.empty())
        CHECK_EQ(log.lines[0], std::string("BBExecute\t") + desktop + "\t(null)\t" + firstLink +
                                   "\t(null)\t(null)\t1\tfalse");
    REQUIRE(command(run, "mouse dblclick " + at(middle(file))));
    REQUIRE(command(run, "mouse dblclick " + std::to_string(middle(file).x) + " " +
                             std::to_string(file.bottom + 20)));
    CHECK_EQ(shellCommand(run.shell, "exec-log").lines.size(), static_cast<size_t>(1));
    REQUIRE(command(run, "mouse dblclick " + at(middle(second))));
    log = shellCommand(run.shell, "exec-log");
    CHECK_EQ(log.lines.size(), static_cast<size_t>(2));
    if (log.lines.size() == 2)
        CHECK(log.lines[1].find(std::string("\t") + secondLink + "\t") != std::string::npos);

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(server);
}

// ---- the menu, and settings saved and reloaded ------------------------------------------------

TEST(the_menu_matches_its_tables_and_settings_are_saved_and_reloaded) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed, feedDocument);
    SystemRun run;
    REQUIRE(run.started);
    std::string url = feedServerUrl(server, "/feed.xml");
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + url));
    View plain;
    REQUIRE(waitPainted(run, plain, showsHeadlines, 10000));

    // A right-click opens the whole tree, built from the current settings.
    REQUIRE(command(run, "mouse rclick 30 8"));
    std::vector<std::string> dump = shellCommand(run.shell, "menu").lines;
    std::vector<std::string> menus = menuLines(dump, "menu");
    REQUIRE(!menus.empty());
    CHECK_EQ(menus[0], std::string("-\tFeedMarquee\tFDMQ_Main\tpopup"));
    checkMenu(dump, "",
              {"1\tsubmenu\tRSS\t\tFDMQ_RSS", "2\tsubmenu\tConfiguration\t\tFDMQ_Config",
               "3\tsubmenu\tStyle Type\t\tFDMQ_StyleType",
               "4\tsubmenu\tJustification\t\tFDMQ_JustifyType",
               "5\tsubmenu\tSettings\t\tFDMQ_Settings",
               "6\tcommand\tAbout\t@FeedMarqueeAbout\tunchecked"});
    checkMenu(dump, "1",
              {"1.1\tsubmenu\tFavorites\t\tFDMQ_Favorites",
               "1.2\tstring\tFeed URL\t@FeedMarqueeFeedUrl\t" + url,
               "1.3\tcommand\tAdd Favorites\t@FeedMarqueeAddFavorites\tunchecked",
               "1.4\tcommand\tUpdate Now\t@FeedMarqueeUpdateNow\tunchecked",
               "1.5\tint\tUpdate Interval (min)\t@FeedMarqueeUpdateInterval \t15\t1\t1440",
               "1.6\tseparator\t\t",
               "1.7\tsubmenu\tencoding\t\tFDMQ_encoding",
               "1.8\tsubmenu\thighlight\t\tFDMQ_highlight",
               "1.9\tsubmenu\tbrowser\t\tFDMQ_browser",
               "1.10\tsubmenu\ttooltip\t\tFDMQ_tooltip",
               "1.11\tseparator\t\t",
               "1.12\tint\tPadding Size\t@FeedMarqueePaddingSize\t5\t0\t50",
               "1.13\tsubmenu\tOffset Size\t\tFDMQ_offset",
               "1.14\tseparator\t\t",
               "1.15\tcommand\tShow Description\t@FeedMarqueeShowDescription\tunchecked",
               "1.16\tcommand\tShow Date\t@FeedMarqueeShowDate\tunchecked",
               "1.17\tcommand\tAbbreviated Date\t@FeedMarqueeAbbreviatedDate\tchecked",
               "1.18\tcommand\tDate Position Head\t@FeedMarqueeDatePosHead\tunchecked",
               "1.19\tcommand\tShow Item Counts\t@FeedMarqueeShowItemCounts\tunchecked",
               "1.20\tcommand\tShow Update Time\t@FeedMarqueeShowUpdateTime\tunchecked",
               "1.21\tcommand\tWord Wrap\t@FeedMarqueeWordWrap\tunchecked",
               "1.22\tseparator\t\t",
               "1.23\tsubmenu\tShow\t\tFDMQ_Show",
               "1.24\tcommand\tMark All Read\t@FeedMarqueeMarkAllRead\tunchecked",
               "1.25\tsubmenu\tRemove Favorite\t\tFDMQ_RemoveFavorite"});
    checkMenu(dump, "1.1",
              {"1.1.1\tsubmenu\tFeed Settings\t\tFDMQ_FeedSettings",
               "1.1.2\tcommand\tImport OPML...\t@FeedMarqueeImportOpml\tunchecked",
               "1.1.3\tcommand\tExport OPML...\t@FeedMarqueeExportOpml\tunchecked"});
    checkMenu(dump, "1.23",
              {"1.23.1\tcommand\tOne Feed\t@FeedMarqueeShow one\tchecked",
               "1.23.2\tcommand\tTogether\t@FeedMarqueeShow together\tunchecked",
               "1.23.3\tcommand\tIn Turn\t@FeedMarqueeShow inTurn\tunchecked"});
    checkMenu(dump, "1.25", {});
    checkMenu(dump, "1.7",
              {"1.7.1\tcommand\tNone\t@FeedMarqueeEncode 0\tunchecked",
               "1.7.2\tcommand\tUTF-8\t@FeedMarqueeEncode 1\tchecked"});
    checkMenu(dump, "1.8",
              {"1.8.1\tcommand\tNone\t@FeedMarqueeHighlight 0\tunchecked",
               "1.8.2\tcommand\tMouseOver\t@FeedMarqueeHighlight 1\tchecked",
               "1.8.3\tcommand\tALL\t@FeedMarqueeHighlight 2\tunchecked", "1.8.4\tseparator\t\t",
               "1.8.5\tcommand\tShow Border\t@FeedMarqueeHilightBorder\tunchecked"});
    checkMenu(dump, "1.9",
              {"1.9.1\tcommand\tBrowse...\t@FeedMarqueeSetBrowser\tunchecked",
               "1.9.2\tcommand\tDefault\t@FeedMarqueeDefaultBrowser\tunchecked"});
    checkMenu(dump, "1.10",
              {"1.10.1\tcommand\tAllow Tooltip\t@FeedMarqueeAllowTip\tchecked",
               "1.10.2\tcommand\tShow Title\t@FeedMarqueeTipShowTitle\tchecked",
               "1.10.3\tseparator\t\t",
               "1.10.4\tint\tTooltip Width\t@FeedMarqueeTipWidth\t350\t50\t4096",
               "1.10.5\tint\tHide Delay (sec)\t@FeedMarqueeTipHideDelay\t10\t1\t300"});
    checkMenu(dump, "1.13",
              {"1.13.1\tint\ttitle\t@FeedMarqueeTitleOffsetSize\t5\t0\t50",
               "1.13.2\tint\tdescription\t@FeedMarqueeDescOffsetSize\t15\t0\t50"});
    int screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    checkMenu(dump, "2",
              {"2.1\tint\tWidth Size\t@FeedMarqueeWidthSize\t200\t10\t" + number(screenWidth),
               "2.2\tint\tHeight Size\t@FeedMarqueeHeightSize\t250\t10\t" + number(screenHeight),
               "2.3\tsubmenu\tFont\t\tFDMQ_Font", "2.4\tseparator\t\t",
               "2.5\tcommand\tPlugin Toggle\t@FeedMarqueePluginToggle\tunchecked",
               "2.6\tcommand\tAlways on Top\t@FeedMarqueeOnTop\tunchecked",
               "2.7\tcommand\tTransparency\t@FeedMarqueeTransparent\tunchecked",
               "2.8\tint\tAlpha Value\t@FeedMarqueeAlphaValue\t160\t0\t255",
               "2.9\tcommand\tSnap To Edge\t@FeedMarqueeSnapToEdge\tchecked",
               "2.10\tcommand\tShow Border\t@FeedMarqueeShowBorder\tunchecked",
               "2.11\tcommand\tLock Position\t@FeedMarqueeLockPosition\tunchecked",
               "2.12\tcommand\tAuto Hide\t@FeedMarqueeAutoHide\tunchecked"});
    checkMenu(dump, "2.3", {"2.3.1\tcommand\tUse Ref Font\t@FeedMarqueeUseRefFont\tchecked"});
    checkMenu(dump, "3",
              {"3.1\tcommand\tToolbar\t@FeedMarqueeStyleType 1\tchecked",
               "3.2\tcommand\tButton\t@FeedMarqueeStyleType 2\tunchecked",
               "3.3\tcommand\tButtonP\t@FeedMarqueeStyleType 3\tunchecked",
               "3.4\tcommand\tLabel\t@FeedMarqueeStyleType 4\tunchecked",
               "3.5\tcommand\tWinLabel\t@FeedMarqueeStyleType 5\tunchecked",
               "3.6\tcommand\tClock\t@FeedMarqueeStyleType 6\tunchecked"});
    checkMenu(dump, "4",
              {"4.1\tcommand\tLeft\t@FeedMarqueeJustifyType 0\tchecked",
               "4.2\tcommand\tCenter\t@FeedMarqueeJustifyType 1\tunchecked",
               "4.3\tcommand\tRight\t@FeedMarqueeJustifyType 2\tunchecked"});
    checkMenu(dump, "5",
              {"5.1\tcommand\tEdit Settings\t@FeedMarqueeEditRC\tunchecked",
               "5.2\tcommand\tReload Settings\t@FeedMarqueeReloadSettings\tunchecked",
               "5.3\tcommand\tSave Settings\t@FeedMarqueeSaveSettings\tunchecked"});
    // Seventeen menus (the shown feed's settings and login among them), each under its own id.
    std::set<std::string> ids;
    for (const std::string& line : menus) {
        size_t idStart = line.find('\t', line.find('\t') + 1) + 1;
        ids.insert(line.substr(idStart, line.find('\t', idStart) - idStart));
    }
    CHECK_EQ(menus.size(), static_cast<size_t>(17));
    CHECK_EQ(ids.size(), static_cast<size_t>(17));

    // "Show Description" picked in the open menu paints each description under its title: every
    // item's block becomes two one-line blocks, each with its padding.
    const char* tips[] = {firstTip, secondTip, fileTip};
    long line = plain.tools[1].rect.bottom - plain.tools[1].rect.top;
    auto itemsAre = [&](const View& v, long height, bool exactly) {
        if (exactly && !showsHeadlines(v))
            return false;
        for (const char* tip : tips)
            if (!v.hasTool(tip, height))
                return false;
        return true;
    };
    REQUIRE(command(run, "popup-pick RSS/Show Description"));
    View described;
    CHECK(waitView(
        run, described, [&](const View& v) { return itemsAre(v, 2 * line, false); }, 3000));
    CHECK(waitPainted(
        run, described, [&](const View& v) { return itemsAre(v, 2 * line, true); }, 2000));
    CHECK(hasLine(menuLines(shellCommand(run.shell, "menu").lines, "item"),
                  "1.15\tcommand\tShow Description\t@FeedMarqueeShowDescription\tchecked"));

    // A menu entry writes its key at once.
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.showDesc:"), std::string("true"));
    REQUIRE(broadcast(run, "@FeedMarqueeSaveSettings"));
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.feedUrl:"), url);

    // The file edited by hand and reloaded: titles only again, 14 more pixels of padding per
    // block, and the item count in the header.
    REQUIRE(editSetting(run.settingsFile(), "feedmarquee.showDesc:", "false"));
    REQUIRE(editSetting(run.settingsFile(), "feedmarquee.padding:", "19"));
    REQUIRE(editSetting(run.settingsFile(), "feedmarquee.showItemCounts:", "true"));
    REQUIRE(broadcast(run, "@FeedMarqueeReloadSettings"));
    View reloaded;
    std::string counted = std::string(feedTitle) + "  (3)";
    CHECK(waitView(
        run, reloaded,
        [&](const View& v) { return v.hasHeader(counted) && itemsAre(v, line + 14, false); },
        3000));
    CHECK(waitPainted(
        run, reloaded,
        [&](const View& v) {
            return v.tools.size() == 4 && v.header() == counted && itemsAre(v, line + 14, false);
        },
        2000));
    CHECK(hasLine(menuLines(shellCommand(run.shell, "menu").lines, "item"),
                  "1.12\tint\tPadding Size\t@FeedMarqueePaddingSize\t19\t0\t50"));

    // Menus are rebuilt after every change and on every right-click, never piled up: one tree of
    // seventeen menus stays.
    REQUIRE(command(run, "mouse rclick 30 8"));
    REQUIRE(command(run, "popup-close"));
    CHECK(shellCommand(run.shell, "menus").lines ==
          std::vector<std::string>({"trees 1 menus 17 opened 2"}));

    // The file dialog opens although its library is loaded only now; a cancel keeps the setting.
    int browse = sendLine(run.shell, "pick 1.9.1");
    bool dialogOpen = false;
    for (int waited = 0; waited < 10000 && !dialogOpen; waited += 50) {
        ShellReply state = shellCommand(run.shell, "state");
        dialogOpen = state.ok && !hasLine(state.lines, "dialog none");
        if (!dialogOpen)
            Sleep(50);
    }
    CHECK(dialogOpen);
    CHECK(command(run, "dialog cancel"));
    ShellReply picked;
    CHECK(waitReply(run.shell, browse, picked, 10000) && picked.ok);
    CHECK(shellCommand(run.shell, "state").lines ==
          std::vector<std::string>({"popup closed", "inputbox closed", "dialog none"}));

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(server);
}

// ---- quitting while a download stalls ---------------------------------------------------------

TEST(quitting_during_a_stalled_download_is_prompt_and_keeps_the_window_place) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, stallAfterHead, "");
    SystemRun run;
    REQUIRE(run.started);

    // The user makes the window wider and drags it (from 10, 10) by 127 and 201 pixels.
    REQUIRE(broadcast(run, "@FeedMarqueeWidthSize 321"));
    REQUIRE(command(run, "mouse ldown 20 20"));
    Sleep(150);
    REQUIRE(command(run, "cursor 90 120"));
    Sleep(150);
    REQUIRE(command(run, "cursor 157 231"));
    Sleep(150);
    REQUIRE(command(run, "mouse lup 20 20"));
    std::string placed;
    DWORD waited = GetTickCount();
    do {
        ShellReply place = shellCommand(run.shell, "window plugin");
        placed = place.lines.empty() ? "" : place.lines[0];
        if (placed.find(" 137 211 321 250 ") != std::string::npos)
            break;
        Sleep(50);
    } while (GetTickCount() - waited < 3000);
    CHECK(placed.find(" 137 211 321 250 ") != std::string::npos);
    CHECK(shellCommand(run.shell, "state").lines ==
          std::vector<std::string>({"popup closed", "inputbox closed", "dialog none"}));

    // A download that stalls after the response's head.
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + feedServerUrl(server, "/slow.xml")));
    waited = GetTickCount();
    while (feedRequests(server) < 1 && GetTickCount() - waited < 5000)
        Sleep(20);
    REQUIRE(feedRequests(server) == 1);
    Sleep(300); // the head has arrived; the pass now waits for more
    CHECK(waitHeader(run, "Connecting...", 1000));

    DWORD start = GetTickCount();
    int status = stopShell(run.shell, 15000);
    DWORD elapsed = GetTickCount() - start;
    std::printf("  quit during a stalled download: %lu ms\n", static_cast<unsigned long>(elapsed));
    CHECK_EQ(status, 0);
    CHECK(elapsed < 5000);

    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.x:"), std::string("137"));
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.y:"), std::string("211"));
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.width:"), std::string("321"));
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.height:"), std::string("250"));
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.feedUrl:"),
             feedServerUrl(server, "/slow.xml"));
    stopFeedServer(server);
}

// ---- polite updates: the saved copy, validators, failures and the health line ----------------

// The health line as the command interface answers it: "@FeedMarqueeHealth" makes the plug-in
// send "@FeedMarqueeHealthReport TEXT" through the shell, which records it.
std::string reportedHealth(SystemRun& run) {
    command(run, "record-clear");
    broadcast(run, "@FeedMarqueeHealth");
    const std::string marker = "@FeedMarqueeHealthReport ";
    for (const std::string& line : shellCommand(run.shell, "record").lines) {
        size_t at = line.find(marker);
        if (line.compare(0, 9, "broadcast") == 0 && at != std::string::npos)
            return line.substr(at + marker.size());
    }
    return "(no report)";
}

// "%H:%M" of the local time, as the health line shows the next try.
std::string clockTime(time_t when) {
    char text[16];
    std::strftime(text, sizeof text, "%H:%M", std::localtime(&when));
    return text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(saved_headlines_show_at_once_and_updates_are_conditional_and_kept_on_failure) {
    // A server that is down: it takes the connection and closes it without an answer.
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, closeAtOnce, "");
    std::string url = feedServerUrl(server, "/feed.xml");
    // The saved copy of an earlier run, an hour old.
    time_t savedAt = std::time(nullptr) - 3600;
    CachedFeed saved = {};
    saved.url = url.c_str();
    saved.etag = "\"v1\"";
    saved.savedAt = savedAt;
    TempFolder scratch("cache");
    std::string cachePath = scratch.file("feedmarquee.cache");
    REQUIRE(writeCacheTemporary(cachePath.c_str(), &saved, feedDocument, sizeof feedDocument - 1));
    REQUIRE(commitCacheTemporary(cachePath.c_str()));
    SystemRun run({{"feedmarquee.rc", "feedmarquee.feedUrl: " + url + "\r\n"},
                   {"feedmarquee.cache", readFileText(cachePath)}});
    REQUIRE(run.started);

    // The saved headlines at once; the failed first check marks them stale with their time, and
    // the health line says why and when the next try comes.
    View view;
    std::string stale = std::string(feedTitle) + "  [stale since " + stamp(savedAt) + "]";
    CHECK(waitPainted(
        run, view, [&](const View& v) { return v.header() == stale && showsItems(v); }, 8000));
    CHECK(contains(lastFeedRequest(server), "If-None-Match: \"v1\"\r\n"));
    std::string tip = view.headerTip();
    CHECK(contains(tip, "\nFailed ") && contains(tip, ". Next try "));
    std::string health = reportedHealth(run);
    CHECK(health.compare(0, 7, "Failed ") == 0 && contains(tip, health));

    // The server is back: fresh headlines, no marker.
    setFeedResponse(
        server, answerRaw,
        std::string("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nETag: \"v2\"\r\n\r\n") +
            feedDocument);
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    CHECK(waitPainted(
        run, view,
        [&](const View& v) { return showsHeadlines(v) && contains(v.headerTip(), "\nUpdated "); },
        8000));
    CHECK(contains(view.headerTip(), ", 3 items (every 15 min)"));

    // Not modified: the request carried the new validator, and the items are exactly as painted.
    View before = look(run, true);
    long requests = feedRequests(server);
    setFeedResponse(server, answerRaw, "HTTP/1.0 304 Not Modified\r\n\r\n");
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    CHECK(waitView(
        run, view, [&](const View& v) { return contains(v.headerTip(), "\nNot modified"); }, 8000));
    CHECK_EQ(feedRequests(server), requests + 1);
    CHECK(contains(lastFeedRequest(server), "If-None-Match: \"v2\"\r\n"));
    CHECK_EQ(view.tools.size(), before.tools.size());
    for (size_t i = 1; i < view.tools.size() && i < before.tools.size(); ++i) {
        CHECK(EqualRect(&view.tools[i].rect, &before.tools[i].rect));
        CHECK_EQ(view.tools[i].text, before.tools[i].text);
    }
    CHECK_EQ(view.header(), std::string(feedTitle));

    // 503 with Retry-After: the items stay, stale, and the next try is the one announced.
    setFeedResponse(server, answerRaw,
                    "HTTP/1.0 503 Service Unavailable\r\nRetry-After: 3600\r\n\r\n");
    time_t asked = std::time(nullptr);
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    CHECK(waitPainted(
        run, view,
        [&](const View& v) { return contains(v.header(), "[stale since ") && showsItems(v); },
        8000));
    time_t answered = std::time(nullptr);
    health = reportedHealth(run);
    bool announced = false;
    for (time_t when = asked; when <= answered + 1; ++when)
        announced = announced || contains(health, ": HTTP 503 Service Unavailable. Next try " +
                                                      clockTime(when + 3600));
    CHECK(announced);
    if (!announced)
        std::fprintf(stderr, "  health: %s\n", health.c_str());

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(server);
}

TEST(a_feed_chosen_during_an_update_is_fetched_after_it_and_stored_without_the_old_title) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed, feedDocument);
    std::string first = feedServerUrl(server, "/feed.xml");
    SystemRun run({{"feedmarquee.rc", "feedmarquee.feedUrl: " + first + "\r\n"}});
    REQUIRE(run.started);
    View view;
    REQUIRE(waitPainted(run, view, showsHeadlines, 8000));

    // An update of the first feed that takes three seconds; meanwhile the user picks another
    // address and adds it to the favourites.
    setFeedResponse(server, answerFeed, feedDocument, 3000);
    long before = feedRequests(server);
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    DWORD waited = GetTickCount();
    while (feedRequests(server) == before && GetTickCount() - waited < 5000)
        Sleep(20);
    REQUIRE(feedRequests(server) == before + 1);
    std::string secondFeed(feedDocument);
    secondFeed.replace(secondFeed.find(feedTitle), std::strlen(feedTitle), "Second Feed");
    setFeedResponse(server, answerFeed, secondFeed);
    std::string second = feedServerUrl(server, "/second.xml");
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + second));
    REQUIRE(broadcast(run, "@FeedMarqueeAddFavorites"));
    // The headlines on show are the first feed's: their title is no name for the second.
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.fav0.url:"), second);
    CHECK_EQ(settingValue(run.settingsFile(), "feedmarquee.fav0.title:"), std::string(""));

    // When the first feed's update ends, the second address is fetched, and only its headlines
    // show.
    CHECK(waitPainted(
        run, view, [](const View& v) { return v.header() == "Second Feed" && showsItems(v); },
        10000));
    CHECK(contains(lastFeedRequest(server), "GET /second.xml "));

    // A settings file reloaded with another address fetches that address at once.
    setFeedResponse(server, answerFeed, feedDocument);
    REQUIRE(editSetting(run.settingsFile(),
                        "feedmarquee.feedUrl:", feedServerUrl(server, "/third.xml")));
    REQUIRE(broadcast(run, "@FeedMarqueeReloadSettings"));
    CHECK(waitPainted(run, view, showsHeadlines, 8000));
    CHECK(contains(lastFeedRequest(server), "GET /third.xml "));

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(server);
}
