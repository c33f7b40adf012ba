// The shell's menu tree, its text dump, DelMenu, and picking entries by path.
#include "tests/support/check.h"
#include "shell/shell_record.h"

namespace {

// Registers a window for commands and keeps every command it receives.
std::vector<std::string> received;
LRESULT CALLBACK receiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BB_BROAM) {
        received.push_back(reinterpret_cast<const char*>(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeReceiver() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = receiverProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "MenuTestReceiver";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "MenuTestReceiver", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    static const UINT messages[] = {BB_RECONFIGURE, BB_REDRAWGUI, BB_BROAM, 0};
    SendMessageA(GetBBWnd(), BB_REGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(messages));
    return window;
}

void dropReceiver(HWND window) {
    static const UINT messages[] = {BB_RECONFIGURE, BB_REDRAWGUI, BB_BROAM, 0};
    SendMessageA(GetBBWnd(), BB_UNREGISTERMESSAGE, reinterpret_cast<WPARAM>(window),
                 reinterpret_cast<LPARAM>(messages));
    DestroyWindow(window);
}

Menu* buildSample(bool popup) {
    Menu* favourites = MakeNamedMenu("Favorites", "T_Fav", popup);
    MakeMenuItem(favourites, "", "@TestFavorites 0", false);
    Menu* rss = MakeNamedMenu("RSS", "T_RSS", popup);
    MakeSubmenu(rss, favourites, "Favorites");
    MakeMenuItemString(rss, "Feed URL", "@TestFeedUrl", "http://a/b");
    MakeMenuItemInt(rss, "Update Interval (min)", "@TestUpdateInterval ", 15, 1, 300);
    MakeMenuNOP(rss, nullptr);
    MakeMenuItem(rss, "Show Date", "@TestShowDate", true);
    Menu* root = MakeNamedMenu("Test", "T_Main", popup);
    MakeSubmenu(root, rss, "RSS");
    MakeMenuItem(root, "About", "@TestAbout", false);
    return root;
}

} // namespace

TEST(theTreeDumpsEveryEntryInCallOrder) {
    int before = liveMenuCount();
    Menu* root = buildSample(false);
    CHECK_EQ(liveMenuCount(), before + 3);
    CHECK_EQ(dumpMenuTree(root),
             std::string("menu\t-\tTest\tT_Main\trefresh\n"
                         "item\t1\tsubmenu\tRSS\t\tT_RSS\n"
                         "menu\t1\tRSS\tT_RSS\trefresh\n"
                         "item\t1.1\tsubmenu\tFavorites\t\tT_Fav\n"
                         "menu\t1.1\tFavorites\tT_Fav\trefresh\n"
                         "item\t1.1.1\tcommand\t\t@TestFavorites 0\tunchecked\n"
                         "item\t1.2\tstring\tFeed URL\t@TestFeedUrl\thttp://a/b\n"
                         "item\t1.3\tint\tUpdate Interval (min)\t"
                         "@TestUpdateInterval \t15\t1\t300\n"
                         "item\t1.4\tseparator\t\t\n"
                         "item\t1.5\tcommand\tShow Date\t@TestShowDate\tchecked\n"
                         "item\t2\tcommand\tAbout\t@TestAbout\tunchecked\n"));
    DelMenu(root);
    CHECK_EQ(liveMenuCount(), before);
    CHECK_EQ(dumpMenuTree(root), std::string()); // gone, and not followed
}

TEST(delMenuFreesTheWholeTreeAndIgnoresStaleHandles) {
    int before = liveMenuCount();
    Menu* first = buildSample(false);
    DelMenu(first);
    Menu* second = buildSample(false);
    // A rebuild after deleting leaves exactly one tree.
    CHECK_EQ(liveMenuCount(), before + 3);
    CHECK_EQ(liveRootMenus().size(), static_cast<size_t>(1));
    DelMenu(first); // already deleted: must not touch the new tree
    CHECK_EQ(liveMenuCount(), before + 3);
    DelMenu(nullptr);
    CHECK(MakeMenuItem(first, "late", "@Late", false) == nullptr);
    DelMenu(second);
    CHECK_EQ(liveMenuCount(), before);
}

TEST(aMenuHangsUnderOneParentOnly) {
    Menu* a = MakeNamedMenu("A", "A", false);
    Menu* b = MakeNamedMenu("B", "B", false);
    CHECK(MakeSubmenu(a, b, "B") != nullptr);
    CHECK(MakeSubmenu(b, a, "A") == nullptr); // a cycle
    CHECK(MakeSubmenu(a, a, "A") == nullptr);
    Menu* c = MakeNamedMenu("C", "C", false);
    CHECK(MakeSubmenu(c, b, "B again") == nullptr); // b already has a parent
    DelMenu(a);
    DelMenu(c);
    CHECK_EQ(liveMenuCount(), 0);
}

TEST(showMenuOpensOnlyPopupTrees) {
    int opened = menuOpenRequests();
    Menu* refresh = buildSample(false);
    ShowMenu(refresh);
    CHECK_EQ(menuOpenRequests(), opened);
    CHECK(currentMenuTree() == refresh);
    DelMenu(refresh);
    Menu* popup = buildSample(true);
    ShowMenu(popup);
    CHECK_EQ(menuOpenRequests(), opened + 1);
    DelMenu(popup);
    CHECK(currentMenuTree() == nullptr);
}

TEST(pickingSendsTheCommandWithTheValue) {
    REQUIRE(createShellWindows(GetModuleHandleA(nullptr)));
    HWND receiver = makeReceiver();
    Menu* root = buildSample(false);
    ShowMenu(root);
    received.clear();
    CHECK_EQ(pickMenuEntry("2", ""), "");
    CHECK_EQ(pickMenuEntry("1.3", "30"), "");
    CHECK_EQ(pickMenuEntry("RSS/Feed URL", "http://c/d e"), "");
    CHECK_EQ(pickMenuEntry("RSS/Favorites/", ""), ""); // the favourite with an empty label
    CHECK(pickMenuEntry("1.3", "301") != "");          // outside the entry's range
    CHECK(pickMenuEntry("1.3", "ten") != "");
    CHECK(pickMenuEntry("1.4", "") != ""); // a separator sends nothing
    CHECK(pickMenuEntry("1", "") != "");   // nor does a submenu
    CHECK(pickMenuEntry("9", "") != "");
    CHECK(pickMenuEntry("RSS/Nothing", "") != "");
    REQUIRE(received.size() == 4);
    CHECK_EQ(received[0], "@TestAbout");
    CHECK_EQ(received[1], "@TestUpdateInterval  30"); // this command ends with a blank itself
    CHECK_EQ(received[2], "@TestFeedUrl http://c/d e");
    CHECK_EQ(received[3], "@TestFavorites 0");
    DelMenu(root);
    dropReceiver(receiver);
    destroyShellWindows();
}
