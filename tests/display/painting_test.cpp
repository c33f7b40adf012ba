// Painting and layout under Wine with the real GDI: the chain of entry rectangles, the padding
// shift, the horizontal geometry, the texts of header and item lines, and the pixels of the painted
// window.
#include "tests/display/display_fixture.h"
#include "tests/support/check.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>

#include "content/short_date.h"
#include "display/script_text.h"

using namespace fixture;

namespace {

bool isInk(COLORREF colour) {
    return colour != backgroundColour && colour != borderColour;
}

struct InkBox {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1; // right/bottom inclusive
    bool empty() const { return right < 0; }
};

// The extent of text pixels inside rect (client coordinates), read from the window.
InkBox inkWithin(HWND window, RECT rect) {
    InkBox box;
    HDC dc = GetDC(window);
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            if (isInk(GetPixel(dc, x, y))) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
        }
    }
    ReleaseDC(window, dc);
    return box;
}

RECT rectOf(const ViewEntry* entry) {
    return RECT{laidOutRect(entry).left, laidOutRect(entry).top, laidOutRect(entry).right,
                laidOutRect(entry).bottom};
}

// The text of the tool whose rectangle is entry's, or "<none>".
std::string toolTextFor(const ViewEntry* entry) {
    for (const ToolView& tool : toolsOfControl()) {
        if (sameRect(tool.rect, laidOutRect(entry)))
            return tool.text;
    }
    return "<none>";
}

} // namespace

TEST(item_rectangles_chain_without_gaps_and_padding_shifts_the_text) {
    resetDisplayState();
    settings.highlight = 0;
    addEntry("FEED TITLE");
    addEntry("HEADLINE ONE");
    addEntry("HEADLINE TWO");
    addEntry("HEADLINE THREE");
    HWND window = openWithTooltip();
    const int inset = 4; // 3 + 1 from the shell

    // Ink top of the second entry relative to its block, for padding 0, 5 and -3.
    int inkOffset[3] = {0, 0, 0};
    int blockHeight[3] = {0, 0, 0};
    const int paddings[3] = {0, 5, -3};
    for (int i = 0; i < 3; ++i) {
        settings.padding = paddings[i];
        paintNow(window);
        const ViewEntry* previous = nullptr;
        for (const ViewEntry* entry = shownEntries.data();
             entry != shownEntries.data() + shownEntries.size(); ++entry) {
            CHECK_EQ(laidOutRect(entry).left, inset);
            CHECK_EQ(laidOutRect(entry).right, 300 - inset);
            CHECK_EQ(laidOutRect(entry).top, previous ? laidOutRect(previous).bottom : inset);
            previous = entry;
        }
        const ViewEntry* second = entryAt(1);
        blockHeight[i] = laidOutRect(second).bottom - laidOutRect(second).top;
        RECT band = rectOf(second);
        band.right = 150;
        InkBox ink = inkWithin(window, band);
        REQUIRE(!ink.empty());
        inkOffset[i] = ink.top - laidOutRect(second).top;
    }
    int lineHeight = blockHeight[0];
    CHECK(lineHeight >= 10);
    CHECK_EQ(blockHeight[1], lineHeight + 5);
    CHECK_EQ(blockHeight[2], lineHeight - 3);
    CHECK_EQ(inkOffset[1] - inkOffset[0], 2);  // 5 / 2
    CHECK_EQ(inkOffset[2] - inkOffset[0], -1); // -3 / 2, toward zero
    closeWindow(window);
}

TEST(horizontal_geometry_of_header_titles_and_descriptions) {
    resetDisplayState();
    settings.highlight = 0;
    settings.padding = 0;
    settings.showDesc = true;
    settings.title_offset = 30;
    settings.desc_offset = 60;
    addEntry("HEADER");
    addEntry("ITEM", "DESCRIPTION");
    const char* longTitle = "A headline far too long to fit into the width of this small window";
    addEntry(longTitle);
    HWND window = openWithTooltip();
    paintNow(window);
    const int inset = 4;

    const ViewEntry* head = entryAt(0);
    const ViewEntry* item = entryAt(1);
    InkBox headInk = inkWithin(window, rectOf(head));
    REQUIRE(!headInk.empty());
    CHECK(headInk.left >= 2 * inset && headInk.left <= 2 * inset + 3);

    // The item spans title and description; the title block is one line high.
    int lineHeight = laidOutRect(head).bottom - laidOutRect(head).top;
    RECT titleBand = rectOf(item);
    titleBand.bottom = titleBand.top + lineHeight;
    RECT descBand = rectOf(item);
    descBand.top += lineHeight;
    CHECK_EQ(laidOutRect(item).bottom - laidOutRect(item).top, 2 * lineHeight);
    InkBox titleInk = inkWithin(window, titleBand);
    InkBox descInk = inkWithin(window, descBand);
    REQUIRE(!titleInk.empty());
    REQUIRE(!descInk.empty());
    CHECK(titleInk.left >= 2 * inset + 30 && titleInk.left <= 2 * inset + 33);
    CHECK(descInk.left >= 2 * inset + 60 && descInk.left <= 2 * inset + 63);

    // Right alignment ends the text at W - 2 * inset, less the two or three pixels a short line
    // keeps free for the renderer.
    settings.justification = 2;
    paintNow(window);
    titleInk = inkWithin(window, titleBand);
    CHECK(titleInk.right <= 300 - 2 * inset - 1 && titleInk.right >= 300 - 2 * inset - 7);

    // A justification value other than 0, 1 or 2 draws left-aligned and leaves the text alone.
    settings.justification = 65536;
    paintNow(window);
    titleInk = inkWithin(window, titleBand);
    CHECK(titleInk.left >= 2 * inset + 30 && titleInk.left <= 2 * inset + 33);
    CHECK_EQ(toolTextFor(item), std::string("ITEM\n\nDESCRIPTION"));
    CHECK_EQ(toolTextFor(entryAt(2)), std::string(longTitle)); // drawn with an ellipsis only
    closeWindow(window);
}

TEST(descriptions_show_only_with_showDesc_but_always_reach_the_tip) {
    resetDisplayState();
    settings.padding = 0;
    addEntry("Feed");
    addEntry("Plain title");
    addEntry("Described", "What happened");
    HWND window = openWithTooltip();

    settings.showDesc = false;
    paintNow(window);
    const ViewEntry* plain = entryAt(1);
    const ViewEntry* described = entryAt(2);
    int lineHeight = laidOutRect(plain).bottom - laidOutRect(plain).top;
    CHECK_EQ(laidOutRect(described).bottom - laidOutRect(described).top, lineHeight);
    CHECK_EQ(toolTextFor(described), std::string("Described\n\nWhat happened"));
    CHECK_EQ(toolTextFor(plain), std::string("Plain title"));

    settings.showDesc = true;
    paintNow(window);
    CHECK_EQ(laidOutRect(described).bottom - laidOutRect(described).top, 2 * lineHeight);

    // Without the title in tips: the description alone, and no tool for an undescribed item.
    settings.tipShowTitle = false;
    paintNow(window);
    paintNow(window); // the tools no longer refreshed go at the start of the next paint
    CHECK_EQ(toolTextFor(described), std::string("What happened"));
    CHECK_EQ(toolTextFor(plain), std::string("<none>"));
    CHECK_EQ(toolTextFor(entryAt(0)), std::string("<none>"));
    CHECK_EQ(toolCount(), 1);
    closeWindow(window);
}

TEST(dates_go_before_or_after_the_title) {
    resetDisplayState();
    const char* date = "Sun, 06 Dec 2026 18:42:00 GMT";
    addEntry("Feed");
    addEntry("Dated", nullptr, date);
    addEntry("Undated");
    HWND window = openWithTooltip();
    const ViewEntry* dated = entryAt(1);

    settings.datePosHead = true;
    paintNow(window);
    CHECK_EQ(toolTextFor(dated), std::string("(") + date + ")  Dated");
    CHECK_EQ(toolTextFor(entryAt(2)), std::string("Undated"));

    settings.datePosHead = false;
    paintNow(window);
    CHECK_EQ(toolTextFor(dated), std::string("Dated  (") + date + ")");

    settings.showDate = false;
    paintNow(window);
    CHECK_EQ(toolTextFor(dated), std::string("Dated"));

    // The short form of the date, in the tip's title line as well.
    settings.showDate = true;
    settings.abbreviatedDate = true;
    settings.datePosHead = true;
    itemAt(1)->description = copyOf("Body");
    paintNow(window);
    CHECK_EQ(toolTextFor(dated), std::string("(12/06 18:42)  Dated\n\nBody"));
    // In the reader's own zone (nine hours east here), in the line and the tip alike.
    LocalOffsetFunction machineZone = localOffsetMinutes;
    localOffsetMinutes = [](long long) { return 9 * 60; };
    settings.localTime = true;
    paintNow(window);
    CHECK_EQ(toolTextFor(dated), std::string("(12/07 03:42)  Dated\n\nBody"));
    localOffsetMinutes = machineZone;
    settings.localTime = false;
    closeWindow(window);
}

TEST(header_line_and_tip_are_the_title_with_what_the_model_adds) {
    resetDisplayState();
    addEntry("World News");
    addEntry("One");
    HWND window = openWithTooltip();
    struct Row {
        const char* suffix;
        const char* tip;
        bool tipShowTitle;
        const char* expected; // the header's tool text
    } rows[] = {
        {"", "", true, "World News"},
        {"  (3) (12/06 18:42)", "", true, "World News  (3) (12/06 18:42)"},
        {"  (3)", "Updated 12/08 14:21, 3 items", true,
         "World News  (3)\nUpdated 12/08 14:21, 3 items"},
        {"", "", false, "<none>"},
        {"  (2 new)", "A: failed (timeout)\nB: Updated 12/08", false,
         "A: failed (timeout)\nB: Updated 12/08"},
    };
    for (const Row& row : rows) {
        headerSuffix = row.suffix;
        headerTip = row.tip;
        settings.tipShowTitle = row.tipShowTitle;
        paintNow(window);
        CHECK_EQ(toolTextFor(entryAt(0)), std::string(row.expected));
    }
    closeWindow(window);
}

TEST(feed_names_stale_marks_and_new_items_in_bold) {
    resetDisplayState();
    settings.highlight = 0;
    settings.showDate = true;
    settings.datePosHead = false;
    addEntry("2 feeds");
    ViewEntry* named = addEntry("Rates held", nullptr, "Mon, 07 Dec 2026 09:00:00 GMT");
    feedNames = {nullptr, "Daily"};
    named->feed = 1;
    named->stale = true;
    addEntry("BOLD TEXT");
    addEntry("BOLD TEXT");
    entryAt(3)->isNew = true;
    HWND window = openWithTooltip();
    paintNow(window);
    CHECK_EQ(toolTextFor(entryAt(1)),
             std::string("[stale]  Daily: Rates held  (Mon, 07 Dec 2026 09:00:00 GMT)"));
    settings.datePosHead = true;
    paintNow(window);
    CHECK_EQ(toolTextFor(entryAt(1)),
             std::string("[stale]  (Mon, 07 Dec 2026 09:00:00 GMT)  Daily: Rates held"));
    CHECK_EQ(toolTextFor(entryAt(3)), std::string("BOLD TEXT")); // the mark is the weight only

    // The same text in the bold weight: wider ink, more pixels, the same line height.
    auto inkPixels = [&](const ViewEntry* entry, InkBox* box) {
        RECT r = rectOf(entry);
        *box = inkWithin(window, r);
        int count = 0;
        HDC dc = GetDC(window);
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                count += isInk(GetPixel(dc, x, y)) ? 1 : 0;
        ReleaseDC(window, dc);
        return count;
    };
    InkBox plainBox, boldBox;
    int plain = inkPixels(entryAt(2), &plainBox);
    int bold = inkPixels(entryAt(3), &boldBox);
    REQUIRE(!plainBox.empty() && !boldBox.empty());
    CHECK(bold > plain);
    CHECK(boldBox.right - boldBox.left > plainBox.right - plainBox.left);
    CHECK_EQ(laidOutRect(entryAt(3)).bottom - laidOutRect(entryAt(3)).top,
             laidOutRect(entryAt(2)).bottom - laidOutRect(entryAt(2)).top);
    closeWindow(window);
}

TEST(only_entries_reaching_into_the_window_are_laid_out_and_get_tools) {
    resetDisplayState();
    settings.showItemCounts = false;
    addEntry("Feed");
    for (int i = 0; i < 12; ++i)
        addEntry(("Headline " + std::to_string(i)).c_str(), "text");
    HWND window = openWithTooltip();
    // Short, tall enough for all, short again: the entries below go back to empty rectangles.
    for (int height : {60, 400, 60}) {
        SetWindowPos(window, nullptr, 0, 0, 300, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        paintNow(window);
        int shown = 0;
        const ViewEntry* lastShown = nullptr;
        for (const ViewEntry* entry = shownEntries.data();
             entry != shownEntries.data() + shownEntries.size(); ++entry) {
            const ItemRect& r = laidOutRect(entry);
            bool empty = r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
            if (empty)
                continue;
            CHECK_EQ(shown, entry->item->entryIndex); // the shown entries are the first ones
            CHECK(r.top < height);
            CHECK(hitTest(POINT{150, (r.top + r.bottom) / 2}) == entry);
            std::string expected =
                entry == entryAt(0) ? "Feed" : "Headline " + std::to_string(shown - 1) + "\n\ntext";
            CHECK_EQ(toolTextFor(entry), expected);
            lastShown = entry;
            ++shown;
        }
        REQUIRE(lastShown != nullptr);
        CHECK_EQ(toolCount(), shown);
        if (height == 400) {
            CHECK_EQ(shown, 13);
        } else {
            CHECK(shown >= 2 && shown < 13);
            CHECK(laidOutRect(lastShown).bottom >= height); // the window is filled to the bottom
        }
    }
    closeWindow(window);
}

double millisecondsNow() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST(a_hundred_thousand_entries_cost_what_the_window_shows) {
    resetDisplayState();
    settings.showDesc = true;
    settings.highlight = 1;
    addEntry("A feed of a hundred thousand items");
    char title[96];
    char description[256];
    for (int i = 0; i < 100000; ++i) {
        snprintf(title, sizeof title, "Headline %d: council agrees on the plan", i);
        snprintf(description, sizeof description,
                 "Item %d. The council met on Tuesday to discuss the plan; a decision is "
                 "expected next week after a public hearing.",
                 i);
        addEntry(title, description, "Sun, 06 Dec 2026 18:42:00 GMT");
    }
    HWND window = openWithTooltip();
    RECT screen;
    GetWindowRect(window, &screen);
    SetCursorPos(screen.left + 100, screen.top + 40);
    runtime.mouseInside = true;

    double start = millisecondsNow();
    paintNow(window);
    double firstPaint = millisecondsNow() - start;
    start = millisecondsNow();
    for (int i = 0; i < 10; ++i)
        paintNow(window); // mouse moves
    double tenRepaints = millisecondsNow() - start;
    int tools = toolCount();
    start = millisecondsNow();
    closeWindow(window); // what quitting does: every tool removed, the control destroyed
    clearList();
    double teardown = millisecondsNow() - start;
    printf(
        "100,000 entries: first paint %.0f ms, 10 repaints %.0f ms, %d tools, teardown %.0f ms\n",
        firstPaint, tenRepaints, tools, teardown);
    CHECK(firstPaint < 5000);
    CHECK(tenRepaints < 5000);
    CHECK(teardown < 5000);
    CHECK(tools > 0 && tools < 30);
}

TEST(odd_entries_and_an_odd_shell_do_not_break_the_paint) {
    resetDisplayState();
    settings.padding = 2;
    addEntry("Feed");
    addEntry(nullptr, nullptr, nullptr); // a feed item with an empty title
    addEntry("After");
    HWND window = openWithTooltip();
    paintNow(window);
    const ViewEntry* untitled = entryAt(1);
    const ViewEntry* head = entryAt(0);
    // The untitled entry keeps a full line's block and its tool.
    CHECK_EQ(laidOutRect(untitled).bottom - laidOutRect(untitled).top,
             laidOutRect(head).bottom - laidOutRect(head).top);
    CHECK_EQ(toolCount(), 3);
    CHECK_EQ(toolTextFor(untitled), std::string(""));

    // An ampersand is a character, not an underline for the next one.
    clearList();
    settings.showItemCounts = false;
    addEntry("QA");
    addEntry("Q&A");
    paintNow(window);
    InkBox plain = inkWithin(window, rectOf(entryAt(0)));
    InkBox withAmpersand = inkWithin(window, rectOf(entryAt(1)));
    REQUIRE(!plain.empty() && !withAmpersand.empty());
    CHECK(withAmpersand.right - withAmpersand.left >= plain.right - plain.left + 4);

    // A style number beyond the six style items paints with the first, not with whatever the
    // shell keeps under that number.
    styleItems[1].colorFrom = RGB(0, 120, 0);
    settings.styleType = 9;
    reloadShellStyle();
    paintNow(window);
    CHECK_EQ(pixelAt(window, 290, 190), RGB(0, 120, 0));

    // A shell that gives no style at all: no inset, the plug-in's own font, nothing breaks.
    shellGivesNothing = true;
    reloadShellStyle();
    paintNow(window);
    CHECK_EQ(laidOutRect(entryAt(0)).left, 0);
    CHECK_EQ(laidOutRect(entryAt(0)).right, 300);
    CHECK(laidOutRect(entryAt(1)).bottom > laidOutRect(entryAt(1)).top);
    closeWindow(window);
}

TEST(background_and_border_pixels) {
    resetDisplayState();
    settings.highlight = 0;
    HWND window = openWithTooltip();

    // An empty list: the background only, no tool, no highlight.
    settings.showBorder = true;
    gradientCalls.clear();
    paintNow(window);
    CHECK_EQ(gradientCalls.size(), size_t(1));
    CHECK_EQ(pixelAt(window, 0, 0), borderColour);
    CHECK_EQ(pixelAt(window, 299, 199), borderColour);
    CHECK_EQ(pixelAt(window, 150, 100), backgroundColour);
    CHECK_EQ(toolCount(), 0);

    settings.showBorder = false;
    paintNow(window);
    CHECK_EQ(pixelAt(window, 0, 0), backgroundColour);
    CHECK_EQ(pixelAt(window, 299, 199), backgroundColour);

    // Settings reloaded with a smaller size, the window not yet following: the paint still covers
    // the whole client area, so no strip keeps the old pixels.
    settings.width = 100;
    settings.height = 50;
    styleItems[1].colorFrom = RGB(0, 120, 0);
    reloadShellStyle();
    paintNow(window);
    CHECK_EQ(pixelAt(window, 299, 199), RGB(0, 120, 0));
    CHECK_EQ(pixelAt(window, 50, 199), RGB(0, 120, 0));
    CHECK_EQ(pixelAt(window, 299, 20), RGB(0, 120, 0));
    closeWindow(window);
}

TEST(highlight_modes_in_pixels) {
    resetDisplayState();
    settings.padding = 4;
    settings.showBorder = false;
    addEntry("Feed");
    addEntry("First");
    addEntry("Second");
    addEntry("Third");
    HWND window = openWithTooltip();
    const int inset = 4;
    auto framed = [&](const ViewEntry* entry) {
        int middle = (laidOutRect(entry).top + laidOutRect(entry).bottom) / 2;
        return pixelAt(window, inset, middle) == borderColour;
    };

    settings.highlight = 0;
    paintNow(window);
    paintNow(window);
    for (const ViewEntry* entry = shownEntries.data();
         entry != shownEntries.data() + shownEntries.size(); ++entry)
        CHECK(!framed(entry));

    // Mode 2: the first paint of a new list has no rectangles to highlight, the next one has.
    settings.highlight = 2;
    clearList();
    addEntry("Feed");
    addEntry("First");
    addEntry("Second");
    paintNow(window);
    for (const ViewEntry* entry = shownEntries.data();
         entry != shownEntries.data() + shownEntries.size(); ++entry)
        CHECK(!framed(entry));
    paintNow(window);
    for (const ViewEntry* entry = shownEntries.data();
         entry != shownEntries.data() + shownEntries.size(); ++entry)
        CHECK(framed(entry));

    // Mode 1: only the entry under the cursor, and only while the mouse is inside.
    settings.highlight = 1;
    paintNow(window);
    const ViewEntry* second = entryAt(2);
    RECT screen;
    GetWindowRect(window, &screen);
    SetCursorPos(screen.left + 100,
                 screen.top + (laidOutRect(second).top + laidOutRect(second).bottom) / 2);
    runtime.mouseInside = true;
    paintNow(window);
    CHECK(framed(second));
    CHECK(!framed(entryAt(1)));
    CHECK(!framed(entryAt(0)));
    runtime.mouseInside = false;
    paintNow(window);
    CHECK(!framed(second));
    closeWindow(window);
}

// What reached the draw-text function: the texts drawn, and those only measured.
struct TextCall {
    std::wstring text;
    bool measure;
};
std::vector<TextCall> textCalls;

int WINAPI recordingDrawText(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format) {
    size_t count = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    textCalls.push_back({std::wstring(text, count), (format & DT_CALCRECT) != 0});
    return drawScriptText(dc, text, length, rect, format);
}

bool reached(const std::wstring& text, bool measure) {
    for (const TextCall& call : textCalls) {
        if (call.text == text && call.measure == measure)
            return true;
    }
    return false;
}

std::wstring wideToolTextFor(const ViewEntry* entry) {
    for (const ToolView& tool : toolsOfControl()) {
        if (sameRect(tool.rect, laidOutRect(entry)))
            return tool.wide;
    }
    return L"<none>";
}

TEST(any_script_reaches_drawing_and_tips_as_utf16_and_encoding_0_keeps_the_bytes) {
    resetDisplayState();
    textFunctions.drawText = recordingDrawText;
    settings.showItemCounts = false;
    settings.showDate = false;
    settings.showDesc = true;
    settings.wordWrap = true; // every text measured, not only the first line
    settings.height = 400;
    settings.encoding = 1;
    struct Script {
        const char* title;
        const wchar_t* wideTitle;
        const char* description;
        const wchar_t* wideDescription;
    } scripts[] = {
        {"Новости дня", L"Новости дня", "Совет принял план", L"Совет принял план"},
        {"Ειδήσεις", L"Ειδήσεις", "Το συμβούλιο συμφώνησε", L"Το συμβούλιο συμφώνησε"},
        {"חדשות היום", L"חדשות היום", "המועצה אישרה את התוכנית", L"המועצה אישרה את התוכנית"},
        {"今日のニュース", L"今日のニュース", "议会同意了计划", L"议会同意了计划"},
        {"Launch \xF0\x9F\x9A\x80 today", L"Launch \U0001F680 today",
         "Caf\xC3\xA9 \xE2\x82\xAC"
         "5",
         L"Caf\u00E9 \u20AC5"},
    };
    addEntry("Мировые новости");
    for (const Script& script : scripts)
        addEntry(script.title, script.description);
    HWND window = openWithTooltip();
    paintNow(window);
    CHECK(reached(L"Мировые новости", false));
    CHECK_EQ(wideToolTextFor(entryAt(0)) == L"Мировые новости", true);
    int i = 1;
    for (const Script& script : scripts) {
        const ViewEntry* entry = entryAt(i++);
        std::wstring title = script.wideTitle;
        std::wstring description = script.wideDescription;
        CHECK(reached(title, false) && reached(title, true));
        CHECK(reached(description, false) && reached(description, true));
        CHECK(wideToolTextFor(entry) == title + L"\n\n" + description);
    }

    // Encoding 0: the bytes as they come, the characters the ANSI code page (1252 here) gives them.
    REQUIRE(GetACP() == 1252);
    settings.encoding = 0;
    textCalls.clear();
    paintNow(window);
    CHECK(reached(L"Caf\u00C3\u00A9 \u00E2\u201A\u00AC5", false));
    CHECK(!reached(L"Новости дня", false));
    CHECK(wideToolTextFor(entryAt(5)) ==
          std::wstring(
              L"Launch \u00F0\u0178\u0161\u20AC today\n\nCaf\u00C3\u00A9 \u00E2\u201A\u00AC5"));
    settings.encoding = 1;
    paintNow(window);
    CHECK(wideToolTextFor(entryAt(5)) ==
          std::wstring(L"Launch \U0001F680 today\n\nCaf\u00E9 \u20AC5"));
    textFunctions.drawText = drawScriptText;
    closeWindow(window);
}

TEST(a_long_wrapped_description_is_drawn_only_as_far_as_it_shows) {
    resetDisplayState();
    textFunctions.drawText = recordingDrawText;
    settings.showDesc = true;
    settings.wordWrap = true;
    std::string description;
    for (int i = 0; description.size() < 1000000; ++i)
        description += "word" + std::to_string(i) + " ";
    addEntry("Feed");
    addEntry("Long", description.c_str());
    addEntry("After", "short");
    HWND window = openWithTooltip();
    paintNow(window);
    size_t longest = 0;
    for (const TextCall& call : textCalls)
        longest = std::max(longest, call.text.size());
    CHECK(longest > 0 && longest < 65536);
    CHECK(laidOutRect(entryAt(1)).bottom >= 200); // the description fills the window
    CHECK(laidOutRect(entryAt(2)).bottom == 0);
    CHECK_EQ(toolTextFor(entryAt(1)).substr(0, 17), std::string("Long\n\nword0 word1"));
    CHECK_EQ(toolCount(), 2);
    textFunctions.drawText = drawScriptText;
    closeWindow(window);
}

TEST(every_paint_releases_what_it_creates) {
    resetDisplayState();
    addEntry("Feed");
    addEntry("One", "first");
    addEntry("Two", "second");
    HWND window = openWithTooltip();
    LONG before = gdiObjectsAlive;
    for (int i = 0; i < 4; ++i) {
        settings.useRefFont = (i % 2) == 0;
        settings.highlight = i % 3;
        paintNow(window);
    }
    CHECK_EQ(gdiObjectsAlive, before);
    closeWindow(window);
}

TEST(word_wrap_grows_a_block_to_the_lines_it_needs) {
    resetDisplayState();
    settings.padding = 0;
    settings.showDesc = true;
    addEntry("Feed");
    addEntry("Short", "A description long enough to need several lines in a window that is only "
                      "three hundred pixels wide, so that wrapping shows.");
    addEntry("Next");
    HWND window = openWithTooltip();
    settings.wordWrap = false;
    paintNow(window);
    int line = laidOutRect(entryAt(0)).bottom - laidOutRect(entryAt(0)).top;
    CHECK_EQ(laidOutRect(entryAt(1)).bottom - laidOutRect(entryAt(1)).top, 2 * line);
    settings.wordWrap = true;
    paintNow(window);
    CHECK(laidOutRect(entryAt(1)).bottom - laidOutRect(entryAt(1)).top >= 4 * line);
    CHECK_EQ(laidOutRect(entryAt(2)).top, laidOutRect(entryAt(1)).bottom);
    CHECK_EQ(laidOutRect(entryAt(2)).bottom - laidOutRect(entryAt(2)).top, line);
    closeWindow(window);
}

// A description's paragraphs ("\n" between two): with word wrap one line each; on one line joined
// by a blank, drawn pixel for pixel as the same words with a blank between them (a line feed drawn
// on a single line would leave a box or no gap there). The plain tip keeps the break as a line
// break.
TEST(paragraphs_are_lines_with_word_wrap_and_joined_by_a_blank_without) {
    resetDisplayState();
    settings.padding = 0;
    settings.showDesc = true;
    settings.showDate = false;
    settings.highlight = 0;
    addEntry("Feed");
    addEntry("Two", "Alpha\nOmega");
    addEntry("One", "Alpha Omega");
    HWND window = openWithTooltip();
    settings.wordWrap = true;
    paintNow(window);
    const int line = laidOutRect(entryAt(0)).bottom - laidOutRect(entryAt(0)).top;
    CHECK_EQ(laidOutRect(entryAt(1)).bottom - laidOutRect(entryAt(1)).top, 3 * line);
    CHECK_EQ(laidOutRect(entryAt(2)).bottom - laidOutRect(entryAt(2)).top, 2 * line);
    CHECK_EQ(toolTextFor(entryAt(1)), std::string("Two\n\nAlpha\nOmega"));

    settings.wordWrap = false;
    paintNow(window);
    const ItemRect two = laidOutRect(entryAt(1)), one = laidOutRect(entryAt(2));
    CHECK_EQ(two.bottom - two.top, 2 * line);
    HDC dc = GetDC(window);
    int differing = 0, ink = 0;
    for (int y = 0; y < line; ++y) {
        for (int x = two.left; x < two.right; ++x) {
            COLORREF joined = GetPixel(dc, x, two.top + line + y);
            ink += isInk(joined);
            differing += joined != GetPixel(dc, x, one.top + line + y);
        }
    }
    ReleaseDC(window, dc);
    CHECK(ink > 0);
    CHECK_EQ(differing, 0);
    closeWindow(window);
}

// A highlighted item carries a bar in the text's colour where its line starts (the right in a
// line read right to left) and its title moves over by it; the text and its tip stay the same.
TEST(a_highlighted_item_carries_a_bar_where_its_line_starts) {
    resetDisplayState();
    settings.highlight = 0;
    settings.showDate = false;
    settings.encoding = 1;
    addEntry("Header");
    addEntry("Same words");
    addEntry("Same words")->highlighted = true;
    addEntry("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"); // Hebrew, read right to left
    addEntry("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D")->highlighted = true;
    HWND window = openWithTooltip();
    paintNow(window);
    // The tallest run of ink in one pixel column of the entry, and where it is.
    auto tallestColumn = [&](const ViewEntry* entry, int* at) {
        RECT r = rectOf(entry);
        HDC dc = GetDC(window);
        int best = 0;
        for (int x = r.left; x < r.right; ++x) {
            int run = 0;
            for (int y = r.top; y < r.bottom; ++y)
                run += isInk(GetPixel(dc, x, y)) ? 1 : 0;
            if (run > best) {
                best = run;
                *at = x;
            }
        }
        ReleaseDC(window, dc);
        return best;
    };
    for (size_t plain : {size_t(1), size_t(3)}) {
        const bool rightToLeft = plain == 3;
        InkBox plainInk = inkWithin(window, rectOf(entryAt(plain)));
        InkBox markedInk = inkWithin(window, rectOf(entryAt(plain + 1)));
        REQUIRE(!plainInk.empty() && !markedInk.empty());
        int plainColumn = 0, markedColumn = 0;
        int plainTallest = tallestColumn(entryAt(plain), &plainColumn);
        int markedTallest = tallestColumn(entryAt(plain + 1), &markedColumn);
        // The bar spans the whole line, taller than any letter's stroke.
        CHECK(markedTallest > plainTallest);
        CHECK(markedTallest >= 13);
        if (rightToLeft) {
            CHECK(markedColumn > markedInk.left + (markedInk.right - markedInk.left) / 2);
            CHECK(markedInk.left < plainInk.left); // the title moved away from the bar
        } else {
            CHECK(markedColumn < markedInk.left + 4);
            CHECK(markedInk.right > plainInk.right);
        }
        CHECK_EQ(toolTextFor(entryAt(plain + 1)), toolTextFor(entryAt(plain)));
    }
    closeWindow(window);
}
