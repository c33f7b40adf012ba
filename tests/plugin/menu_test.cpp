// The context menu as the stand-in shell records it: every entry of the named menus with
// its kind, label, command, state and range, compared line by line with the expected trees, and
// the menu as a person uses it through the shell (picking entries sends their commands back).
#include "tests/support/check.h"
#include "tests/plugin/command_fixture.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/commands.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "shell/blackbox_api.h"
#include "shell/shell_record.h"

namespace {

// The shell's dump has one tab-separated line per menu and per entry; the expected trees below
// write the fields separated by '|'. {W} and {H} stand for the virtual screen's width and height.
// Every entry with its state as the default settings give it, started without a slit.
const char defaultTree[] = R"(menu|-|FeedMarquee|FDMQ_Main|{mode}
item|1|submenu|RSS||FDMQ_RSS
menu|1|RSS|FDMQ_RSS|{mode}
item|1.1|submenu|Favorites||FDMQ_Favorites
menu|1.1|Favorites|FDMQ_Favorites|{mode}
item|1.1.1|command|Import OPML...|@FeedMarqueeImportOpml|unchecked
item|1.1.2|command|Export OPML...|@FeedMarqueeExportOpml|unchecked
item|1.2|string|Feed URL|@FeedMarqueeFeedUrl|
item|1.3|command|Add Favorites|@FeedMarqueeAddFavorites|unchecked
item|1.4|command|Update Now|@FeedMarqueeUpdateNow|unchecked
item|1.5|int|Update Interval (min)|@FeedMarqueeUpdateInterval |15|1|1440
item|1.6|separator||
item|1.7|submenu|encoding||FDMQ_encoding
menu|1.7|encoding|FDMQ_encoding|{mode}
item|1.7.1|command|None|@FeedMarqueeEncode 0|unchecked
item|1.7.2|command|UTF-8|@FeedMarqueeEncode 1|checked
item|1.8|submenu|highlight||FDMQ_highlight
menu|1.8|highlight|FDMQ_highlight|{mode}
item|1.8.1|command|None|@FeedMarqueeHighlight 0|unchecked
item|1.8.2|command|MouseOver|@FeedMarqueeHighlight 1|checked
item|1.8.3|command|ALL|@FeedMarqueeHighlight 2|unchecked
item|1.8.4|separator||
item|1.8.5|command|Show Border|@FeedMarqueeHilightBorder|unchecked
item|1.9|submenu|browser||FDMQ_browser
menu|1.9|browser|FDMQ_browser|{mode}
item|1.9.1|command|Browse...|@FeedMarqueeSetBrowser|unchecked
item|1.9.2|command|Default|@FeedMarqueeDefaultBrowser|unchecked
item|1.10|submenu|tooltip||FDMQ_tooltip
menu|1.10|tooltip|FDMQ_tooltip|{mode}
item|1.10.1|command|Allow Tooltip|@FeedMarqueeAllowTip|checked
item|1.10.2|command|Show Title|@FeedMarqueeTipShowTitle|checked
item|1.10.3|separator||
item|1.10.4|int|Tooltip Width|@FeedMarqueeTipWidth|350|50|4096
item|1.10.5|int|Hide Delay (sec)|@FeedMarqueeTipHideDelay|10|1|300
item|1.11|separator||
item|1.12|int|Padding Size|@FeedMarqueePaddingSize|5|0|50
item|1.13|submenu|Offset Size||FDMQ_offset
menu|1.13|Offset Size|FDMQ_offset|{mode}
item|1.13.1|int|title|@FeedMarqueeTitleOffsetSize|5|0|50
item|1.13.2|int|description|@FeedMarqueeDescOffsetSize|15|0|50
item|1.14|separator||
item|1.15|command|Show Description|@FeedMarqueeShowDescription|unchecked
item|1.16|command|Show Date|@FeedMarqueeShowDate|unchecked
item|1.17|command|Abbreviated Date|@FeedMarqueeAbbreviatedDate|checked
item|1.18|command|Date Position Head|@FeedMarqueeDatePosHead|unchecked
item|1.19|command|Show Item Counts|@FeedMarqueeShowItemCounts|unchecked
item|1.20|command|Show Update Time|@FeedMarqueeShowUpdateTime|unchecked
item|1.21|command|Word Wrap|@FeedMarqueeWordWrap|unchecked
item|1.22|separator||
item|1.23|submenu|Show||FDMQ_Show
menu|1.23|Show|FDMQ_Show|{mode}
item|1.23.1|command|One Feed|@FeedMarqueeShow one|checked
item|1.23.2|command|Together|@FeedMarqueeShow together|unchecked
item|1.23.3|command|In Turn|@FeedMarqueeShow inTurn|unchecked
item|1.24|command|Mark All Read|@FeedMarqueeMarkAllRead|unchecked
item|1.25|submenu|Remove Favorite||FDMQ_RemoveFavorite
menu|1.25|Remove Favorite|FDMQ_RemoveFavorite|{mode}
item|2|submenu|Configuration||FDMQ_Config
menu|2|Configuration|FDMQ_Config|{mode}
item|2.1|int|Width Size|@FeedMarqueeWidthSize|200|10|{W}
item|2.2|int|Height Size|@FeedMarqueeHeightSize|250|10|{H}
item|2.3|submenu|Font||FDMQ_Font
menu|2.3|Font|FDMQ_Font|{mode}
item|2.3.1|command|Use Ref Font|@FeedMarqueeUseRefFont|checked
item|2.4|separator||
item|2.5|command|Plugin Toggle|@FeedMarqueePluginToggle|unchecked
item|2.6|command|Always on Top|@FeedMarqueeOnTop|unchecked
item|2.7|command|Transparency|@FeedMarqueeTransparent|unchecked
item|2.8|int|Alpha Value|@FeedMarqueeAlphaValue|160|0|255
item|2.9|command|Snap To Edge|@FeedMarqueeSnapToEdge|checked
item|2.10|command|Show Border|@FeedMarqueeShowBorder|unchecked
item|2.11|command|Lock Position|@FeedMarqueeLockPosition|unchecked
item|2.12|command|Auto Hide|@FeedMarqueeAutoHide|unchecked
item|3|submenu|Style Type||FDMQ_StyleType
menu|3|Style Type|FDMQ_StyleType|{mode}
item|3.1|command|Toolbar|@FeedMarqueeStyleType 1|checked
item|3.2|command|Button|@FeedMarqueeStyleType 2|unchecked
item|3.3|command|ButtonP|@FeedMarqueeStyleType 3|unchecked
item|3.4|command|Label|@FeedMarqueeStyleType 4|unchecked
item|3.5|command|WinLabel|@FeedMarqueeStyleType 5|unchecked
item|3.6|command|Clock|@FeedMarqueeStyleType 6|unchecked
item|4|submenu|Justification||FDMQ_JustifyType
menu|4|Justification|FDMQ_JustifyType|{mode}
item|4.1|command|Left|@FeedMarqueeJustifyType 0|checked
item|4.2|command|Center|@FeedMarqueeJustifyType 1|unchecked
item|4.3|command|Right|@FeedMarqueeJustifyType 2|unchecked
item|5|submenu|Settings||FDMQ_Settings
menu|5|Settings|FDMQ_Settings|{mode}
item|5.1|command|Edit Settings|@FeedMarqueeEditRC|unchecked
item|5.2|command|Reload Settings|@FeedMarqueeReloadSettings|unchecked
item|5.3|command|Save Settings|@FeedMarqueeSaveSettings|unchecked
item|6|command|About|@FeedMarqueeAbout|unchecked
)";

// Every setting away from its default, two favourites (the second without a title), values
// outside the choices, and a start for the slit.
const char changedSettings[] = "feedmarquee.width: 320\n"
                               "feedmarquee.height: 180\n"
                               "feedmarquee.fontHeight: 18\n"
                               "feedmarquee.alpha: 99\n"
                               "feedmarquee.styleType: 7\n"
                               "feedmarquee.justification: 2\n"
                               "feedmarquee.padding: 3\n"
                               "feedmarquee.title_offset: 4\n"
                               "feedmarquee.desc_offset: 60\n"
                               "feedmarquee.updateInterval(min): 45\n"
                               "feedmarquee.encoding: 0\n"
                               "feedmarquee.highlight: 5\n"
                               "feedmarquee.tipWidth: 400\n"
                               "feedmarquee.tipHideDelay: 7\n"
                               "feedmarquee.alwaysontop: true\n"
                               "feedmarquee.transparency: true\n"
                               "feedmarquee.snapWindow: false\n"
                               "feedmarquee.pluginToggle: true\n"
                               "feedmarquee.inSlit: true\n"
                               "feedmarquee.showBorder: true\n"
                               "feedmarquee.allowtooltip: false\n"
                               "feedmarquee.lockPos: true\n"
                               "feedmarquee.autoHide: true\n"
                               "feedmarquee.useRefFont: false\n"
                               "feedmarquee.showDesc: true\n"
                               "feedmarquee.showDate: true\n"
                               "feedmarquee.abbreviatedDate: false\n"
                               "feedmarquee.datePosHead: true\n"
                               "feedmarquee.showItemCounts: true\n"
                               "feedmarquee.showUpdateTime: true\n"
                               "feedmarquee.wordWrap: true\n"
                               "feedmarquee.tipShowTitle: false\n"
                               "feedmarquee.hilightBorder: true\n"
                               "feedmarquee.font: Courier New\n"
                               "feedmarquee.feedUrl: http://127.0.0.1/feed.xml\n"
                               "feedmarquee.fav0.url: http://127.0.0.1/zero.xml\n"
                               "feedmarquee.show: inTurn\n"
                               "feedmarquee.fav0.title: Zero News\n"
                               "feedmarquee.fav1.url: http://127.0.0.1/one.xml\n";

const char changedTree[] = R"(menu|-|FeedMarquee|FDMQ_Main|{mode}
item|1|submenu|RSS||FDMQ_RSS
menu|1|RSS|FDMQ_RSS|{mode}
item|1.1|submenu|Favorites||FDMQ_Favorites
menu|1.1|Favorites|FDMQ_Favorites|{mode}
item|1.1.1|command|Zero News|@FeedMarqueeFavorites 0|unchecked
item|1.1.2|command|http://127.0.0.1/one.xml|@FeedMarqueeFavorites 1|unchecked
item|1.1.3|separator||
item|1.1.4|submenu|Feed Settings||FDMQ_FeedSettings
menu|1.1.4|Feed Settings|FDMQ_FeedSettings|{mode}
item|1.1.4.1|submenu|Shown Feed||FDMQ_FeedShown
menu|1.1.4.1|Shown Feed|FDMQ_FeedShown|{mode}
item|1.1.4.1.1|int|Update Interval (min, 0: all feeds')|@FeedMarqueeFeedSetting shown interval|0|0|1440
item|1.1.4.1.2|int|Items Together (0: all feeds')|@FeedMarqueeFeedSetting shown maxItems|0|0|1000
item|1.1.4.1.3|command|Mute|@FeedMarqueeFeedSetting shown mute|unchecked
item|1.1.4.1.4|command|Sound for New Items|@FeedMarqueeFeedSetting shown sound|unchecked
item|1.1.4.1.5|command|Allow Login over http|@FeedMarqueeFeedSetting shown allowBasicOverHttp|unchecked
item|1.1.4.1.6|separator||
item|1.1.4.1.7|string|User-Agent|@FeedMarqueeFeedSetting shown userAgent|
item|1.1.4.1.8|string|Hide Words|@FeedMarqueeFeedSetting shown hideWords|
item|1.1.4.1.9|string|Highlight Words|@FeedMarqueeFeedSetting shown highlightWords|
item|1.1.4.1.10|separator||
item|1.1.4.1.11|command|Login...|@FeedMarqueeLogin|unchecked
item|1.1.4.1.12|command|Forget Login|@FeedMarqueeForgetLogin|unchecked
item|1.1.4.2|submenu|Zero News||FDMQ_Feed0
menu|1.1.4.2|Zero News|FDMQ_Feed0|{mode}
item|1.1.4.2.1|int|Update Interval (min, 0: all feeds')|@FeedMarqueeFeedSetting 0 interval|0|0|1440
item|1.1.4.2.2|int|Items Together (0: all feeds')|@FeedMarqueeFeedSetting 0 maxItems|0|0|1000
item|1.1.4.2.3|command|Mute|@FeedMarqueeFeedSetting 0 mute|unchecked
item|1.1.4.2.4|command|Sound for New Items|@FeedMarqueeFeedSetting 0 sound|unchecked
item|1.1.4.2.5|command|Allow Login over http|@FeedMarqueeFeedSetting 0 allowBasicOverHttp|unchecked
item|1.1.4.2.6|separator||
item|1.1.4.2.7|string|User-Agent|@FeedMarqueeFeedSetting 0 userAgent|
item|1.1.4.2.8|string|Hide Words|@FeedMarqueeFeedSetting 0 hideWords|
item|1.1.4.2.9|string|Highlight Words|@FeedMarqueeFeedSetting 0 highlightWords|
item|1.1.4.2.10|separator||
item|1.1.4.2.11|command|Login...|@FeedMarqueeLogin 0|unchecked
item|1.1.4.2.12|command|Forget Login|@FeedMarqueeForgetLogin 0|unchecked
item|1.1.4.3|submenu|http://127.0.0.1/one.xml||FDMQ_Feed1
menu|1.1.4.3|http://127.0.0.1/one.xml|FDMQ_Feed1|{mode}
item|1.1.4.3.1|int|Update Interval (min, 0: all feeds')|@FeedMarqueeFeedSetting 1 interval|0|0|1440
item|1.1.4.3.2|int|Items Together (0: all feeds')|@FeedMarqueeFeedSetting 1 maxItems|0|0|1000
item|1.1.4.3.3|command|Mute|@FeedMarqueeFeedSetting 1 mute|unchecked
item|1.1.4.3.4|command|Sound for New Items|@FeedMarqueeFeedSetting 1 sound|unchecked
item|1.1.4.3.5|command|Allow Login over http|@FeedMarqueeFeedSetting 1 allowBasicOverHttp|unchecked
item|1.1.4.3.6|separator||
item|1.1.4.3.7|string|User-Agent|@FeedMarqueeFeedSetting 1 userAgent|
item|1.1.4.3.8|string|Hide Words|@FeedMarqueeFeedSetting 1 hideWords|
item|1.1.4.3.9|string|Highlight Words|@FeedMarqueeFeedSetting 1 highlightWords|
item|1.1.4.3.10|separator||
item|1.1.4.3.11|command|Login...|@FeedMarqueeLogin 1|unchecked
item|1.1.4.3.12|command|Forget Login|@FeedMarqueeForgetLogin 1|unchecked
item|1.1.5|command|Import OPML...|@FeedMarqueeImportOpml|unchecked
item|1.1.6|command|Export OPML...|@FeedMarqueeExportOpml|unchecked
item|1.2|string|Feed URL|@FeedMarqueeFeedUrl|http://127.0.0.1/feed.xml
item|1.3|command|Add Favorites|@FeedMarqueeAddFavorites|unchecked
item|1.4|command|Update Now|@FeedMarqueeUpdateNow|unchecked
item|1.5|int|Update Interval (min)|@FeedMarqueeUpdateInterval |45|1|1440
item|1.6|separator||
item|1.7|submenu|encoding||FDMQ_encoding
menu|1.7|encoding|FDMQ_encoding|{mode}
item|1.7.1|command|None|@FeedMarqueeEncode 0|checked
item|1.7.2|command|UTF-8|@FeedMarqueeEncode 1|unchecked
item|1.8|submenu|highlight||FDMQ_highlight
menu|1.8|highlight|FDMQ_highlight|{mode}
item|1.8.1|command|None|@FeedMarqueeHighlight 0|unchecked
item|1.8.2|command|MouseOver|@FeedMarqueeHighlight 1|unchecked
item|1.8.3|command|ALL|@FeedMarqueeHighlight 2|unchecked
item|1.8.4|separator||
item|1.8.5|command|Show Border|@FeedMarqueeHilightBorder|checked
item|1.9|submenu|browser||FDMQ_browser
menu|1.9|browser|FDMQ_browser|{mode}
item|1.9.1|command|Browse...|@FeedMarqueeSetBrowser|unchecked
item|1.9.2|command|Default|@FeedMarqueeDefaultBrowser|unchecked
item|1.10|submenu|tooltip||FDMQ_tooltip
menu|1.10|tooltip|FDMQ_tooltip|{mode}
item|1.10.1|command|Allow Tooltip|@FeedMarqueeAllowTip|unchecked
item|1.10.2|command|Show Title|@FeedMarqueeTipShowTitle|unchecked
item|1.10.3|separator||
item|1.10.4|int|Tooltip Width|@FeedMarqueeTipWidth|400|50|4096
item|1.10.5|int|Hide Delay (sec)|@FeedMarqueeTipHideDelay|7|1|300
item|1.11|separator||
item|1.12|int|Padding Size|@FeedMarqueePaddingSize|3|0|50
item|1.13|submenu|Offset Size||FDMQ_offset
menu|1.13|Offset Size|FDMQ_offset|{mode}
item|1.13.1|int|title|@FeedMarqueeTitleOffsetSize|4|0|50
item|1.13.2|int|description|@FeedMarqueeDescOffsetSize|60|0|50
item|1.14|separator||
item|1.15|command|Show Description|@FeedMarqueeShowDescription|checked
item|1.16|command|Show Date|@FeedMarqueeShowDate|checked
item|1.17|command|Abbreviated Date|@FeedMarqueeAbbreviatedDate|unchecked
item|1.18|command|Date Position Head|@FeedMarqueeDatePosHead|checked
item|1.19|command|Show Item Counts|@FeedMarqueeShowItemCounts|checked
item|1.20|command|Show Update Time|@FeedMarqueeShowUpdateTime|checked
item|1.21|command|Word Wrap|@FeedMarqueeWordWrap|checked
item|1.22|separator||
item|1.23|submenu|Show||FDMQ_Show
menu|1.23|Show|FDMQ_Show|{mode}
item|1.23.1|command|One Feed|@FeedMarqueeShow one|unchecked
item|1.23.2|command|Together|@FeedMarqueeShow together|unchecked
item|1.23.3|command|In Turn|@FeedMarqueeShow inTurn|checked
item|1.24|command|Mark All Read|@FeedMarqueeMarkAllRead|unchecked
item|1.25|submenu|Remove Favorite||FDMQ_RemoveFavorite
menu|1.25|Remove Favorite|FDMQ_RemoveFavorite|{mode}
item|1.25.1|command|Zero News|@FeedMarqueeRemoveFavorite 0|unchecked
item|1.25.2|command|http://127.0.0.1/one.xml|@FeedMarqueeRemoveFavorite 1|unchecked
item|2|submenu|Configuration||FDMQ_Config
menu|2|Configuration|FDMQ_Config|{mode}
item|2.1|int|Width Size|@FeedMarqueeWidthSize|320|10|{W}
item|2.2|int|Height Size|@FeedMarqueeHeightSize|180|10|{H}
item|2.3|submenu|Font||FDMQ_Font
menu|2.3|Font|FDMQ_Font|{mode}
item|2.3.1|command|Use Ref Font|@FeedMarqueeUseRefFont|unchecked
item|2.3.2|int|Font Size|@FeedMarqueeFontSize|18|1|128
item|2.3.3|string|Font Face|@FeedMarqueeFontFace|Courier New
item|2.3.4|command|Font Color|@FeedMarqueeFontColor|unchecked
item|2.3.5|command|Browse...|@FeedMarqueeSetFont|unchecked
item|2.4|separator||
item|2.5|command|In Slit|@FeedMarqueeInSlit|checked
item|2.6|command|Plugin Toggle|@FeedMarqueePluginToggle|checked
item|2.7|command|Always on Top|@FeedMarqueeOnTop|checked
item|2.8|command|Transparency|@FeedMarqueeTransparent|checked
item|2.9|int|Alpha Value|@FeedMarqueeAlphaValue|99|0|255
item|2.10|command|Snap To Edge|@FeedMarqueeSnapToEdge|unchecked
item|2.11|command|Show Border|@FeedMarqueeShowBorder|checked
item|2.12|command|Lock Position|@FeedMarqueeLockPosition|checked
item|2.13|command|Auto Hide|@FeedMarqueeAutoHide|checked
item|3|submenu|Style Type||FDMQ_StyleType
menu|3|Style Type|FDMQ_StyleType|{mode}
item|3.1|command|Toolbar|@FeedMarqueeStyleType 1|unchecked
item|3.2|command|Button|@FeedMarqueeStyleType 2|unchecked
item|3.3|command|ButtonP|@FeedMarqueeStyleType 3|unchecked
item|3.4|command|Label|@FeedMarqueeStyleType 4|unchecked
item|3.5|command|WinLabel|@FeedMarqueeStyleType 5|unchecked
item|3.6|command|Clock|@FeedMarqueeStyleType 6|unchecked
item|4|submenu|Justification||FDMQ_JustifyType
menu|4|Justification|FDMQ_JustifyType|{mode}
item|4.1|command|Left|@FeedMarqueeJustifyType 0|unchecked
item|4.2|command|Center|@FeedMarqueeJustifyType 1|unchecked
item|4.3|command|Right|@FeedMarqueeJustifyType 2|checked
item|5|submenu|Settings||FDMQ_Settings
menu|5|Settings|FDMQ_Settings|{mode}
item|5.1|command|Edit Settings|@FeedMarqueeEditRC|unchecked
item|5.2|command|Reload Settings|@FeedMarqueeReloadSettings|unchecked
item|5.3|command|Save Settings|@FeedMarqueeSaveSettings|unchecked
item|6|command|About|@FeedMarqueeAbout|unchecked
)";

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The tree the shell holds for rootMenu, as lines of fields.
std::vector<std::vector<std::string>> dumpedTree() {
    std::vector<std::vector<std::string>> lines;
    std::string dump = dumpMenuTree(rootMenu);
    for (const std::string& line : split(dump, '\n'))
        if (!line.empty())
            lines.push_back(split(line, '\t'));
    return lines;
}

std::string joined(const std::vector<std::string>& fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i)
        text += (i ? "|" : "") + fields[i];
    return text;
}

// Compares the shell's tree with the expected one entry by entry and reports each difference.
void checkTree(const char* expectedTree, bool popup, int line) {
    std::string expected = expectedTree;
    replaceAll(expected, "{mode}", popup ? "popup" : "refresh");
    replaceAll(expected, "{W}", std::to_string(GetSystemMetrics(SM_CXVIRTUALSCREEN)));
    replaceAll(expected, "{H}", std::to_string(GetSystemMetrics(SM_CYVIRTUALSCREEN)));
    std::vector<std::string> want = split(expected, '\n');
    want.pop_back(); // after the last line break
    std::vector<std::vector<std::string>> got = dumpedTree();
    for (size_t i = 0; i < want.size() || i < got.size(); ++i) {
        std::string w = i < want.size() ? want[i] : "<none>";
        std::string g = i < got.size() ? joined(got[i]) : "<none>";
        if (w != g)
            check::fail(__FILE__, line,
                        "menu line " + std::to_string(i + 1) + ": want " + w + ", got " + g);
    }
}

// The fields of the entry with this label path ("RSS/Show Date"), from the current dump.
std::string entry(const std::string& path) {
    std::string error;
    std::vector<std::vector<std::string>> got = dumpedTree();
    // Walk the labels: each step finds the entry whose path extends the parent's.
    std::string parentPath;
    std::vector<std::string> found;
    for (const std::string& label : split(path, '/')) {
        found.clear();
        for (const auto& fields : got) {
            if (fields.size() < 4 || fields[0] != "item" || fields[3] != label)
                continue;
            std::string p = fields[1];
            std::string prefix = parentPath.empty() ? "" : parentPath + ".";
            if (p.compare(0, prefix.size(), prefix) == 0 &&
                p.find('.', prefix.size()) == std::string::npos) {
                found = fields;
                break;
            }
        }
        if (found.empty())
            return "<missing>";
        parentPath = found[1];
    }
    return joined(std::vector<std::string>(found.begin() + 2, found.end()));
}

} // namespace

TEST(default_tree_started_without_slit_holds_every_entry_of_the_tables) {
    startPlugin();
    buildMenu(false);
    REQUIRE(rootMenu != nullptr);
    checkTree(defaultTree, false, __LINE__);
    stopPlugin();
}

TEST(tree_follows_every_setting_and_the_favorites_when_started_for_the_slit) {
    startPlugin(changedSettings, true);
    REQUIRE(favoriteCount == 2);
    buildMenu(true);
    checkTree(changedTree, true, __LINE__);
    stopPlugin();
}

TEST(two_builds_leave_exactly_one_tree) {
    startPlugin();
    int before = liveMenuCount();
    buildMenu(true);
    buildMenu(true);
    buildMenu(false);
    CHECK_EQ(liveMenuCount() - before, 15);
    std::vector<Menu*> roots = liveRootMenus();
    REQUIRE(roots.size() == 1);
    CHECK(roots[0] == rootMenu);
    stopPlugin();
    CHECK_EQ(liveMenuCount(), 0);
}

TEST(commands_that_end_with_a_menu_refresh_show_the_new_state) {
    startPlugin("feedmarquee.fav0.url: http://127.0.0.1/zero.xml\nfeedmarquee.fav0.title: Zero\n");
    buildMenu(false);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShowDate");
    CHECK_EQ(entry("RSS/Show Date"), "command|Show Date|@FeedMarqueeShowDate|checked");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeEncode 0");
    CHECK_EQ(entry("RSS/encoding/None"), "command|None|@FeedMarqueeEncode 0|checked");
    CHECK_EQ(entry("RSS/encoding/UTF-8"), "command|UTF-8|@FeedMarqueeEncode 1|unchecked");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeJustifyType 1");
    CHECK_EQ(entry("Justification/Center"), "command|Center|@FeedMarqueeJustifyType 1|checked");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedUrl http://127.0.0.1/other.xml");
    CHECK_EQ(entry("RSS/Feed URL"),
             "string|Feed URL|@FeedMarqueeFeedUrl|http://127.0.0.1/other.xml");
    waitForPass();
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUseRefFont");
    CHECK_EQ(entry("Configuration/Font/Font Size"), "int|Font Size|@FeedMarqueeFontSize|12|1|128");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontFace Courier New");
    CHECK_EQ(entry("Configuration/Font/Font Face"),
             "string|Font Face|@FeedMarqueeFontFace|Courier New");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeLockPosition");
    CHECK_EQ(entry("Configuration/Lock Position"),
             "command|Lock Position|@FeedMarqueeLockPosition|checked");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeOnTop");
    CHECK_EQ(entry("Configuration/Always on Top"),
             "command|Always on Top|@FeedMarqueeOnTop|checked");
    setDisplayTitle("Added Feed");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeAddFavorites");
    CHECK_EQ(entry("RSS/Favorites/Added Feed"),
             "command|Added Feed|@FeedMarqueeFavorites 1|unchecked");
    stopPlugin();
}

TEST(picking_entries_in_the_shell_sends_their_commands_with_the_value) {
    startPlugin();
    REQUIRE(createShellWindows(GetModuleHandleA(nullptr)));
    SendMessageA(GetBBWnd(), BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(runtime.pluginWindow),
                 reinterpret_cast<LPARAM>(pluginMessages));
    buildMenu(false);
    CHECK_EQ(pickMenuEntry("RSS/Update Interval (min)", "30"), "");
    CHECK_EQ(pickMenuEntry("Configuration/Width Size", "240"), "");
    CHECK_EQ(pickMenuEntry("RSS/tooltip/Hide Delay (sec)", "12"), "");
    CHECK_EQ(pickMenuEntry("RSS/Show Description", ""), "");
    buildMenu(false);
    CHECK_EQ(pickMenuEntry("Configuration/Font/Use Ref Font", ""), "");
    CHECK_EQ(pickMenuEntry("Configuration/Font/Font Face", "Lucida Console"), "");
    CHECK_EQ(pickMenuEntry("Style Type/Label", ""), "");
    MSG message;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    CHECK_EQ(settings.updateInterval, 30);
    CHECK_EQ(settings.width, 240);
    CHECK_EQ(settings.tipHideDelay, 12);
    CHECK(settings.showDesc);
    CHECK(!settings.useRefFont);
    CHECK_EQ(settings.font, "Lucida Console");
    CHECK_EQ(settings.styleType, 4);
    SendMessageA(GetBBWnd(), BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(runtime.pluginWindow),
                 reinterpret_cast<LPARAM>(pluginMessages));
    destroyShellWindows();
    stopPlugin();
}

TEST(edit_settings_opens_the_settings_file_through_the_shell) {
    startPlugin();
    std::string log = testProgramFolder() + "execute.log";
    DeleteFileA(log.c_str());
    setExecuteLog(log.c_str());
    handleCommand(runtime.pluginWindow, "@FeedMarqueeEditRC");
    setExecuteLog(nullptr);
    clearShellRecord();
    FILE* file = std::fopen(log.c_str(), "rb");
    REQUIRE(file != nullptr);
    char line[1024] = {};
    std::fgets(line, sizeof line, file);
    std::fclose(file);
    CHECK(std::strstr(line, settingsPath) != nullptr);
    CHECK(std::strstr(line, "feedmarquee.rc") != nullptr);
    stopPlugin();
}
