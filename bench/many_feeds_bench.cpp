// A thousand favourites in one window: the shell with FeedMarquee.dll in "together" mode, 1,000
// feeds of which 100 answer at once (ten servers on 127.0.0.1, ten addresses each, 50 items a
// feed) and 900 point at a port where nothing listens, so their updates fail at once. From the
// moment the shell is up, a thread of this program sends the plug-in window WM_NULL every 10 ms
// and times each round trip (the longest is the longest the window could not answer a key, a
// menu or a tooltip), and the window thread's processor time over the first 20 s is read with
// GetThreadTimes. Prints "1000 feeds: longest stall S ms, window thread busy B% of the first
// 20 s"; scripts/bench-feeds.sh takes the median of several runs. Asserts nothing.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"

namespace {

const int feedCount = 1000;
const int servers = 10;
const int addressesPerServer = 10;
const DWORD measuredMs = 20000;

// A port on 127.0.0.1 where nothing listens: bound, then released.
unsigned short refusedPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    unsigned short port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    closesocket(s);
    return port;
}

std::string settingsWith(const std::vector<std::string>& urls) {
    std::string rc = "feedmarquee.show: together\nfeedmarquee.maxItemsPerFeed: 20\n"
                     "feedmarquee.showItemCounts: true\nfeedmarquee.updateInterval(min): 60\n"
                     "feedmarquee.width: 320\nfeedmarquee.height: 600\n";
    for (size_t i = 0; i < urls.size(); ++i)
        rc += "feedmarquee.fav" + std::to_string(i) + ".url: " + urls[i] + "\n";
    return rc;
}

struct Pings {
    HWND window;
    DWORD until;
    DWORD longest;
    int answered;
};

DWORD WINAPI pingWindow(void* argument) {
    Pings* pings = static_cast<Pings*>(argument);
    while (GetTickCount() < pings->until) {
        DWORD sent = GetTickCount();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(pings->window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result))
            ++pings->answered;
        DWORD took = GetTickCount() - sent;
        if (took > pings->longest)
            pings->longest = took;
        Sleep(10);
    }
    return 0;
}

unsigned long long threadTime100ns(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    return (static_cast<unsigned long long>(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
           (static_cast<unsigned long long>(user.dwHighDateTime) << 32 | user.dwLowDateTime);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: many_feeds_bench FeedMarquee.dll\n");
        return 2;
    }
    std::vector<FeedServer> answering(servers);
    std::vector<std::string> urls;
    for (int i = 0; i < servers; ++i) {
        if (!startFeedServer(answering[i])) {
            std::fprintf(stderr, "feed server %d did not start\n", i);
            return 1;
        }
        std::vector<std::string> items;
        for (int item = 0; item < 50; ++item)
            items.push_back("story-" + std::to_string(i) + "-" + std::to_string(item) +
                            "@Tue, 08 Dec 2026 " + std::to_string(10 + item % 10) + ":" +
                            std::to_string(10 + i) + ":00 GMT");
        setFeedResponse(answering[i], answerFeed,
                        rssWithItems(("Feed " + std::to_string(i)).c_str(), items));
    }
    unsigned short refused = refusedPort();
    for (int i = 0; i < feedCount; ++i) {
        // Every tenth feed answers; the others are spread among them.
        if (i % 10 == 0 && i / 10 < servers * addressesPerServer)
            urls.push_back(feedServerUrl(answering[(i / 10) % servers],
                                         ("/feed" + std::to_string(i) + ".xml").c_str()));
        else
            urls.push_back("http://127.0.0.1:" + std::to_string(refused) + "/feed" +
                           std::to_string(i) + ".xml");
    }
    TempFolder folder("many-feeds-bench");
    std::string pluginFolder = folder.path + "FeedMarquee\\";
    CreateDirectoryA(pluginFolder.c_str(), nullptr);
    CopyFileA(argv[1], (pluginFolder + "FeedMarquee.dll").c_str(), FALSE);
    writeFileText(pluginFolder + "feedmarquee.rc", settingsWith(urls));
    ShellSession shell;
    DWORD startAsked = GetTickCount();
    if (!startShell(shell, folder.path, pluginFolder + "FeedMarquee.dll", 120000)) {
        std::fprintf(stderr, "the shell did not start\n");
        return 1;
    }
    HWND window = nullptr;
    for (int i = 0; i < 500 && window == nullptr; ++i) {
        window = FindWindowA("FeedMarquee", nullptr);
        if (window == nullptr)
            Sleep(10);
    }
    if (window == nullptr) {
        std::fprintf(stderr, "no plug-in window\n");
        return 1;
    }
    std::printf("the shell started with 1000 favourites in %.2f s\n",
                (GetTickCount() - startAsked) / 1000.0);
    HANDLE windowThread =
        OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetWindowThreadProcessId(window, nullptr));
    unsigned long long busyBefore = threadTime100ns(windowThread);
    Pings pings = {window, GetTickCount() + measuredMs, 0, 0};
    HANDLE pinger = CreateThread(nullptr, 0, pingWindow, &pings, 0, nullptr);
    WaitForSingleObject(pinger, measuredMs + 120000);
    CloseHandle(pinger);
    unsigned long long busy = threadTime100ns(windowThread) - busyBefore;
    CloseHandle(windowThread);
    long requests = 0;
    for (FeedServer& server : answering)
        requests += feedRequests(server);
    std::printf("%d answers to %d pings, %ld requests to the answering feeds\n", pings.answered,
                static_cast<int>(measuredMs / 10), requests);
    DWORD quitAsked = GetTickCount();
    int status = stopShell(shell, 60000);
    std::printf("the shell quit in %.2f s (status %d)\n", (GetTickCount() - quitAsked) / 1000.0,
                status);
    for (FeedServer& server : answering)
        stopFeedServer(server);
    std::printf("1000 feeds: longest stall %lu ms, window thread busy %.0f%% of the first 20 s\n",
                static_cast<unsigned long>(pings.longest), busy / 1e4 / measuredMs * 100.0);
    return 0;
}
