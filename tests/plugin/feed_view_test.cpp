// Several feeds in one window, in this process: the real engine fetching three feed servers on
// 127.0.0.1 (a fine one, a slow one and one that fails later), and the model the window paints
// read back as the user would see it: lines with feed names, marks, the header and its tip. The
// turns of "inTurn" go by the view's clock seam, never by waiting.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/commands.h"
#include "plugin/feed_updates.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"
#include "tests/system/feed_server.h"

namespace {

// The model's lines: "name: title" (or the title alone), "*" after a new item's, "!" after a
// stale one's.
std::vector<std::string> lines() {
    std::vector<std::string> out;
    const ViewModel& view = currentView();
    for (size_t i = 1; i < view.count; ++i) {
        const ViewEntry& entry = view.entries[i];
        const char* name = entryFeedName(view, entry);
        std::string line = name ? std::string(name) + ": " : "";
        line += entry.item->title ? entry.item->title : "";
        line += entry.isNew ? "*" : "";
        line += entry.stale ? "!" : "";
        out.push_back(line);
    }
    return out;
}

std::string lineAt(size_t index) {
    std::vector<std::string> all = lines();
    return index < all.size() ? all[index] : "<none>";
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts)
        out += (out.empty() ? "" : " | ") + part;
    return out;
}

std::string header() {
    const ViewModel& view = currentView();
    std::string text =
        view.count > 0 && view.entries[0].item->title ? view.entries[0].item->title : "";
    return text + (view.headerSuffix ? view.headerSuffix : "");
}

std::string headerTip() {
    const ViewModel& view = currentView();
    return view.headerTip ? view.headerTip : "";
}

DWORD fakeNow = 1000;
DWORD WINAPI fakeClock() {
    return fakeNow;
}

const char fineOld[] = "Tue, 08 Dec 2026 08:00:00 GMT";
const char fineNew[] = "Tue, 08 Dec 2026 10:00:00 GMT";

} // namespace

TEST(feeds_together_in_turn_with_new_marks_and_a_slow_and_a_failing_feed) {
    FeedServer fine, slow, flaky;
    REQUIRE(startFeedServer(fine) && startFeedServer(slow) && startFeedServer(flaky));
    setFeedResponse(fine, answerFeed,
                    rssWithItems("Fine Daily", {std::string("F1@") + fineNew,
                                                std::string("F2@") + fineOld, "Fundated"}));
    setFeedResponse(slow, answerFeed, rssWithItems("Slow", {"S1@Tue, 08 Dec 2026 11:00:00 GMT"}),
                    60000);
    setFeedResponse(
        flaky, answerFeed,
        rssWithItems("Flaky Wire", {"K1@2026-12-08T09:00:00Z", "K2@2026-12-08T07:00:00Z"}));
    std::string rc = "feedmarquee.show: together\nfeedmarquee.updateInterval(min): 60\n"
                     "feedmarquee.fav0.url: " +
                     feedServerUrl(fine, "/f") +
                     "\n"
                     "feedmarquee.fav0.title: Fine\n"
                     "feedmarquee.fav1.url: " +
                     feedServerUrl(slow, "/s") +
                     "\n"
                     "feedmarquee.fav1.title: A very long favourite title indeed\n"
                     "feedmarquee.fav2.url: " +
                     feedServerUrl(flaky, "/k") + "\n";
    turnClock = fakeClock;
    updateStopWaitMs = 3000;
    PluginRun run;
    run.settingsFile(rc.c_str());
    REQUIRE(run.begin() == 0);

    // The fine and the flaky feed merged newest first, each line with its feed's name (the
    // favourite's title, else the feed's own); the slow one holds up neither. The first fetch of a
    // feed marks nothing new.
    const std::string together = "Fine: F1 | Flaky Wire: K1 | Fine: F2 | Fine: Fundated | "
                                 "Flaky Wire: K2";
    CHECK(waitFor([&] { return joined(lines()) == together; }, 8000));
    CHECK_EQ(joined(lines()), together);
    CHECK_EQ(header(), std::string("3 feeds"));
    std::string tip = headerTip();
    // A feed that shows nothing yet comes first.
    CHECK(tip.find("A very long favourite ti...: ") == 0);
    CHECK(tip.find("\nFine: Updated ") != std::string::npos);
    CHECK(tip.find("\nFlaky Wire: Updated ") != std::string::npos);
    settings.showFeedName = false;
    CHECK_EQ(lineAt(0), std::string("F1"));
    settings.showFeedName = true;
    settings.maxItemsPerFeed = 1;
    CHECK_EQ(joined(lines()), std::string("Fine: F1 | Flaky Wire: K1"));
    settings.maxItemsPerFeed = 20;
    settings.showItemCounts = true;
    CHECK_EQ(header(), std::string("3 feeds  (5)"));
    settings.showItemCounts = false;

    // A new item in the fine feed: bold (new) after the update, counted in the header.
    setFeedResponse(fine, answerFeed,
                    rssWithItems("Fine Daily",
                                 {"F0@Tue, 08 Dec 2026 12:00:00 GMT", std::string("F1@") + fineNew,
                                  std::string("F2@") + fineOld, "Fundated"}));
    // The flaky feed now fails: its items stay, marked stale, and its health line says why.
    setFeedResponse(flaky, closeAtOnce, "");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateNow");
    CHECK(waitFor(
        [&] {
            return lines().size() == 6 && lines()[0] == "Fine: F0*" &&
                   lines()[2] == "Flaky Wire: K1!";
        },
        8000));
    CHECK_EQ(joined(lines()), std::string("Fine: F0* | Fine: F1 | Flaky Wire: K1! | Fine: F2 | "
                                          "Fine: Fundated | Flaky Wire: K2!"));
    CHECK_EQ(header(), std::string("3 feeds  (1 new)"));
    tip = headerTip();
    CHECK(tip.find("\nFlaky Wire: Failed ") != std::string::npos);

    // Seen through its tooltip or its link: no longer new, and the count follows.
    markEntrySeen(&currentView().entries[1]);
    CHECK_EQ(lineAt(0), std::string("Fine: F0"));
    CHECK_EQ(header(), std::string("3 feeds"));

    // In turn: the fine feed, then the flaky one; the slow one, with nothing to show, is skipped.
    // The pointer away from the window, wherever an earlier test left it: resting there holds the
    // turn.
    SetCursorPos(0, 0);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShow inTurn");
    CHECK_EQ(settings.show, int(showInTurn));
    CHECK_EQ(header(), std::string("Fine  1/3"));
    CHECK_EQ(joined(lines()), std::string("F0 | F1 | F2 | Fundated"));
    fakeNow += 19000;
    turnTick(runtime.pluginWindow);
    CHECK_EQ(header(), std::string("Fine  1/3"));
    fakeNow += 1000;
    turnTick(runtime.pluginWindow);
    CHECK_EQ(header().substr(0, 30), std::string("Flaky Wire  3/3  [stale since "));
    CHECK_EQ(joined(lines()), std::string("K1! | K2!"));
    // The mouse resting over the window holds the turn.
    RECT window;
    GetWindowRect(runtime.pluginWindow, &window);
    SetCursorPos((window.left + window.right) / 2, (window.top + window.bottom) / 2);
    fakeNow += 60000;
    turnTick(runtime.pluginWindow);
    CHECK(header().compare(0, 15, "Flaky Wire  3/3") == 0);
    SetCursorPos(0, 0);
    fakeNow += 20000;
    turnTick(runtime.pluginWindow);
    CHECK_EQ(header(), std::string("Fine  1/3"));

    // Mark All Read, in every mode: nothing new is left.
    setFeedResponse(fine, answerFeed,
                    rssWithItems("Fine Daily", {"Fnewest@Tue, 08 Dec 2026 13:00:00 GMT",
                                                "F0@Tue, 08 Dec 2026 12:00:00 GMT"}));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShow Together");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateNow");
    CHECK(waitFor([&] { return !lines().empty() && lines()[0] == "Fine: Fnewest*"; }, 8000));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeMarkAllRead");
    CHECK_EQ(lineAt(0), std::string("Fine: Fnewest"));
    CHECK_EQ(header(), std::string("3 feeds"));

    run.end();
    turnClock = GetTickCount;
    stopFeedServer(fine);
    stopFeedServer(slow);
    stopFeedServer(flaky);
}

// "One" mode's header: the feed's title with the count and the time as the settings ask; a
// placeholder has nothing to count.
TEST(one_feed_header_for_each_combination_of_count_and_time) {
    settings.show = showOne;
    FeedList* list = newFeedList(0);
    for (const char* title : {"World News", "One", "Two", "Three"})
        appendEntry(list)->title = listText(list, title, 0);
    showListDirectly(list);
    releaseFeedList(list);
    snprintf(lastUpdateTime, sizeof lastUpdateTime, "12/06 18:42");
    struct Row {
        bool counts, time;
        const char* header;
    } rows[] = {
        {false, false, "World News"},
        {true, false, "World News  (3)"},
        {false, true, "World News  (12/06 18:42)"},
        {true, true, "World News  (3) (12/06 18:42)"},
    };
    for (const Row& row : rows) {
        settings.showItemCounts = row.counts;
        settings.showUpdateTime = row.time;
        CHECK_EQ(header(), std::string(row.header));
    }
    FeedList* placeholder = placeholderList("Connecting...");
    showListDirectly(placeholder);
    releaseFeedList(placeholder);
    lastUpdateTime[0] = '\0';
    CHECK_EQ(header(), std::string("Connecting..."));
    showListDirectly(nullptr);
    releaseView();
}
