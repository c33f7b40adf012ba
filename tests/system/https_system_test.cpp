// The whole plug-in over https: blackbox.exe loads the real FeedMarquee.dll from a fresh folder
// and is driven through its control channel against the feed servers of
// tests/feed/feed_test_server.py (run-with-feed-servers.sh starts them, makes the certificates and
// trusts their authority in the test prefix). What the window shows is read back through the
// observer plug-in system_probe.dll, as in the other system tests.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/support/login_dialog_driver.h"
#include "tests/system/system_run.h"

#include <wincred.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

std::string base(const char* name) {
    std::string variable = std::string("FM_PORT_") + name;
    const char* port = std::getenv(variable.c_str());
    return std::string(std::string(name) == "HTTP" ? "http" : "https") +
           "://localhost:" + (port ? port : "0");
}

// The texts of the painted entries, top to bottom as the observer lists them.
std::vector<std::string> paintedTexts(SystemRun& run) {
    std::vector<std::string> texts;
    std::string path = run.folder.file("probe.txt");
    DeleteFileA(path.c_str());
    if (!broadcast(run, "@SystemProbe tools repainted"))
        return texts;
    for (const std::string& line : textLines(readFileText(path))) {
        long left, top, right, bottom;
        int used = 0;
        if (line.compare(0, 5, "tool ") == 0 &&
            std::sscanf(line.c_str() + 5, "%ld %ld %ld %ld %n", &left, &top, &right, &bottom,
                        &used) >= 4)
            texts.push_back(line.substr(5 + used));
    }
    return texts;
}

// Waits (bounded) until an entry's text begins with wanted.
bool waitPainted(SystemRun& run, const std::string& wanted, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    std::vector<std::string> texts;
    while (GetTickCount() - start < timeoutMs) {
        texts = paintedTexts(run);
        for (const std::string& text : texts)
            if (text.compare(0, wanted.size(), wanted) == 0)
                return true;
        Sleep(100);
    }
    std::fprintf(stderr, "  \"%s\" not painted; painted:\n", wanted.c_str());
    for (const std::string& text : texts)
        std::fprintf(stderr, "    \"%s\"\n", text.c_str());
    return false;
}

// The health line the plug-in answers to "@FeedMarqueeHealth".
std::string healthLine(SystemRun& run) {
    const std::string marker = "@FeedMarqueeHealthReport ";
    command(run, "record-clear");
    broadcast(run, "@FeedMarqueeHealth");
    for (const std::string& line : shellCommand(run.shell, "record").lines)
        if (line.find(marker) != std::string::npos)
            return line.substr(line.find(marker) + marker.size());
    return "";
}

// Waits (bounded) until the health line holds wanted.
bool waitHealth(SystemRun& run, const std::string& wanted, DWORD timeoutMs) {
    std::string health;
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(100)) {
        health = healthLine(run);
        if (health.find(wanted) != std::string::npos)
            return true;
    }
    std::fprintf(stderr, "  health \"%s\" lacks \"%s\"\n", health.c_str(), wanted.c_str());
    return false;
}

const wchar_t loginPassword[] = L"s3cret p\u00e4ss";

void forgetTestLogin(const std::string& origin) {
    std::wstring target = L"FeedMarquee:" + std::wstring(origin.begin(), origin.end());
    CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0);
}

// Every file below folder, read whole, handed to check with its path.
void eachFile(const std::string& folder,
              const std::function<void(const std::string&, const std::string&)>& check) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = folder + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            eachFile(path, check);
        else
            check(path, readFileText(path));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

TEST(a_private_feed_is_shown_after_a_login_given_in_the_dialog_and_kept_out_of_every_file) {
    forgetTestLogin(base("HTTPS"));
    forgetTestLogin(base("HTTP"));
    SystemRun run;
    REQUIRE(run.started);
    // Basic over https: the reason names the realm, under "Couldn't connect!".
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + base("HTTPS") + "/auth/basic"));
    CHECK(waitPainted(run, "Couldn't connect!", 20000));
    CHECK(waitHealth(run, "needs a login (\"Build server\")", 10000));
    std::wstring label;
    REQUIRE(broadcast(run, "@FeedMarqueeLogin"));
    CHECK(answerLoginDialog(L"reader", loginPassword, &label));
    std::string origin = base("HTTPS");
    CHECK(label == L"Login for " + std::wstring(origin.begin(), origin.end()));
    CHECK(waitPainted(run, "First headline", 20000));

    // Digest (SHA-256) over plain http, another origin: a login of its own.
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + base("HTTP") + "/auth/digest-sha256"));
    CHECK(waitHealth(run, "needs a login (\"Digest realm\")", 20000));
    REQUIRE(broadcast(run, "@FeedMarqueeLogin"));
    CHECK(answerLoginDialog(L"reader", loginPassword, &label));
    CHECK(waitPainted(run, "First headline", 20000));
    // Forgotten, the next update asks again.
    REQUIRE(broadcast(run, "@FeedMarqueeForgetLogin"));
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    CHECK(waitHealth(run, "needs a login", 20000));

    // The password is in no file the plug-in or the shell wrote, in no encoding, and in no
    // command the shell recorded.
    std::vector<std::string> recorded = shellCommand(run.shell, "record").lines;
    CHECK_EQ(stopShell(run.shell), 0);
    const std::string clear = "s3cret";
    std::string wide;
    for (char c : clear)
        wide += std::string(1, c) + '\0';
    int files = 0;
    std::string folder = run.folder.path.substr(0, run.folder.path.size() - 1);
    eachFile(folder, [&](const std::string& path, const std::string& bytes) {
        ++files;
        if (bytes.find(clear) != std::string::npos || bytes.find(wide) != std::string::npos)
            std::fprintf(stderr, "  the password is in %s\n", path.c_str());
        CHECK(bytes.find(clear) == std::string::npos);
        CHECK(bytes.find(wide) == std::string::npos);
    });
    CHECK(files > 0);
    for (const std::string& line : recorded)
        CHECK(line.find(clear) == std::string::npos);
    forgetTestLogin(base("HTTPS"));
}

TEST(an_https_feed_reached_through_an_http_redirect_is_shown) {
    SystemRun run;
    REQUIRE(run.started);
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + base("HTTP") +
                               "/redirect?301&https://localhost:HTTPSPORT/feed"));
    CHECK(waitPainted(run, "Loopback Feed", 20000));
    CHECK(waitPainted(run, "First headline", 5000));
    CHECK(waitPainted(run, "Second headline", 5000));
    // A feed whose certificate has expired shows the failure, never its headlines.
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + base("EXPIRED") + "/feed"));
    CHECK(waitPainted(run, "Couldn't connect!", 20000));
    std::vector<std::string> texts = paintedTexts(run);
    CHECK_EQ(texts.size(), size_t(1));
}

TEST(quitting_during_a_stalled_https_download_is_prompt) {
    SystemRun run;
    REQUIRE(run.started);
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + base("HTTPS") + "/stall"));
    CHECK(waitPainted(run, "Connecting...", 5000));
    Sleep(2000); // the handshake is done and the head has arrived; the pass waits for more
    DWORD start = GetTickCount();
    int status = stopShell(run.shell, 15000);
    DWORD elapsed = GetTickCount() - start;
    std::printf("  quit during a stalled https download: %lu ms\n",
                static_cast<unsigned long>(elapsed));
    CHECK_EQ(status, 0);
    CHECK(elapsed < 5000);
}
