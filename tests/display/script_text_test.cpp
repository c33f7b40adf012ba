// Text of every script as a reader sees it: glyphs rather than the font's missing-glyph box (and
// the boxes again with the fallback faces off), complex scripts shaped rather than drawn letter
// by letter, right-to-left lines starting at the right with what they carry placed for such a
// reader, in an off-screen canvas and in the painted window.
#include "tests/display/display_fixture.h"
#include "tests/support/check.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "display/font_fallback.h"
#include "display/script_text.h"

using namespace fixture;

namespace {

const int canvasWidth = 400;
const int canvasHeight = 40;

// A white off-screen canvas with a 20-pixel Tahoma selected, as the window draws with.
struct Canvas {
    InkCanvas canvas = newCanvas(canvasWidth, canvasHeight);
    HDC dc = canvas.dc;
    uint32_t* pixels = canvas.pixels;
    HFONT font = CreateFontA(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
    Canvas() {
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0, 0, 0));
    }
    ~Canvas() {
        freeCanvas(canvas);
        DeleteObject(font);
    }
    void clear() { std::fill(pixels, pixels + canvasWidth * canvasHeight, 0xFFFFFFu); }
    // The pixels of text drawn alone at the left (or as flags say) with the fallback on or off.
    std::vector<uint32_t> draw(const std::wstring& text, UINT flags = DT_LEFT,
                               bool fallback = true) {
        clear();
        fontFallbackEnabled = fallback;
        RECT rect = {10, 5, canvasWidth - 10, canvasHeight};
        drawScriptText(dc, text.c_str(), static_cast<int>(text.size()), &rect,
                       flags | DT_SINGLELINE | DT_NOPREFIX);
        fontFallbackEnabled = true;
        return std::vector<uint32_t>(pixels, pixels + canvasWidth * canvasHeight);
    }
    // The same characters each drawn on its own, one after the other from the left.
    std::vector<uint32_t> drawOneByOne(const std::wstring& text) {
        clear();
        int x = 10;
        for (wchar_t c : text) {
            RECT measured = {0, 0, canvasWidth, 0};
            drawScriptText(dc, &c, 1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            RECT rect = {x, 5, canvasWidth, canvasHeight};
            drawScriptText(dc, &c, 1, &rect, DT_SINGLELINE | DT_NOPREFIX);
            x += measured.right;
        }
        return std::vector<uint32_t>(pixels, pixels + canvasWidth * canvasHeight);
    }
};

int inkCount(const std::vector<uint32_t>& image) {
    return static_cast<int>(
        std::count_if(image.begin(), image.end(), [](uint32_t p) { return p != 0xFFFFFFu; }));
}

// The first and last column with ink, or {-1, -1}.
std::pair<int, int> inkColumns(const std::vector<uint32_t>& image) {
    int first = -1, last = -1;
    for (int x = 0; x < canvasWidth; ++x)
        for (int y = 0; y < canvasHeight; ++y)
            if (image[y * canvasWidth + x] != 0xFFFFFFu) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

// True when the two images agree in the columns from first to last.
bool sameColumns(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int first,
                 int last) {
    for (int y = 0; y < canvasHeight; ++y)
        for (int x = first; x <= last; ++x)
            if (a[y * canvasWidth + x] != b[y * canvasWidth + x])
                return false;
    return true;
}

// True when the columns of a from aFirst and of b from bFirst agree for width columns.
bool sameShape(const std::vector<uint32_t>& a, int aFirst, const std::vector<uint32_t>& b,
               int bFirst, int width) {
    for (int y = 0; y < canvasHeight; ++y)
        for (int x = 0; x < width; ++x)
            if (a[y * canvasWidth + aFirst + x] != b[y * canvasWidth + bFirst + x])
                return false;
    return true;
}

struct Sample {
    const char* script;
    const wchar_t* text;
    bool tahomaLacksIt; // Tahoma here has no glyph for its first letter
};
const Sample samples[] = {
    {"Latin", L"Harbour", false},      {"Cyrillic", L"Новости", false},
    {"Greek", L"Ειδήσεις", false},     {"Hebrew", L"חדשות", true},
    {"Arabic", L"أخبار", false},       {"Devanagari", L"समाचार", true},
    {"Thai", L"ข่าววันนี้", true},         {"CJK", L"日本語のニュース", true},
    {"emoji", L"\U0001F600 ok", true},
};

} // namespace

TEST(every_script_draws_glyphs_and_without_the_fallback_faces_boxes) {
    Canvas canvas;
    // The font's missing-glyph box: a private-use character no face has.
    std::vector<uint32_t> box = canvas.draw(std::wstring(1, 0xE000), DT_LEFT, false);
    REQUIRE(inkCount(box) > 0);
    for (const Sample& sample : samples) {
        bool pair = sample.text[0] >= 0xD800 && sample.text[0] <= 0xDBFF;
        std::wstring first(sample.text, pair ? 2 : 1);
        std::vector<uint32_t> glyph = canvas.draw(first);
        CHECK(inkCount(glyph) > 0 && glyph != box);
        std::vector<uint32_t> whole = canvas.draw(sample.text);
        CHECK(inkCount(whole) > inkCount(glyph));
        if (sample.tahomaLacksIt) {
            // The same letter without the fallback faces is the box: the faces are what helps.
            CHECK(canvas.draw(first, DT_LEFT, false) == box);
        }
    }
}

TEST(complex_scripts_are_shaped_not_drawn_letter_by_letter) {
    Canvas canvas;
    const wchar_t* shaped[] = {L"مرحبا", L"नमस्ते", L"สวัสดี"};
    for (const wchar_t* text : shaped) {
        std::vector<uint32_t> whole = canvas.draw(text);
        CHECK(inkCount(whole) > 0);
        CHECK(whole != canvas.drawOneByOne(text));
    }
    // Latin has nothing to join: letter by letter it looks the same.
    CHECK(canvas.draw(L"Harbour") == canvas.drawOneByOne(L"Harbour"));
}

TEST(a_right_to_left_line_carries_its_date_at_the_right_and_its_mark_at_the_left) {
    Canvas canvas;
    const std::wstring date = L"(12/08 09:40)";
    const std::wstring stale = L"[stale]";
    // The window starts a date in a right-to-left line with a LEFT-TO-RIGHT MARK, which keeps its
    // digit groups in order and draws nothing.
    const std::wstring line = L"(\u200E12/08 09:40)  חדשות הערב  " + stale;
    CHECK(canvas.draw(L"(\u200E12/08 09:40)") == canvas.draw(date));
    // Read right to left and aligned right, the date comes first, at the right end...
    std::vector<uint32_t> rtl = canvas.draw(line, DT_RIGHT | DT_RTLREADING);
    std::vector<uint32_t> dateAlone = canvas.draw(date, DT_RIGHT);
    std::pair<int, int> dateInk = inkColumns(dateAlone);
    REQUIRE(dateInk.first > 0);
    CHECK(sameColumns(rtl, dateAlone, dateInk.first, dateInk.second));
    CHECK(inkColumns(rtl).second == dateInk.second);
    // ...and the mark last, at the left end.
    std::vector<uint32_t> rtlLeft = canvas.draw(line, DT_LEFT | DT_RTLREADING);
    std::vector<uint32_t> staleAlone = canvas.draw(stale, DT_LEFT);
    std::pair<int, int> staleInk = inkColumns(staleAlone);
    CHECK(sameColumns(rtlLeft, staleAlone, staleInk.first, staleInk.second));
    // Read left to right the same characters put the date at the left.
    std::vector<uint32_t> ltr = canvas.draw(line, DT_LEFT);
    std::vector<uint32_t> dateLeft = canvas.draw(date, DT_LEFT);
    std::pair<int, int> dateLeftInk = inkColumns(dateLeft);
    CHECK(sameColumns(ltr, dateLeft, dateLeftInk.first, dateLeftInk.second));
    CHECK(!sameColumns(rtlLeft, dateLeft, dateLeftInk.first, dateLeftInk.second));
    // Cut short, a right-to-left line keeps its start at the right and ends in the ellipsis at
    // the left.
    RECT narrow = {10, 5, 110, canvasHeight};
    canvas.clear();
    std::wstring longLine = L"חדשות הערב: הממשלה אישרה את התקציב החדש";
    drawScriptText(canvas.dc, longLine.c_str(), -1, &narrow,
                   DT_RIGHT | DT_RTLREADING | DT_SINGLELINE | DT_WORD_ELLIPSIS);
    std::vector<uint32_t> cut(canvas.pixels, canvas.pixels + canvasWidth * canvasHeight);
    std::vector<uint32_t> dots = canvas.draw(L"\u2026", DT_LEFT);
    std::pair<int, int> dotsInk = inkColumns(dots);
    std::pair<int, int> cutInk = inkColumns(cut);
    CHECK(cutInk.first >= 10 && cutInk.second < 110);
    CHECK(cutInk.second - cutInk.first > 80);
    CHECK(sameShape(cut, cutInk.first, dots, dotsInk.first, dotsInk.second - dotsInk.first + 1));
}

// The first and last column of ink within rect of the window, or {INT_MAX, -1}.
std::pair<int, int> windowInk(HWND window, RECT rect) {
    HDC dc = GetDC(window);
    int first = INT_MAX, last = -1;
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x) {
            COLORREF pixel = GetPixel(dc, x, y);
            if (pixel != backgroundColour && pixel != borderColour) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
        }
    ReleaseDC(window, dc);
    return {first, last};
}

TEST(right_to_left_titles_and_paragraphs_start_at_the_right_edge_of_the_window) {
    resetDisplayState();
    settings.highlight = 0;
    settings.showDate = false;
    settings.showItemCounts = false;
    settings.width = 360;
    settings.height = 300;
    settings.padding = 0;
    settings.desc_offset = 0;
    settings.showDesc = true;
    settings.wordWrap = true;
    settings.encoding = 1;
    addEntry("\xD7\x97\xD7\x93\xD7\xA9\xD7\x95\xD7\xAA"); // header: a Hebrew feed title
    addEntry("Harbour news");
    addEntry("\xD8\xA3\xD8\xAE\xD8\xA8\xD8\xA7\xD8\xB1 \xD8\xA7\xD9\x84\xD9\x8A\xD9\x88\xD9\x85");
    addEntry("2026: \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D and more"); // first strong: Hebrew
    // A description of two paragraphs, each in its own direction.
    addEntry("Ferry", "Times change\n\xD7\x96\xD7\x9E\xD7\xA0\xD7\x99\xD7\x9D");
    HWND window = openWithTooltip();
    const int inset = 4;
    const int textLeft = 2 * inset;
    const int textRight = 360 - 2 * inset;
    for (int justification : {0, 2}) {
        settings.justification = justification;
        paintNow(window);
        const ItemRect& head = laidOutRect(entryAt(0));
        const int line = head.bottom - head.top;
        const ItemRect& ferry = laidOutRect(entryAt(4));
        struct Band {
            RECT rect;
            bool rightToLeft;
        } bands[] = {
            {RECT{head.left, head.top, head.right, head.bottom}, true},
            {RECT{head.left, laidOutRect(entryAt(1)).top, head.right,
                  laidOutRect(entryAt(1)).bottom},
             false},
            {RECT{head.left, laidOutRect(entryAt(2)).top, head.right,
                  laidOutRect(entryAt(2)).bottom},
             true},
            {RECT{head.left, laidOutRect(entryAt(3)).top, head.right,
                  laidOutRect(entryAt(3)).bottom},
             true},
            {RECT{head.left, ferry.top + line, head.right, ferry.top + 2 * line}, false},
            {RECT{head.left, ferry.top + 2 * line, head.right, ferry.top + 3 * line}, true},
        };
        REQUIRE(ferry.bottom - ferry.top == 3 * line);
        for (const Band& band : bands) {
            std::pair<int, int> ink = windowInk(window, band.rect);
            REQUIRE(ink.second > 0);
            // "Right" mirrors too: a right-to-left text then starts at the left.
            if (band.rightToLeft != (justification == 2)) {
                CHECK(ink.second >= textRight - 12);
                CHECK(ink.first > textLeft + 60);
            } else {
                CHECK(ink.first <= textLeft + 2);
                CHECK(ink.second < textRight - 60);
            }
        }
    }
    closeWindow(window);
}
