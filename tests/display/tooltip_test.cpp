// The tooltip under Wine with the real common controls, seen through the control's own answers:
// one tool per painted entry with its rectangle and text, the length limit, the sweep, quiet
// repaints, the settings the control is given, and a tip that actually shows on a mouse move.
#include "display/font_fallback.h"
#include "display/formatted_tip.h"
#include "display/script_text.h"
#include "tests/display/display_fixture.h"
#include "tests/support/check.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

using namespace fixture;

namespace {

// Counts the tooltip messages (TTM_*) the control receives.
WNDPROC controlProc = nullptr;
int controlMessages = 0;
LRESULT CALLBACK countingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER && message < WM_USER + 0x100)
        ++controlMessages;
    return CallWindowProcA(controlProc, window, message, wParam, lParam);
}
void startCounting() {
    controlMessages = 0;
    controlProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tooltipWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingProc)));
}
void stopCounting() {
    SetWindowLongPtrA(tooltipWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(controlProc));
}

// Relays a mouse move at a client point and waits (bounded) for the tip to show.
bool tipShowsAt(HWND window, POINT client, int waitMilliseconds) {
    POINT screen = client;
    ClientToScreen(window, &screen);
    SetCursorPos(screen.x, screen.y);
    relayMouseToTooltip(window, screen);
    for (int waited = 0; waited < waitMilliseconds; waited += 20) {
        pumpMessages(20);
        if (IsWindowVisible(tooltipWindow))
            return true;
    }
    return false;
}

POINT middleOf(const ViewEntry* entry) {
    return POINT{(laidOutRect(entry).left + laidOutRect(entry).right) / 2,
                 (laidOutRect(entry).top + laidOutRect(entry).bottom) / 2};
}

// The text of the tool the control finds at point (client coordinates): the one it would show.
std::wstring toolTextAt(HWND window, POINT point) {
    TTHITTESTINFOW hit = {};
    hit.hwnd = window;
    hit.pt = point;
    hit.ti.cbSize = sizeof hit.ti;
    if (!SendMessageW(tooltipWindow, TTM_HITTESTW, 0, reinterpret_cast<LPARAM>(&hit)))
        return L"<none>";
    static WCHAR text[4096];
    text[0] = 0;
    TOOLINFOW query = {};
    query.cbSize = sizeof query;
    query.hwnd = hit.ti.hwnd;
    query.uId = hit.ti.uId;
    query.lpszText = text;
    SendMessageW(tooltipWindow, TTM_GETTEXTW, sizeof text / sizeof text[0],
                 reinterpret_cast<LPARAM>(&query));
    return text;
}

// Draws source (HTML as it stands) formatted for width and maxHeight in the GUI font; the size the
// layout reported is left in *size.
void drawFormatted(InkCanvas& canvas, const char* source, int width, int maxHeight,
                   SIZE* size = nullptr, const wchar_t* header = nullptr) {
    RECT all = {0, 0, canvas.width, canvas.height};
    FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    GdiFlush();
    FormattedDescription* document = formatDescription(source, strlen(source), RawHtml);
    FormattedTip* tip =
        layoutFormattedTip(canvas.dc, nullptr, header, header != nullptr ? wcslen(header) : 0,
                           document, width, maxHeight);
    SetTextColor(canvas.dc, RGB(0, 0, 0));
    drawFormattedTip(canvas.dc, tip, 0, 0);
    GdiFlush();
    if (size != nullptr)
        *size = formattedTipSize(tip);
    freeFormattedTip(tip);
    freeFormattedDescription(document);
}

bool inked(const InkCanvas& canvas, int x, int y) {
    return (canvas.pixels[y * canvas.width + x] & 0xFFFFFF) != 0xFFFFFF;
}

// Ink counted in a rectangle of the canvas.
int inkIn(const InkCanvas& canvas, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            count += inked(canvas, x, y) ? 1 : 0;
    return count;
}

// The bands of rows with ink, top to bottom: [top, bottom) of each.
std::vector<std::pair<int, int>> inkBands(const InkCanvas& canvas) {
    std::vector<std::pair<int, int>> bands;
    for (int y = 0; y < canvas.height; ++y) {
        bool any = inkIn(canvas, 0, y, canvas.width, y + 1) > 0;
        if (any && (bands.empty() || bands.back().second != y))
            bands.push_back({y, y + 1});
        else if (any)
            bands.back().second = y + 1;
    }
    return bands;
}

int leftmostInk(const InkCanvas& canvas) {
    for (int x = 0; x < canvas.width; ++x)
        if (inkIn(canvas, x, 0, x + 1, canvas.height) > 0)
            return x;
    return -1;
}

int rightmostInk(const InkCanvas& canvas) {
    for (int x = canvas.width - 1; x >= 0; --x)
        if (inkIn(canvas, x, 0, x + 1, canvas.height) > 0)
            return x;
    return -1;
}

// Writes the screen's pixels in rect to path as a 24-bit BMP (for the README's picture).
void saveScreen(const RECT& rect, const char* path) {
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    InkCanvas canvas = newCanvas(width, height);
    HDC screen = GetDC(nullptr);
    BitBlt(canvas.dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    GdiFlush();
    FILE* file = fopen(path, "wb");
    if (file != nullptr) {
        int rowBytes = (width * 3 + 3) & ~3;
        BITMAPFILEHEADER header = {};
        BITMAPINFOHEADER info = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info;
        header.bfSize = header.bfOffBits + rowBytes * height;
        info.biSize = sizeof info;
        info.biWidth = width;
        info.biHeight = height;
        info.biPlanes = 1;
        info.biBitCount = 24;
        fwrite(&header, sizeof header, 1, file);
        fwrite(&info, sizeof info, 1, file);
        std::vector<unsigned char> row(rowBytes);
        for (int y = height - 1; y >= 0; --y) {
            for (int x = 0; x < width; ++x)
                memcpy(&row[x * 3], &canvas.pixels[y * width + x], 3);
            fwrite(row.data(), 1, rowBytes, file);
        }
        fclose(file);
    }
    freeCanvas(canvas);
}

// The first and last column with ink in rows [top, bottom), or {-1, -1}.
std::pair<int, int> inkColumnsIn(const InkCanvas& canvas, int top, int bottom) {
    std::pair<int, int> columns = {-1, -1};
    for (int x = 0; x < canvas.width; ++x)
        if (inkIn(canvas, x, top, x + 1, bottom) > 0) {
            columns.first = columns.first < 0 ? x : columns.first;
            columns.second = x;
        }
    return columns;
}

// The canvas's ink inside the box around it, with the box's size first: the same drawing gives
// the same box wherever it stands.
std::vector<uint32_t> inkBox(const InkCanvas& canvas) {
    std::vector<std::pair<int, int>> bands = inkBands(canvas);
    std::vector<uint32_t> box;
    if (bands.empty())
        return box;
    int top = bands.front().first, bottom = bands.back().second;
    std::pair<int, int> columns = inkColumnsIn(canvas, top, bottom);
    box.push_back(columns.second - columns.first + 1);
    box.push_back(bottom - top);
    for (int y = top; y < bottom; ++y)
        for (int x = columns.first; x <= columns.second; ++x)
            box.push_back(canvas.pixels[y * canvas.width + x] & 0xFFFFFF);
    return box;
}

// text in the GUI font through the script engine: as one stretch read in its direction, or each
// character on its own, in the visual order of a text read that way.
void drawPlain(InkCanvas& canvas, const std::wstring& text, bool rightToLeft, bool oneByOne) {
    RECT all = {0, 0, canvas.width, canvas.height};
    FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ old = SelectObject(canvas.dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(canvas.dc, TRANSPARENT);
    UINT flags = DT_SINGLELINE | DT_NOPREFIX | (rightToLeft ? DT_RTLREADING : 0);
    if (!oneByOne) {
        RECT rect = {10, 10, canvas.width, canvas.height};
        drawScriptText(canvas.dc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
    }
    for (size_t i = 0, x = 10; oneByOne && i < text.size(); ++i) {
        wchar_t c = rightToLeft ? text[text.size() - 1 - i] : text[i];
        RECT rect = {static_cast<LONG>(x), 10, canvas.width, canvas.height};
        drawScriptText(canvas.dc, &c, 1, &rect, flags);
        RECT measured = {0, 0, canvas.width, 0};
        drawScriptText(canvas.dc, &c, 1, &measured, flags | DT_CALCRECT);
        x += measured.right;
    }
    SelectObject(canvas.dc, old);
    GdiFlush();
}

} // namespace

TEST(a_formatted_tip_draws_styles_markers_and_stays_in_its_width) {
    InkCanvas canvas = newCanvas(400, 300);
    // Bold: the same word in two paragraphs, the second bold, inks more.
    drawFormatted(canvas, "<p>Harbour</p><p><b>Harbour</b></p>", 300, 300);
    std::vector<std::pair<int, int>> bands = inkBands(canvas);
    REQUIRE(bands.size() == 2);
    CHECK(inkIn(canvas, 0, bands[1].first, 400, bands[1].second) >
          inkIn(canvas, 0, bands[0].first, 400, bands[0].second) * 11 / 10);

    // A bullet hangs before its item: against the same item without a marker, the only change is
    // ink left of where the item's text starts.
    drawFormatted(canvas, "<ul>Harbour</ul>", 300, 300);
    int textLeft = leftmostInk(canvas);
    int plainInk = inkIn(canvas, 0, 0, 400, 300);
    drawFormatted(canvas, "<ul><li>Harbour</ul>", 300, 300);
    CHECK(textLeft > 4);
    CHECK(inkIn(canvas, 0, 0, textLeft - 1, 300) > 0);
    CHECK_EQ(inkIn(canvas, textLeft, 0, 400, 300), plainInk);

    // Deeper quotation levels start further right.
    drawFormatted(canvas, "<blockquote>Harbour</blockquote>", 300, 300);
    int quoted = leftmostInk(canvas);
    drawFormatted(canvas, "<blockquote><blockquote>Harbour</blockquote></blockquote>", 300, 300);
    CHECK(quoted > 4 && leftmostInk(canvas) > quoted);

    // Wrapped to the width, a word longer than a line broken: no ink past it, several lines.
    SIZE size = {};
    drawFormatted(
        canvas,
        "<p>Boats <i>leave</i> the harbour at dawn and come back <b>late</b> at night "
        "Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch <code>x = 1</code></p>",
        120, 300, &size);
    CHECK(rightmostInk(canvas) < 120);
    CHECK(size.cx <= 120);
    CHECK(inkBands(canvas).size() >= 4);

    // Taller than the room: whole lines within it, the last ending in "…".
    std::string many;
    for (int i = 0; i < 40; ++i)
        many += "<p>line " + std::to_string(i) + "</p>";
    drawFormatted(canvas, many.c_str(), 300, 100, &size);
    CHECK(size.cy <= 100 && size.cy > 50);
    bands = inkBands(canvas);
    REQUIRE(!bands.empty());
    CHECK(bands.back().second <= 100);
    freeCanvas(canvas);
}

TEST(a_formatted_tip_reads_each_block_in_its_own_direction) {
    InkCanvas canvas = newCanvas(400, 300);
    SIZE size = {};
    // Under a wide left-to-right paragraph, a block of a right-to-left script starts at the
    // tip's right edge.
    const std::string wide = "<p>Harbour news for the whole coast today</p>";
    const char* rightToLeft[] = {
        "<p>\xD7\x97\xD7\x93\xD7\xA9\xD7\x95\xD7\xAA</p>",                    // Hebrew
        "<p>\xD8\xA3\xD8\xAE\xD8\xA8\xD8\xA7\xD8\xB1</p>",                    // Arabic
        "<h3>\xD7\x97\xD7\x93\xD7\xA9\xD7\x95\xD7\xAA</h3>",                  // a heading
        "<p>2026: \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D and more</p>",             // first strong
        "<p><i>\xD8\xA3\xD8\xAE\xD8\xA8\xD8\xA7\xD8\xB1</i> <b>news</b></p>", // styles mixed
    };
    for (const char* block : rightToLeft) {
        drawFormatted(canvas, (wide + block).c_str(), 300, 300, &size);
        std::vector<std::pair<int, int>> bands = inkBands(canvas);
        REQUIRE(bands.size() >= 2);
        CHECK(inkColumnsIn(canvas, bands[0].first, bands[0].second).first <= 2);
        std::pair<int, int> line = inkColumnsIn(canvas, bands.back().first, bands.back().second);
        CHECK(line.second >= size.cx - 8 && line.second < size.cx);
        CHECK(line.first > size.cx / 3);
    }

    // So does a right-to-left header line.
    drawFormatted(canvas, wide.c_str(), 300, 300, &size, L"\u05D7\u05D3\u05E9\u05D5\u05EA 12:30");
    std::pair<int, int> head = inkBands(canvas).front();
    std::pair<int, int> headInk = inkColumnsIn(canvas, head.first, head.second);
    CHECK(headInk.second >= size.cx - 8 && headInk.first > size.cx / 3);

    // A list item's marker hangs on the right: against the same item without one, the only change
    // is ink right of the item's text.
    const std::string hebrew = "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D";
    drawFormatted(canvas, (wide + "<ul>" + hebrew + "</ul>").c_str(), 300, 300);
    std::pair<int, int> item = inkBands(canvas).back();
    int textRight = inkColumnsIn(canvas, item.first, item.second).second;
    int textInk = inkIn(canvas, 0, item.first, textRight + 1, item.second);
    drawFormatted(canvas, (wide + "<ul><li>" + hebrew + "</li></ul>").c_str(), 300, 300);
    CHECK(inkIn(canvas, textRight + 2, item.first, 400, item.second) > 0);
    CHECK_EQ(inkIn(canvas, 0, item.first, textRight + 1, item.second), textInk);
    // A quotation is indented from the right.
    drawFormatted(canvas, (wide + "<p>" + hebrew + "</p>").c_str(), 300, 300);
    int plainRight = rightmostInk(canvas);
    drawFormatted(canvas, (wide + "<blockquote>" + hebrew + "</blockquote>").c_str(), 300, 300);
    item = inkBands(canvas).back();
    CHECK(inkColumnsIn(canvas, item.first, item.second).second < plainRight - 8);

    // Wrapped in a narrow tip, every line of a right-to-left paragraph starts at the right, and
    // nothing (an italic's overhang included) inks past the width.
    drawFormatted(canvas,
                  "<p><i>\xD7\x97\xD7\x93\xD7\xA9\xD7\x95\xD7\xAA \xD7\x94\xD7\xA2\xD7\xA8\xD7\x91"
                  " \xD7\x94\xD7\x9E\xD7\x9E\xD7\xA9\xD7\x9C\xD7\x94 \xD7\x90\xD7\x99\xD7\xA9"
                  "\xD7\xA8\xD7\x94 \xD7\x90\xD7\xAA \xD7\x94\xD7\xAA\xD7\xA7\xD7\xA6\xD7\x99"
                  "\xD7\x91 \xD7\x94\xD7\x97\xD7\x93\xD7\xA9</i></p>",
                  120, 300, &size);
    std::vector<std::pair<int, int>> lines = inkBands(canvas);
    CHECK(lines.size() >= 2);
    CHECK(rightmostInk(canvas) < 120 && size.cx <= 120);
    for (const std::pair<int, int>& line : lines)
        CHECK(inkColumnsIn(canvas, line.first, line.second).second >= size.cx - 8);

    // Mixed runs in logical order: in a left-to-right paragraph, the second word of a Hebrew
    // phrase stands left of the first, so its underline starts right after "see ".
    const std::string phrase = "<p>see \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D ";
    const std::string second = "\xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D";
    drawFormatted(canvas, (phrase + second + " here</p>").c_str(), 300, 300);
    std::vector<uint32_t> plain(canvas.pixels, canvas.pixels + 400 * 300);
    drawFormatted(canvas, (phrase + "<u>" + second + "</u> here</p>").c_str(), 300, 300);
    int underlineLeft = -1, underlineRight = -1;
    for (int x = 0; x < 400; ++x)
        for (int y = 0; y < 300; ++y)
            if (canvas.pixels[y * 400 + x] != plain[y * 400 + x]) {
                underlineLeft = underlineLeft < 0 ? x : underlineLeft;
                underlineRight = x;
            }
    drawPlain(canvas, L"see ", false, false);
    int seeRight = rightmostInk(canvas) - 10;
    drawPlain(canvas, L"see \u05E9\u05DC\u05D5\u05DD", false, false);
    int firstWordRight = rightmostInk(canvas) - 10;
    REQUIRE(underlineLeft >= 0);
    CHECK(underlineLeft <= seeRight + 8);
    CHECK(underlineRight < firstWordRight);

    // A line breaks before a word of another style or script as before any other word, not
    // inside it.
    drawFormatted(canvas, "<p>Harbour</p>", 300, 300);
    int alone = rightmostInk(canvas);
    for (const char* next : {"<b>Gazette</b>", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"}) {
        drawFormatted(canvas, (std::string("<p>Harbour ") + next + "</p>").c_str(), alone + 12,
                      300);
        lines = inkBands(canvas);
        REQUIRE(lines.size() == 2);
        CHECK_EQ(inkColumnsIn(canvas, lines[0].first, lines[0].second).second, alone);
    }
    freeCanvas(canvas);
}

TEST(a_formatted_tip_shapes_complex_scripts_and_takes_missing_characters_from_fallback_faces) {
    InkCanvas canvas = newCanvas(400, 100);
    struct Sample {
        const char* html;
        const wchar_t* text;
        bool rightToLeft, shaped;
    } samples[] = {
        {"<p>\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7</p>", L"\u0645\u0631\u062D\u0628\u0627", true,
         true},
        {"<p>\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87</p>",
         L"\u0928\u092E\u0938\u094D\u0924\u0947", false, true},
        {"<p>\xD7\x97\xD7\x93\xD7\xA9\xD7\x95\xD7\xAA</p>", L"\u05D7\u05D3\u05E9\u05D5\u05EA", true,
         false},
    };
    for (const Sample& sample : samples) {
        // The tip draws what the script engine draws for the whole word...
        drawFormatted(canvas, sample.html, 300, 100);
        std::vector<uint32_t> tip = inkBox(canvas);
        REQUIRE(!tip.empty());
        drawPlain(canvas, sample.text, sample.rightToLeft, false);
        CHECK(tip == inkBox(canvas));
        // ...which for a complex script is not its letters drawn one by one...
        drawPlain(canvas, sample.text, sample.rightToLeft, true);
        if (sample.shaped)
            CHECK(tip != inkBox(canvas));
        // ...and, for letters the tip's font lacks, not that font's boxes.
        fontFallbackEnabled = false;
        drawFormatted(canvas, sample.html, 300, 100);
        fontFallbackEnabled = true;
        if (!sample.shaped)
            CHECK(tip != inkBox(canvas));
    }
    freeCanvas(canvas);
}

TEST(an_item_tip_with_markup_shows_formatted_within_tip_width) {
    resetDisplayState();
    settings.tipWidth = 200;
    settings.encoding = 1;
    addEntry("Feed");
    ViewEntry* item =
        addEntry("Storm warning for the harbour", "Boats leave. First Second", "Tue, 08 Dec 2026");
    tipSources.resize(2);
    tipSources[1] =
        ("<h3>Tonight from 20:00</h3><p>Boats <b>leave</b> early; the <i>Gazette</i> lists "
         "<a href=\"http://example.com/ferries\">every ferry</a>.</p><ul><li>First: the "
         "fish market closes at <code>18:00</code></li><li>Second: "
         "Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch road shut</li></ul>"
         "<blockquote>Stay off the pier.</blockquote><p><img alt=\"harbour at dawn\"></p>");
    HWND window = openWithTooltip();
    REQUIRE(tooltipWindow != nullptr);
    paintNow(window);
    REQUIRE(tipShowsAt(window, middleOf(item), 1500));
    pumpMessages(100);
    // The control still holds the plain text that screen readers and hit tests read.
    std::wstring text = toolTextAt(window, middleOf(item));
    CHECK(text.find(L"Boats leave. First Second") != std::wstring::npos);
    // The window is as wide as the formatted layout, not as the control's own wrapping.
    RECT tip;
    GetWindowRect(tooltipWindow, &tip);
    CHECK(tip.right - tip.left <= 200 + 16);
    CHECK(tip.bottom - tip.top > 4 * 13); // header, a gap, a paragraph and the items
    // Ink in the tip: a bullet left of the items' text on some line.
    HDC dc = GetDC(tooltipWindow);
    COLORREF background = GetPixel(dc, 1, 1);
    int inkRows = 0;
    for (int y = 0; y < tip.bottom - tip.top; y += 1) {
        for (int x = 0; x < tip.right - tip.left; x += 1) {
            COLORREF c = GetPixel(dc, x, y);
            if (c != background && c != CLR_INVALID) {
                ++inkRows;
                break;
            }
        }
    }
    // Nothing runs into the margin at the right, where a line drawn wider than it was laid out
    // would be cut by the window's edge.
    RECT client;
    GetClientRect(tooltipWindow, &client);
    int edgeInk = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = client.right - 3; x < client.right; ++x)
            edgeInk += GetPixel(dc, x, y) != background ? 1 : 0;
    ReleaseDC(tooltipWindow, dc);
    CHECK_EQ(edgeInk, 0);
    CHECK(inkRows > 3 * 8);
    if (const char* path = getenv("FM_TOOLTIP_SCREENSHOT")) {
        RECT shown;
        GetWindowRect(window, &shown);
        UnionRect(&shown, &shown, &tip);
        InflateRect(&shown, 8, 8);
        saveScreen(shown, path);
    }
    tooltipPointerLeft();

    // A description taller than the screen: the tip stays within the work area.
    std::string tall;
    for (int i = 0; i < 150; ++i)
        tall += "<p>paragraph " + std::to_string(i) + "</p>";
    tipSources[1] = tall;
    paintNow(window);
    pumpMessages(100); // the pointer leaves the tool first, so the next move shows it anew
    REQUIRE(tipShowsAt(window, middleOf(entryAt(1)), 1500));
    RECT work = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(tooltipWindow, &tip);
    CHECK(tip.top >= work.top && tip.bottom <= work.bottom);
    CHECK(tip.bottom - tip.top > (work.bottom - work.top) / 2);
    tooltipPointerLeft();
    closeWindow(window);
}

TEST(one_tool_per_painted_entry_with_its_rectangle_and_text) {
    resetDisplayState();
    settings.showItemCounts = false;
    addEntry("Feed");
    addEntry("First", "about the first");
    addEntry("Second", "about the second");
    addEntry("Third");
    HWND window = openWithTooltip();
    REQUIRE(tooltipWindow != nullptr);
    paintNow(window);

    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 4);
    const char* texts[] = {"Feed", "First\n\nabout the first", "Second\n\nabout the second",
                           "Third"};
    int i = 0;
    for (const ViewEntry* entry = shownEntries.data();
         entry != shownEntries.data() + shownEntries.size(); ++entry, ++i) {
        CHECK(sameRect(tools[i].rect, laidOutRect(entry)));
        CHECK_EQ(tools[i].text, std::string(texts[i]));
        CHECK_EQ(tools[i].id, UINT_PTR(i + 1));
    }
    closeWindow(window);
}

TEST(a_tip_holds_at_most_1024_characters) {
    resetDisplayState();
    addEntry("Feed");
    // "T\n\n" and a description: 3 + 1022 = 1025 characters in all.
    std::string description(1022, 'd');
    addEntry("T", description.c_str());
    // A title line of 1100 characters without a description.
    std::string longTitle(1100, 't');
    addEntry(longTitle.c_str());
    HWND window = openWithTooltip();
    paintNow(window);
    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 3);
    CHECK_EQ(tools[1].text.size(), size_t(1023));
    CHECK_EQ(tools[1].text.substr(0, 4), std::string("T\n\nd"));
    CHECK_EQ(tools[2].text.size(), size_t(1023));

    closeWindow(window);
}

TEST(tools_of_vanished_entries_are_swept_and_numbers_reused) {
    resetDisplayState();
    addEntry("Feed");
    addEntry("One", "1");
    addEntry("Two", "2");
    addEntry("Three", "3");
    HWND window = openWithTooltip();
    paintNow(window);
    CHECK_EQ(toolCount(), 4);

    // A shorter list: the tools at the rectangles still used change text, the rest go as the
    // paint ends.
    clearList();
    addEntry("Feed");
    addEntry("Uno", "1");
    paintNow(window);
    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 2);
    CHECK_EQ(tools[1].text, std::string("Uno\n\n1"));
    CHECK_EQ(tools[1].id, UINT_PTR(2));

    // A new tool gets one more than the largest number still registered.
    addEntry("Dos", "2");
    paintNow(window);
    tools = toolsOfControl();
    REQUIRE(tools.size() == 3);
    CHECK_EQ(tools[2].id, UINT_PTR(3));
    CHECK_EQ(tools[2].text, std::string("Dos\n\n2"));

    // Two sweeps without a paint between them remove everything.
    sweepTools();
    sweepTools();
    CHECK_EQ(toolCount(), 0);
    paintNow(window);
    CHECK_EQ(toolCount(), 3);
    tools = toolsOfControl();
    REQUIRE(tools.size() == 3);
    CHECK_EQ(tools[0].id, UINT_PTR(1));

    removeAllTools();
    CHECK_EQ(toolCount(), 0);
    closeWindow(window);
}

TEST(an_unchanged_repaint_sends_nothing_to_the_control) {
    resetDisplayState();
    settings.height = 900; // every entry in the window
    addEntry("Feed");
    for (int i = 0; i < 50; ++i)
        addEntry(("Headline " + std::to_string(i)).c_str(), "body");
    HWND window = openWithTooltip();
    paintNow(window);
    CHECK_EQ(toolCount(), 51);

    startCounting();
    paintNow(window);
    paintNow(window);
    int quiet = controlMessages;
    // One changed text: exactly one update.
    free((void*)itemAt(7)->description);
    itemAt(7)->description = copyOf("changed");
    paintNow(window);
    int afterChange = controlMessages;
    stopCounting();
    CHECK_EQ(quiet, 0);
    CHECK_EQ(afterChange, 1);
    std::vector<ToolView> tools = toolsOfControl();
    REQUIRE(tools.size() == 51);
    CHECK_EQ(tools[7].text, std::string("Headline 6\n\nchanged"));
    closeWindow(window);
}

TEST(the_control_gets_the_tip_settings) {
    resetDisplayState();
    settings.tipWidth = 280;
    settings.tipHideDelay = 7;
    HWND window = openWithTooltip();
    REQUIRE(tooltipWindow != nullptr);
    HWND tip = tooltipWindow;
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0)), 280);
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0)), 7000);
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_INITIAL, 0)), 120);
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_RESHOW, 0)), 60);
    CHECK((GetWindowLongA(tip, GWL_STYLE) & TTS_NOPREFIX) != 0);

    // 66 seconds is more than the control can take: it gets its maximum, the setting stays.
    settings.tipHideDelay = 66;
    applyTooltipSettings();
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0)), 32767);
    CHECK_EQ(settings.tipHideDelay, 66);
    settings.tipWidth = 500;
    applyTooltipSettings();
    CHECK_EQ(static_cast<int>(SendMessageA(tip, TTM_GETMAXTIPWIDTH, 0, 0)), 500);
    closeWindow(window);
}

TEST(a_tip_shows_on_a_relayed_move_and_activation_needs_no_repaint) {
    resetDisplayState();
    settings.showItemCounts = false;
    addEntry("Feed");
    addEntry("Hover me", "the description");
    addEntry("Another", "more");
    HWND window = openWithTooltip();
    paintNow(window);
    const ViewEntry* item = entryAt(1);
    POINT empty = {150, laidOutRect(lastShown()).bottom + 20};

    CHECK(tipShowsAt(window, middleOf(item), 1500));
    wchar_t shown[256] = L"";
    GetWindowTextW(tooltipWindow, shown, 256);
    CHECK(toolTextAt(window, middleOf(item)) == shown);
    CHECK(!tipShowsAt(window, empty, 300));

    // The tip goes with the pointer's leave, and while the pointer rests on an entry after its
    // tip has gone no timer of the tip's runs.
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    tooltipPointerLeft();
    CHECK(!IsWindowVisible(tooltipWindow));
    setTooltipTiming(350, 1000);
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    for (int waited = 0; waited < 3000 && IsWindowVisible(tooltipWindow); waited += 50)
        pumpMessages(50);
    CHECK(!IsWindowVisible(tooltipWindow));
    CHECK(!KillTimer(window, 0x4654) && !KillTimer(window, 0x4655));

    // Near the bottom right of the screen the tip stands above the pointer, all of it showing.
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(window, nullptr, work.right - 200, work.bottom - laidOutRect(item).bottom - 2, 0,
                 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    tooltipPointerLeft();
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    RECT tip;
    GetWindowRect(tooltipWindow, &tip);
    POINT cursor;
    GetCursorPos(&cursor);
    CHECK(tip.bottom <= work.bottom && tip.right <= work.right);
    CHECK(tip.bottom <= cursor.y);

    activateTooltip(false);
    CHECK(!tipShowsAt(window, middleOf(item), 600));
    CHECK(!tipShowsAt(window, empty, 100));
    activateTooltip(true);
    CHECK_EQ(toolCount(), 3);
    CHECK(tipShowsAt(window, middleOf(item), 1500));
    CHECK(!tipShowsAt(window, empty, 300));

    // Without a control nothing is attempted and nothing breaks.
    closeWindow(window);
    addOrUpdateTool(RECT{0, 0, 5, 5}, L"x");
    activateTooltip(true);
    sweepTools();
    relayMouseToTooltip(nullptr, POINT{0, 0});
}

TEST(after_a_layout_change_the_tool_at_each_item_names_that_item) {
    resetDisplayState();
    settings.showItemCounts = false;
    settings.height = 400;
    const wchar_t* titles[] = {L"Feed", L"Alpha", L"Beta", L"Gamma", L"Delta"};
    addEntry("Feed");
    addEntry("Alpha", "about alpha, long enough to wrap over more than one line of this window");
    addEntry("Beta", "about beta");
    addEntry("Gamma", "about gamma");
    addEntry("Delta", "about delta");
    HWND window = openWithTooltip();
    paintNow(window);

    struct Change {
        const char* what;
        void (*apply)();
    } changes[] = {
        {"descriptions shown", [] { settings.showDesc = true; }},
        {"padding", [] { settings.padding = 9; }},
        {"font", [] { settings.fontHeight = 20; }},
        {"word wrap", [] { settings.wordWrap = true; }},
        {"descriptions hidden", [] { settings.showDesc = false; }},
        {"narrower padding and font",
         [] {
             settings.padding = 0;
             settings.fontHeight = 11;
         }},
    };
    for (const Change& change : changes) {
        change.apply();
        paintNow(window);
        int i = 0;
        for (const ViewEntry* entry = shownEntries.data();
             entry != shownEntries.data() + shownEntries.size(); ++entry, ++i) {
            POINT middle = {(laidOutRect(entry).left + laidOutRect(entry).right) / 2,
                            (laidOutRect(entry).top + laidOutRect(entry).bottom) / 2};
            std::wstring found = toolTextAt(window, middle);
            if (found.compare(0, wcslen(titles[i]), titles[i]) != 0)
                printf("after \"%s\", entry %d shows the wrong tip\n", change.what, i);
            CHECK(found.compare(0, wcslen(titles[i]), titles[i]) == 0);
        }
        CHECK_EQ(toolCount(), 5);
    }
    closeWindow(window);
}
