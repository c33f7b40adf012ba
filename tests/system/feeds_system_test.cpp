// Every favourite in one window, through the stand-in shell: three feed servers on 127.0.0.1 (a
// fine one, a slow one and one that fails after its first answer), the window read back through
// the tooltip tools the paint registers (see system_test.cpp) and through its pixels, and a
// restart that shows every feed's saved items at once with the new marks kept.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"
#include "tests/system/system_run.h"

#include <oleacc.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Tool {
    RECT rect;
    std::string text;
};

// The tools as painted now (one per entry, top to bottom), after one more paint; their texts in
// the ANSI code page, or in UTF-8 with utf8.
std::vector<Tool> painted(SystemRun& run, bool utf8 = false) {
    std::vector<Tool> tools;
    std::string path = run.folder.file("probe.txt");
    DeleteFileA(path.c_str());
    if (!broadcast(run, utf8 ? "@SystemProbe tools utf8" : "@SystemProbe tools repainted"))
        return tools;
    for (const std::string& line : textLines(readFileText(path))) {
        if (line.compare(0, 5, "tool ") != 0)
            continue;
        Tool tool = {};
        int used = 0;
        if (std::sscanf(line.c_str() + 5, "%ld %ld %ld %ld %n", &tool.rect.left, &tool.rect.top,
                        &tool.rect.right, &tool.rect.bottom, &used) >= 4) {
            tool.text = line.substr(5 + used);
            size_t escape;
            while ((escape = tool.text.find("\\n")) != std::string::npos)
                tool.text.replace(escape, 2, "\n");
            tools.push_back(tool);
        }
    }
    std::stable_sort(tools.begin(), tools.end(),
                     [](const Tool& a, const Tool& b) { return a.rect.top < b.rect.top; });
    return tools;
}

// "header | item | item ...": the first line of each tool's text.
std::string shown(const std::vector<Tool>& tools) {
    std::string out;
    for (const Tool& tool : tools)
        out += (out.empty() ? "" : " | ") + tool.text.substr(0, tool.text.find('\n'));
    return out;
}

// Waits (bounded) until the painted window shows exactly wanted; prints the last view otherwise.
bool waitShown(SystemRun& run, const std::string& wanted, DWORD timeoutMs,
               std::vector<Tool>* tools = nullptr, bool utf8 = false) {
    DWORD start = GetTickCount();
    std::string last;
    while (GetTickCount() - start < timeoutMs) {
        std::vector<Tool> now = painted(run, utf8);
        last = shown(now);
        if (last == wanted) {
            if (tools)
                *tools = now;
            return true;
        }
        Sleep(50);
    }
    std::fprintf(stderr, "  wanted: %s\n  shown:  %s\n", wanted.c_str(), last.c_str());
    return false;
}

int distance(COLORREF a, COLORREF b) {
    return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) +
           abs(GetBValue(a) - GetBValue(b));
}

COLORREF median(std::vector<COLORREF> colours) {
    std::sort(colours.begin(), colours.end(), [](COLORREF a, COLORREF b) {
        return GetRValue(a) + GetGValue(a) + GetBValue(a) <
               GetRValue(b) + GetGValue(b) + GetBValue(b);
    });
    return colours[colours.size() / 2];
}

// Pixels of text inside the client rectangle rect of the plug-in window, read from the screen:
// those far from both their row's and their column's usual colour, so that a gradient of the
// style in either direction counts as background.
int inkIn(const RECT& rect) {
    HWND window = FindWindowA("FeedMarquee", nullptr);
    POINT origin = {0, 0};
    long width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (window == nullptr || !ClientToScreen(window, &origin) || width <= 0 || height <= 0)
        return -1;
    HDC screen = GetDC(nullptr);
    std::vector<COLORREF> pixels(static_cast<size_t>(width * height));
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < width; ++x)
            pixels[y * width + x] =
                GetPixel(screen, origin.x + rect.left + x, origin.y + rect.top + y);
    ReleaseDC(nullptr, screen);
    std::vector<COLORREF> rowUsual(height), columnUsual(width);
    for (long y = 0; y < height; ++y)
        rowUsual[y] = median(
            std::vector<COLORREF>(pixels.begin() + y * width, pixels.begin() + (y + 1) * width));
    for (long x = 0; x < width; ++x) {
        std::vector<COLORREF> column;
        for (long y = 0; y < height; ++y)
            column.push_back(pixels[y * width + x]);
        columnUsual[x] = median(column);
    }
    int ink = 0;
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < width; ++x) {
            COLORREF c = pixels[y * width + x];
            ink += distance(c, rowUsual[y]) > 90 && distance(c, columnUsual[x]) > 90 ? 1 : 0;
        }
    return ink;
}

bool restart(SystemRun& run) {
    if (stopShell(run.shell) != 0)
        return false;
    run.shell = ShellSession{};
    return startShell(run.shell, run.folder.path,
                      "--exec-log " + run.folder.file("exec.log") + " " + run.pluginFolder +
                          "FeedMarquee.dll " + run.folder.file("system_probe.dll"));
}

} // namespace

TEST(feeds_together_and_in_turn_with_new_marks_kept_across_a_restart) {
    FeedServer fine, slow, flaky;
    REQUIRE(startFeedServer(fine) && startFeedServer(slow) && startFeedServer(flaky));
    setFeedResponse(fine, answerFeed,
                    rssWithItems("Fine Daily", {"F1@Tue, 08 Dec 2026 10:00:00 GMT",
                                                "F2@Tue, 08 Dec 2026 08:00:00 GMT"}));
    setFeedResponse(slow, answerFeed, rssWithItems("Slow", {"S1@Tue, 08 Dec 2026 11:00:00 GMT"}),
                    60000);
    setFeedResponse(
        flaky, answerFeed,
        rssWithItems("Flaky Wire", {"K1@2026-12-08T09:00:00Z", "K2@2026-12-08T07:00:00Z"}));
    std::string rc = "feedmarquee.show: together\nfeedmarquee.width: 260\n"
                     "feedmarquee.fav0.url: " +
                     feedServerUrl(fine, "/f") +
                     "\n"
                     "feedmarquee.fav0.title: Fine\n"
                     "feedmarquee.fav1.url: " +
                     feedServerUrl(slow, "/s") +
                     "\n"
                     "feedmarquee.fav2.url: " +
                     feedServerUrl(flaky, "/k") + "\n";
    SystemRun run({{"feedmarquee.rc", rc}});
    REQUIRE(run.started);

    // Merged newest first with the feeds' names; the slow feed holds up neither of the others.
    DWORD start = GetTickCount();
    CHECK(waitShown(run, "3 feeds | Fine: F1 | Flaky Wire: K1 | Fine: F2 | Flaky Wire: K2", 10000));
    std::printf("  two of three feeds shown after %lu ms, the slow one still loading\n",
                static_cast<unsigned long>(GetTickCount() - start));

    // The flaky feed fails: its items stay, marked stale, and its health line names the reason.
    // A new item in the fine feed is drawn in bold and counted in the header.
    setFeedResponse(flaky, closeAtOnce, "");
    setFeedResponse(
        fine, answerFeed,
        rssWithItems("Fine Daily",
                     {"F00@Tue, 08 Dec 2026 13:00:00 GMT", "F0@Tue, 08 Dec 2026 12:00:00 GMT",
                      "F1@Tue, 08 Dec 2026 10:00:00 GMT", "F2@Tue, 08 Dec 2026 08:00:00 GMT"}));
    REQUIRE(broadcast(run, "@FeedMarqueeUpdateNow"));
    std::vector<Tool> tools;
    const std::string rest = " | Fine: F00 | Fine: F0 | Fine: F1 | [stale]  Flaky Wire: K1 | "
                             "Fine: F2 | [stale]  Flaky Wire: K2";
    CHECK(waitShown(run, "3 feeds  (2 new)" + rest, 10000, &tools));
    REQUIRE(tools.size() == 7);
    std::string tip = tools[0].text;
    CHECK(tip.find("\nFlaky Wire: Failed ") != std::string::npos);
    int boldInk = inkIn(tools[2].rect);

    // Resting the mouse on a new item until its tip shows: seen, one new item left.
    POINT over = {(tools[1].rect.left + tools[1].rect.right) / 2,
                  (tools[1].rect.top + tools[1].rect.bottom) / 2};
    bool seen = false;
    for (int nudge = 0; nudge < 40 && !seen; ++nudge) {
        command(run,
                "mouse move " + std::to_string(over.x + nudge % 2) + " " + std::to_string(over.y));
        Sleep(200);
        std::vector<Tool> now = painted(run);
        seen = !now.empty() && now[0].text.substr(0, now[0].text.find('\n')) == "3 feeds  (1 new)";
    }
    CHECK(seen);
    command(run, "mouse leave");

    // In turn: the first feed with its place among the three.
    REQUIRE(broadcast(run, "@FeedMarqueeShow inTurn"));
    CHECK(waitShown(run, "Fine  1/3  (1 new) | F00 | F0 | F1 | F2", 5000));
    REQUIRE(broadcast(run, "@FeedMarqueeShow together"));

    // The marks survive a restart; every feed's saved items show at once, before any answer.
    setFeedResponse(fine, answerFeed, rssWithItems("Fine Daily", {}), 60000);
    setFeedResponse(flaky, answerFeed, rssWithItems("Flaky Wire", {}), 60000);
    REQUIRE(restart(run));
    start = GetTickCount();
    const std::string saved = " | Fine: F00 | Fine: F0 | Fine: F1 | Flaky Wire: K1 | Fine: F2 | "
                              "Flaky Wire: K2";
    CHECK(waitShown(run, "3 feeds  (1 new)" + saved, 10000, &tools));
    std::printf("  saved items of every feed shown %lu ms after the restart\n",
                static_cast<unsigned long>(GetTickCount() - start));

    // Mark All Read: the bold weight and the count go.
    REQUIRE(broadcast(run, "@FeedMarqueeMarkAllRead"));
    CHECK(waitShown(run, "3 feeds" + saved, 5000, &tools));
    int plainInk = inkIn(tools.size() > 2 ? tools[2].rect : RECT{});
    std::printf("  ink of the new line %d, of the same line read %d\n", boldInk, plainInk);
    CHECK(boldInk > plainInk && plainInk > 0);

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(fine);
    stopFeedServer(slow);
    stopFeedServer(flaky);
}

namespace {

// The screen reader's name of the window's child id, through oleacc as another process reads it.
std::wstring readerName(IAccessible* list, LONG id) {
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    BSTR name = nullptr;
    std::wstring out = SUCCEEDED(list->get_accName(child, &name)) && name ? name : L"(none)";
    SysFreeString(name);
    return out;
}

// The times (GetTickCount) at which each server's request count grew, sampled every 100 ms.
struct RequestTimes {
    std::vector<FeedServer*> servers;
    std::vector<std::vector<DWORD>> times;
    void sample() {
        times.resize(servers.size());
        for (size_t i = 0; i < servers.size(); ++i)
            while (static_cast<long>(times[i].size()) < feedRequests(*servers[i]))
                times[i].push_back(GetTickCount());
    }
    // Samples until wanted() holds or timeoutMs passed.
    template <typename Wanted> bool waitFor(Wanted wanted, DWORD timeoutMs) {
        DWORD start = GetTickCount();
        for (sample(); !wanted(); sample()) {
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(100);
        }
        return true;
    }
};

} // namespace

// Each favourite's own settings from the settings file and the Feed Settings command, through the
// stand-in shell: a feed updated every minute beside one at the global hour, one whose interval is
// shortened while it runs, a feed's own User-Agent, a feed's own hide word, a muted favourite, and
// favourite titles in Cyrillic, Japanese and with accents drawn and read to a screen reader.
TEST(each_feed_its_own_interval_agent_words_and_mute_with_titles_in_every_script) {
    CoInitialize(nullptr);
    FeedServer minute, hourly, cafe, muted;
    REQUIRE(startFeedServer(minute) && startFeedServer(hourly) && startFeedServer(cafe) &&
            startFeedServer(muted));
    setFeedResponse(minute, answerFeed,
                    rssWithItems("M", {"Secret A@Tue, 08 Dec 2026 12:00:00 GMT"}));
    setFeedResponse(hourly, answerFeed,
                    rssWithItems("H", {"Secret B@Tue, 08 Dec 2026 11:30:00 GMT",
                                       "B1@Tue, 08 Dec 2026 11:00:00 GMT"}));
    setFeedResponse(cafe, answerFeed, rssWithItems("C", {"C1@Tue, 08 Dec 2026 10:00:00 GMT"}));
    setFeedResponse(muted, answerFeed, rssWithItems("X", {"X1@Tue, 08 Dec 2026 13:00:00 GMT"}));
    std::string rc =
        "feedmarquee.show: together\nfeedmarquee.width: 400\n"
        "feedmarquee.updateInterval(min): 60\n"
        "feedmarquee.fav0.url: " +
        feedServerUrl(minute, "/m") +
        "\nfeedmarquee.fav0.title: Новости дня\nfeedmarquee.fav0.interval: 1\n"
        "feedmarquee.fav0.userAgent: PerFeedAgent/2.0\n"
        "feedmarquee.fav1.url: " +
        feedServerUrl(hourly, "/h") +
        "\nfeedmarquee.fav1.title: 日本のニュース\nfeedmarquee.fav1.hideWords: secret\n"
        "feedmarquee.fav2.url: " +
        feedServerUrl(cafe, "/c") +
        "\nfeedmarquee.fav2.title: Café Zürich\n"
        "feedmarquee.fav3.url: " +
        feedServerUrl(muted, "/x") +
        "\nfeedmarquee.fav3.title: Muted\nfeedmarquee.fav3.mute: true\n";
    SystemRun run({{"feedmarquee.rc", rc}});
    REQUIRE(run.started);
    RequestTimes requests{{&minute, &hourly, &cafe, &muted}, {}};

    // The hide word hides the hourly feed's item only; the muted favourite is neither fetched nor
    // shown; the titles are drawn whole.
    const std::string items = "Новости дня: Secret A | 日本のニュース: B1 | Café Zürich: C1";
    std::vector<Tool> tools;
    CHECK(waitShown(run, "3 feeds  (1 hidden) | " + items, 10000, &tools, true));
    requests.sample();
    CHECK(requests.times[0].size() == 1 && requests.times[1].size() == 1);
    CHECK_EQ(feedRequests(muted), 0L);
    CHECK(lastFeedRequest(minute).find("\r\nUser-Agent: PerFeedAgent/2.0\r\n") !=
          std::string::npos);
    CHECK(lastFeedRequest(hourly).find("\r\nUser-Agent: ") != std::string::npos);
    CHECK(lastFeedRequest(hourly).find("PerFeedAgent") == std::string::npos);

    // A screen reader in this process hears the titles whole.
    HWND window = FindWindowA("FeedMarquee", nullptr);
    IAccessible* list = nullptr;
    REQUIRE(window != nullptr &&
            SUCCEEDED(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                                 reinterpret_cast<void**>(&list))));
    const wchar_t* const titles[] = {L"Новости дня", L"日本のニュース", L"Café Zürich"};
    for (LONG id = 1; id <= 3; ++id)
        CHECK(readerName(list, id).find(titles[id - 1]) != std::wstring::npos);
    list->Release();

    // The café feed's interval shortened to a minute now applies at once: it is fetched again a
    // minute after its last pass, as the minute feed is, while the hourly one is not.
    REQUIRE(broadcast(run, "@FeedMarqueeFeedSetting 2 interval 1"));
    CHECK(requests.waitFor(
        [&] { return requests.times[0].size() >= 2 && requests.times[2].size() >= 2; }, 100000));
    if (requests.times[0].size() >= 2 && requests.times[2].size() >= 2) {
        DWORD minuteGap = requests.times[0][1] - requests.times[0][0];
        DWORD cafeGap = requests.times[2][1] - requests.times[2][0];
        std::printf("  second requests after %lu ms (own minute) and %lu ms (shortened)\n",
                    static_cast<unsigned long>(minuteGap), static_cast<unsigned long>(cafeGap));
        CHECK(minuteGap > 45000 && cafeGap > 45000);
    }
    CHECK_EQ(requests.times[1].size(), size_t(1));
    CHECK_EQ(feedRequests(muted), 0L);
    CHECK(lastFeedRequest(minute).find("PerFeedAgent/2.0") != std::string::npos);

    CHECK_EQ(stopShell(run.shell), 0);
    for (FeedServer* server : {&minute, &hourly, &cafe, &muted})
        stopFeedServer(*server);
    CoUninitialize();
}
