// The window from the keyboard and through a screen reader's eyes: the plug-in runs in this
// process against the stand-in shell and fetches a small newsroom feed from a server on
// 127.0.0.1; keys are posted to its window, and the list is read as a screen reader reads it,
// through oleacc's AccessibleObjectFromWindow and a WinEvent hook on all processes.
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "content/feed_items.h"
#include "display/high_contrast.h"
#include "display/tooltip.h"
#include "plugin/feed_updates.h"
#include "plugin/view.h"
#include "plugin/keyboard.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "shell/shell_record.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"
#include "tests/system/feed_server.h"

namespace {

std::string item(const char* title, int n, const char* date, const char* description) {
    return std::string("<item><title>") + title + "</title><link>http://127.0.0.1/news/" +
           std::to_string(n) + "</link><pubDate>" + date +
           "</pubDate><description><![CDATA[<p><b>Story " + std::to_string(n) + ".</b> " +
           description + "</p>]]></description></item>\n";
}

// The demo's newsroom as it starts: five headlines, the newest first.
const std::string harbourTown =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
    "<title>Harbour Town Daily</title><link>http://127.0.0.1/</link>\n" +
    item("Storm warning lifted as winds ease overnight", 5, "Tue, 08 Dec 2026 12:30:00 GMT",
         "Ferries resume their normal timetable from 6 a.m.;</p><p>some delays remain.") +
    item("Local bakery wins national sourdough prize", 4, "Tue, 08 Dec 2026 11:30:00 GMT",
         "Judges praised the crackling crust of the three-generation family bakery.") +
    item("Library extends weekend opening hours", 3, "Tue, 08 Dec 2026 10:30:00 GMT",
         "Saturday and Sunday opening now runs until 8 p.m. at the central branch.") +
    item("Q&amp;A: what the new recycling rules mean for you", 2, "Tue, 08 Dec 2026 09:30:00 GMT",
         "Glass goes in the green bin from next month.") +
    item("City council approves the riverside cycle path", 1, "Tue, 08 Dec 2026 08:30:00 GMT",
         "The vote was 7 to 2 after a three-hour session; work starts in March.") +
    "</channel></rss>\n";

const std::string laterEdition =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
    "<title>Harbour Town Daily</title>\n" +
    item("Winter festival programme announced", 7, "Tue, 08 Dec 2026 13:30:00 GMT",
         "Ice rink, lantern walk and 60 stalls.") +
    item("Tram line 4 reopens after track renewal", 6, "Tue, 08 Dec 2026 13:00:00 GMT",
         "Services run every 7 minutes again.") +
    "</channel></rss>\n";

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text)
        out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

// ---- what a screen reader hears ---------------------------------------------------------------

struct WinEvent {
    DWORD event;
    HWND window;
    LONG object, child;
};
std::vector<WinEvent> winEvents;
void CALLBACK recordWinEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child,
                             DWORD, DWORD) {
    winEvents.push_back({event, window, object, child});
}
bool sawEvent(DWORD event, HWND window, LONG child) {
    for (const WinEvent& e : winEvents)
        if (e.event == event && e.window == window && e.object == OBJID_CLIENT && e.child == child)
            return true;
    return false;
}

VARIANT childId(LONG id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// A BSTR property as text: "(none)" for S_FALSE, "(error)" for a failure.
template <typename Getter> std::string readText(Getter get) {
    BSTR text = nullptr;
    HRESULT result = get(&text);
    std::string out = FAILED(result) ? "(error)" : result == S_FALSE ? "(none)" : narrow(text);
    SysFreeString(text);
    return out;
}
std::string nameOf(IAccessible* object, LONG id) {
    return readText([&](BSTR* t) { return object->get_accName(childId(id), t); });
}
std::string valueOf(IAccessible* object, LONG id) {
    return readText([&](BSTR* t) { return object->get_accValue(childId(id), t); });
}
std::string descriptionOf(IAccessible* object, LONG id) {
    return readText([&](BSTR* t) { return object->get_accDescription(childId(id), t); });
}
LONG numberOf(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), IAccessible* object,
              LONG id) {
    VARIANT out;
    VariantInit(&out);
    HRESULT result = (object->*get)(childId(id), &out);
    return SUCCEEDED(result) && out.vt == VT_I4 ? out.lVal : -1;
}
LONG roleOf(IAccessible* object, LONG id) {
    return numberOf(&IAccessible::get_accRole, object, id);
}
LONG stateOf(IAccessible* object, LONG id) {
    return numberOf(&IAccessible::get_accState, object, id);
}
RECT locationOf(IAccessible* object, LONG id) {
    long left = 0, top = 0, width = 0, height = 0;
    object->accLocation(&left, &top, &width, &height, childId(id));
    return RECT{left, top, left + width, top + height};
}

// ---- the plug-in at work ----------------------------------------------------------------------

struct Newsroom {
    FeedServer server;
    PluginRun run;
    HWND window = nullptr;
    HWINEVENTHOOK hook = nullptr;

    explicit Newsroom(const char* hotKey = "", const std::string& moreSettings = "") {
        startFeedServer(server);
        setFeedResponse(server, answerFeed, harbourTown);
        std::string more = moreSettings;
        for (size_t at = more.find('$'); at != std::string::npos; at = more.find('$', at))
            more.replace(at, 1, feedServerUrl(server, ""));
        std::string rc = "feedmarquee.x: 300\nfeedmarquee.y: 200\nfeedmarquee.width: 300\n"
                         "feedmarquee.height: 80\nfeedmarquee.alpha: 255\n"
                         "feedmarquee.showDate: true\nfeedmarquee.datePosHead: true\n"
                         "feedmarquee.feedUrl: " +
                         feedServerUrl(server, "/harbour-town.xml") +
                         "\nfeedmarquee.hotkey: " + hotKey + "\n" + more;
        run.settingsFile(rc.c_str());
        // Every process, out of context: the way a screen reader listens.
        hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, recordWinEvent, 0, 0,
                               WINEVENT_OUTOFCONTEXT);
        if (run.begin() == 0)
            window = runtime.pluginWindow;
        waitForItems(5);
        winEvents.clear();
    }
    ~Newsroom() {
        if (run.running)
            run.end();
        if (hook)
            UnhookWinEvent(hook);
        stopFeedServer(server);
    }
    bool waitForItems(int items) {
        for (int i = 0; i < 200; ++i) {
            pumpMessages(25);
            if (shownItemCount() == items && !updatesRunning())
                return true;
        }
        return false;
    }
    void key(WPARAM key, bool shift = false) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        PostMessageA(window, key == VK_F10 ? WM_SYSKEYDOWN : WM_KEYDOWN, key, 1);
        pumpMessages(60);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
    }
    std::string executed() { return readFileText(run.executeLog); }
};

std::string link(int n) {
    return "http://127.0.0.1/news/" + std::to_string(n);
}

// The tip window's client size and pixels as the screen shows them.
std::vector<COLORREF> tipPicture() {
    RECT client;
    GetClientRect(tooltipWindow, &client);
    std::vector<COLORREF> picture = {static_cast<COLORREF>(client.right),
                                     static_cast<COLORREF>(client.bottom)};
    HDC dc = GetDC(tooltipWindow);
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x)
            picture.push_back(GetPixel(dc, x, y));
    ReleaseDC(tooltipWindow, dc);
    return picture;
}

// Two favourites shown in turn every turnSeconds ($ stands for the newsroom's address).
std::string twoFeedsInTurn(const char* turnSeconds) {
    return std::string("feedmarquee.show: inTurn\nfeedmarquee.turnSeconds: ") + turnSeconds +
           "\nfeedmarquee.fav0.title: Harbour A\nfeedmarquee.fav0.url: $/a.xml\n"
           "feedmarquee.fav1.title: Harbour B\nfeedmarquee.fav1.url: $/b.xml\n";
}

// Pumps messages until both favourites have their headlines (about 4 s at most); whether they do.
bool bothFeedsShown() {
    auto both = [] {
        ShownFeed a, b;
        return shownFeedAt(0, &a) && shownFeedAt(1, &b) && a.hasHeadlines && b.hasHeadlines;
    };
    for (int i = 0; i < 200 && !both(); ++i)
        pumpMessages(20);
    return both();
}

} // namespace

TEST(keys_move_the_selection_act_on_it_and_give_the_focus_back) {
    Newsroom room;
    REQUIRE(room.window);
    REQUIRE(shownItemCount() == 5);

    // Another program has the focus; the hot key's message brings the keyboard here.
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 10, 10, 80, 40,
                                 nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    SetFocus(other);
    pumpMessages(50);
    PostMessageA(room.window, WM_HOTKEY, 1, 0);
    pumpMessages(100);
    CHECK(GetFocus() == room.window);
    // The first item is selected and a screen reader is told.
    CHECK(sawEvent(EVENT_OBJECT_FOCUS, room.window, 1));

    // Down and Up step and wrap; End, Home, Page Down stop at the ends. Enter opens the selected
    // link through the shell, as a double-click would.
    struct Step {
        WPARAM key;
        int opened; // the story whose link Enter opens afterwards
    };
    const Step steps[] = {{VK_DOWN, 4}, {VK_UP, 5},    {VK_UP, 1},  {VK_DOWN, 5}, {VK_END, 1},
                          {VK_HOME, 5}, {VK_NEXT, -1}, {VK_END, 1}, {VK_NEXT, 1}, {VK_PRIOR, -1}};
    for (const Step& step : steps) {
        room.key(step.key);
        if (step.opened < 0)
            continue;
        DeleteFileA(room.run.executeLog.c_str());
        room.key(VK_RETURN);
        CHECK(room.executed().find(link(step.opened)) != std::string::npos);
    }
    CHECK(sawEvent(EVENT_OBJECT_FOCUS, room.window, 5)); // End told too
    CHECK(sawEvent(EVENT_OBJECT_SELECTION, room.window, 2));

    // The selection is drawn: the window is repainted with the item scrolled into view (the
    // window is only tall enough for two or three items).
    room.key(VK_END);
    UpdateWindow(room.window);
    pumpMessages(100);
    ItemRect last = shownItemRect(4);
    CHECK(last.bottom > last.top);
    CHECK(last.bottom <= 80);

    // Space shows the item's tip; Shift+F10 and the menu key open the menu; F10 alone does not.
    room.key(VK_SPACE);
    REQUIRE(tooltipWindow && IsWindowVisible(tooltipWindow));
    // It is the tip the mouse shows for the item, formatted (the description has markup): the
    // same picture, in a window sized for the formatted layout rather than the control's text.
    UpdateWindow(tooltipWindow);
    std::vector<COLORREF> keyboardTip = tipPicture();
    POINT middle = {(last.left + last.right) / 2, (last.top + last.bottom) / 2};
    TTHITTESTINFOW hit = {};
    hit.hwnd = room.window;
    hit.pt = middle;
    hit.ti.cbSize = sizeof hit.ti;
    REQUIRE(SendMessageW(tooltipWindow, TTM_HITTESTW, 0, reinterpret_cast<LPARAM>(&hit)));
    LRESULT plainSize =
        SendMessageW(tooltipWindow, TTM_GETBUBBLESIZE, 0, reinterpret_cast<LPARAM>(&hit.ti));
    RECT shownTip;
    GetWindowRect(tooltipWindow, &shownTip);
    CHECK(shownTip.right - shownTip.left != LOWORD(plainSize) ||
          shownTip.bottom - shownTip.top != HIWORD(plainSize));
    ClientToScreen(room.window, &middle);
    SetCursorPos(middle.x, middle.y);
    relayMouseToTooltip(room.window, middle);
    bool same = false;
    for (int waited = 0; waited < 3000 && !same; waited += 100) {
        pumpMessages(100);
        UpdateWindow(tooltipWindow);
        same = IsWindowVisible(tooltipWindow) && tipPicture() == keyboardTip;
    }
    CHECK(same);
    tooltipPointerLeft();
    int menus = menuOpenRequests();
    room.key(VK_F10, true);
    CHECK_EQ(menuOpenRequests(), menus + 1);
    POINT pointer;
    GetCursorPos(&pointer);
    ScreenToClient(room.window, &pointer);
    CHECK(pointer.y >= last.top && pointer.y < last.bottom); // the menu opens at the item
    room.key(VK_APPS);
    CHECK_EQ(menuOpenRequests(), menus + 2);
    room.key(VK_F10);
    CHECK_EQ(menuOpenRequests(), menus + 2);

    // F5 updates now: one more request reaches the server.
    long requests = feedRequests(room.server);
    room.key(VK_F5);
    for (int i = 0; i < 100 && feedRequests(room.server) == requests; ++i)
        pumpMessages(20);
    CHECK_EQ(feedRequests(room.server), requests + 1);

    // New headlines are marked new; the one selected long enough loses its mark, the one passed
    // over quickly keeps it.
    seenDelayMs = 150;
    setFeedResponse(room.server, answerFeed, laterEdition);
    room.key(VK_F5);
    REQUIRE(room.waitForItems(2));
    CHECK(shownEntry(0)->isNew && shownEntry(1)->isNew);
    room.key(VK_DOWN);
    room.key(VK_UP);
    pumpMessages(400);
    CHECK(!shownEntry(0)->isNew);
    CHECK(shownEntry(1)->isNew);
    seenDelayMs = 60000; // an item opened with Enter is seen at once
    room.key(VK_DOWN);
    room.key(VK_RETURN);
    CHECK(!shownEntry(1)->isNew);
    seenDelayMs = 2000;

    // Esc gives the focus back to the window that had it.
    room.key(VK_ESCAPE);
    CHECK(GetFocus() == other);
    DestroyWindow(other);
}

TEST(a_screen_reader_reads_the_list_its_items_and_their_actions) {
    CoInitialize(nullptr);
    Newsroom room;
    REQUIRE(room.window);
    IAccessible* list = nullptr;
    REQUIRE(SUCCEEDED(AccessibleObjectFromWindow(room.window, OBJID_CLIENT, IID_IAccessible,
                                                 reinterpret_cast<void**>(&list))));
    REQUIRE(list);
    long count = 0;
    CHECK(SUCCEEDED(list->get_accChildCount(&count)));
    CHECK_EQ(count, 5L);
    CHECK_EQ(roleOf(list, CHILDID_SELF), LONG(ROLE_SYSTEM_LIST));
    std::string name = nameOf(list, CHILDID_SELF);
    std::fprintf(stderr, "  list: role %ld, name \"%s\"\n", roleOf(list, CHILDID_SELF),
                 name.c_str());
    const std::string updated = "Harbour Town Daily, 5 items, updated ";
    CHECK_EQ(name.substr(0, updated.size()), updated);
    ShownFeed feed;
    CHECK(shownFeedAt(0, &feed) && name.find(feed.updated) != std::string::npos);

    // What a screen reader user hears, child by child.
    for (LONG id = 1; id <= count; ++id)
        std::fprintf(stderr, "  child %ld: role %ld, name \"%s\", value \"%s\"\n", id,
                     roleOf(list, id), nameOf(list, id).c_str(), valueOf(list, id).c_str());

    struct Child {
        LONG id;
        const char* name;
        const char* description;
        const char* value; // the date as the window shows it (abbreviated)
        bool painted;
    };
    const Child children[] = {
        {1, "Storm warning lifted as winds ease overnight",
         "Story 5. Ferries resume their normal timetable from 6 a.m.;\nsome delays remain.",
         "12/08 12:30", true},
        {5, "City council approves the riverside cycle path",
         "Story 1. The vote was 7 to 2 after a three-hour session; work starts in March.",
         "12/08 08:30", false},
    };
    for (const Child& child : children) {
        CHECK_EQ(nameOf(list, child.id), child.name);
        CHECK_EQ(descriptionOf(list, child.id), child.description);
        // Dates are shown in local time; the prefix test keeps the zone out of the check.
        CHECK_EQ(valueOf(list, child.id).size(), std::string(child.value).size());
        CHECK_EQ(roleOf(list, child.id), LONG(ROLE_SYSTEM_LISTITEM));
        LONG state = stateOf(list, child.id);
        CHECK((state & STATE_SYSTEM_FOCUSABLE) && (state & STATE_SYSTEM_SELECTABLE));
        CHECK_EQ((state & STATE_SYSTEM_OFFSCREEN) != 0, !child.painted);
        CHECK((state & (STATE_SYSTEM_FOCUSED | STATE_SYSTEM_SELECTED)) == 0);
        RECT where = locationOf(list, child.id);
        ItemRect painted = shownItemRect(child.id - 1);
        POINT corner = {painted.left, painted.top};
        ClientToScreen(room.window, &corner);
        if (child.painted) {
            CHECK_EQ(where.left, corner.x);
            CHECK_EQ(where.top, corner.y);
            CHECK_EQ(where.bottom - where.top, LONG(painted.bottom - painted.top));
        } else {
            CHECK(IsRectEmpty(&where));
        }
        std::string action =
            readText([&](BSTR* t) { return list->get_accDefaultAction(childId(child.id), t); });
        CHECK_EQ(action, "Open");
    }
    CHECK_EQ(nameOf(list, 6), "(error)");
    CHECK_EQ(nameOf(list, -7), "(error)");

    // The default action opens the link; the focus follows the selection as keys move it.
    DeleteFileA(room.run.executeLog.c_str());
    CHECK(SUCCEEDED(list->accDoDefaultAction(childId(2))));
    CHECK(room.executed().find(link(4)) != std::string::npos);
    SetForegroundWindow(room.window);
    SetFocus(room.window);
    pumpMessages(50);
    room.key(VK_DOWN);
    room.key(VK_DOWN);
    CHECK(sawEvent(EVENT_OBJECT_FOCUS, room.window, 1));
    CHECK(sawEvent(EVENT_OBJECT_FOCUS, room.window, 3));
    LONG third = stateOf(list, 3);
    CHECK((third & STATE_SYSTEM_FOCUSED) && (third & STATE_SYSTEM_SELECTED));
    VARIANT focus;
    VariantInit(&focus);
    CHECK(SUCCEEDED(list->get_accFocus(&focus)));
    CHECK(focus.vt == VT_I4 && focus.lVal == 3);

    IDispatch* held = nullptr;
    CHECK(SUCCEEDED(list->get_accChild(childId(5), &held)));
    IAccessible* oldItem = nullptr;
    if (held)
        held->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&oldItem));
    REQUIRE(oldItem);
    winEvents.clear();

    // A failed update keeps the headlines: the list says since when and why.
    setFeedResponse(room.server, closeAtOnce, "");
    room.key(VK_F5);
    for (int i = 0; i < 100 && !headlinesStale(); ++i)
        pumpMessages(20);
    name = nameOf(list, CHILDID_SELF);
    std::fprintf(stderr, "  list when stale: \"%s\"\n", name.c_str());
    const std::string stale = "Harbour Town Daily, 5 items, stale since ";
    CHECK_EQ(name.substr(0, stale.size()), stale);
    CHECK(name.find(": ", stale.size()) != std::string::npos);

    // The item a client holds stays good while the headlines stay: the failed update above, and
    // one that brings the same headlines again, announce no new list.
    CHECK_EQ(nameOf(oldItem, CHILDID_SELF), "City council approves the riverside cycle path");
    setFeedResponse(room.server, answerFeed, harbourTown);
    long requests = feedRequests(room.server);
    room.key(VK_F5);
    for (int i = 0; i < 100 && (feedRequests(room.server) == requests || headlinesStale()); ++i)
        pumpMessages(20);
    CHECK(!headlinesStale());
    CHECK(!sawEvent(EVENT_OBJECT_REORDER, room.window, CHILDID_SELF));
    CHECK_EQ(nameOf(oldItem, CHILDID_SELF), "City council approves the riverside cycle path");

    // An update that replaces the list: the old item answers errors, the list reads the new one
    // and a reorder is announced.
    setFeedResponse(room.server, answerFeed, laterEdition);
    room.key(VK_F5);
    CHECK(room.waitForItems(2));
    CHECK(sawEvent(EVENT_OBJECT_REORDER, room.window, CHILDID_SELF));
    CHECK_EQ(nameOf(oldItem, CHILDID_SELF), "(error)");
    CHECK(FAILED(oldItem->accDoDefaultAction(childId(CHILDID_SELF))));
    CHECK(SUCCEEDED(list->get_accChildCount(&count)));
    CHECK_EQ(count, 2L);
    CHECK_EQ(nameOf(list, 1), "new, Winter festival programme announced");

    // The plug-in ends while the client still holds both: errors, never a crash.
    room.run.end();
    CHECK_EQ(nameOf(list, CHILDID_SELF), "(error)");
    CHECK(FAILED(list->get_accChildCount(&count)));
    oldItem->Release();
    held->Release();
    list->Release();
    CoUninitialize();
}

TEST(the_hot_key_is_registered_released_and_a_refused_one_is_named) {
    const UINT modifiers = MOD_CONTROL | MOD_ALT;
    {
        Newsroom room("Ctrl+Alt+F11");
        REQUIRE(room.window);
        // Held by the plug-in: nobody else gets it.
        CHECK(!RegisterHotKey(nullptr, 77, modifiers, VK_F11));
        // A screen reader names it as the list's shortcut.
        CoInitialize(nullptr);
        IAccessible* list = nullptr;
        AccessibleObjectFromWindow(room.window, OBJID_CLIENT, IID_IAccessible,
                                   reinterpret_cast<void**>(&list));
        REQUIRE(list);
        CHECK_EQ(readText([&](BSTR* t) {
                     return list->get_accKeyboardShortcut(childId(CHILDID_SELF), t);
                 }),
                 "Ctrl+Alt+F11");
        list->Release();
        CoUninitialize();
        CHECK(std::string(feedHealthLine()).find("hot key") == std::string::npos);
    }
    // Released at the end: another program can register it.
    CHECK(RegisterHotKey(nullptr, 77, modifiers, VK_F11));

    // A key someone else holds is refused, named in the health line, and the window still works.
    {
        Newsroom room("ctrl + alt + f11");
        REQUIRE(room.window);
        CHECK(std::string(feedHealthLine()).find("hot key Ctrl+Alt+F11 refused") !=
              std::string::npos);
        SetForegroundWindow(room.window);
        SetFocus(room.window);
        pumpMessages(50);
        room.key(VK_DOWN);
        DeleteFileA(room.run.executeLog.c_str());
        room.key(VK_RETURN);
        CHECK(room.executed().find(link(4)) != std::string::npos);
    }
    UnregisterHotKey(nullptr, 77);
    {
        Newsroom room("Ctrl+Alt+Hyper");
        REQUIRE(room.window);
        CHECK(std::string(feedHealthLine()).find("hot key \"Ctrl+Alt+Hyper\" not understood") !=
              std::string::npos);
    }
}

TEST(high_contrast_paints_in_the_system_colours) {
    Newsroom room;
    REQUIRE(room.window);
    auto pixelAt = [&](int x, int y) {
        InvalidateRect(room.window, nullptr, FALSE);
        UpdateWindow(room.window);
        HDC dc = GetDC(room.window);
        COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(room.window, dc);
        return colour;
    };
    RECT client;
    GetClientRect(room.window, &client);
    COLORREF styled = pixelAt(client.right - 2, client.bottom - 2);
    highContrastOn = [] { return true; };
    COLORREF contrasted = pixelAt(client.right - 2, client.bottom - 2);
    CHECK_EQ(contrasted, GetSysColor(COLOR_WINDOW));
    // The focus a click gives draws nothing, nor does Alt; once a key moves the selection it keeps
    // a visible highlight: the highlight colour frames the item.
    dragWindow(room.window, 0, 0, false); // a click as real input
    moveMouseTo(2, 2);                    // and the mouse away: no hover highlight
    pumpMessages(250);
    CHECK(GetFocus() == room.window);
    ItemRect first = shownItemRect(0);
    POINT edge = {first.left + 1, (first.top + first.bottom) / 2};
    PostMessageA(room.window, WM_SYSKEYDOWN, VK_MENU, 1); // Alt, as for resizing with the mouse
    pumpMessages(60);
    CHECK_EQ(pixelAt(edge.x, edge.y), GetSysColor(COLOR_WINDOW));
    room.key(VK_HOME);
    CHECK_EQ(pixelAt(edge.x, edge.y), GetSysColor(COLOR_HIGHLIGHT));
    highContrastOn = [] { return false; };
    CHECK_EQ(pixelAt(client.right - 2, client.bottom - 2), styled);
}

TEST(left_and_right_step_through_the_feeds_shown_in_turn) {
    Newsroom room("", twoFeedsInTurn("3600"));
    REQUIRE(room.window);
    auto header = [] { return std::string(currentView().entries[0].item->title); };
    REQUIRE(bothFeedsShown());
    // Whichever feed came first is on show; Right goes to the other and round, Left back.
    std::string first = header();
    std::string second = first == "Harbour A  1/2" ? "Harbour B  2/2" : "Harbour A  1/2";
    CHECK(first == "Harbour A  1/2" || first == "Harbour B  2/2");
    SetForegroundWindow(room.window);
    SetFocus(room.window);
    pumpMessages(50);
    room.key(VK_RIGHT);
    CHECK_EQ(header(), second);
    room.key(VK_RIGHT);
    CHECK_EQ(header(), first);
    room.key(VK_LEFT);
    CHECK_EQ(header(), second);
    CHECK_EQ(shownItemCount(), 5);

    // Both feeds fail their update: the items on show say "[stale]", and so does the reader.
    setFeedResponse(room.server, closeAtOnce, "");
    room.key(VK_F5);
    for (int i = 0; i < 200 && !currentView().entries[1].stale; ++i)
        pumpMessages(20);
    CoInitialize(nullptr);
    IAccessible* list = nullptr;
    AccessibleObjectFromWindow(room.window, OBJID_CLIENT, IID_IAccessible,
                               reinterpret_cast<void**>(&list));
    REQUIRE(list);
    CHECK_EQ(nameOf(list, 1), "Storm warning lifted as winds ease overnight, stale");
    list->Release();
    CoUninitialize();
}

// A reader is told what the window shows: the date in the window's time zone, an item object
// that answers for itself (hit test, its neighbour), child ids in any integer form, and the names
// that change when Mark All Read takes their "new" mark away.
TEST(a_reader_hears_the_shown_date_and_items_answer_for_themselves) {
    CoInitialize(nullptr);
    Newsroom room;
    REQUIRE(room.window);
    // A newsroom four hours ahead of UTC; the window shows its dates in this machine's zone.
    setFeedResponse(
        room.server, answerFeed,
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel>"
        "<title>Harbour Town Daily</title>" +
            item("Ferry timetable changes", 8, "Tue, 08 Dec 2026 16:30:00 +0400", "From Monday.") +
            item("Harbour lights switched on", 9, "Tue, 08 Dec 2026 15:30:00 +0400",
                 "A crowd of hundreds.") +
            "</channel></rss>");
    broadcastCommand("@FeedMarqueeUpdateNow");
    REQUIRE(room.waitForItems(2));
    IAccessible* list = nullptr;
    REQUIRE(SUCCEEDED(AccessibleObjectFromWindow(room.window, OBJID_CLIENT, IID_IAccessible,
                                                 reinterpret_cast<void**>(&list))));
    SYSTEMTIME utc = {2026, 12, 2, 8, 12, 30, 0, 0}, local;
    REQUIRE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
    char shown[32];
    std::snprintf(shown, sizeof shown, "%02d/%02d %02d:%02d", local.wMonth, local.wDay, local.wHour,
                  local.wMinute);
    CHECK_EQ(valueOf(list, 1), shown);

    // Child ids as VT_EMPTY (the object itself) and VT_I2 read as VT_I4 does.
    VARIANT empty, shortId;
    VariantInit(&empty);
    VariantInit(&shortId);
    shortId.vt = VT_I2;
    shortId.iVal = 2;
    BSTR text = nullptr;
    CHECK(SUCCEEDED(list->get_accName(empty, &text)) && narrow(text) == nameOf(list, 0));
    SysFreeString(text);
    text = nullptr;
    CHECK(SUCCEEDED(list->get_accName(shortId, &text)) && narrow(text) == nameOf(list, 2));
    SysFreeString(text);

    // The first item's own object: a point on the second item is not on it; its next sibling is
    // the second item.
    IDispatch* dispatch = nullptr;
    IAccessible* first = nullptr;
    REQUIRE(SUCCEEDED(list->get_accChild(childId(1), &dispatch)) && dispatch);
    dispatch->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&first));
    dispatch->Release();
    REQUIRE(first);
    RECT one = locationOf(list, 1), two = locationOf(list, 2);
    REQUIRE(two.bottom > two.top);
    VARIANT hit;
    VariantInit(&hit);
    CHECK_EQ(first->accHitTest(two.left + 2, (two.top + two.bottom) / 2, &hit), S_FALSE);
    CHECK(hit.vt == VT_EMPTY);
    CHECK_EQ(first->accHitTest(one.left + 2, (one.top + one.bottom) / 2, &hit), S_OK);
    CHECK(hit.vt == VT_I4 && hit.lVal == CHILDID_SELF);
    VARIANT next;
    VariantInit(&next);
    CHECK_EQ(first->accNavigate(NAVDIR_NEXT, childId(CHILDID_SELF), &next), S_OK);
    REQUIRE(next.vt == VT_DISPATCH && next.pdispVal);
    IAccessible* second = nullptr;
    next.pdispVal->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&second));
    REQUIRE(second);
    CHECK_EQ(nameOf(second, CHILDID_SELF), nameOf(list, 2));
    second->Release();
    VariantClear(&next);
    first->Release();

    // Both items came new: Mark All Read renames them, and the reader is told so.
    CHECK_EQ(nameOf(list, 1), "new, Ferry timetable changes");
    winEvents.clear();
    broadcastCommand("@FeedMarqueeMarkAllRead");
    pumpMessages(100);
    CHECK_EQ(nameOf(list, 1), "Ferry timetable changes");
    CHECK(sawEvent(EVENT_OBJECT_NAMECHANGE, room.window, 1));
    CHECK(sawEvent(EVENT_OBJECT_NAMECHANGE, room.window, 2));
    list->Release();
    CoUninitialize();
}

// End on a long list shows its last item at once; when the list then shrinks under a command the
// window shows it from its top again (not blank) and a reader is told the list changed. The hot
// key does nothing for a window the user hid.
TEST(a_long_list_ends_at_once_and_starts_from_its_top_when_a_command_shrinks_it) {
    FeedServer shortServer;
    REQUIRE(startFeedServer(shortServer));
    setFeedResponse(shortServer, answerFeed, rssWithItems("Short", {"S1", "S2", "S3"}));
    Newsroom room("Ctrl+Alt+F8", "feedmarquee.show: together\nfeedmarquee.maxItemsPerFeed: 1000\n"
                                 "feedmarquee.fav0.title: Long\nfeedmarquee.fav0.url: $/long.xml\n"
                                 "feedmarquee.fav1.title: Short\nfeedmarquee.fav1.url: " +
                                     feedServerUrl(shortServer, "/short.xml") + "\n");
    REQUIRE(room.window);
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i)
        names.push_back("Wire story " + std::to_string(i));
    setFeedResponse(room.server, answerFeed, rssWithItems("Long Wire", names));
    broadcastCommand("@FeedMarqueeUpdateNow");
    REQUIRE(room.waitForItems(1003));
    SetForegroundWindow(room.window);
    SetFocus(room.window);
    pumpMessages(50);
    room.key(VK_END);
    for (int paint = 0; paint < 3; ++paint)
        UpdateWindow(room.window);
    ItemRect last = shownItemRect(1002);
    CHECK(last.bottom > last.top);

    winEvents.clear();
    broadcastCommand("@FeedMarqueeRemoveFavorite 0"); // the long feed goes
    UpdateWindow(room.window);
    CHECK_EQ(shownItemCount(), 3);
    ItemRect top = shownItemRect(0);
    CHECK(top.bottom > top.top);
    pumpMessages(50); // out-of-context events arrive as messages
    CHECK(sawEvent(EVENT_OBJECT_REORDER, room.window, CHILDID_SELF));
    stopFeedServer(shortServer);

    // Hidden by the user: the hot key leaves it hidden and gives it no focus.
    SetFocus(nullptr);
    ShowWindow(room.window, SW_HIDE);
    PostMessageA(room.window, WM_HOTKEY, 1, 0);
    pumpMessages(100);
    CHECK(!IsWindowVisible(room.window));
    CHECK(GetFocus() != room.window);

    // Parked by auto-hide at the screen's left edge: the hot key brings it out with the focus.
    ShowWindow(room.window, SW_SHOWNOACTIVATE);
    SetWindowPos(room.window, nullptr, 0, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    broadcastCommand("@FeedMarqueeAutoHide");
    pumpMessages(50);
    RECT parked;
    GetWindowRect(room.window, &parked);
    REQUIRE(parked.left < 0);
    PostMessageA(room.window, WM_HOTKEY, 1, 0);
    pumpMessages(100);
    RECT shown;
    GetWindowRect(room.window, &shown);
    CHECK_EQ(shown.left, 0L);
    CHECK(GetFocus() == room.window);
}

// In turn, reading the list never moves the turn on: the feed a reader hears is the one painted,
// and the turn timer still moves it on and tells a reader that holds an item of the list.
TEST(reading_the_list_in_turn_leaves_the_turn_to_its_timer) {
    CoInitialize(nullptr);
    Newsroom room("", twoFeedsInTurn("5"));
    REQUIRE(room.window);
    REQUIRE(bothFeedsShown());
    IAccessible* list = nullptr;
    REQUIRE(SUCCEEDED(AccessibleObjectFromWindow(room.window, OBJID_CLIENT, IID_IAccessible,
                                                 reinterpret_cast<void**>(&list))));
    IDispatch* held = nullptr;
    REQUIRE(SUCCEEDED(list->get_accChild(childId(1), &held)) && held);
    std::string before = nameOf(list, CHILDID_SELF);
    pumpMessages(100);
    Sleep(5500); // the turn is over, but its timer has not run
    CHECK_EQ(nameOf(list, CHILDID_SELF), before);
    CHECK_EQ(std::string(currentView().entries[0].item->title).substr(0, 9), before.substr(0, 9));
    winEvents.clear();
    for (int i = 0; i < 40 && nameOf(list, CHILDID_SELF) == before; ++i)
        pumpMessages(50);
    CHECK(nameOf(list, CHILDID_SELF) != before);
    CHECK(sawEvent(EVENT_OBJECT_REORDER, room.window, CHILDID_SELF));
    held->Release();
    list->Release();
    CoUninitialize();
}
