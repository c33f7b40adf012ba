// blackbox.exe end to end: it loads the test plug-in from its folder, delivers commands, shows
// and picks menus, answers input boxes and dialogs through the control channel, takes
// screenshots, and quits with status 0 after shutting the plug-in down.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

// Polls the execute log until a line holds part (the plug-in reports through it).
bool logShows(ShellSession& session, const std::string& part, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    do {
        ShellReply reply = shellCommand(session, "exec-log");
        if (contains(reply.lines, part))
            return true;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

bool waitState(ShellSession& session, const std::string& line, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    do {
        if (contains(shellCommand(session, "state").lines, line))
            return true;
        Sleep(30);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

std::string preparePlugin(const TempFolder& folder) {
    std::string plugin = folder.file("test_plugin.dll");
    CopyFileA((testProgramFolder() + "shell_test_plugin.dll").c_str(), plugin.c_str(), FALSE);
    return plugin;
}

} // namespace

TEST(theShellLoadsThePluginDeliversACommandAndQuitsCleanly) {
    TempFolder folder;
    preparePlugin(folder);
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "--exec-log exec.log test_plugin.dll"));

    ShellReply windows = shellCommand(shell, "windows");
    REQUIRE(windows.ok);
    REQUIRE(windows.lines.size() == 1);
    CHECK(windows.lines[0].find(" 10103 10881 10901") != std::string::npos);
    CHECK_EQ(shellCommand(shell, "sticky").lines.size(), static_cast<size_t>(1));

    ShellReply broadcast = shellCommand(shell, "broadcast @TestEcho hello there");
    CHECK(broadcast.ok);
    CHECK(contains(broadcast.lines, "delivered 1"));
    CHECK(logShows(shell, "\tcommand\t@TestEcho hello there\t"));
    CHECK(shellCommand(shell, "broadcast @BBHidePlugins").ok);
    CHECK(logShows(shell, "\tcommand\t@BBHidePlugins\t"));

    // The plug-in's start-up, in order, as the shell saw it.
    ShellReply record = shellCommand(shell, "record");
    std::vector<std::string> wanted = {"plugin-begin\t",
                                       "GetBBWnd",
                                       "GetBlackboxPath\t260",
                                       "ReadInt\t",
                                       "GetSettingPtr\t1",
                                       "MakeNamedMenu\tOptions",
                                       "ShowMenu\tTP_Main\tfalse",
                                       "message\t10001\t",
                                       "MakeSticky\t"};
    size_t at = 0;
    for (const std::string& line : record.lines)
        if (at < wanted.size() && line.compare(0, wanted[at].size(), wanted[at]) == 0)
            ++at;
    CHECK_EQ(at, wanted.size());
    CHECK(contains(record.lines, "plugin-begin\ttest_plugin.dll\tbeginPlugin"));

    CHECK(shellCommand(shell, "bogus").ok == false);
    CHECK_EQ(stopShell(shell), 0);
    std::string rc = readFileText(folder.file("test_plugin.rc"));
    CHECK(rc.find("test.ended: true") != std::string::npos);
    CHECK(rc.find("test.starts: 1") != std::string::npos);
}

TEST(menusArePickedByPathAndInTheRealPopup) {
    TempFolder folder;
    preparePlugin(folder);
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "--exec-log exec.log test_plugin.dll"));

    ShellReply menu = shellCommand(shell, "menu");
    REQUIRE(menu.ok);
    CHECK(contains(menu.lines, "menu\t-\tTest Plugin\tTP_Main\trefresh"));
    CHECK(contains(menu.lines, "item\t1.3\tint\tNumber\t@TestNumber\t7\t1\t50"));
    CHECK(contains(menu.lines, "item\t1.4\tstring\tText\t@TestText\told text"));
    CHECK(shellCommand(shell, "pick Options/Number=42").ok);
    CHECK(logShows(shell, "\tcommand\t@TestNumber 42\t"));
    CHECK(!shellCommand(shell, "pick 1.3=51").ok);
    CHECK(shellCommand(shell, "pick 1.4=new words").ok);
    CHECK(logShows(shell, "\tcommand\t@TestText new words\t"));

    // A right-click opens the real popup; an integer entry asks for its value in a box.
    CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
    CHECK(shellCommand(shell, "popup-pick 1.3").ok);
    REQUIRE(waitState(shell, "inputbox open"));
    CHECK(!shellCommand(shell, "answer 99").ok); // outside 1 to 50: the box stays open
    CHECK(waitState(shell, "inputbox open", 500));
    CHECK(shellCommand(shell, "answer 23").ok);
    CHECK(logShows(shell, "\tcommand\t@TestNumber 23\t"));
    // A text entry, answered before its box opens; labels work as a path too.
    CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
    CHECK(shellCommand(shell, "answer typed text").ok);
    CHECK(shellCommand(shell, "popup-pick Options/Text").ok);
    CHECK(logShows(shell, "\tcommand\t@TestText typed text\t"));
    // A plain entry of the top menu; and a cancelled box sends nothing.
    CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
    CHECK(shellCommand(shell, "popup-pick 2").ok);
    CHECK(logShows(shell, "\tcommand\t@TestEcho menu\t"));
    // An entry without a label is still there to pick.
    CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
    CHECK(shellCommand(shell, "popup-pick 3").ok);
    CHECK(logShows(shell, "\tcommand\t@TestUntitled\t"));
    CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
    CHECK(shellCommand(shell, "answer-cancel").ok);
    CHECK(shellCommand(shell, "popup-pick 1.3").ok);
    CHECK(waitState(shell, "inputbox closed"));
    CHECK(shellCommand(shell, "broadcast @TestEcho after-cancel").ok);
    CHECK(logShows(shell, "@TestEcho after-cancel"));
    ShellReply log = shellCommand(shell, "exec-log");
    CHECK(!contains(log.lines, "@TestNumber 7\t"));
    CHECK_EQ(stopShell(shell), 0);
}

TEST(modalBoxesOfPluginsAreAnsweredThroughTheChannel) {
    TempFolder folder;
    preparePlugin(folder);
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "--exec-log exec.log test_plugin.dll"));
    // The command stays unanswered while the plug-in's About box is up.
    int about = sendLine(shell, "broadcast @TestAbout");
    REQUIRE(waitState(shell, "dialog 0x"));
    ShellReply listing = shellCommand(shell, "dialog list");
    CHECK(contains(listing.lines, "Test plug-in"));
    CHECK(shellCommand(shell, "dialog ok").ok);
    ShellReply reply;
    CHECK(waitReply(shell, about, reply));
    CHECK(reply.ok);
    CHECK(logShows(shell, "\tabout-closed\t"));
    CHECK(contains(shellCommand(shell, "record").lines, "message\t10302\t0\t0"));
    CHECK_EQ(stopShell(shell), 0);
}

TEST(theSlitPluginsFileAndScreenshots) {
    TempFolder folder;
    preparePlugin(folder);
    writeFileText(folder.file("plugins.rc"), "# plug-ins of this test\r\nslit test_plugin.dll\r\n");
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "--exec-log exec.log"));
    ShellReply slit = shellCommand(shell, "slit");
    REQUIRE(slit.ok);
    REQUIRE(slit.lines.size() == 2);
    CHECK(slit.lines[0].find("visible=1") != std::string::npos);
    CHECK(slit.lines[1].find("child 0x") == 0);
    CHECK(contains(shellCommand(shell, "record").lines, "\tbeginPluginEx"));

    std::string bitmap = folder.file("plugin.bmp");
    CHECK(shellCommand(shell, "screenshot plugin " + bitmap).ok);
    std::string bytes = readFileText(bitmap);
    REQUIRE(bytes.size() == 54 + 160 * 3 * 60);
    CHECK(bytes.substr(0, 2) == "BM");
    // The style's gradient is there: the middle is neither black nor white.
    size_t middle = 54 + (30 * 160 + 80) * 3;
    int sum = static_cast<unsigned char>(bytes[middle]) +
              static_cast<unsigned char>(bytes[middle + 1]) +
              static_cast<unsigned char>(bytes[middle + 2]);
    CHECK(sum > 30 && sum < 740);
    CHECK(shellCommand(shell, "reload-style").ok);
    CHECK(!shellCommand(shell, "screenshot 0x1 " + bitmap).ok);
    CHECK_EQ(stopShell(shell), 0);
    CHECK(readFileText(folder.file("test_plugin.rc")).find("test.ended: true") !=
          std::string::npos);
}

TEST(quittingWithAMenuOrAnInputBoxOpenStillEndsCleanly) {
    TempFolder folder;
    preparePlugin(folder);
    for (int round = 0; round < 3; ++round) {
        ShellSession shell;
        REQUIRE(startShell(shell, folder.path, "--exec-log exec.log test_plugin.dll"));
        if (round == 2) {
            // Closing the shell's window, as the system would, ends it the same way.
            CHECK(shellCommand(shell, "send shell 16 0 0").ok);
            CHECK(WaitForSingleObject(shell.process.hProcess, 10000) == WAIT_OBJECT_0);
        } else {
            CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
        }
        if (round == 0) {
            CHECK(waitState(shell, "popup open"));
        } else if (round == 1) {
            CHECK(shellCommand(shell, "popup-pick 1.4").ok);
            CHECK(waitState(shell, "inputbox open"));
        }
        CHECK_EQ(stopShell(shell), 0);
        CHECK(readFileText(folder.file("test_plugin.rc")).find("test.ended: true") !=
              std::string::npos);
    }
}

TEST(commonDialogsOfPluginsAreAnsweredThroughTheChannel) {
    TempFolder folder;
    preparePlugin(folder);
    std::string chosen = folder.file("chosen file.txt");
    writeFileText(chosen, "x");
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "--exec-log exec.log test_plugin.dll"));

    int open = sendLine(shell, "broadcast @TestOpenFile");
    REQUIRE(waitState(shell, "dialog 0x", 10000));
    CHECK(contains(shellCommand(shell, "dialog list").lines, "\tEdit\t"));
    CHECK(shellCommand(shell, "dialog set 1148 " + chosen).ok);
    CHECK(shellCommand(shell, "dialog ok").ok);
    ShellReply reply;
    CHECK(waitReply(shell, open, reply));
    CHECK(logShows(shell, "\tfile-chosen\t" + chosen + "\t"));

    open = sendLine(shell, "broadcast @TestOpenFile");
    REQUIRE(waitState(shell, "dialog 0x", 10000));
    CHECK(shellCommand(shell, "dialog cancel").ok);
    CHECK(waitReply(shell, open, reply));
    CHECK(logShows(shell, "\tfile-cancelled\t"));

    int colour = sendLine(shell, "broadcast @TestColor");
    REQUIRE(waitState(shell, "dialog 0x", 10000));
    CHECK(shellCommand(shell, "dialog set 706 200").ok); // red, of the red/green/blue fields
    CHECK(shellCommand(shell, "dialog ok").ok);
    CHECK(waitReply(shell, colour, reply));
    CHECK(logShows(shell, "\tcolor-chosen\t" + std::to_string(RGB(200, 2, 3)) + "\t"));
    CHECK_EQ(stopShell(shell), 0);
}

TEST(aPluginThatDoesNotStartIsFreedAndNeverShutDown) {
    TempFolder folder;
    preparePlugin(folder);
    writeFileText(folder.file("test_plugin.rc"), "test.fail: true\r\n");
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "test_plugin.dll missing.dll"));
    std::vector<std::string> record = shellCommand(shell, "record").lines;
    CHECK(contains(record, "plugin-failed\ttest_plugin.dll\t1"));
    CHECK(contains(record, "plugin-failed\tmissing.dll\tload"));
    CHECK(shellCommand(shell, "windows").lines.empty());
    CHECK_EQ(stopShell(shell), 0);
    CHECK_EQ(readFileText(folder.file("test_plugin.rc")), std::string("test.fail: true\r\n"));
}

TEST(aRefreshWhileTheMenuIsOpenIsWhatAPickSees) {
    TempFolder folder;
    preparePlugin(folder);
    ShellSession shell;
    REQUIRE(startShell(shell, folder.path, "--exec-log exec.log test_plugin.dll"));
    CHECK(shellCommand(shell, "mouse rclick 20 20").ok);
    REQUIRE(waitState(shell, "popup open"));
    // The plug-in rebuilds its tree for refreshing while the popup shows the old one.
    CHECK(shellCommand(shell, "broadcast @TestSetNumber 12").ok);
    ShellReply menus = shellCommand(shell, "menus");
    CHECK(contains(menus.lines, "trees 1 menus 2 opened 1"));
    CHECK(shellCommand(shell, "popup-pick 1.3").ok);
    REQUIRE(waitState(shell, "inputbox open"));
    CHECK(contains(shellCommand(shell, "record").lines, "inputbox\tNumber\t12"));
    CHECK(shellCommand(shell, "answer-cancel").ok);
    CHECK(waitState(shell, "inputbox closed"));
    CHECK(contains(shellCommand(shell, "menu").lines,
                   "item\t1.3\tint\tNumber\t@TestNumber\t12\t1\t50"));
    CHECK_EQ(stopShell(shell), 0);
}
