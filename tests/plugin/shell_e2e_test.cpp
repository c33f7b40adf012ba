// FeedMarquee.dll loaded into the real stand-in shell under Wine: what the shell sees of start-up
// and shut-down, the slit, double-clicks on entries of a feed served from this test, and fifty
// starts and stops in one shell process.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/plugin/plugin_test_support.h"
#include "tests/plugin/shell_session.h"
#include "tests/support/check.h"

namespace {

const char* const registrationList = "\t10103,10881,10901";

// A folder holding a copy of the given DLL and, when rcText is given, its feedmarquee.rc.
struct PluginFolder {
    std::string folder = makeTempFolder("e2e");
    std::string dll;
    PluginFolder(const char* hostDll, const char* name, const char* rcText) {
        dll = folder + name;
        CopyFileA(windowsPath(hostDll).c_str(), dll.c_str(), FALSE);
        if (rcText)
            writeFileText(folder + "feedmarquee.rc", rcText);
    }
    void settings(const std::string& rcText) { writeFileText(folder + "feedmarquee.rc", rcText); }
    ~PluginFolder() { removeFolder(folder); }
};

// The shell with the driver plug-in loaded for the slit.
struct DrivenShell {
    PluginFolder driver{SHELL_DRIVER_DLL, "fm_plugin_driver.dll", nullptr};
    ShellSession shell;
    std::string log = driver.folder + "driver.log";
    bool started = false;
    DrivenShell() {
        started = shell.start("--exec-log \"" + driver.folder + "execute.log\" --slit \"" +
                              driver.dll + "\"") &&
                  waitForLine(log, "driver ready", 10000);
    }
    // Sends a driver command and returns the log lines it wrote (without "done").
    std::vector<std::string> run(const std::string& command, DWORD timeoutMs = 20000) {
        DeleteFileA(log.c_str());
        shell.command("broadcast @FmDriver " + command);
        std::string word = command.substr(0, command.find(' '));
        std::vector<std::string> lines;
        if (!waitForLine(log, "done " + word, timeoutMs))
            return lines;
        for (const std::string& line : fileLines(log))
            if (line.compare(0, 5, "done ") != 0)
                lines.push_back(line);
        return lines;
    }
};

// The plug-in window's handle text from the record's registration line (the one with the plug-in's
// message list; the driver registers a window of its own), or "".
std::string registeredWindow(const std::vector<std::string>& record) {
    for (const std::string& line : record) {
        size_t start = std::string("message\t10001\t").size();
        if (line.compare(0, start, "message\t10001\t") == 0 && line.size() > 18 &&
            line.compare(line.size() - 18, 18, registrationList) == 0)
            return line.substr(start, line.find('\t', start) - start);
    }
    return "";
}

HWND handleOf(const std::string& text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoul(text.c_str(), nullptr, 16)));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Serves one RSS document over HTTP/1.0 on 127.0.0.1 to every connection, until stopped.
struct FeedServer {
    SOCKET listener = INVALID_SOCKET;
    HANDLE thread = nullptr;
    volatile LONG stop = 0;
    int port = 0;
    std::string body;

    explicit FeedServer(const std::string& document) : body(document) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        listen(listener, 8);
        thread = CreateThread(nullptr, 0, serve, this, 0, nullptr);
    }
    static DWORD WINAPI serve(LPVOID self) {
        FeedServer* server = static_cast<FeedServer*>(self);
        for (int served = 0; !server->stop && served < 200;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(server->listener, &readable);
            timeval wait = {0, 100000};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                continue;
            SOCKET client = accept(server->listener, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                continue;
            ++served;
            char request[2048];
            DWORD deadline = GetTickCount() + 2000;
            std::string received;
            while (received.find("\r\n\r\n") == std::string::npos && GetTickCount() < deadline) {
                int got = recv(client, request, sizeof request, 0);
                if (got <= 0)
                    break;
                received.append(request, got);
            }
            std::string response =
                "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + server->body;
            send(client, response.data(), static_cast<int>(response.size()), 0);
            closesocket(client);
        }
        return 0;
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/feed.xml"; }
    ~FeedServer() {
        stop = 1;
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        closesocket(listener);
        WSACleanup();
    }
};

const char* const feedDocument =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Test Feed</title>"
    "<item><title>Web story</title><link>http://example.com/one</link>"
    "<description>first</description></item>"
    "<item><title>Script</title><link>javascript:alert(1)</link>"
    "<description>second</description></item>"
    "<item><title>No link</title><description>third</description></item>"
    "<item><title>Program</title><link>C:\\Windows\\notepad.exe</link></item>"
    "</channel></rss>";

std::vector<std::string> executions(ShellSession& shell) {
    std::vector<std::string> found;
    for (const std::string& line : shell.command("record"))
        if (line.compare(0, 10, "BBExecute\t") == 0)
            found.push_back(line);
    return found;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos)
            return parts;
        start = tab + 1;
    }
}

// Counts in a driver line such as "before windows=3 handles=40 threads=2 gdi=0".
int countOf(const std::string& line, const std::string& name) {
    size_t at = line.find(" " + name + "=");
    return at == std::string::npos ? -9999 : std::atoi(line.c_str() + at + name.size() + 2);
}

} // namespace

TEST(the_shell_sees_the_start_in_order_and_the_window_as_set) {
    PluginFolder plugin(FEEDMARQUEE_DLL, "FeedMarquee.dll",
                        "feedmarquee.x: 120\nfeedmarquee.y: 110\nfeedmarquee.width: 230\n"
                        "feedmarquee.height: 140\nfeedmarquee.alwaysontop: true\n");
    ShellSession shell;
    REQUIRE(shell.start("--exec-log \"" + plugin.folder + "execute.log\" \"" + plugin.dll + "\""));
    std::vector<std::string> record = shell.command("record");
    std::string window = registeredWindow(record);
    REQUIRE(!window.empty());
    int begun = lineIndex(record, "plugin-begin\t");
    int registered = lineIndex(record, "message\t10001\t" + window + registrationList);
    int sticky = lineIndex(record, "MakeSticky\t" + window);
    CHECK(begun >= 0);
    CHECK(registered > begun);
    CHECK(sticky > registered);
    CHECK(lineIndex(record, "message\t11001") < 0);

    std::string shown = findLine(shell.command("window " + window), window);
    CHECK(contains(shown, window + " 120 110 230 140 "));
    CHECK(contains(shown, "visible=1"));
    CHECK(contains(shown, "topmost=1"));
    CHECK(contains(shown, "layered=1"));
    CHECK(contains(shown, "parent=0x00000000"));
    CHECK_EQ(findLine(shell.command("windows"), window), window + " 10103 10881 10901");
    CHECK_EQ(findLine(shell.command("sticky"), window), window);

    // WM_CLOSE leaves the window; a timer id outside 1 to 4 is ignored.
    CHECK_EQ(findLine(shell.command("send " + window + " 16 0 0"), "result"), "result 0");
    CHECK_EQ(findLine(shell.command("send " + window + " 275 77 0"), "result"), "result 0");
    CHECK(contains(findLine(shell.command("window " + window), window), "visible=1"));

    CHECK_EQ(shell.quit(), 0);
    // Shut-down wrote nothing that did not change: the file is the user's.
    CHECK_EQ(fileKeys(plugin.folder + "feedmarquee.rc").size(), size_t(5));
    CHECK(!IsWindow(handleOf(window)));
}

TEST(the_shell_sees_the_shut_down_in_order_and_the_slit_placement) {
    PluginFolder plugin(FEEDMARQUEE_DLL, "FeedMarquee.dll", "feedmarquee.inSlit: false\n");
    DrivenShell driven;
    REQUIRE(driven.started);
    REQUIRE(findLine(driven.run("load " + plugin.dll), "loaded") == "loaded");
    ShellSession& shell = driven.shell;

    CHECK_EQ(findLine(driven.run("begin"), "begin"), "begin 0");
    std::string window = registeredWindow(shell.command("record"));
    REQUIRE(!window.empty());
    shell.command("record-clear");
    std::vector<std::string> ended = driven.run("end");
    CHECK(findLine(ended, "end ") != "end 0" && !findLine(ended, "end ").empty());
    CHECK_EQ(findLine(ended, "class"), "class gone");
    std::vector<std::string> record = shell.command("record");
    int deleted = lineIndex(record, "DelMenu");
    int unsticky = lineIndex(record, "RemoveSticky\t" + window);
    int unregistered = lineIndex(record, "message\t10002\t" + window + registrationList);
    CHECK(deleted >= 0);
    CHECK(unsticky > deleted);
    CHECK(unregistered > unsticky);
    CHECK(lineIndex(record, "message\t11002") < 0);
    CHECK(findLine(shell.command("windows"), window).empty());
    CHECK(findLine(shell.command("sticky"), window).empty());
    CHECK(!IsWindow(handleOf(window)));

    // For the slit, with inSlit stored: taken in after registration, released after unregistering.
    plugin.settings("feedmarquee.inSlit: true\n");
    shell.command("record-clear");
    CHECK_EQ(findLine(driven.run("beginSlit"), "beginSlit"), "beginSlit 0");
    record = shell.command("record");
    window = registeredWindow(record);
    REQUIRE(!window.empty());
    int takenIn = lineIndex(record, "message\t11001\t0\t" + window);
    CHECK(takenIn > lineIndex(record, "message\t10001\t" + window));
    CHECK_EQ(findLine(shell.command("slit"), "child"), "child " + window);
    CHECK(contains(findLine(shell.command("window " + window), window), "layered=0"));
    shell.command("record-clear");
    driven.run("end");
    record = shell.command("record");
    int released = lineIndex(record, "message\t11002\t0\t" + window);
    CHECK(released > lineIndex(record, "message\t10002\t" + window));

    // For the slit, but the settings say free-floating: no 11001, a free layered window.
    plugin.settings("feedmarquee.inSlit: false\n");
    shell.command("record-clear");
    driven.run("beginSlit");
    record = shell.command("record");
    window = registeredWindow(record);
    CHECK(lineIndex(record, "message\t11001") < 0);
    std::string shown = findLine(shell.command("window " + window), window);
    CHECK(contains(shown, "parent=0x00000000"));
    CHECK(contains(shown, "layered=1"));
    driven.run("end");

    // Free start with inSlit stored: not layered, no slit message.
    plugin.settings("feedmarquee.inSlit: true\n");
    shell.command("record-clear");
    driven.run("begin");
    record = shell.command("record");
    window = registeredWindow(record);
    CHECK(lineIndex(record, "message\t11001") < 0);
    CHECK(contains(findLine(shell.command("window " + window), window), "layered=0"));
    driven.run("end");
    CHECK(lineIndex(shell.command("record"), "message\t11002") < 0);

    CHECK_EQ(shell.quit(), 0);
}

TEST(a_double_click_in_the_shell_opens_only_the_web_link_under_it) {
    FeedServer server(feedDocument);
    for (bool withBrowser : {false, true}) {
        std::string rc =
            "feedmarquee.x: 200\nfeedmarquee.y: 200\nfeedmarquee.width: 300\n"
            "feedmarquee.height: 300\nfeedmarquee.highlight: 0\nfeedmarquee.feedUrl: " +
            server.url() + "\n";
        if (withBrowser)
            rc += "feedmarquee.browserPath: C:\\Browser\\browser.exe\n";
        PluginFolder plugin(FEEDMARQUEE_DLL, "FeedMarquee.dll", rc.c_str());
        ShellSession shell;
        REQUIRE(
            shell.start("--exec-log \"" + plugin.folder + "execute.log\" \"" + plugin.dll + "\""));
        // Wait for the pass to end and the entries to be painted.
        Sleep(1500);
        shell.command("ping");

        // Every 3 pixels down the header and the four items (about 21 pixels each) and below them:
        // each double-click opens at most one program, and only ever the web link.
        int opened = 0, openingY = -1;
        for (int y = 1; y < 160; y += 3) {
            shell.command("record-clear");
            shell.command("mouse dblclick 20 " + std::to_string(y) + " plugin");
            std::vector<std::string> calls = executions(shell);
            CHECK(calls.size() <= 1);
            if (calls.size() == 1) {
                ++opened;
                if (openingY < 0)
                    openingY = y;
                std::vector<std::string> args = fields(calls[0]);
                REQUIRE(args.size() >= 8);
                if (withBrowser) {
                    CHECK_EQ(args[3], "C:\\Browser\\browser.exe");
                    std::string line = "\"" + args[3] + "\" " + args[4];
                    std::wstring wide(line.begin(), line.end());
                    int count = 0;
                    LPWSTR* parts = CommandLineToArgvW(wide.c_str(), &count);
                    CHECK_EQ(count, 2);
                    if (count == 2)
                        CHECK(std::wstring(parts[1]) == L"http://example.com/one");
                    LocalFree(parts);
                } else {
                    CHECK_EQ(args[3], "http://example.com/one");
                    CHECK_EQ(args[4], "(null)");
                }
            }
        }
        CHECK(opened > 0);
        std::printf("%s: %d of 53 double-clicks opened the link, first at y=%d\n",
                    withBrowser ? "browser" : "direct", opened, openingY);
        CHECK_EQ(shell.quit(), 0);
    }
}

TEST(fifty_starts_and_stops_in_one_shell_leave_nothing_behind) {
    PluginFolder plugin(COUNTING_DLL, "FeedMarquee.dll", "feedmarquee.updateInterval(min): 15\n");
    DrivenShell driven;
    REQUIRE(driven.started);
    REQUIRE(findLine(driven.run("load " + plugin.dll), "loaded") == "loaded");
    std::vector<std::string> lines = driven.run("cycles 50", 120000);
    std::string running = findLine(lines, "running");
    std::string before = findLine(lines, "before");
    std::string after = findLine(lines, "after");
    std::printf("%s\n%s\n%s\n", running.c_str(), before.c_str(), after.c_str());
    REQUIRE(!running.empty() && !before.empty() && !after.empty());
    // The counts see the plug-in: its window and tooltip while it runs, its paints' objects.
    CHECK(countOf(running, "windows") >= countOf(before, "windows") + 2);
    CHECK(countOf(after, "created") - countOf(before, "created") >= 50 * 3);
    CHECK_EQ(findLine(lines, "failures"), "failures 0");
    for (const char* name : {"windows", "handles", "threads", "gdi"}) {
        CHECK(countOf(before, name) >= 0);
        CHECK_EQ(countOf(after, name), countOf(before, name));
    }
    driven.run("unload");
    CHECK_EQ(driven.shell.quit(), 0);
}

// A second start (the plug-in listed twice, or started again by a script) is refused with a box;
// the first copy keeps painting and following its feed, and after it ends and the DLL is unloaded
// the shell runs on and quits cleanly (no timer or window is left pointing into the freed DLL).
TEST(a_second_start_leaves_the_first_copy_running_and_the_shell_quits_cleanly) {
    FeedServer first(feedDocument);
    FeedServer second("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Second</title>"
                      "<item><title>Later story</title><link>http://example.com/two</link>"
                      "</item></channel></rss>");
    std::string rc = "feedmarquee.x: 200\nfeedmarquee.y: 200\nfeedmarquee.width: 300\n"
                     "feedmarquee.height: 300\nfeedmarquee.highlight: 0\nfeedmarquee.feedUrl: " +
                     first.url() + "\n";
    PluginFolder plugin(FEEDMARQUEE_DLL, "FeedMarquee.dll", rc.c_str());
    DrivenShell driven;
    REQUIRE(driven.started);
    ShellSession& shell = driven.shell;
    REQUIRE(findLine(driven.run("load " + plugin.dll), "loaded") == "loaded");
    CHECK_EQ(findLine(driven.run("begin"), "begin"), "begin 0");
    std::string window = registeredWindow(shell.command("record"));
    REQUIRE(!window.empty());

    // The second start reports the refusal at once, while its box is still up on a thread of its
    // own; the box is answered afterwards.
    DeleteFileA(driven.log.c_str());
    shell.command("broadcast @FmDriver begin");
    REQUIRE(waitForLine(driven.log, "done begin", 20000));
    CHECK(waitForLine(driven.log, "begin 1", 1000));
    HWND box = nullptr;
    for (int i = 0; i < 200 && !box; ++i) {
        box = FindWindowA("#32770", "FeedMarquee");
        if (!box)
            Sleep(50);
    }
    REQUIRE(box);
    CHECK(findLine(shell.command("state"), "dialog") == "dialog none"); // not the shell's thread
    char text[128] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    CHECK_EQ(std::string(text), "FeedMarquee is already running.");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(box); ++i)
        Sleep(50);
    CHECK(!IsWindow(box));

    // The first copy follows a new feed and paints it: a double-click finds its entry.
    shell.command("broadcast @FeedMarqueeFeedUrl " + second.url());
    Sleep(1500);
    shell.command("ping");
    CHECK(contains(findLine(shell.command("window " + window), window), "visible=1"));
    bool opened = false;
    for (int y = 1; y < 100 && !opened; y += 3) {
        shell.command("record-clear");
        shell.command("mouse dblclick 20 " + std::to_string(y) + " " + window);
        for (const std::string& call : executions(shell))
            opened = opened || contains(call, "http://example.com/two");
    }
    CHECK(opened);

    std::vector<std::string> ended = driven.run("end");
    CHECK(findLine(ended, "end ") != "end 0" && !findLine(ended, "end ").empty());
    CHECK_EQ(findLine(ended, "class"), "class gone");
    CHECK(!IsWindow(handleOf(window)));
    driven.run("unload");
    Sleep(800); // past the plug-in's timer periods
    bool alive = false;
    shell.command("ping", &alive);
    CHECK(alive);
    CHECK_EQ(shell.quit(), 0);
}

// A reader in the shell's process that keeps the list object past the plug-in's end and unload:
// its calls answer an error instead of running freed code, the module goes once it lets go, and a
// later start in the same shell is clean.
TEST(a_reader_holding_the_list_across_an_unload_gets_errors_and_a_later_start_is_clean) {
    PluginFolder plugin(FEEDMARQUEE_DLL, "FeedMarquee.dll", "feedmarquee.x: 40\n");
    DrivenShell driven;
    REQUIRE(driven.started);
    for (int round = 0; round < 2; ++round) {
        REQUIRE(findLine(driven.run("load " + plugin.dll), "loaded") == "loaded");
        CHECK_EQ(findLine(driven.run("begin"), "begin"), "begin 0");
        CHECK_EQ(findLine(driven.run("hold"), "hold"), "hold 0x00000000");
        CHECK_EQ(findLine(driven.run("read"), "read"), "read 0x00000000");
        driven.run("end");
        CHECK_EQ(findLine(driven.run("unload"), "module"), "module loaded");
        CHECK_EQ(findLine(driven.run("read"), "read"), "read 0x80010108"); // disconnected
        CHECK_EQ(findLine(driven.run("release"), "module"), "module gone");
    }
    bool alive = false;
    driven.shell.command("ping", &alive);
    CHECK(alive);
    CHECK_EQ(driven.shell.quit(), 0);
}

// The shell's thread in the multithreaded apartment: a reader's worker threads get the object
// itself. A call made while the window's thread is busy is answered only once that thread is free
// (it runs there), and references taken and dropped on two threads at once stay counted.
TEST(a_reader_in_the_multithreaded_apartment_is_answered_on_the_window_thread) {
    PluginFolder plugin(FEEDMARQUEE_DLL, "FeedMarquee.dll", "feedmarquee.x: 40\n");
    DrivenShell driven;
    REQUIRE(driven.started);
    CHECK_EQ(findLine(driven.run("mta"), "mta"), "mta 0x00000000");
    REQUIRE(findLine(driven.run("load " + plugin.dll), "loaded") == "loaded");
    CHECK_EQ(findLine(driven.run("begin"), "begin"), "begin 0");
    std::vector<std::string> lines = driven.run("threads", 120000);
    CHECK_EQ(findLine(lines, "taken"), "taken 0x00000000");
    CHECK(contains(findLine(lines, "answered 0x"), "answered 0x00000000 count "));
    CHECK_EQ(findLine(lines, "answered while"), "answered while busy 0");
    CHECK(contains(findLine(lines, "count after"), "count after 0x00000000 "));
    driven.run("end");
    CHECK_EQ(findLine(driven.run("unload"), "module"), "module gone");
    CHECK_EQ(driven.shell.quit(), 0);
}
