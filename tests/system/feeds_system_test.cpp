// Every favourite in one window, through the stand-in shell: three feed servers on 127.0.0.1 (a
// fine one, a slow one and one that fails after its first answer), the window read back through
// the tooltip tools the paint registers (see system_test.cpp) and through its pixels, and a
// restart that shows every feed's saved items at once with the new marks kept.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"
#include "tests/system/system_run.h"

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

// The tools as painted now (one per entry, top to bottom), after one more paint.
std::vector<Tool> painted(SystemRun& run) {
    std::vector<Tool> tools;
    std::string path = run.folder.file("probe.txt");
    DeleteFileA(path.c_str());
    if (!broadcast(run, "@SystemProbe tools repainted"))
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
               std::vector<Tool>* tools = nullptr) {
    DWORD start = GetTickCount();
    std::string last;
    while (GetTickCount() - start < timeoutMs) {
        std::vector<Tool> now = painted(run);
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
