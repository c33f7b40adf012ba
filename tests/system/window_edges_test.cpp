// The window's edges through the stand-in shell, read back in pixels from its screenshots.
#include "tests/support/check.h"
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"
#include "tests/system/system_run.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Bitmap {
    int width = 0, height = 0;
    std::vector<unsigned char> bytes; // 24-bit rows, bottom-up, as the shell writes them
    int brightness(int x, int y) const {
        size_t row = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
        size_t at = row * (height - 1 - y) + static_cast<size_t>(x) * 3;
        return bytes[at] + bytes[at + 1] + bytes[at + 2];
    }
};

// The plug-in window's client area as the shell's screenshot command saves it.
bool screenshot(SystemRun& run, Bitmap& bitmap) {
    std::string path = run.folder.file("shot.bmp");
    DeleteFileA(path.c_str());
    if (!command(run, "screenshot plugin " + path))
        return false;
    std::string data = readFileText(path);
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M')
        return false;
    auto number = [&](size_t at) {
        return static_cast<int>(static_cast<unsigned char>(data[at]) |
                                static_cast<unsigned char>(data[at + 1]) << 8 |
                                static_cast<unsigned char>(data[at + 2]) << 16 |
                                static_cast<unsigned char>(data[at + 3]) << 24);
    };
    bitmap.width = number(18);
    bitmap.height = number(22);
    bitmap.bytes.assign(data.begin() + number(10), data.end());
    return bitmap.width > 0 && bitmap.height > 0 &&
           bitmap.bytes.size() >= ((static_cast<size_t>(bitmap.width) * 3 + 3) & ~3u) *
                                      static_cast<size_t>(bitmap.height);
}

// The health line, once the plug-in's first pass has ended (bounded).
std::string healthAfterFirstPass(SystemRun& run) {
    const std::string marker = "@FeedMarqueeHealthReport ";
    std::string health;
    for (int tries = 0; tries < 100; ++tries) {
        command(run, "record-clear");
        broadcast(run, "@FeedMarqueeHealth");
        for (const std::string& line : shellCommand(run.shell, "record").lines)
            if (line.compare(0, 9, "broadcast") == 0 && line.find(marker) != std::string::npos)
                health = line.substr(line.find(marker) + marker.size());
        if (health.compare(0, 7, "Updated") == 0 || health.compare(0, 6, "Failed") == 0)
            break;
        Sleep(100);
    }
    return health;
}

// The layout inset: the shell's two border values (style indices 14 and 12).
int shellInset(SystemRun& run) {
    int inset = 0;
    for (const std::string& line : shellCommand(run.shell, "style").lines)
        if (line.compare(0, 3, "12 ") == 0 || line.compare(0, 3, "14 ") == 0)
            inset += std::atoi(line.c_str() + 3);
    return inset;
}

// Titles and descriptions whose words end lines close to the right edge at one width or another.
const char edgeFeed[] =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Edges and margins of the "
    "window</title><link>http://127.0.0.1/</link>"
    "<item><title>Minister says the government is not responsible for the delays</title>"
    "<description>The committee held the ministry responsible and asked for answers before "
    "Russ. and others could respond to the claims made on Monday morning</description></item>"
    "<item><title>Talks with Russ. delegation resume on Monday morning in Geneva</title>"
    "<description>Members of the commission meet again on Tuesday to continue the discussion "
    "of the summer programme with the museum and the municipal administration</description>"
    "</item></channel></rss>";

// The settings of the pixel tests: the plug-in's own font in white on the shell's dark default
// style, nothing highlighted.
std::string pixelSettings(const std::string& feedUrl) {
    return "feedmarquee.x: 30\nfeedmarquee.y: 30\nfeedmarquee.width: 200\n"
           "feedmarquee.height: 320\nfeedmarquee.useRefFont: false\n"
           "feedmarquee.font: Tahoma\nfeedmarquee.fontHeight: 13\n"
           "feedmarquee.fontColor: #ffffff\nfeedmarquee.highlight: 0\n"
           "feedmarquee.showBorder: false\nfeedmarquee.showDesc: true\n"
           "feedmarquee.wordWrap: true\nfeedmarquee.feedUrl: " +
           feedUrl + "\n";
}

const int inkBrightness = 540; // brighter than any colour of the shell's default style

// The lines of text in the screenshot, top to bottom, as the horizontal extent of their ink
// (right exclusive). A blank row or two inside a line (the dot of an i) does not split it.
std::vector<std::pair<int, int>> textLines(const Bitmap& shot) {
    std::vector<std::pair<int, int>> lines;
    int blank = 3;
    for (int y = 0; y < shot.height; ++y) {
        int left = shot.width, right = 0;
        for (int x = 0; x < shot.width; ++x)
            if (shot.brightness(x, y) > inkBrightness) {
                left = left < x ? left : x;
                right = x + 1;
            }
        if (right == 0) {
            ++blank;
            continue;
        }
        if (blank > 2)
            lines.push_back({left, right});
        std::pair<int, int>& line = lines.back();
        line.first = left < line.first ? left : line.first;
        line.second = right > line.second ? right : line.second;
        blank = 0;
    }
    return lines;
}

// The width of the ink of text drawn here in the pixel tests' font: what the window shows for it.
int inkWidth(const wchar_t* text) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 600, 40);
    HGDIOBJ keptBitmap = SelectObject(dc, bitmap);
    HFONT font = CreateFontA(13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                             0, "Tahoma");
    HGDIOBJ keptFont = SelectObject(dc, font);
    RECT all = {0, 0, 600, 40};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &all, DT_NOPREFIX | DT_SINGLELINE);
    int left = 600, right = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 600; ++x) {
            COLORREF c = GetPixel(dc, x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) > inkBrightness) {
                left = left < x ? left : x;
                right = right > x + 1 ? right : x + 1;
            }
        }
    SelectObject(dc, keptFont);
    DeleteObject(font);
    SelectObject(dc, keptBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return right > left ? right - left : 0;
}

} // namespace

TEST(couldnt_connect_says_why_underneath_and_without_an_address_where_to_set_one) {
    SystemRun run({{"feedmarquee.rc", pixelSettings("")}});
    REQUIRE(run.started);
    REQUIRE(healthAfterFirstPass(run).compare(0, 6, "Failed") == 0);
    const wchar_t hint[] = L"Right-click: RSS \x2192 Feed URL";
    const wchar_t notFound[] = L"HTTP 404 Not Found";
    REQUIRE(inkWidth(hint) != inkWidth(notFound));

    // The header says "Couldn't connect!"; the line under it is the one asked for, told by the
    // width of its ink.
    auto secondLineShows = [&](const wchar_t* text) {
        Bitmap shot;
        if (!screenshot(run, shot))
            return false;
        std::vector<std::pair<int, int>> lines = textLines(shot);
        int expected = inkWidth(text);
        int seen = lines.size() == 2 ? lines[1].second - lines[1].first : -1;
        if (lines.size() != 2 || seen < expected - 1 || seen > expected + 1)
            std::printf("%d lines; the second %d pixels wide, expected %d\n",
                        static_cast<int>(lines.size()), seen, expected);
        return lines.size() == 2 &&
               lines[0].second - lines[0].first == inkWidth(L"Couldn't connect!") &&
               seen >= expected - 1 && seen <= expected + 1;
    };
    CHECK(secondLineShows(hint));

    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerRaw,
                    "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
                    "\r\nNot here.");
    REQUIRE(broadcast(run, "@FeedMarqueeFeedUrl " + feedServerUrl(server, "/gone.xml")));
    std::string health;
    for (int tries = 0; tries < 100 && health.find("404") == std::string::npos; ++tries) {
        Sleep(100);
        health = healthAfterFirstPass(run);
    }
    CHECK(health.find("HTTP 404 Not Found") != std::string::npos);
    CHECK(secondLineShows(notFound));

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(server);
}

TEST(text_reaching_the_right_edge_keeps_its_last_letter_and_its_ellipsis) {
    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed, edgeFeed);
    std::string rc = pixelSettings(feedServerUrl(server, "/feed.xml"));
    SystemRun run({{"feedmarquee.rc", rc}});
    REQUIRE(run.started);
    REQUIRE(healthAfterFirstPass(run).compare(0, 7, "Updated") == 0);
    int inset = shellInset(run);

    // Text is clipped at the right edge of its rectangle (the client width less twice the
    // inset): a cut letter or ellipsis leaves ink in that rectangle's last column. White text on
    // the shell's dark default style; anything brighter than the style's colours is ink.
    int linesChecked = 0;
    for (bool wrap : {true, false}) {
        if (!wrap)
            REQUIRE(broadcast(run, "@FeedMarqueeWordWrap"));
        for (int width = 170; width <= 290; width += 6) {
            REQUIRE(broadcast(run, "@FeedMarqueeWidthSize " + std::to_string(width)));
            Bitmap shot;
            REQUIRE(screenshot(run, shot));
            REQUIRE(shot.width == width);
            int lastColumn = width - 2 * inset - 1;
            int inkRows = 0, anyInk = 0;
            for (int y = inset; y < shot.height - inset; ++y) {
                inkRows += shot.brightness(lastColumn, y) > inkBrightness;
                for (int x = lastColumn - 12; x < lastColumn; ++x)
                    anyInk += shot.brightness(x, y) > inkBrightness;
            }
            if (inkRows)
                std::printf("width %d, %s: ink in the last column on %d rows\n", width,
                            wrap ? "wrapped" : "one line", inkRows);
            CHECK_EQ(inkRows, 0);
            linesChecked += anyInk > 0;
        }
    }
    // The text did come close to the edge: the check looked at something.
    CHECK(linesChecked > 10);

    CHECK_EQ(stopShell(run.shell), 0);
    stopFeedServer(server);
}

TEST(a_window_saved_off_every_screen_comes_back_at_start_and_after_a_reload) {
    std::string rc = "feedmarquee.x: -3000\nfeedmarquee.y: -2000\nfeedmarquee.width: 220\n"
                     "feedmarquee.height: 120\n";
    SystemRun run({{"feedmarquee.rc", rc}});
    REQUIRE(run.started);
    const long screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const long screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    // The window's place as the shell sees it, and whether all of it is on the screen.
    auto placeOnScreen = [&](long& left, long& top) {
        std::vector<std::string> lines = shellCommand(run.shell, "window plugin").lines;
        long width = 0, height = 0;
        char handle[32];
        if (lines.empty() || std::sscanf(lines[0].c_str(), "%31s %ld %ld %ld %ld", handle, &left,
                                         &top, &width, &height) != 5)
            return false;
        return width == 220 && height == 120 && left >= 0 && top >= 0 &&
               left + width <= screenWidth && top + height <= screenHeight;
    };
    long left = 0, top = 0;
    CHECK(placeOnScreen(left, top));

    // A hand-edited place left of every monitor, reloaded: it comes back to the left edge at the
    // same height.
    writeFileText(run.settingsFile(), "feedmarquee.x: -5000\nfeedmarquee.y: 300\n"
                                      "feedmarquee.width: 220\nfeedmarquee.height: 120\n");
    REQUIRE(broadcast(run, "@FeedMarqueeReloadSettings"));
    CHECK(placeOnScreen(left, top));
    CHECK_EQ(top, 300L);
    // A place brought back is no change of the plug-in's: a save keeps the user's value.
    REQUIRE(broadcast(run, "@FeedMarqueeSaveSettings"));
    CHECK(readFileText(run.settingsFile()).find("feedmarquee.x: -5000\n") != std::string::npos);
    CHECK_EQ(stopShell(run.shell), 0);
}

TEST(a_hand_edit_of_the_settings_file_is_picked_up_and_survives_quitting) {
    std::string rc = "# mine\r\nfeedmarquee.x: 40\r\nfeedmarquee.y: 40\r\nfeedmarquee.width: 220\r\n"
                     "feedmarquee.height: 120\r\nfeedmarquee.alpha: 160\r\n";
    SystemRun run({{"feedmarquee.rc", rc}});
    REQUIRE(run.started);
    auto width = [&] {
        std::vector<std::string> lines = shellCommand(run.shell, "window plugin").lines;
        long left = 0, top = 0, w = 0, h = 0;
        char handle[32];
        if (lines.empty() || std::sscanf(lines[0].c_str(), "%31s %ld %ld %ld %ld", handle, &left,
                                         &top, &w, &h) != 5)
            return 0L;
        return w;
    };
    CHECK_EQ(width(), 220L);
    REQUIRE(broadcast(run, "@FeedMarqueeAlphaValue 99")); // written at once
    std::string text = readFileText(run.settingsFile());
    text.replace(text.find("width: 220"), 10, "width: 333");
    writeFileText(run.settingsFile(), text);
    DWORD start = GetTickCount();
    while (width() != 333 && GetTickCount() - start < 5000)
        Sleep(100);
    CHECK_EQ(width(), 333L);
    CHECK_EQ(stopShell(run.shell), 0);
    CHECK_EQ(readFileText(run.settingsFile()),
             "# mine\r\nfeedmarquee.x: 40\r\nfeedmarquee.y: 40\r\nfeedmarquee.width: 333\r\n"
             "feedmarquee.height: 120\r\nfeedmarquee.alpha: 99\r\n");
}
