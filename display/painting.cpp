// Painting and layout of the plug-in window. Every paint draws the whole client area into one
// memory bitmap and copies it to the screen with a single BitBlt, so nothing flickers: first the
// style's gradient, then the header line and one block per entry (title line, optionally the
// description), all text in UTF-16. On the way it stores each entry's itemRect, which
// hit-testing, the highlights and the tooltip tools use, and registers the entry's tool.
//
// Only what can be seen costs: the layout stops at the first entry that starts below the window,
// and the entries after it keep an empty itemRect and have no tool, so a paint (run on every mouse
// move) and the tooltip's own linear lookups do not grow with the length of the feed.
#include "display/painting.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "content/feed_items.h"
#include "content/text_direction.h"
#include "content/utf8_ansi.h"
#include "display/entry_text.h"
#include "display/gdi_count.h"
#include "display/high_contrast.h"
#include "display/script_text.h"
#include "display/selection_paint.h"
#include "display/text_fit.h"
#include "display/tooltip.h"

HostStyleItem windowStyle;
StyleFunctions styleFunctions = {GetSettingPtr, MakeStyleGradient};
TextFunctions textFunctions = {drawScriptText};

namespace {

// The shell's two border values (indices 14 and 12); their sum is the layout inset.
int shellInsetA = 0;
int shellInsetB = 0;

// Only the six style items are valid indices; anything else (a hand-edited file) paints with the
// first instead of copying whatever the shell keeps under that number.
int effectiveStyleType(int styleType) {
    return styleType >= 1 && styleType <= 6 ? styleType : 1;
}

int readShellInt(int index) {
    const int* value = static_cast<const int*>(styleFunctions.getSettingPtr(index));
    return value != nullptr ? *value : 0;
}

bool copyShellStyle(int index, HostStyleItem* destination) {
    const void* item = styleFunctions.getSettingPtr(index);
    if (item == nullptr)
        return false;
    memcpy(destination, item, sizeof *destination);
    destination->faceName[sizeof destination->faceName - 1] = '\0';
    return true;
}

// Settings and shell values are hand-editable; sums of them saturate instead of overflowing.
int saturate(long long value) {
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

RECT toRect(const ItemRect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}
int16_t clampedCoordinate(LONG value) {
    if (value > INT16_MAX)
        return INT16_MAX;
    if (value < INT16_MIN)
        return INT16_MIN;
    return static_cast<int16_t>(value);
}

ItemRect toItemRect(const RECT& r) {
    return ItemRect{clampedCoordinate(r.left), clampedCoordinate(r.top), clampedCoordinate(r.right),
                    clampedCoordinate(r.bottom)};
}

// The rectangle clamped to what an ItemRect holds; the client area lies well within.
RECT clampedRect(const RECT& r) {
    return toRect(toItemRect(r));
}

// highContrast is asked of the system once per paint, not once per highlight drawn.
void drawHighlight(HDC dc, RECT rect, bool withBorder, bool highContrast) {
    if (highContrast)
        return frameHighContrastHighlight(dc, rect);
    styleFunctions.makeStyleGradient(dc, &rect, &windowStyle, withBorder);
}

// DT_NOPREFIX keeps an ampersand in a headline ("Q&A") an ampersand. Only the three alignments
// are taken from justification: other bits (DT_MODIFYSTRING among them) would change what
// the draw-text function does with the text. A text read right to left starts at the right: its
// alignment is mirrored (left becomes right), and DT_RTLREADING makes it the paragraph's direction,
// so its runs, the ellipsis and what the line carries before and after it read from the right.
UINT alignmentFlags(const ViewOptions& options, bool rightToLeft) {
    int j = options.justification;
    UINT alignment = (j == 0 || j == 1 || j == 2) ? static_cast<UINT>(j) : DT_LEFT;
    if (!rightToLeft)
        return alignment;
    return DT_RTLREADING | (alignment == DT_LEFT    ? DT_RIGHT
                            : alignment == DT_RIGHT ? DT_LEFT
                                                    : DT_CENTER);
}
UINT drawingFlags(const ViewOptions& options, bool rightToLeft) {
    UINT flags = alignmentFlags(options, rightToLeft) | DT_NOPREFIX;
    return flags | (options.wordWrap ? DT_WORDBREAK : DT_SINGLELINE | DT_WORD_ELLIPSIS);
}
UINT measuringFlags(const ViewOptions& options, bool rightToLeft) {
    return drawingFlags(options, rightToLeft) | DT_CALCRECT;
}

// A text reads right to left when its first strong character is of a right-to-left script; a
// text without one reads as the whole of otherwise does (none: left to right). otherwise is
// scanned only then: a paint asks this of every entry.
bool readsRightToLeft(const wchar_t* text, size_t length, const wchar_t* otherwise = nullptr) {
    TextDirection direction = text != nullptr
                                  ? utf16Direction(reinterpret_cast<const char16_t*>(text), length)
                                  : TextDirection::neutral;
    if (direction == TextDirection::neutral)
        return otherwise != nullptr && readsRightToLeft(otherwise, static_cast<size_t>(-1));
    return direction == TextDirection::rightToLeft;
}

// What one paint works with: the model and options, its memory context, the content rectangle,
// the inset, the height of the client area and the one-line height once measured.
struct PaintContext {
    const ViewModel& model;
    const ViewOptions& options;
    HDC dc;
    RECT content;
    int inset;
    int clientHeight;
    int singleLineHeight; // -1 until measured
    int fontHeight;       // the height of one line of the paint's font
    bool highContrast;    // the system's high-contrast mode, read once at the start of the paint
};

// The texts a paint composes lines and tips into; their memory is kept from paint to paint.
WideText lineText;
WideText tipText;
WideText joinedText; // a description drawn on one line, its paragraphs joined

// The entries the previous paint laid out, counted from the first, and the rectangle of each by
// position (an entry scrolled away or below the window has an empty one). Only these few entries
// have a rectangle, so the model's entries, one per item of a feed, carry none.
size_t laidOutEntries = 0;
ItemRect* laidOutRects = nullptr;
size_t laidOutCapacity = 0;

ItemRect rectAt(size_t position) {
    return position < laidOutEntries ? laidOutRects[position] : ItemRect{0, 0, 0, 0};
}

// Keeps rect as the entry's at position; false when memory runs out.
bool keepRect(size_t position, ItemRect rect) {
    if (position >= laidOutCapacity) {
        size_t capacity = laidOutCapacity != 0 ? laidOutCapacity : 64;
        while (capacity <= position)
            capacity *= 2;
        ItemRect* grown =
            static_cast<ItemRect*>(realloc(laidOutRects, capacity * sizeof(ItemRect)));
        if (grown == nullptr)
            return false;
        laidOutRects = grown;
        laidOutCapacity = capacity;
    }
    laidOutRects[position] = rect;
    return true;
}

// In a line read right to left, a number, time or date in parentheses is started with a
// LEFT-TO-RIGHT MARK: otherwise the bidirectional algorithm lays out its digit groups from the
// right ("12/08 09:40" would show as "09:40 12/08").
const wchar_t leftToRightMark[] = L"\u200E";

// Appends text, with the mark after each "(" when rightToLeft.
void appendMarked(WideText& out, const wchar_t* text, bool rightToLeft) {
    if (!rightToLeft)
        return appendWide(out, text);
    for (const wchar_t* open = wcschr(text, L'('); open != nullptr; open = wcschr(text, L'(')) {
        appendWide(out, text, static_cast<size_t>(open - text) + 1);
        appendWide(out, leftToRightMark);
        text = open + 1;
    }
    appendWide(out, text);
}

// The header line: the feed's title, then what the plug-in adds (counts, time, stale marker).
void composeHeaderLine(WideText& out, const wchar_t* title, const char* suffix, bool rightToLeft) {
    clearText(out);
    appendWide(out, title);
    if (suffix != nullptr && suffix[0] != '\0') {
        wchar_t* wide = bytesToWide(suffix, drawnTextLimit, false);
        appendMarked(out, wide, rightToLeft);
        free(wide);
    }
}

// The header entry's tooltip text: its line when tipShowTitle is on, then the model's tip lines.
// False when the header gets no tool.
bool composeHeaderTip(WideText& out, const WideText& headerLine, const ViewModel& model,
                      const ViewOptions& options) {
    clearText(out);
    const char* tip = model.headerTip != nullptr ? model.headerTip : "";
    if (options.tipShowTitle)
        appendWide(out, textOf(headerLine));
    if (tip[0]) {
        if (options.tipShowTitle)
            appendWide(out, L"\n");
        wchar_t* wide = bytesToWide(tip, drawnTextLimit, options.utf8);
        appendWide(out, wide);
        free(wide);
    }
    return options.tipShowTitle || tip[0];
}

// An item's title line: the feed's name and the title, with the date before or after them when
// showDate is on. The stale marker, when the item's feed failed its last update, comes first: a
// line wider than the window is cut at its end, and the mark must never go with it.
void composeItemLine(WideText& out, const EntryTexts& texts, const wchar_t* title, bool stale,
                     const ViewOptions& options, bool rightToLeft) {
    clearText(out);
    if (stale)
        appendWide(out, L"[stale]  ");
    const wchar_t* date = options.showDate ? texts.date : nullptr;
    const wchar_t* dateStart = rightToLeft ? L"(\u200E" : L"(";
    if (date != nullptr && options.datePosHead) {
        appendWide(out, dateStart);
        appendWide(out, date);
        appendWide(out, L")  ");
    }
    if (texts.feedName != nullptr) {
        appendWide(out, texts.feedName);
        appendWide(out, L": ");
    }
    appendWide(out, title);
    if (date != nullptr && !options.datePosHead) {
        appendWide(out, L"  ");
        appendWide(out, dateStart);
        appendWide(out, date);
        appendWide(out, L")");
    }
}

// An item's tooltip text: the title line over the description, or either alone, composed only as
// far as a tool can hold. False when the item gets no tool (no description, no title in tips).
bool composeItemTip(WideText& out, const WideText& itemLine, const wchar_t* description,
                    const ViewOptions& options) {
    const size_t limit = static_cast<size_t>(toolTextCapacity) + 1;
    clearText(out);
    if (description == nullptr && !options.tipShowTitle)
        return false;
    if (options.tipShowTitle) {
        appendWide(out, textOf(itemLine), limit);
        if (description != nullptr)
            appendWide(out, L"\n\n", limit - out.length);
    }
    if (description != nullptr)
        appendWide(out, description, out.length < limit ? limit - out.length : 0);
    return true;
}

// Registers the tool for rect. A tool holds at most 1024 characters; a longer text keeps its first
// 1023, never half of a surrogate pair.
void registerTool(const RECT& rect, WideText& text, int headerLength = 0, int feed = 0,
                  const FeedItem* item = nullptr) {
    if (text.length > static_cast<size_t>(toolTextCapacity)) {
        size_t cut = static_cast<size_t>(toolTextCapacity) - 1;
        if (text.text[cut - 1] >= 0xD800 && text.text[cut - 1] <= 0xDBFF)
            --cut;
        text.text[cut] = L'\0';
        text.length = cut;
    }
    addOrUpdateFormattedTool(rect, textOf(text), headerLength, feed, item);
}

// A text block as measured: its height, how much of the text is measured and drawn, and its
// direction.
struct TextBlock {
    const wchar_t* text;
    int length; // -1: the whole text
    int height;
    bool rightToLeft;
};

// The units of a wrapped text measured first; each further try doubles them.
const size_t firstWrappedPart = 1024;

// Measures text between left and right with its top at top; an empty text counts as one line.
// Without word wrap every block is one line of the same font, so the first measure serves the
// whole paint. With word wrap only the first part of a long text is measured and drawn once that
// part reaches a whole line below the window's bottom edge: the lines above do not depend on the
// rest, and nobody sees the rest, so a long description costs no more than what shows.
// length counts the text's units, -1 up to the terminator.
TextBlock measureBlock(PaintContext& paint, const wchar_t* text, int length, int left, int top,
                       int right, bool rightToLeft) {
    if (length == 0 || text[0] == L'\0') {
        text = L" ";
        length = -1;
    }
    const bool wordWrap = paint.options.wordWrap;
    if (!wordWrap && paint.singleLineHeight >= 0)
        return TextBlock{text, length, paint.singleLineHeight, rightToLeft};
    size_t total = !wordWrap ? 0 : length < 0 ? wcslen(text) : static_cast<size_t>(length);
    // A whole line below the bottom edge, and further by the padding by which a title line may be
    // drawn above its block.
    long long enough = static_cast<long long>(paint.clientHeight) - top + paint.fontHeight +
                       llabs(static_cast<long long>(paint.options.padding));
    for (size_t part = firstWrappedPart;; part *= 2) {
        bool whole = part >= total;
        if (!whole && text[part - 1] >= 0xD800 && text[part - 1] <= 0xDBFF)
            --part; // never half of a surrogate pair
        int measuredLength = whole ? length : static_cast<int>(part);
        RECT measured = {left, top, fittedRight(left, right, text, measuredLength), top};
        textFunctions.drawText(paint.dc, text, measuredLength, &measured,
                               measuringFlags(paint.options, rightToLeft));
        int height = measured.bottom - top;
        if (!wordWrap)
            paint.singleLineHeight = height;
        if (whole || height >= enough)
            return TextBlock{text, measuredLength, height, rightToLeft};
    }
}

// Draws the block into rect unless rect lies wholly outside the client area.
void drawBlock(const PaintContext& paint, const TextBlock& block, RECT rect) {
    if (rect.top >= paint.clientHeight || rect.bottom <= 0)
        return;
    drawFittedText(textFunctions.drawText, paint.dc, block.text, block.length, rect,
                   drawingFlags(paint.options, block.rightToLeft));
}

// The bottom of a block of height at top, at least one pixel below top: padding can be negative,
// and a block that ended above its top would stack the following entries on it and never let the
// layout reach the bottom of the window.
LONG blockBottom(LONG top, int height, int padding) {
    int bottom = saturate(static_cast<long long>(top) + height + padding);
    return bottom > top ? bottom : saturate(static_cast<long long>(top) + 1);
}

// The memory device context and its bitmap, released in reverse order when the paint ends.
struct OffscreenCanvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ keptBitmap = nullptr;
    OffscreenCanvas(HDC target, int width, int height) {
        dc = countGdiCreated(CreateCompatibleDC(nullptr));
        // A DIB section rather than a compatible bitmap: its pixels are pages of their own, given
        // back when it is deleted, where a compatible bitmap's may stay in the process's heap
        // between paints (half a megabyte for a 380 x 330 window).
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        bitmap =
            countGdiCreated(CreateDIBSection(target, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
        if (dc != nullptr && bitmap != nullptr)
            keptBitmap = SelectObject(dc, bitmap);
    }
    ~OffscreenCanvas() {
        if (keptBitmap != nullptr)
            SelectObject(dc, keptBitmap);
        if (bitmap != nullptr)
            countGdiDeleted(DeleteObject(bitmap));
        if (dc != nullptr)
            countGdiDeleted(DeleteDC(dc));
    }
    bool ready() const { return keptBitmap != nullptr; }
    OffscreenCanvas(const OffscreenCanvas&) = delete;
    OffscreenCanvas& operator=(const OffscreenCanvas&) = delete;
};

// The paint's font, selected into dc for its lifetime; the same face in the bold weight is made
// only when a new item is drawn, and the two are swapped with useBold.
struct SelectedFont {
    HDC dc;
    int height;
    const wchar_t* face;
    HFONT font = nullptr;
    HFONT boldFont = nullptr;
    HGDIOBJ keptFont = nullptr;
    SelectedFont(HDC target, int fontHeight, const wchar_t* faceName)
        : dc(target), height(fontHeight), face(faceName) {
        font = makeFont(FW_NORMAL);
        if (font != nullptr)
            keptFont = SelectObject(dc, font);
    }
    ~SelectedFont() {
        if (keptFont != nullptr)
            SelectObject(dc, keptFont);
        if (font != nullptr)
            countGdiDeleted(DeleteObject(font));
        if (boldFont != nullptr)
            countGdiDeleted(DeleteObject(boldFont));
    }
    HFONT makeFont(int weight) const {
        return countGdiCreated(CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                           DEFAULT_CHARSET, 0, 0, 0, 0, face));
    }
    void useBold(bool bold) {
        if (font == nullptr)
            return;
        if (bold && boldFont == nullptr)
            boldFont = makeFont(FW_BOLD);
        SelectObject(dc, bold && boldFont != nullptr ? boldFont : font);
    }
    SelectedFont(const SelectedFont&) = delete;
    SelectedFont& operator=(const SelectedFont&) = delete;
};

struct TextLook {
    int height;
    wchar_t face[256]; // the font takes its first 31 characters
    COLORREF colour;
};

// A face name into face, read in codePage; empty when it does not convert.
void faceFrom(const char* name, size_t size, UINT codePage, wchar_t (&face)[256]) {
    int length = MultiByteToWideChar(codePage, 0, name, static_cast<int>(strnlen(name, size)), face,
                                     static_cast<int>(sizeof face / sizeof face[0]) - 1);
    face[length > 0 ? length : 0] = L'\0';
}

// The font and colour: the shell's toolbar item and the chosen style item, read afresh at every
// paint, or the plug-in's own. A style item the shell does not give falls back to the plug-in's.
TextLook chooseTextLook(const ViewOptions& options) {
    TextLook look;
    look.height = options.fontHeight;
    // The plug-in's own face is UTF-8; the shell's style holds its face in the code page.
    faceFrom(options.fontFace, sizeof options.fontFace, CP_UTF8, look.face);
    look.colour = options.fontColour;
    if (options.useShellFont) {
        HostStyleItem item;
        if (copyShellStyle(1, &item)) {
            look.height = item.fontHeight;
            faceFrom(item.faceName, sizeof item.faceName, CP_ACP, look.face);
        }
        if (copyShellStyle(effectiveStyleType(options.styleType), &item))
            look.colour = item.textColor;
    }
    return look;
}

// The description for one line: its paragraphs joined by blanks (a line feed on a single line
// would be drawn as a box or as nothing between two words). The description itself when it has
// one paragraph, or when no memory is left for the copy.
const wchar_t* joinedParagraphs(const wchar_t* description) {
    const wchar_t* feed = wcschr(description, L'\n');
    if (feed == nullptr)
        return description;
    clearText(joinedText);
    appendWide(joinedText, description);
    if (joinedText.text == nullptr)
        return description;
    for (wchar_t* p = joinedText.text + (feed - description); p != nullptr; p = wcschr(p, L'\n'))
        *p = L' ';
    return joinedText.text;
}

// Lays out and draws a description under its title line from top; returns the bottom of its block
// (padding included). With word wrap each paragraph ("\n" ends one) is a block of its own, read in
// its own direction; the paragraphs below the window's bottom edge are not measured. On one line
// the description is one block, its paragraphs joined by blanks, read in the direction of its
// first strong character.
LONG paintDescription(PaintContext& paint, const wchar_t* description, int left, LONG top,
                      int right) {
    const ViewOptions& options = paint.options;
    const wchar_t* paragraph = options.wordWrap ? description : joinedParagraphs(description);
    LONG y = top;
    for (;;) {
        const wchar_t* end = options.wordWrap ? wcschr(paragraph, L'\n') : nullptr;
        bool last = end == nullptr || y >= paint.clientHeight;
        size_t length = end != nullptr ? static_cast<size_t>(end - paragraph) : wcslen(paragraph);
        if (length > 0 && paragraph[length - 1] == L'\r')
            --length;
        TextBlock block =
            measureBlock(paint, paragraph, length > INT_MAX ? INT_MAX : static_cast<int>(length),
                         left, y, right, readsRightToLeft(paragraph, length));
        LONG bottom = saturate(static_cast<long long>(y) + block.height);
        if (last) {
            LONG blockEnd = blockBottom(top, bottom - top, options.padding);
            drawBlock(paint, block, RECT{left, y, right, blockEnd});
            return blockEnd;
        }
        drawBlock(paint, block, RECT{left, y, right, bottom});
        y = bottom;
        paragraph = end + 1;
    }
}

// A highlighted item's mark: a bar in the text's colour where its line starts, as wide as a
// stroke of a bold letter, so it differs from the mouse-over highlight and reads in any theme.
int highlightMarkWidth(int fontHeight) {
    return fontHeight / 6 > 2 ? fontHeight / 6 : 2;
}

void drawHighlightMark(const PaintContext& paint, RECT mark) {
    if (mark.top >= paint.clientHeight || mark.bottom <= 0)
        return;
    HBRUSH brush = countGdiCreated(CreateSolidBrush(GetTextColor(paint.dc)));
    if (brush == nullptr)
        return;
    FillRect(paint.dc, &mark, brush);
    countGdiDeleted(DeleteObject(brush));
}

// Lays out and draws the entry at position (0 the header) with its top at layoutY; returns the
// new layoutY. The entry keeps its itemRect and gets its tool only when it reaches into the client
// area.
int paintEntry(PaintContext& paint, SelectedFont& font, const ViewEntry& shown, size_t position,
               int layoutY) {
    const ViewOptions& options = paint.options;
    const RECT& content = paint.content;
    const int inset = paint.inset;
    const bool head = position == 0;
    const FeedItem* entry = shown.item;
    const bool isNew = !head && shown.isNew;
    if (options.highlight == 2) {
        RECT previous = toRect(rectAt(position));
        if (!IsRectEmpty(&previous))
            drawHighlight(paint.dc, previous, options.highlightBorder, paint.highContrast);
    }
    EntryTexts texts = textsAt(position, entry, head ? nullptr : entryFeedName(paint.model, shown),
                               options.utf8, options.abbreviatedDate, options.localTime);
    const wchar_t* title = texts.title != nullptr ? texts.title : L"";
    // The line reads in the direction of the title (the header's: of the feed's title), whatever
    // the date and the feed's name before it are written in.
    bool lineRightToLeft = readsRightToLeft(title, static_cast<size_t>(-1), texts.feedName);
    if (head)
        composeHeaderLine(lineText, title, paint.model.headerSuffix, lineRightToLeft);
    else
        composeItemLine(lineText, texts, title, shown.stale, options, lineRightToLeft);
    const wchar_t* line = textOf(lineText);
    int indent = head ? inset : saturate(static_cast<long long>(options.titleOffset) + inset);

    RECT item = {content.left, layoutY, content.right, layoutY};
    int textLeft = saturate(static_cast<long long>(item.left) + indent);
    int textRight = saturate(static_cast<long long>(item.right) - inset);
    const bool marked = !head && shown.highlighted;
    const int markWidth = highlightMarkWidth(paint.fontHeight);
    RECT mark = {};
    if (marked) {
        // The bar goes where the line starts; the title moves over by the bar and a gap.
        mark.left = lineRightToLeft ? textRight - markWidth : textLeft;
        mark.right = mark.left + markWidth;
        if (lineRightToLeft)
            textRight = saturate(static_cast<long long>(textRight) - 2 * markWidth);
        else
            textLeft = saturate(static_cast<long long>(textLeft) + 2 * markWidth);
    }
    if (isNew)
        font.useBold(true);
    TextBlock lineBlock =
        measureBlock(paint, line, -1, textLeft, layoutY, textRight, lineRightToLeft);
    int height = lineBlock.height;
    item.bottom = blockBottom(layoutY, height, options.padding);
    int shift = saturate((static_cast<long long>(item.bottom) - item.top - height) / 2);
    RECT textRect = {textLeft, saturate(static_cast<long long>(item.top) + shift), textRight,
                     saturate(static_cast<long long>(item.bottom) + shift)};
    drawBlock(paint, lineBlock, textRect);
    if (marked) {
        mark.top = textRect.top;
        mark.bottom = saturate(static_cast<long long>(textRect.top) + height);
        drawHighlightMark(paint, mark);
    }
    if (isNew)
        font.useBold(false);
    layoutY = item.bottom;

    const wchar_t* note = head ? paint.model.headerNote : nullptr;
    if (note != nullptr && note[0] != L'\0') {
        TextBlock noteBlock = measureBlock(paint, note, -1, textLeft, layoutY, textRight,
                                           readsRightToLeft(note, static_cast<size_t>(-1)));
        item.bottom = blockBottom(layoutY, noteBlock.height, options.padding);
        drawBlock(paint, noteBlock, RECT{textLeft, layoutY, textRight, item.bottom});
        layoutY = item.bottom;
    }

    const wchar_t* description = head ? nullptr : texts.description;
    if (description != nullptr && options.showDescription) {
        int descLeft = saturate(static_cast<long long>(item.left) + options.descOffset + inset);
        layoutY = paintDescription(paint, description, descLeft, layoutY, textRight);
        item.bottom = layoutY;
    }

    bool seen = item.bottom > 0 && item.top < paint.clientHeight;
    // The tool gets the rectangle the entry keeps, so that the next paint knows it again.
    if (seen)
        item = clampedRect(item);
    keepRect(position, seen ? toItemRect(item) : ItemRect{0, 0, 0, 0});
    if (seen) {
        bool wanted = head ? composeHeaderTip(tipText, lineText, paint.model, options)
                           : composeItemTip(tipText, lineText, description, options);
        // An item's tip draws its description formatted, under its line as the header.
        if (wanted && !head && description != nullptr && options.utf8)
            registerTool(item, tipText,
                         options.tipShowTitle ? static_cast<int>(lineText.length) : 0, shown.feed,
                         shown.item);
        else if (wanted)
            registerTool(item, tipText);
    }
    return layoutY;
}

bool contains(const ItemRect& r, POINT point) {
    return point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom;
}

// The laid-out entry whose itemRect contains point, or null. Only the entries the previous paint
// laid out can contain a point.
const ViewEntry* laidOutEntryAt(const ViewModel& model, POINT point) {
    for (size_t position = 0; position < model.count && position < laidOutEntries; ++position) {
        if (contains(laidOutRects[position], point))
            return &model.entries[position];
    }
    return nullptr;
}

// Lays out the entries from the first until one starts below the client area (or no rectangle
// can be kept); the entries after it have no rectangle. Returns how many were laid out.
size_t layOutEntries(PaintContext& paint, SelectedFont& font) {
    const ViewModel& model = paint.model;
    size_t position = 0;
    int layoutY = paint.content.top;
    for (; position < model.count && layoutY < paint.clientHeight; ++position) {
        if (!keepRect(position, rectAt(position)))
            break; // a rectangle could not be kept: the entries from here are not laid out
        if (scrolledAway(position))
            laidOutRects[position] = ItemRect{0, 0, 0, 0};
        else
            layoutY = paintEntry(paint, font, model.entries[position], position, layoutY);
    }
    return position;
}

} // namespace

void loadShellStyle(int styleType) {
    shellInsetA = readShellInt(14);
    shellInsetB = readShellInt(12);
    HostStyleItem item;
    if (copyShellStyle(effectiveStyleType(styleType), &item))
        windowStyle = item;
}

void paintWindow(HWND window, const ViewModel& model, const ViewOptions& options) {
    beginToolRefresh();
    int inset = saturate(static_cast<long long>(shellInsetA) + shellInsetB);
    PAINTSTRUCT paint;
    HDC paintDC = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    {
        OffscreenCanvas canvas(paintDC, client.right, client.bottom);
        if (canvas.ready()) {
            bool highContrast = highContrastOn();
            if (highContrast)
                fillHighContrastBackground(canvas.dc, client);
            else
                drawHighlight(canvas.dc, client, options.showBorder, false);
            RECT content = {inset, inset, saturate(static_cast<long long>(client.right) - inset),
                            saturate(static_cast<long long>(client.bottom) - inset)};
            TextLook look = chooseTextLook(options);
            SelectedFont font(canvas.dc, look.height, look.face);
            SetTextColor(canvas.dc, highContrast ? highContrastTextColour() : look.colour);
            SetBkMode(canvas.dc, TRANSPARENT);

            if (options.highlight == 1 && options.mouseInside) {
                POINT cursor;
                if (GetCursorPos(&cursor) && ScreenToClient(window, &cursor)) {
                    const ViewEntry* under = laidOutEntryAt(model, cursor);
                    if (under != nullptr)
                        drawHighlight(canvas.dc, toRect(entryRect(model, under)),
                                      options.highlightBorder, highContrast);
                }
            }
            if (const ViewEntry* selected = focusedSelectionEntry(model)) {
                ItemRect rect = entryRect(model, selected);
                if (rect.bottom > rect.top)
                    drawHighlight(canvas.dc, toRect(rect), options.highlightBorder, highContrast);
            }
            TEXTMETRICW metrics;
            int fontHeight = GetTextMetricsW(canvas.dc, &metrics) ? metrics.tmHeight : 0;
            PaintContext context = {model,         options, canvas.dc,  content,     inset,
                                    client.bottom, -1,      fontHeight, highContrast};
            laidOutEntries = layOutEntries(context, font);
            forgetTextsFrom(laidOutEntries);
            finishSelectionPaint(window, canvas.dc, client.bottom, model);
            // The whole client area, whatever the settings say the size is: a smaller stored size
            // (a reload before the window follows it) would leave old pixels in the strips.
            BitBlt(paintDC, 0, 0, client.right, client.bottom, canvas.dc, 0, 0, SRCCOPY);
            endToolRefresh();
        }
    }
    EndPaint(window, &paint);
}

ViewEntry* entryAtPoint(const ViewModel& model, POINT point) {
    return const_cast<ViewEntry*>(laidOutEntryAt(model, point));
}

ItemRect entryRect(size_t position) {
    return rectAt(position);
}

ItemRect entryRect(const ViewModel& model, const ViewEntry* entry) {
    if (entry == nullptr || entry < model.entries || entry >= model.entries + model.count)
        return ItemRect{0, 0, 0, 0};
    return rectAt(static_cast<size_t>(entry - model.entries));
}

void forgetEntryRects() {
    laidOutEntries = 0;
}

void placeEntry(size_t position, ItemRect rect) {
    for (size_t before = laidOutEntries; before < position; ++before)
        if (!keepRect(before, ItemRect{0, 0, 0, 0}))
            return;
    if (keepRect(position, rect) && position >= laidOutEntries)
        laidOutEntries = position + 1;
}

void releasePaintTexts() {
    forgetTextsFrom(0);
    releaseScriptCaches();
    releaseText(lineText);
    releaseText(tipText);
    releaseText(joinedText);
    laidOutEntries = 0;
    free(laidOutRects);
    laidOutRects = nullptr;
    laidOutCapacity = 0;
}
