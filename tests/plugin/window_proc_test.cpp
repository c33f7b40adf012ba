// The window procedure on the real plug-in window: the mouse model, the timers, the shell's
// messages, hit-testing, and which links are opened and how they reach the shell.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "content/stored_link.h"
#include "content/feed_items.h"
#include "display/painting.h"
#include "plugin/feed_updates.h"
#include "plugin/view.h"
#include "plugin/window_proc.h"
#include "plugin/browser_launch.h"
#include "plugin/lifecycle.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "shell/blackbox_api.h"
#include "shell/shell_record.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"

namespace {

// Shows a list of entries at the given client rectangles (as painting would lay them out);
// cleared again by clearEntries.
struct EntryLayout {
    const char* title;
    const char* link;
    RECT rect;
};
void setEntries(const std::vector<EntryLayout>& layouts) {
    FeedList* list = newFeedList(0);
    for (const EntryLayout& layout : layouts) {
        FeedItem* entry = appendEntry(list);
        entry->title = listText(list, layout.title, 0);
        entry->link = copyLink(list, layout.link, true);
    }
    showListDirectly(list);
    releaseFeedList(list);
    ViewModel& view = currentView();
    for (size_t i = 0; i < layouts.size() && i < view.count; ++i) {
        const RECT& r = layouts[i].rect;
        placeEntry(i,
                   ItemRect{int16_t(r.left), int16_t(r.top), int16_t(r.right), int16_t(r.bottom)});
    }
}
void clearEntries() {
    showListDirectly(nullptr);
}

// A running plug-in whose first pass has ended (no feed address: it fails at once).
struct Started {
    PluginRun run;
    HWND window = nullptr;
    explicit Started(const char* rc = "feedmarquee.x: 300\nfeedmarquee.y: 300\n") {
        run.settingsFile(rc);
        if (run.begin() == 0)
            window = runtime.pluginWindow;
        pumpMessages(300);
        clearShellRecord();
    }
    ~Started() {
        clearEntries();
        if (run.running)
            run.end();
    }
};

LPARAM screenPoint(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    return MAKELPARAM(static_cast<short>(point.x), static_cast<short>(point.y));
}

std::vector<ShellRecordEntry> executions() {
    std::vector<ShellRecordEntry> found;
    for (const ShellRecordEntry& entry : shellRecord())
        if (entry.name == "BBExecute")
            found.push_back(entry);
    return found;
}

bool invalidated(HWND window) {
    return GetUpdateRect(window, nullptr, FALSE) != 0;
}

// The program and arguments the system would see for program started with arguments.
std::vector<std::wstring> parseCommandLine(const std::string& program,
                                           const std::string& arguments) {
    std::string line = "\"" + program + "\" " + arguments;
    std::wstring wide(line.begin(), line.end());
    int count = 0;
    LPWSTR* parts = CommandLineToArgvW(wide.c_str(), &count);
    std::vector<std::wstring> result(parts, parts + count);
    LocalFree(parts);
    return result;
}

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// A shell whose BBExecute pumps messages (as it does for a DDE browser) and, meanwhile, sees the
// plug-in replace its entries and its browser setting: it notes what it was given before and
// after, and scribbles over the old texts before freeing them, as reused memory would.
std::string fileAtEntry, argumentsAtEntry, fileAfterPump, argumentsAfterPump;
BOOL pumpingExecute(HWND, const char*, const char* file, const char* arguments, const char*, int,
                    bool) {
    fileAtEntry = file ? file : "(null)";
    argumentsAtEntry = arguments ? arguments : "(null)";
    for (FeedItem* entry = shownFirst(); entry; entry = entry->next)
        if (entry->link.bytes)
            std::memset(const_cast<char*>(entry->link.bytes), '#', std::strlen(entry->link.bytes));
    clearEntries();
    setEntries({{"other", "http://other.example/", {0, 0, 200, 20}}});
    if (settings.browserPath[0])
        copySettingText(settings.browserPath, "C:\\Elsewhere\\other.exe");
    pumpMessages(50);
    fileAfterPump = file ? file : "(null)";
    argumentsAfterPump = arguments ? arguments : "(null)";
    return TRUE;
}

std::wstring wideFile, wideArguments;
HINSTANCE WINAPI recordWideExecute(HWND, const wchar_t*, const wchar_t* file,
                                   const wchar_t* arguments, const wchar_t*, int) {
    wideFile = file ? file : L"(null)";
    wideArguments = arguments ? arguments : L"(null)";
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

} // namespace

TEST(the_shell_is_handed_copies_that_outlive_an_update_during_the_call) {
    Started started;
    REQUIRE(started.window);
    struct Row {
        const char* browser;
        const char* file;
        const char* arguments;
    };
    const Row rows[] = {
        {"", "http://example.com/story?id=7", "(null)"},
        {"C:\\Browser\\browser.exe", "C:\\Browser\\browser.exe",
         "\"http://example.com/story?id=7\""},
    };
    executeInShell = pumpingExecute;
    for (const Row& row : rows) {
        copySettingText(settings.browserPath, row.browser);
        setEntries({{"web", "http://example.com/story?id=7", {0, 0, 200, 20}}});
        CHECK(openItemLink(shownFirst()));
        CHECK_EQ(fileAtEntry, row.file);
        CHECK_EQ(argumentsAtEntry, row.arguments);
        CHECK_EQ(fileAfterPump, row.file);
        CHECK_EQ(argumentsAfterPump, row.arguments);
    }
    // A browser path is kept as UTF-8: one the code page writes reaches the shell in the code
    // page; one beyond it (the shell's call cannot name it) is started through the wide call.
    copySettingText(settings.browserPath, "C:\\Gr\xc3\xbc\xc3\x9f\\b.exe");
    setEntries({{"web", "http://example.com/a", {0, 0, 200, 20}}});
    CHECK(openItemLink(shownFirst()));
    CHECK_EQ(fileAtEntry, "C:\\Gr\xfc\xdf\\b.exe");
    copySettingText(settings.browserPath, "C:\\\xe6\x98\x8e\\b.exe");
    fileAtEntry.clear();
    WideExecuteFunction previousWide = executeWide;
    executeWide = recordWideExecute;
    setEntries({{"web", "http://example.com/a", {0, 0, 200, 20}}});
    CHECK(openItemLink(shownFirst()));
    CHECK_EQ(fileAtEntry, "");
    CHECK(wideFile == L"C:\\\u660e\\b.exe");
    CHECK(wideArguments == L"\"http://example.com/a\"");
    executeWide = previousWide;
    executeInShell = BBExecute;
    settings.browserPath[0] = 0;
}

TEST(only_plain_web_links_are_openable) {
    struct Row {
        const char* link;
        bool openable;
    } rows[] = {
        {"http://example.com/a", true},
        {"HTTPS://Example.COM", true},
        {"Http://host", true},
        {"https://host/path?q=1&r=2#frag", true},
        {"http://192.168.0.1:8080/x", true},
        {"http://host/dir\\", true},
        {"file:///C:/Windows/notepad.exe", false},
        {"javascript:alert(1)", false},
        {"ms-settings:display", false},
        {"C:\\Windows\\system32\\calc.exe", false},
        {"\\\\server\\share\\run.exe", false},
        {"/relative/path", false},
        {"ftp://host/file", false},
        {"http:/host", false},
        {"http://", false},
        {"https://", false},
        {"http:///path", false},
        {"http://?q", false},
        {"http://\\\\server\\share", false},
        {"http://host/a b", false},
        {"http://host/a\"b", false},
        {"http://host/\" --new-window file:///c:/", false},
        {"http://host/a\tb", false},
        {"http://host/a\r\nb", false},
        {"http://host/\x7f", false},
        {"", false},
        {nullptr, false},
    };
    for (const Row& row : rows) {
        if (isOpenableLink(row.link) != row.openable)
            std::printf("link %s\n", row.link ? row.link : "(null)");
        CHECK_EQ(isOpenableLink(row.link), row.openable);
    }
    std::string longest = "http://host/" + std::string(2048 - 12, 'a');
    CHECK(isOpenableLink(longest.c_str()));
    CHECK(!isOpenableLink((longest + "a").c_str()));
}

TEST(a_quoted_link_is_exactly_one_argument_of_the_browser) {
    const char* links[] = {
        "http://host/plain",
        "http://host/dir\\",
        "http://host/two\\\\",
        "http://host/in\\side",
        "https://host/q?a=1&b=%22x%22",
    };
    for (const char* link : links) {
        char argument[64];
        REQUIRE(quoteLinkArgument(link, argument, sizeof argument));
        std::vector<std::wstring> parts = parseCommandLine("C:\\Browser\\browser.exe", argument);
        REQUIRE(parts.size() == 2);
        CHECK(parts[0] == L"C:\\Browser\\browser.exe");
        CHECK(parts[1] == widen(link));
    }
    char small[8];
    CHECK(!quoteLinkArgument("http://h", small, sizeof small));
    CHECK(quoteLinkArgument("http", small, 7)); // quote, 4 characters, quote, terminator
    CHECK_EQ(small, "\"http\"");
}

TEST(hit_testing_takes_the_first_entry_containing_the_point) {
    setEntries({{"header", nullptr, {0, 0, 100, 20}},
                {"first", "http://a/", {0, 20, 100, 40}},
                {"overlapping", "http://b/", {50, 30, 150, 60}},
                {"negative", "http://c/", {-80, -40, -10, -5}}});
    struct Row {
        int x, y;
        const char* title;
    } rows[] = {
        {0, 0, "header"},         {99, 19, "header"}, {100, 10, nullptr},
        {10, 20, "first"},        {60, 35, "first"},  {60, 40, "overlapping"},
        {149, 59, "overlapping"}, {150, 59, nullptr}, {-80, -40, "negative"},
        {-11, -6, "negative"},    {-10, -6, nullptr}, {500, 500, nullptr},
    };
    for (const Row& row : rows) {
        const FeedItem* hit = hitTestItem(POINT{row.x, row.y});
        CHECK_EQ(hit ? static_cast<const char*>(hit->title) : nullptr, row.title);
    }
    // A new list's entries have no place until a paint gives them one: a click where the old
    // entries were finds nothing.
    FeedList* next = newFeedList(0);
    appendEntry(next)->title = listText(next, "new header", 0);
    appendEntry(next)->title = listText(next, "new", 0);
    showListDirectly(next);
    releaseFeedList(next);
    CHECK(hitTestItem(POINT{10, 25}) == nullptr);
    clearEntries();
    CHECK(hitTestItem(POINT{0, 0}) == nullptr);
}

TEST(a_double_click_opens_the_link_under_the_point_and_nothing_else) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    setEntries({{"header", nullptr, {0, 0, 200, 20}},
                {"web", "http://example.com/story?id=7", {0, 20, 200, 40}},
                {"no link", nullptr, {0, 40, 200, 60}},
                {"program", "C:\\Windows\\notepad.exe", {0, 60, 200, 80}},
                {"script", "javascript:alert(1)", {0, 80, 200, 100}}});

    SendMessageA(window, WM_NCLBUTTONDBLCLK, HTCAPTION, screenPoint(window, 10, 25));
    std::vector<ShellRecordEntry> calls = executions();
    REQUIRE(calls.size() == 1);
    REQUIRE(calls[0].args.size() >= 7);
    CHECK_EQ(calls[0].args[0], handleText(GetDesktopWindow()));
    CHECK_EQ(calls[0].args[1], "(null)");
    CHECK_EQ(calls[0].args[2], "http://example.com/story?id=7");
    CHECK_EQ(calls[0].args[3], "(null)");
    CHECK_EQ(calls[0].args[4], "(null)");
    CHECK_EQ(calls[0].args[5], "1");

    clearShellRecord();
    for (int y : {5, 45, 65, 85, 150})
        SendMessageA(window, WM_NCLBUTTONDBLCLK, HTCAPTION, screenPoint(window, 10, y));
    CHECK_EQ(executions().size(), size_t(0));

    // With a browser the link is its one quoted argument.
    copySettingText(settings.browserPath, "C:\\Program Files\\Browser\\browser.exe");
    setEntries({{"web", "http://example.com/dir\\", {0, 0, 200, 20}}});
    SendMessageA(window, WM_NCLBUTTONDBLCLK, HTCAPTION, screenPoint(window, 10, 5));
    calls = executions();
    REQUIRE(calls.size() == 1);
    CHECK_EQ(calls[0].args[2], "C:\\Program Files\\Browser\\browser.exe");
    std::vector<std::wstring> parts = parseCommandLine(calls[0].args[2], calls[0].args[3]);
    REQUIRE(parts.size() == 2);
    CHECK(parts[1] == L"http://example.com/dir\\");
    settings.browserPath[0] = 0;

    // Locked or in the slit, a double-click still opens.
    clearShellRecord();
    settings.lockPos = true;
    SendMessageA(window, WM_NCLBUTTONDBLCLK, HTCAPTION, screenPoint(window, 10, 5));
    settings.lockPos = false;
    CHECK_EQ(executions().size(), size_t(1));
    CHECK(!openItemLink(nullptr));
}

// The whole window is a caption whatever the keys; with Alt held (and the place not locked) it
// shows the sizing cursor, and a drag sizes it (below).
TEST(the_whole_window_is_a_caption_and_alt_makes_it_a_sizing_corner) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    LPARAM middle = screenPoint(window, 20, 20);
    HCURSOR sizing = LoadCursor(nullptr, IDC_SIZENWSE);
    BYTE keys[256];
    GetKeyboardState(keys);
    struct Row {
        bool alt, locked, sizingCursor;
    } rows[] = {{false, false, false}, {true, false, true}, {true, true, false}};
    for (const Row& row : rows) {
        keys[VK_MENU] = row.alt ? 0x80 : 0;
        SetKeyboardState(keys);
        settings.lockPos = row.locked;
        CHECK_EQ(SendMessageA(window, WM_NCHITTEST, 0, middle), LRESULT(HTCAPTION));
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                     MAKELPARAM(HTCAPTION, WM_MOUSEMOVE));
        CHECK_EQ(GetCursor() == sizing, row.sizingCursor);
    }
    settings.lockPos = false;
    keys[VK_MENU] = 0;
    SetKeyboardState(keys);
}

TEST(a_left_drag_moves_the_window_unless_it_is_locked) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    RECT before, after;
    GetWindowRect(window, &before);
    dragWindow(window, 40, 30, false);
    GetWindowRect(window, &after);
    CHECK_EQ(after.left - before.left, 40);
    CHECK_EQ(after.top - before.top, 30);
    CHECK_EQ(settings.x, int(after.left));
    CHECK_EQ(settings.y, int(after.top));

    // With Alt held the drag sizes the window from its bottom-right corner instead.
    GetWindowRect(window, &before);
    dragWindow(window, 40, 30, true);
    GetWindowRect(window, &after);
    CHECK_EQ(after.left, before.left);
    CHECK_EQ(after.top, before.top);
    CHECK_EQ(after.right - before.right, 40);
    CHECK_EQ(after.bottom - before.bottom, 30);

    settings.lockPos = true;
    GetWindowRect(window, &before);
    dragWindow(window, 40, 30, false);
    dragWindow(window, 40, 30, true);
    GetWindowRect(window, &after);
    CHECK(EqualRect(&before, &after));
    settings.lockPos = false;
}

TEST(the_close_message_and_unknown_timers_change_nothing) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    CHECK_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    CHECK(IsWindow(window));
    CHECK(IsWindowVisible(window));
    ValidateRect(window, nullptr);
    for (WPARAM id : {0u, 5u, 99u, 0xFFFFu})
        CHECK_EQ(SendMessageA(window, WM_TIMER, id, 0), 0);
    CHECK(!invalidated(window));
    CHECK(executions().empty());
    // Timer 4 repaints once and ends itself.
    CHECK_EQ(SendMessageA(window, WM_TIMER, 4, 0), 0);
    CHECK(invalidated(window));
}

TEST(mouse_moves_repaint_in_highlight_mode_1_when_the_entry_changes_and_leave_is_not_polled) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    LPARAM point = screenPoint(window, 10, 10);
    moveMouseTo(5, 5); // away from the window, so that only the messages below move over it
    for (int mode : {0, 2}) {
        settings.highlight = mode;
        ValidateRect(window, nullptr);
        SendMessageA(window, WM_NCMOUSEMOVE, HTCAPTION, point);
        SendMessageA(window, WM_NCMOUSEMOVE, HTCAPTION, point);
        CHECK(!invalidated(window));
        SendMessageA(window, WM_NCMOUSELEAVE, 0, 0);
    }
    // Mode 1 repaints when the pointer enters and whenever it crosses into another entry (or off
    // the entries), so the highlight follows it; a move within one entry repaints nothing.
    settings.highlight = 1;
    setEntries(
        {{"first", "http://a/", {0, 0, 100, 20}}, {"second", "http://b/", {0, 20, 100, 40}}});
    struct Move {
        int x, y;
        bool repaints;
    } moves[] = {{10, 10, true},  {60, 15, false},  {10, 30, true}, {90, 39, false},
                 {120, 30, true}, {130, 35, false}, {10, 5, true}};
    for (const Move& move : moves) {
        ValidateRect(window, nullptr);
        SendMessageA(window, WM_NCMOUSEMOVE, HTCAPTION, screenPoint(window, move.x, move.y));
        CHECK_EQ(invalidated(window), move.repaints);
    }
    CHECK(runtime.mouseInside);
    SendMessageA(window, WM_NCMOUSELEAVE, 0, 0);
    ValidateRect(window, nullptr);
    SendMessageA(window, WM_NCMOUSEMOVE, HTCAPTION, screenPoint(window, 10, 5));
    CHECK(invalidated(window)); // entering again draws the highlight again
    // The cursor is not over the window: the system reports the leave, and no timer of the
    // window's own polls the cursor meanwhile.
    CHECK(!KillTimer(window, 2));
    for (int waited = 0; runtime.mouseInside && waited < 3000; waited += 50)
        pumpMessages(50);
    CHECK(!runtime.mouseInside);
}

TEST(a_finished_pass_without_a_list_keeps_the_entries_and_repaints) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    setEntries({{"kept", "http://a/", {0, 0, 10, 10}}});
    FeedItem* first = shownFirst();
    ValidateRect(window, nullptr);
    SendMessageA(window, WM_FEED_UPDATED, 0, 0);
    CHECK(shownFirst() == first);
    CHECK_EQ(shownFirst()->title, "kept");
    CHECK(invalidated(window));
}

TEST(the_shell_reconfigure_message_drops_the_menu_and_repaints) {
    Started started;
    REQUIRE(started.window);
    HWND window = started.window;
    if (rootMenu)
        DelMenu(rootMenu);
    Menu* old = MakeNamedMenu("FeedMarquee", "FDMQ_Main", false);
    rootMenu = old;
    ValidateRect(window, nullptr);
    SendMessageA(window, BB_RECONFIGURE, 0, 0);
    CHECK(rootMenu != old);
    bool oldAlive = false;
    for (Menu* menu : liveRootMenus())
        oldAlive = oldAlive || menu == old;
    CHECK(!oldAlive);
    CHECK(invalidated(window));

    ValidateRect(window, nullptr);
    SendMessageA(window, BB_REDRAWGUI, 0, 0);
    CHECK(invalidated(window));
}

TEST(a_right_click_opens_the_menu) {
    Started started;
    REQUIRE(started.window);
    int before = menuOpenRequests();
    rightClickWindow(started.window);
    CHECK_EQ(menuOpenRequests(), before + 1);
}
