// Fifty feeds in one window: the shell with FeedMarquee.dll and the observer plug-in, fifty feed
// servers on 127.0.0.1 in this program (forty answering 100 items at once, ten sending one byte a
// second), "together" mode. Prints the time from the favourites' arrival until every responsive
// feed's items are shown, the resident memory the feeds add to the shell's process (asked of
// scripts/bench-feeds.sh, which reads it from /proc: the line "RSS?" on standard output is
// answered with the kilobytes on standard input) and the paint of the merged list against the
// paint of one 100-item feed. Assumes nothing and asserts nothing: a program that prints figures.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"

namespace {

const int feedCount = 50;
const int slowFeeds = 10;
const int itemsPerFeed = 100;

std::string feedDocument(int feed) {
    std::string body = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Feed " +
                       std::to_string(feed) + "</title>\n";
    for (int item = 0; item < itemsPerFeed; ++item) {
        char date[64];
        // Newest first, the feeds interleaved minute by minute.
        int minutes = 6000 - item * 50 - feed;
        std::snprintf(date, sizeof date, "Tue, %02d Dec 2026 %02d:%02d:00 GMT", 1 + minutes / 1440,
                      minutes % 1440 / 60, minutes % 60);
        std::string n = std::to_string(feed) + "-" + std::to_string(item);
        body += "<item><title>Headline " + n + " of the feed benchmark</title><link>http://" +
                "example.com/" + n + "</link><description>The story " + n +
                " told in a sentence or two, as feeds do.</description><pubDate>" + date +
                "</pubDate></item>\n";
    }
    return body + "</channel></rss>\n";
}

std::string settings(const std::vector<FeedServer>& servers, bool withFeeds) {
    std::string rc = "feedmarquee.show: together\nfeedmarquee.maxItemsPerFeed: 100\n"
                     "feedmarquee.showItemCounts: true\nfeedmarquee.updateInterval(min): 60\n"
                     "feedmarquee.width: 320\nfeedmarquee.height: 600\n";
    for (size_t i = 0; withFeeds && i < servers.size(); ++i)
        rc += "feedmarquee.fav" + std::to_string(i) +
              ".url: " + feedServerUrl(servers[i], "/feed.xml") + "\n";
    return rc;
}

bool control(ShellSession& shell, const std::string& line) {
    return shellCommand(shell, line).ok;
}

// The probe's report after text was broadcast.
std::string probe(ShellSession& shell, const TempFolder& folder, const std::string& text) {
    std::string path = folder.file("probe.txt");
    DeleteFileA(path.c_str());
    control(shell, "broadcast " + text);
    return readFileText(path);
}

// The first line of the header's tool (the header line), or "".
std::string headerLine(ShellSession& shell, const TempFolder& folder) {
    std::string best;
    long bestTop = 1L << 30;
    for (const std::string& line : textLines(probe(shell, folder, "@SystemProbe tools"))) {
        long left, top, right, bottom;
        int used = 0;
        if (line.compare(0, 5, "tool ") != 0 ||
            std::sscanf(line.c_str() + 5, "%ld %ld %ld %ld %n", &left, &top, &right, &bottom,
                        &used) < 4)
            continue;
        if (top < bestTop) {
            bestTop = top;
            std::string text = line.substr(5 + used);
            best = text.substr(0, text.find("\\n"));
        }
    }
    return best;
}

double paintMicroseconds(ShellSession& shell, const TempFolder& folder) {
    std::string report = probe(shell, folder, "@SystemProbe paint 40");
    return report.compare(0, 6, "paint ") == 0 ? std::atof(report.c_str() + 6) : -1;
}

long askResidentKb() {
    std::cout << "RSS?" << std::endl;
    std::string answer;
    std::getline(std::cin, answer);
    return std::atol(answer.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: feeds_bench FeedMarquee.dll system_probe.dll\n");
        return 2;
    }
    std::vector<FeedServer> servers(feedCount);
    for (int i = 0; i < feedCount; ++i) {
        if (!startFeedServer(servers[i])) {
            std::fprintf(stderr, "feed server %d did not start\n", i);
            return 1;
        }
        setFeedResponse(servers[i], i < slowFeeds ? dribble : answerFeed, feedDocument(i));
    }
    TempFolder folder("feeds-bench");
    std::string pluginFolder = folder.path + "FeedMarquee\\";
    CreateDirectoryA(pluginFolder.c_str(), nullptr);
    CopyFileA(argv[1], (pluginFolder + "FeedMarquee.dll").c_str(), FALSE);
    CopyFileA(argv[2], folder.file("system_probe.dll").c_str(), FALSE);
    writeFileText(pluginFolder + "feedmarquee.rc", settings(servers, false));
    ShellSession shell;
    if (!startShell(shell, folder.path,
                    pluginFolder + "FeedMarquee.dll " + folder.file("system_probe.dll"))) {
        std::fprintf(stderr, "the shell did not start\n");
        return 1;
    }
    Sleep(1500);
    long before = askResidentKb();

    // The favourites arrive; every responsive feed's items are shown when the header counts them.
    writeFileText(pluginFolder + "feedmarquee.rc", settings(servers, true));
    DWORD start = GetTickCount();
    control(shell, "broadcast @FeedMarqueeReloadSettings");
    const std::string allShown =
        "50 feeds  (" + std::to_string((feedCount - slowFeeds) * itemsPerFeed) + ")";
    std::string header;
    while (GetTickCount() - start < 60000) {
        header = headerLine(shell, folder);
        if (header == allShown)
            break;
        Sleep(20);
    }
    double shownSeconds = (GetTickCount() - start) / 1000.0;
    if (header != allShown)
        std::fprintf(stderr, "not every responsive feed was shown: \"%s\"\n", header.c_str());
    std::printf("every responsive feed shown %.2f s after the favourites arrived (\"%s\")\n",
                shownSeconds, header.c_str());
    Sleep(1500);
    long after = askResidentKb();
    double perFeed = (after - before) / static_cast<double>(feedCount);
    std::printf("shell resident memory %ld KB before, %ld KB with %d feeds of %d items\n", before,
                after, feedCount, itemsPerFeed);

    double merged = paintMicroseconds(shell, folder);
    // One responsive feed alone, as "one" mode shows it.
    control(shell,
            "broadcast @FeedMarqueeFeedUrl " + feedServerUrl(servers[slowFeeds], "/feed.xml"));
    control(shell, "broadcast @FeedMarqueeShow one");
    start = GetTickCount();
    std::string single = "Feed " + std::to_string(slowFeeds) + "  (100)";
    while (GetTickCount() - start < 20000 && headerLine(shell, folder) != single)
        Sleep(20);
    double one = paintMicroseconds(shell, folder);
    std::printf("paint of the merged list %.0f us, of one 100-item feed %.0f us\n", merged, one);

    stopShell(shell);
    for (FeedServer& server : servers)
        stopFeedServer(server);
    std::printf("50 feeds: shown in %.2f s, %.0f KB per feed, merged paint ratio %.2f\n",
                shownSeconds, perFeed, one > 0 ? merged / one : -1.0);
    return 0;
}
