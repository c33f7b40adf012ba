// The whole plug-in over https: blackbox.exe loads the real FeedMarquee.dll from a fresh folder
// and is driven through its control channel against the feed servers of
// tests/feed/feed_test_server.py (run-with-feed-servers.sh starts them, makes the certificates and
// trusts their authority in the test prefix). What the window shows is read back through the
// observer plug-in system_probe.dll, as in the other system tests.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/system_run.h"

#include <cstdio>
#include <cstdlib>

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

} // namespace

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
