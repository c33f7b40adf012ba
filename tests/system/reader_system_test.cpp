// A screen reader in another process: blackbox.exe runs the real FeedMarquee.dll against a feed on
// 127.0.0.1, and this program reads the plug-in's window through oleacc across the process
// boundary, as a screen reader does, and opens an item through its default action; the hot key
// the plug-in registers is another program's to take only once the shell has ended.
#include <windows.h>

#include <oleacc.h>

#include <string>

#include "tests/support/check.h"
#include "tests/system/feed_server.h"
#include "tests/system/system_run.h"

namespace {

const char feedDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
    "<title>Harbour Town Daily</title>\n"
    "<item><title>Library extends weekend opening hours</title>"
    "<link>http://news.example.com/3</link><description>Until 8 p.m.</description></item>\n"
    "<item><title>Q&amp;A: the new recycling rules</title>"
    "<link>http://news.example.com/2</link><description>Glass goes green.</description></item>\n"
    "</channel></rss>\n";

VARIANT childId(LONG id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::string nameOf(IAccessible* object, LONG id) {
    BSTR name = nullptr;
    std::string out = "(error)";
    if (SUCCEEDED(object->get_accName(childId(id), &name)) && name) {
        out.clear();
        for (const wchar_t* c = name; *c; ++c)
            out += *c < 128 ? static_cast<char>(*c) : '?';
    }
    SysFreeString(name);
    return out;
}

} // namespace

TEST(a_reader_in_another_process_reads_the_items_and_opens_one) {
    CoInitialize(nullptr);
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed, feedDocument);
    {
        SystemRun run(std::vector<std::pair<std::string, std::string>>{
            {"feedmarquee.rc", "feedmarquee.hotkey: Ctrl+Alt+F9\n"}});
        REQUIRE(run.started);
        REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + feedServerUrl(server, "/feed.xml")));
        HWND window = nullptr;
        IAccessible* list = nullptr;
        long count = 0;
        for (int i = 0; i < 200 && count != 2; ++i) {
            Sleep(50);
            if (!window)
                window = FindWindowA("FeedMarquee", nullptr);
            if (window && !list)
                AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                           reinterpret_cast<void**>(&list));
            if (list && FAILED(list->get_accChildCount(&count)))
                count = 0;
        }
        REQUIRE(list);
        CHECK_EQ(count, 2L);
        CHECK_EQ(nameOf(list, CHILDID_SELF).substr(0, 29), "Harbour Town Daily, 2 items, ");
        CHECK_EQ(nameOf(list, 1), "Library extends weekend opening hours");
        CHECK_EQ(nameOf(list, 2), "Q&A: the new recycling rules");
        VARIANT role;
        VariantInit(&role);
        CHECK(SUCCEEDED(list->get_accRole(childId(2), &role)));
        CHECK(role.vt == VT_I4 && role.lVal == ROLE_SYSTEM_LISTITEM);
        CHECK(SUCCEEDED(list->accDoDefaultAction(childId(2))));
        ShellReply log = shellCommand(run.shell, "exec-log");
        CHECK_EQ(log.lines.size(), size_t(1));
        if (!log.lines.empty())
            CHECK(log.lines[0].find("\thttp://news.example.com/2\t") != std::string::npos);

        // The plug-in holds its hot key: this program cannot have it while the shell runs.
        CHECK(!RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT, VK_F9));

        // The shell ends while the reader holds the list: calls fail, nothing hangs or crashes,
        // and the hot key is free again.
        CHECK_EQ(stopShell(run.shell), 0);
        CHECK(FAILED(list->get_accChildCount(&count)));
        list->Release();
        CHECK(RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT, VK_F9));
        UnregisterHotKey(nullptr, 1);
    }
    stopFeedServer(server);
    CoUninitialize();
}
