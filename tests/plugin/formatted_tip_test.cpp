// An item's tip in a running plug-in, under the pointer and from Space: formatted from the feed's
// saved copy while the copy holds the item, and its plain text once the copy is gone and a new
// list is on show. The feed comes from a server on 127.0.0.1; the pointer is real input.
#include <windows.h>

#include <cstring>
#include <string>

#include "display/painting.h"
#include "display/tooltip.h"
#include "plugin/commands.h"
#include "plugin/feed_updates.h"
#include "plugin/keyboard.h"
#include "plugin/runtime_state.h"
#include "plugin/view.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"
#include "tests/system/feed_server.h"

namespace {

// The position of the item titled title in the view, or 0.
size_t positionOf(const char* title) {
    const ViewModel& view = currentView();
    for (size_t i = 1; i < view.count; ++i)
        if (std::strcmp(view.entries[i].item->title, title) == 0)
            return i;
    return 0;
}

// Moves the pointer off the window and then onto the item titled title; the height of the tip
// that shows, or 0 when none shows.
int tipHeightOver(const char* title) {
    RECT window;
    GetWindowRect(runtime.pluginWindow, &window);
    moveMouseTo(window.right + 40, window.bottom + 40);
    waitFor([] { return !IsWindowVisible(tooltipWindow); }, 2000);
    size_t position = positionOf(title);
    if (position == 0)
        return 0;
    ItemRect item = entryRect(position);
    POINT middle = {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ClientToScreen(runtime.pluginWindow, &middle);
    moveMouseTo(middle.x, middle.y);
    if (!waitFor([] { return IsWindowVisible(tooltipWindow) != FALSE; }, 3000))
        return 0;
    pumpMessages(100);
    RECT tip;
    GetWindowRect(tooltipWindow, &tip);
    return tip.bottom - tip.top;
}

// Selects the item titled title and presses Space; the height of the tip that shows, or 0.
int keyboardTipHeight(const char* title) {
    size_t position = positionOf(title);
    if (position == 0)
        return 0;
    selectShownItem(runtime.pluginWindow, static_cast<int>(position) - 1);
    handleWindowKey(runtime.pluginWindow, VK_SPACE);
    pumpMessages(100);
    if (!IsWindowVisible(tooltipWindow))
        return 0;
    RECT tip;
    GetWindowRect(tooltipWindow, &tip);
    return tip.bottom - tip.top;
}

// The plain text keeps the paragraph and the list items apart too, but folds the preformatted
// lines into one: only the formatted tip shows those four lines.
const char storm[] = "<item><title>Storm</title><guid>storm</guid><description><![CDATA["
                     "<p>Tonight</p><ul><li>one</li><li>two</li></ul><pre>a\nb\nc\nd</pre>]]>"
                     "</description></item>";

} // namespace

TEST(an_item_tip_is_formatted_from_the_saved_copy_and_plain_without_it) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed,
                    std::string("<rss><channel><title>Harbour</title>") + storm +
                        "</channel></rss>");
    std::string rc = "feedmarquee.feedUrl: " + feedServerUrl(server, "/h") +
                     "\nfeedmarquee.x: 100\nfeedmarquee.y: 100\nfeedmarquee.width: 300\n"
                     "feedmarquee.height: 150\nfeedmarquee.tipWidth: 300\n"
                     "feedmarquee.updateInterval(min): 60\n";
    updateStopWaitMs = 3000;
    PluginRun run;
    run.settingsFile(rc.c_str());
    REQUIRE(run.begin() == 0);
    char copy[MAX_PATH];
    REQUIRE(headlineCachePath(copy));
    REQUIRE(waitFor(
        [&] {
            return positionOf("Storm") != 0 && GetFileAttributesA(copy) != INVALID_FILE_ATTRIBUTES;
        },
        8000));

    // The description's paragraph, two list items and four preformatted lines, each a line.
    int formatted = tipHeightOver("Storm");
    CHECK(formatted > 0);
    int keyboardFormatted = keyboardTipHeight("Storm"); // Space: the same tip
    CHECK(keyboardFormatted > 0);

    // The copy can no longer be read or written (a folder stands in its place), and a new list
    // comes: the same item's tip is its plain text, the preformatted lines on one line, not the
    // old document's answer.
    REQUIRE(DeleteFileA(copy) && CreateDirectoryA(copy, nullptr));
    setFeedResponse(server, answerFeed,
                    std::string("<rss><channel><title>Harbour</title><item><title>Later</title>"
                                "<guid>later</guid><description>x</description></item>") +
                        storm + "</channel></rss>");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateNow");
    REQUIRE(waitFor([] { return positionOf("Later") != 0; }, 8000));
    int plain = tipHeightOver("Storm");
    CHECK(plain > 0);
    CHECK(formatted >= plain + 30); // three lines more, at least 10 pixels each
    int keyboardPlain = keyboardTipHeight("Storm");
    CHECK(keyboardPlain > 0);
    CHECK(keyboardFormatted >= keyboardPlain + 30);

    moveMouseTo(0, 0);
    run.end();
    RemoveDirectoryA(copy);
    stopFeedServer(server);
}
