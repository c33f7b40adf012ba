// Lays a formatted description out as pieces: a paragraph's lines and a list item's marker, each
// measured, broken and drawn through the script engine (display/script_text.h) in the styles of
// the tip's font, so a line of several styles is shaped and ordered as one line and characters the
// font lacks come from the fallback faces. Each block reads in the direction of its first strong
// character: a right-to-left block starts at the tip's right edge, its marker hangs on the right
// and its indent is taken from the right. Lines are filled to a few pixels short of the width and
// drawn clipped to it, so a glyph that reaches past its advance (an italic's last letter) never
// inks past the tip's edge.
#include "display/formatted_tip.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "content/text_direction.h"
#include "display/script_text.h"

namespace {

const int styleCount = 16; // every combination of FormattedStyle bits
const wchar_t ellipsis = L'\x2026';

struct Piece {
    int offset;        // from the block's start edge (its left, or its right when it reads right to
                       // left) to the piece's near end
    int width;         // the pixels the script engine measured it to take
    int baseline;      // 0 until its line is finished
    int start, length; // its units in the tip's text
    bool rightToLeft;
};

} // namespace

struct FormattedTip {
    HFONT fonts[styleCount]; // made on first use; fonts[0] is the base font, not owned
    int ascent[styleCount], descent[styleCount];
    RECT header; // the header's place, empty when there is none
    bool headerRightToLeft;
    wchar_t* headerText;
    int headerLength;
    Piece* pieces;
    int pieceCount, pieceCapacity;
    wchar_t* text;
    unsigned char* styles; // per unit of text, its style bits
    int textLength, textCapacity;
    int contentRight; // the far end of the widest line: where right-to-left lines start
    int overhang;     // the room a line's last glyph may reach past its advance
    int width, height;
};

namespace {

struct Layout {
    HDC dc;
    FormattedTip* tip;
    int width;     // the right edge lines are filled to
    int maxHeight; // the bottom no line may pass
    int y;         // the top of the line being filled
    int lineFirst; // the first piece of the line being filled
    bool full;     // a line did not fit: nothing more is laid out
};

HFONT fontFor(Layout& layout, int style) {
    FormattedTip* tip = layout.tip;
    if (tip->fonts[style] != nullptr)
        return tip->fonts[style];
    LOGFONTW logFont = {};
    GetObjectW(tip->fonts[0], sizeof logFont, &logFont);
    if (style & BoldStyle)
        logFont.lfWeight = FW_BOLD;
    if (style & ItalicStyle)
        logFont.lfItalic = TRUE;
    if (style & UnderlineStyle)
        logFont.lfUnderline = TRUE;
    if (style & CodeStyle) {
        logFont.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
        wcscpy(logFont.lfFaceName, L"Courier New");
    }
    HFONT font = CreateFontIndirectW(&logFont);
    tip->fonts[style] = font != nullptr ? font : tip->fonts[0];
    HGDIOBJ old = SelectObject(layout.dc, tip->fonts[style]);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(layout.dc, &metrics);
    SelectObject(layout.dc, old);
    tip->ascent[style] = metrics.tmAscent;
    tip->descent[style] = metrics.tmDescent;
    return tip->fonts[style];
}

// length units of the tip's text from start, as styled text read in the direction given.
StyledText styledAt(const FormattedTip* tip, int start, int length, bool rightToLeft) {
    return StyledText{tip->text + start, length,     tip->styles + start,
                      tip->fonts,        styleCount, rightToLeft};
}

// The width of text in one style, read left to right.
int extent(Layout& layout, int style, const wchar_t* text, int length) {
    HFONT font = fontFor(layout, style);
    return styledTextWidth(layout.dc, StyledText{text, length, nullptr, &font, 1, false});
}

bool grow(void** items, int* capacity, int wanted, size_t itemSize) {
    if (wanted <= *capacity)
        return true;
    int capacityNow = *capacity > 0 ? *capacity : 64;
    while (capacityNow < wanted)
        capacityNow *= 2;
    void* more = realloc(*items, static_cast<size_t>(capacityNow) * itemSize);
    if (more == nullptr)
        return false;
    *items = more;
    *capacity = capacityNow;
    return true;
}

// Keeps length units of text in the tip, each with its style from styles (null: all in style);
// their start, or -1 when memory runs out. The units may be the tip's own.
int keepText(FormattedTip* tip, const wchar_t* text, const unsigned char* styles, int style,
             int length) {
    uintptr_t first = reinterpret_cast<uintptr_t>(tip->text);
    uintptr_t at = reinterpret_cast<uintptr_t>(text);
    bool own =
        tip->text != nullptr && at >= first && at < first + tip->textLength * sizeof(wchar_t);
    ptrdiff_t ownText = own ? text - tip->text : 0;
    ptrdiff_t ownStyles = own && styles != nullptr ? styles - tip->styles : 0;
    int wanted = tip->textLength + length;
    int capacity = tip->textCapacity;
    void* units = tip->text;
    if (!grow(&units, &capacity, wanted, sizeof(wchar_t)))
        return -1;
    tip->text = static_cast<wchar_t*>(units);
    // The styles grow to the same capacity as the units.
    capacity = tip->textCapacity;
    void* unitStyles = tip->styles;
    if (!grow(&unitStyles, &capacity, wanted, 1))
        return -1;
    tip->styles = static_cast<unsigned char*>(unitStyles);
    tip->textCapacity = capacity;
    if (own) {
        text = tip->text + ownText;
        styles = styles != nullptr ? tip->styles + ownStyles : nullptr;
    }
    memcpy(tip->text + tip->textLength, text, static_cast<size_t>(length) * sizeof(wchar_t));
    if (styles != nullptr)
        memcpy(tip->styles + tip->textLength, styles, static_cast<size_t>(length));
    else
        memset(tip->styles + tip->textLength, style, static_cast<size_t>(length));
    tip->textLength = wanted;
    return wanted - length;
}

bool addPiece(Layout& layout, const Piece& piece) {
    FormattedTip* tip = layout.tip;
    void* items = tip->pieces;
    if (!grow(&items, &tip->pieceCapacity, tip->pieceCount + 1, sizeof(Piece))) {
        layout.full = true;
        return false;
    }
    tip->pieces = static_cast<Piece*>(items);
    tip->pieces[tip->pieceCount++] = piece;
    return true;
}

// The piece ends its line with "…" (the text after it did not fit): it gives up characters
// until the mark fits in the width, and is drawn from a copy of its text with the mark.
void endWithEllipsis(Layout& layout, int last) {
    FormattedTip* tip = layout.tip;
    Piece cut = tip->pieces[last];
    int style = cut.length > 0 ? tip->styles[cut.start + cut.length - 1] : 0;
    // The line's units and a place for the mark after them.
    int start = keepText(tip, tip->text + cut.start, tip->styles + cut.start, 0, cut.length);
    if (start < 0 || keepText(tip, &ellipsis, nullptr, style, 1) < 0)
        return;
    int length = cut.length;
    int available = layout.width - cut.offset;
    for (;;) {
        tip->text[start + length] = ellipsis;
        tip->styles[start + length] = static_cast<unsigned char>(style);
        int width = styledTextWidth(layout.dc, styledAt(tip, start, length + 1, cut.rightToLeft));
        if (width <= available || length == 0) {
            cut.width = width;
            break;
        }
        --length;
        if (length > 0 && tip->text[start + length - 1] >= 0xD800 &&
            tip->text[start + length - 1] <= 0xDBFF)
            --length; // never half of a surrogate pair
        // Blanks before the mark would set it apart from the word it ends.
        while (length > 0 && tip->text[start + length - 1] == L' ')
            --length;
    }
    cut.start = start;
    cut.length = length + 1;
    tip->pieces[last] = cut;
    if (cut.offset + cut.width > tip->contentRight)
        tip->contentRight = cut.offset + cut.width;
}

// Finishes the line being filled: its pieces get their baseline. A line that would pass the
// bottom is dropped and the line before it ends with "…" instead; nothing more is laid out.
void finishLine(Layout& layout) {
    FormattedTip* tip = layout.tip;
    if (layout.full)
        return;
    int ascent = tip->ascent[0], descent = tip->descent[0];
    for (int i = layout.lineFirst; i < tip->pieceCount; ++i) {
        const Piece& piece = tip->pieces[i];
        for (int k = piece.start; k < piece.start + piece.length; ++k) {
            int style = tip->styles[k];
            ascent = tip->ascent[style] > ascent ? tip->ascent[style] : ascent;
            descent = tip->descent[style] > descent ? tip->descent[style] : descent;
        }
    }
    if (layout.y + ascent + descent > layout.maxHeight) {
        tip->pieceCount = layout.lineFirst;
        if (layout.lineFirst > 0)
            endWithEllipsis(layout, layout.lineFirst - 1);
        layout.full = true;
        return;
    }
    for (int i = layout.lineFirst; i < tip->pieceCount; ++i) {
        Piece& piece = tip->pieces[i];
        piece.baseline = layout.y + ascent;
        if (piece.offset + piece.width > tip->contentRight)
            tip->contentRight = piece.offset + piece.width;
    }
    layout.y += ascent + descent;
    tip->height = layout.y;
    layout.lineFirst = tip->pieceCount;
}

// A run's text as UTF-16 at the end of the tip's text, tabs as four blanks, in style; false when
// memory runs out.
bool keepRun(FormattedTip* tip, const FormattedRun& run, int style) {
    int n = MultiByteToWideChar(CP_UTF8, 0, run.text, run.length, nullptr, 0);
    int tabs = 0;
    for (int32_t i = 0; i < run.length; ++i)
        tabs += run.text[i] == '\t' ? 1 : 0;
    wchar_t* wide = static_cast<wchar_t*>(malloc((static_cast<size_t>(n) + 3 * tabs + 1) * 2));
    if (wide == nullptr)
        return false;
    n = MultiByteToWideChar(CP_UTF8, 0, run.text, run.length, wide, n);
    int out = n + 3 * tabs;
    for (int i = n - 1, k = out - 1; i >= 0 && k >= 0; --i) {
        int copies = wide[i] == L'\t' ? 4 : 1;
        wchar_t c = wide[i] == L'\t' ? L' ' : wide[i];
        while (copies-- > 0)
            wide[k--] = c;
    }
    bool kept = keepText(tip, wide, nullptr, style, out) >= 0;
    free(wide);
    return kept;
}

// Lays out the lines of units [start, end) of the tip's text, a part of a block between line
// breaks, indented by left from the block's start edge.
void layoutLines(Layout& layout, int start, int end, int left, bool rightToLeft) {
    FormattedTip* tip = layout.tip;
    int capacity = end - start + 1;
    StyledLine* lines = static_cast<StyledLine*>(malloc(capacity * sizeof(StyledLine)));
    if (lines == nullptr) {
        layout.full = true;
        return;
    }
    int count = breakStyledText(layout.dc, styledAt(tip, start, end - start, rightToLeft),
                                layout.width - left, lines, capacity);
    for (int i = 0; i < count && !layout.full; ++i) {
        if (lines[i].length > 0)
            addPiece(layout, Piece{left, lines[i].width, 0, start + lines[i].start, lines[i].length,
                                   rightToLeft});
        finishLine(layout);
    }
    free(lines);
}

void layoutBlock(Layout& layout, const FormattedDescription* document,
                 const FormattedBlock& block) {
    FormattedTip* tip = layout.tip;
    int headingStyle = block.kind == HeadingBlock ? BoldStyle : 0;
    int textStart = tip->textLength;
    for (int32_t r = 0; r < block.runCount; ++r) {
        const FormattedRun& run = document->runs[block.firstRun + r];
        fontFor(layout, run.style | headingStyle);
        if (!keepRun(tip, run, run.style | headingStyle)) {
            layout.full = true;
            return;
        }
    }
    int textEnd = tip->textLength;
    bool rightToLeft =
        utf16Direction(reinterpret_cast<const char16_t*>(tip->text + textStart),
                       static_cast<size_t>(textEnd - textStart)) == TextDirection::rightToLeft;
    int indentStep = extent(layout, 0, L"MM", 2);
    int left = block.indent * indentStep;
    if (block.kind == ListItemBlock) {
        // The marker hangs before the item's text, which lines up whatever the marker's width.
        wchar_t marker[20];
        int markerLength = MultiByteToWideChar(CP_UTF8, 0, block.marker, -1, marker, 20) - 1;
        int markerWidth = markerLength > 0 ? extent(layout, 0, marker, markerLength) : 0;
        int gap = extent(layout, 0, L" ", 1);
        if (left < markerWidth + gap)
            left = markerWidth + gap;
        if (left > layout.width / 2)
            left = layout.width / 2;
        int markerStart = markerLength > 0 ? keepText(tip, marker, nullptr, 0, markerLength) : -1;
        if (markerStart >= 0) {
            int offset = left - gap - markerWidth > 0 ? left - gap - markerWidth : 0;
            if (!addPiece(layout,
                          Piece{offset, markerWidth, 0, markerStart, markerLength, rightToLeft}))
                return;
        }
    } else if (left > layout.width / 2) {
        left = layout.width / 2;
    }
    // A line break ends a line; the parts between breaks are broken where their scripts allow.
    for (int start = textStart; start <= textEnd && !layout.full;) {
        int end = start;
        while (end < textEnd && tip->text[end] != L'\n')
            ++end;
        layoutLines(layout, start, end, left, rightToLeft);
        start = end + 1;
    }
}

} // namespace

FormattedTip* layoutFormattedTip(HDC dc, HFONT font, const wchar_t* header, int headerLength,
                                 const FormattedDescription* document, int width, int maxHeight) {
    FormattedTip* tip = static_cast<FormattedTip*>(calloc(1, sizeof(FormattedTip)));
    if (tip == nullptr)
        return nullptr;
    tip->fonts[0] = font != nullptr ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HGDIOBJ old = SelectObject(dc, tip->fonts[0]);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    tip->ascent[0] = metrics.tmAscent;
    tip->descent[0] = metrics.tmDescent;
    int lineHeight = metrics.tmHeight;
    tip->overhang = metrics.tmAscent / 5 + 1;
    Layout layout = {
        dc, tip, width > 4 * tip->overhang ? width - tip->overhang : width, maxHeight, 0, 0, false};
    if (header != nullptr && headerLength > 0) {
        tip->headerText = static_cast<wchar_t*>(malloc(headerLength * sizeof(wchar_t)));
        if (tip->headerText != nullptr) {
            memcpy(tip->headerText, header, headerLength * sizeof(wchar_t));
            tip->headerLength = headerLength;
            tip->headerRightToLeft =
                utf16Direction(reinterpret_cast<const char16_t*>(header),
                               static_cast<size_t>(headerLength)) == TextDirection::rightToLeft;
            RECT measured = {0, 0, layout.width, 0};
            drawScriptText(dc, header, headerLength, &measured,
                           DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX |
                               (tip->headerRightToLeft ? DT_RTLREADING : 0));
            tip->header = measured;
            tip->contentRight = measured.right;
            layout.y = measured.bottom + lineHeight / 2;
            tip->height = measured.bottom;
        }
    }
    int blocks = document != nullptr ? document->blockCount : 0;
    for (int k = 0; k < blocks && !layout.full; ++k) {
        if (k > 0)
            layout.y += lineHeight / 3;
        layout.lineFirst = tip->pieceCount;
        layoutBlock(layout, document, document->blocks[k]);
    }
    SelectObject(dc, old);
    tip->width =
        tip->contentRight + tip->overhang < width ? tip->contentRight + tip->overhang : width;
    return tip;
}

SIZE formattedTipSize(const FormattedTip* tip) {
    SIZE size = {tip != nullptr ? tip->width : 0, tip != nullptr ? tip->height : 0};
    return size;
}

void drawFormattedTip(HDC dc, const FormattedTip* tip, int x, int y) {
    if (tip == nullptr)
        return;
    int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, tip->fonts[0]);
    // Nothing past the width the tip was given, whatever a glyph's overhang.
    IntersectClipRect(dc, x - tip->overhang, y - tip->height, x + tip->width, y + 2 * tip->height);
    if (tip->headerLength > 0) {
        RECT header = tip->header;
        OffsetRect(&header, x, y);
        UINT flags = DT_WORDBREAK | DT_NOPREFIX;
        if (tip->headerRightToLeft) {
            header.right = x + tip->contentRight;
            flags |= DT_RIGHT | DT_RTLREADING;
        }
        drawScriptText(dc, tip->headerText, tip->headerLength, &header, flags);
    }
    for (int i = 0; i < tip->pieceCount; ++i) {
        const Piece& piece = tip->pieces[i];
        if (piece.baseline == 0 || piece.length == 0)
            continue;
        int left =
            piece.rightToLeft ? tip->contentRight - piece.offset - piece.width : piece.offset;
        drawStyledText(dc, styledAt(tip, piece.start, piece.length, piece.rightToLeft), x + left,
                       y + piece.baseline);
    }
    RestoreDC(dc, saved);
}

void freeFormattedTip(FormattedTip* tip) {
    if (tip == nullptr)
        return;
    for (int style = 1; style < styleCount; ++style)
        if (tip->fonts[style] != nullptr && tip->fonts[style] != tip->fonts[0])
            DeleteObject(tip->fonts[style]);
    free(tip->headerText);
    free(tip->pieces);
    free(tip->text);
    free(tip->styles);
    free(tip);
}
