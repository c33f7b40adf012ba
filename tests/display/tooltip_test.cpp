// The tooltip under Wine with the real common controls, seen through the control's own answers:
// one tool per painted entry with its rectangle and text, the length limit, the sweep, quiet
// repaints, the settings the control is given, and a tip that actually shows on a mouse move.
#include "tests/display/display_fixture.h"
#include "tests/support/check.h"

#include <cstdio>
#include <cwchar>

using namespace fixture;

namespace {

// Counts the tooltip messages (TTM_*) the control receives.
WNDPROC controlProc = nullptr;
int controlMessages = 0;
LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER && message < WM_USER + 0x100)
        ++controlMessages;
    return CallWindowProcA(controlProc, window, message, wParam, lParam);
}
void startCounting() {
    controlMessages = 0;
    controlProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tooltipWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingProc)));
}
void stopCounting() {
    SetWindowLongPtrA(tooltipWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(controlProc));
}

// Relays a mouse move at a client point and waits (bounded) for the tip to show.
bool tipShowsAt(HWND window, POINT client, int waitMilliseconds) {
    POINT screen = client;
    ClientToScreen(window, &screen);
    SetCursorPos(screen.x, screen.y);
    relayMouseToTooltip(window, screen);
    for (int waited = 0; waited < waitMilliseconds; waited += 20) {
        pumpMessages(20);
        if (IsWindowVisible(tooltipWindow))
            return true;
    }
    return false;
}

POINT middleOf(const ViewEntry* entry) {
    return POINT{(entry->itemRect.left + entry->itemRect.right) / 2,
                 (entry->itemRect.top + entry->itemRect.bottom) / 2};
}

// The text of the tool the control finds at point (client coordinates): the one it would show.
std::wstring toolTextAt(HWND window, POINT point) {
    TTHITTESTINFOW hit = {};
    hit.hwnd = window;
    hit.pt = point;
    hit.ti.cbSize = sizeof hit.ti;
    if (!SendMessageW(tooltipWindow, TTM_HITTESTW, 0, reinterpret_cast<LPARAM>(&hit)))
        return L"<none>";
    static WCHAR text[4096];
    text[0] = 0;
    TOOLINFOW query = {};
    query.cbSize = sizeof query;
    query.hwnd = hit.ti.hwnd;
    query.uId = hit.ti.uId;
    query.lpszText = text;
    SendMessageW(tooltipWindow, TTM_GETTEXTW, sizeof text / sizeof text[0],
                 reinterpret_cast<LPARAM>(&query));
    return text;
}

} // namespace

TEST(one_tool_per_painted_entry_with_its_rectangle_and_text) {
    resetDisplayState();
    settings.showItemCounts = false;
    addEntry("Feed");
    addEntry("First", "about the first");
    addEntry("Second", "about the second");
    addEntry("Third");
    HWND window = openWithTooltip();
    REQUIRE(tooltipWindow != nullptr);
    paintNow(window);

    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 4);
    const char* texts[] = {"Feed", "First\n\nabout the first", "Second\n\nabout the second",
                           "Third"};
    int i = 0;
    for (const ViewEntry* entry = shownEntries.data();
         entry != shownEntries.data() + shownEntries.size(); ++entry, ++i) {
        CHECK(sameRect(tools[i].rect, entry->itemRect));
        CHECK_EQ(tools[i].text, std::string(texts[i]));
        CHECK_EQ(tools[i].id, UINT_PTR(i + 1));
    }
    closeWindow(window);
}

TEST(a_tip_holds_at_most_1024_characters) {
    resetDisplayState();
    addEntry("Feed");
    // "T\n\n" and a description: 3 + 1022 = 1025 characters in all.
    std::string description(1022, 'd');
    addEntry("T", description.c_str());
    // A title line of 1100 characters without a description.
    std::string longTitle(1100, 't');
    addEntry(longTitle.c_str());
    HWND window = openWithTooltip();
    paintNow(window);
    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 3);
    CHECK_EQ(tools[1].text.size(), size_t(1023));
    CHECK_EQ(tools[1].text.substr(0, 4), std::string("T\n\nd"));
    CHECK_EQ(tools[2].text.size(), size_t(1023));

    closeWindow(window);
}

TEST(tools_of_vanished_entries_are_swept_and_numbers_reused) {
    resetDisplayState();
    addEntry("Feed");
    addEntry("One", "1");
    addEntry("Two", "2");
    addEntry("Three", "3");
    HWND window = openWithTooltip();
    paintNow(window);
    CHECK_EQ(toolCount(), 4);

    // A shorter list: the tools at the rectangles still used change text, the rest go as the
    // paint ends.
    clearList();
    addEntry("Feed");
    addEntry("Uno", "1");
    paintNow(window);
    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 2);
    CHECK_EQ(tools[1].text, std::string("Uno\n\n1"));
    CHECK_EQ(tools[1].id, UINT_PTR(2));

    // A new tool gets one more than the largest number still registered.
    addEntry("Dos", "2");
    paintNow(window);
    tools = toolsOfControl();
    REQUIRE(tools.size() == 3);
    CHECK_EQ(tools[2].id, UINT_PTR(3));
    CHECK_EQ(tools[2].text, std::string("Dos\n\n2"));

    // Two sweeps without a paint between them remove everything.
    sweepTools();
    sweepTools();
    CHECK_EQ(toolCount(), 0);
    paintNow(window);
    CHECK_EQ(toolCount(), 3);
    tools = toolsOfControl();
    REQUIRE(tools.size() == 3);
    CHECK_EQ(tools[0].id, UINT_PTR(1));

    removeAllTools();
    CHECK_EQ(toolCount(), 0);
    closeWindow(window);
}

TEST(an_unchanged_repaint_sends_nothing_to_the_control) {
    resetDisplayState();
    settings.height = 900; // every entry in the window
    addEntry("Feed");
    for (int i = 0; i < 50; ++i)
        addEntry(("Headline " + std::to_string(i)).c_str(), "body");
    HWND window = openWithTooltip();
    paintNow(window);
    CHECK_EQ(toolCount(), 51);

    startCounting();
    paintNow(window);
    paintNow(window);
    int quiet = controlMessages;
    // One changed text: exactly one update.
    free((void*)itemAt(7)->description);
    itemAt(7)->description = copyOf("changed");
    paintNow(window);
    int afterChange = controlMessages;
    stopCounting();
    CHECK_EQ(quiet, 0);
    CHECK_EQ(afterChange, 1);
    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 51);
    CHECK_EQ(tools[7].text, std::string("Headline 6\n\nchanged"));
    closeWindow(window);
}

TEST(the_control_gets_the_tip_settings) {
    resetDisplayState();
    settings.tipWidth = 280;
    settings.tipHideDelay = 7;
    HWND window = openWithTooltip();
    REQUIRE(tooltipWindow != nullptr);
    HWND tip = tooltipWindow;
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0)), 280);
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0)), 7000);
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_INITIAL, 0)), 120);
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_RESHOW, 0)), 60);
    CHECK((GetWindowLongA(tip, GWL_STYLE) & TTS_NOPREFIX) != 0);

    // 66 seconds is more than the control can take: it gets its maximum, the setting stays.
    settings.tipHideDelay = 66;
    applyTooltipSettings();
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0)), 32767);
    CHECK_EQ(settings.tipHideDelay, 66);
    settings.tipWidth = 500;
    applyTooltipSettings();
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0)), 500);
    closeWindow(window);
}

TEST(a_tip_shows_on_a_relayed_move_and_activation_needs_no_repaint) {
    resetDisplayState();
    settings.showItemCounts = false;
    addEntry("Feed");
    addEntry("Hover me", "the description");
    addEntry("Another", "more");
    HWND window = openWithTooltip();
    paintNow(window);
    const ViewEntry* item = entryAt(1);
    POINT empty = {150, lastShown()->itemRect.bottom + 20};

    CHECK(tipShowsAt(window, middleOf(item), 1500));
    wchar_t shown[256] = L"";
    GetWindowTextW(tooltipWindow, shown, 256);
    CHECK(toolTextAt(window, middleOf(item)) == shown);
    CHECK(!tipShowsAt(window, empty, 300));

    // The tip goes with the pointer's leave, and while the pointer rests on an entry after its
    // tip has gone no timer of the tip's runs.
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    tooltipPointerLeft();
    CHECK(!IsWindowVisible(tooltipWindow));
    setTooltipTiming(350, 1000);
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    for (int waited = 0; waited < 3000 && IsWindowVisible(tooltipWindow); waited += 50)
        pumpMessages(50);
    CHECK(!IsWindowVisible(tooltipWindow));
    CHECK(!KillTimer(window, 0x4654) && !KillTimer(window, 0x4655));

    // Near the bottom right of the screen the tip stands above the pointer, all of it showing.
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(window, nullptr, work.right - 200, work.bottom - item->itemRect.bottom - 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    tooltipPointerLeft();
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    RECT tip;
    GetWindowRect(tooltipWindow, &tip);
    POINT cursor;
    GetCursorPos(&cursor);
    CHECK(tip.bottom <= work.bottom && tip.right <= work.right);
    CHECK(tip.bottom <= cursor.y);

    activateTooltip(false);
    CHECK(!tipShowsAt(window, middleOf(item), 600));
    CHECK(!tipShowsAt(window, empty, 100));
    activateTooltip(true);
    CHECK_EQ(toolCount(), 3);
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    CHECK(!tipShowsAt(window, empty, 300));

    // Without a control nothing is attempted and nothing breaks.
    closeWindow(window);
    addOrUpdateTool(RECT{0, 0, 5, 5}, L"x");
    activateTooltip(true);
    sweepTools();
    relayMouseToTooltip(nullptr, POINT{0, 0});
}

TEST(after_a_layout_change_the_tool_at_each_item_names_that_item) {
    resetDisplayState();
    settings.showItemCounts = false;
    settings.height = 400;
    const wchar_t* titles[] = {L"Feed", L"Alpha", L"Beta", L"Gamma", L"Delta"};
    addEntry("Feed");
    addEntry("Alpha", "about alpha, long enough to wrap over more than one line of this window");
    addEntry("Beta", "about beta");
    addEntry("Gamma", "about gamma");
    addEntry("Delta", "about delta");
    HWND window = openWithTooltip();
    paintNow(window);

    struct Change {
        const char* what;
        void (*apply)();
    } changes[] = {
        {"descriptions shown", [] { settings.showDesc = true; }},
        {"padding", [] { settings.padding = 9; }},
        {"font", [] { settings.fontHeight = 20; }},
        {"word wrap", [] { settings.wordWrap = true; }},
        {"descriptions hidden", [] { settings.showDesc = false; }},
        {"narrower padding and font",
         [] {
             settings.padding = 0;
             settings.fontHeight = 11;
         }},
    };
    for (const Change& change : changes) {
        change.apply();
        paintNow(window);
        int i = 0;
        for (const ViewEntry* entry = shownEntries.data();
             entry != shownEntries.data() + shownEntries.size(); ++entry, ++i) {
            POINT middle = {(entry->itemRect.left + entry->itemRect.right) / 2,
                            (entry->itemRect.top + entry->itemRect.bottom) / 2};
            std::wstring found = toolTextAt(window, middle);
            if (found.compare(0, wcslen(titles[i]), titles[i]) != 0)
                printf("after \"%s\", entry %d shows the wrong tip\n", change.what, i);
            CHECK(found.compare(0, wcslen(titles[i]), titles[i]) == 0);
        }
        CHECK_EQ(toolCount(), 5);
    }
    closeWindow(window);
}
