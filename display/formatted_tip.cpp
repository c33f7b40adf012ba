// Lays a formatted description out as fragments: pieces of one style on one line, each measured
// on its own and drawn at its own place, so a line of several styles wraps as one line. Words
// move to the next line whole; a word wider than a line is broken between characters. Glyphs
// may be drawn a little wider than they measure, so lines are filled to a few pixels short of
// the width.
#include "display/formatted_tip.h"

#include <cstdlib>
#include <cstring>

namespace {

const int styleCount = 16; // every combination of FormattedStyle bits
const wchar_t ellipsis[] = L"\x2026";

struct Fragment {
    int x, baseline; // baseline: 0 until its line is finished
    int advance;     // the pixels its text was measured to take
    int font;        // style bits, the index into the tip's fonts
    int start, length;
    UINT options; // ExtTextOut's options for its paragraph
};

} // namespace

struct FormattedTip {
    HFONT fonts[styleCount]; // made on first use; fonts[0] is the base font, not owned
    int ascent[styleCount], descent[styleCount];
    RECT header; // the header's place, empty when there is none
    wchar_t* headerText;
    int headerLength;
    Fragment* fragments;
    int fragmentCount, fragmentCapacity;
    wchar_t* text;
    int textLength, textCapacity;
    int width, height;
};

namespace {

struct Layout {
    HDC dc;
    FormattedTip* tip;
    int width;     // the right edge lines are filled to
    int maxHeight; // the bottom no line may pass
    int y;         // the top of the line being filled
    int x;
    int lineFirst; // the first fragment of the line being filled
    UINT options;  // the paragraph's drawing options
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

int extent(Layout& layout, int style, const wchar_t* text, int length) {
    if (length <= 0)
        return 0;
    HGDIOBJ old = SelectObject(layout.dc, fontFor(layout, style));
    SIZE size = {};
    GetTextExtentPoint32W(layout.dc, text, length, &size);
    SelectObject(layout.dc, old);
    return size.cx;
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

// Keeps length characters of text in the tip; their start, or -1 when memory runs out.
int keepText(FormattedTip* tip, const wchar_t* text, int length) {
    void* items = tip->text;
    if (!grow(&items, &tip->textCapacity, tip->textLength + length, sizeof(wchar_t)))
        return -1;
    tip->text = static_cast<wchar_t*>(items);
    memcpy(tip->text + tip->textLength, text, static_cast<size_t>(length) * sizeof(wchar_t));
    tip->textLength += length;
    return tip->textLength - length;
}

bool addFragment(Layout& layout, int x, int advance, int style, const wchar_t* text, int length) {
    FormattedTip* tip = layout.tip;
    int start = keepText(tip, text, length);
    void* items = tip->fragments;
    if (start < 0 ||
        !grow(&items, &tip->fragmentCapacity, tip->fragmentCount + 1, sizeof(Fragment))) {
        layout.full = true;
        return false;
    }
    tip->fragments = static_cast<Fragment*>(items);
    Fragment& fragment = tip->fragments[tip->fragmentCount++];
    fragment = Fragment{x, 0, advance, style, start, length, layout.options};
    return true;
}

// The line whose last fragment is last ends with "…" (the text after it did not fit): the
// fragment gives up characters until the mark fits in the width.
void endWithEllipsis(Layout& layout, int last) {
    FormattedTip* tip = layout.tip;
    Fragment& cut = tip->fragments[last];
    int markWidth = extent(layout, cut.font, ellipsis, 1);
    int right = cut.x + extent(layout, cut.font, tip->text + cut.start, cut.length);
    while (cut.length > 0 && right + markWidth > layout.width) {
        --cut.length;
        right = cut.x + extent(layout, cut.font, tip->text + cut.start, cut.length);
    }
    // Blanks before the mark would set it apart from the word it ends.
    while (cut.length > 0 && tip->text[cut.start + cut.length - 1] == L' ')
        --cut.length;
    right = cut.x + extent(layout, cut.font, tip->text + cut.start, cut.length);
    Fragment mark = {right, cut.baseline, markWidth, cut.font, 0, 1, cut.options};
    mark.start = keepText(tip, ellipsis, 1);
    void* items = tip->fragments;
    if (mark.start < 0 ||
        !grow(&items, &tip->fragmentCapacity, tip->fragmentCount + 1, sizeof(Fragment)))
        return;
    tip->fragments = static_cast<Fragment*>(items);
    tip->fragments[tip->fragmentCount++] = mark;
    if (right + markWidth > tip->width)
        tip->width = right + markWidth;
}

// Finishes the line being filled: its fragments get their baseline. A line that would pass the
// bottom is dropped and the line before it ends with "…" instead; nothing more is laid out.
void finishLine(Layout& layout) {
    FormattedTip* tip = layout.tip;
    if (layout.full)
        return;
    int ascent = tip->ascent[0], descent = tip->descent[0];
    for (int i = layout.lineFirst; i < tip->fragmentCount; ++i) {
        const Fragment& fragment = tip->fragments[i];
        ascent = tip->ascent[fragment.font] > ascent ? tip->ascent[fragment.font] : ascent;
        descent = tip->descent[fragment.font] > descent ? tip->descent[fragment.font] : descent;
    }
    if (layout.y + ascent + descent > layout.maxHeight) {
        tip->fragmentCount = layout.lineFirst;
        if (layout.lineFirst > 0)
            endWithEllipsis(layout, layout.lineFirst - 1);
        layout.full = true;
        return;
    }
    // Neighbours of one style are drawn as one piece, so the spacing inside it is the text
    // renderer's own (words measured apart can draw wider than their extents add up to).
    int kept = layout.lineFirst;
    for (int i = layout.lineFirst; i < tip->fragmentCount; ++i) {
        Fragment& fragment = tip->fragments[i];
        Fragment* previous = kept > layout.lineFirst ? &tip->fragments[kept - 1] : nullptr;
        if (previous != nullptr && previous->font == fragment.font &&
            previous->options == fragment.options &&
            previous->x + previous->advance == fragment.x &&
            previous->start + previous->length == fragment.start) {
            previous->length += fragment.length;
            previous->advance += fragment.advance;
            continue;
        }
        tip->fragments[kept++] = fragment;
    }
    tip->fragmentCount = kept;
    for (int i = layout.lineFirst; i < tip->fragmentCount; ++i)
        tip->fragments[i].baseline = layout.y + ascent;
    for (int i = layout.lineFirst; i < tip->fragmentCount; ++i) {
        const Fragment& fragment = tip->fragments[i];
        int right =
            fragment.x + extent(layout, fragment.font, tip->text + fragment.start, fragment.length);
        tip->width = right > tip->width ? right : tip->width;
    }
    layout.y += ascent + descent;
    tip->height = layout.y;
    layout.lineFirst = tip->fragmentCount;
}

void newLine(Layout& layout, int left) {
    finishLine(layout);
    layout.x = left;
}

// The ExtTextOut options every fragment of a paragraph is drawn with, chosen once per paragraph
// here and nowhere else (today none: paragraphs read left to right).
UINT paragraphDrawFlags(const FormattedBlock&) {
    return 0;
}

// Lays a run's characters out from layout.x on, wrapping at blanks and at left.
void layoutRun(Layout& layout, int style, const wchar_t* text, int length, int left) {
    int i = 0;
    while (i < length && !layout.full) {
        if (text[i] == L'\n') {
            newLine(layout, left);
            ++i;
            continue;
        }
        // A word and the blanks after it.
        int wordEnd = i;
        while (wordEnd < length && text[wordEnd] != L' ' && text[wordEnd] != L'\n')
            ++wordEnd;
        int pieceEnd = wordEnd;
        while (pieceEnd < length && text[pieceEnd] == L' ')
            ++pieceEnd;
        int wordWidth = extent(layout, style, text + i, wordEnd - i);
        if (layout.x + wordWidth > layout.width && layout.x > left)
            newLine(layout, left);
        if (layout.full)
            return;
        if (layout.x + wordWidth > layout.width) {
            // Wider than a whole line: as many characters as fit, at least one (found by
            // halving, as the system's fitting count is not to be relied on everywhere).
            int fit = 1;
            for (int low = 2, high = wordEnd - i; low <= high;) {
                int middle = low + (high - low) / 2;
                if (layout.x + extent(layout, style, text + i, middle) <= layout.width) {
                    fit = middle;
                    low = middle + 1;
                } else {
                    high = middle - 1;
                }
            }
            fit = fit < 1 ? 1 : fit;
            if (fit > 1 && text[i + fit - 1] >= 0xD800 && text[i + fit - 1] <= 0xDBFF)
                --fit; // never half of a surrogate pair
            if (!addFragment(layout, layout.x, 0, style, text + i, fit))
                return;
            newLine(layout, left);
            i += fit;
            continue;
        }
        int advance = extent(layout, style, text + i, pieceEnd - i);
        if (!addFragment(layout, layout.x, advance, style, text + i, pieceEnd - i))
            return;
        layout.x += advance;
        i = pieceEnd;
    }
}

// A run's text as UTF-16, tabs as four blanks; null when memory runs out.
wchar_t* wideRun(const FormattedRun& run, int* length) {
    int n = MultiByteToWideChar(CP_UTF8, 0, run.text, run.length, nullptr, 0);
    int tabs = 0;
    for (int32_t i = 0; i < run.length; ++i)
        tabs += run.text[i] == '\t' ? 1 : 0;
    wchar_t* wide = static_cast<wchar_t*>(malloc((static_cast<size_t>(n) + 3 * tabs + 1) * 2));
    if (wide == nullptr)
        return nullptr;
    n = MultiByteToWideChar(CP_UTF8, 0, run.text, run.length, wide, n);
    int out = n + 3 * tabs;
    for (int i = n - 1, k = out - 1; i >= 0 && k >= 0; --i) {
        int copies = wide[i] == L'\t' ? 4 : 1;
        wchar_t c = wide[i] == L'\t' ? L' ' : wide[i];
        while (copies-- > 0)
            wide[k--] = c;
    }
    *length = out;
    return wide;
}

void layoutBlock(Layout& layout, const FormattedDescription* document,
                 const FormattedBlock& block) {
    layout.options = paragraphDrawFlags(block);
    int indentStep = extent(layout, 0, L"MM", 2);
    int left = block.indent * indentStep;
    int markerStyle = 0;
    if (block.kind == ListItemBlock) {
        // The marker hangs before the item's text, which lines up whatever the marker's width.
        wchar_t marker[20];
        int markerLength = MultiByteToWideChar(CP_UTF8, 0, block.marker, -1, marker, 20) - 1;
        int markerWidth = markerLength > 0 ? extent(layout, markerStyle, marker, markerLength) : 0;
        int gap = extent(layout, 0, L" ", 1);
        if (left < markerWidth + gap)
            left = markerWidth + gap;
        if (left > layout.width / 2)
            left = layout.width / 2;
        layout.x = left;
        if (markerLength > 0 &&
            !addFragment(layout, left - gap - markerWidth > 0 ? left - gap - markerWidth : 0,
                         markerWidth, markerStyle, marker, markerLength))
            return;
    } else {
        if (left > layout.width / 2)
            left = layout.width / 2;
        layout.x = left;
    }
    int headingStyle = block.kind == HeadingBlock ? BoldStyle : 0;
    for (int32_t r = 0; r < block.runCount && !layout.full; ++r) {
        const FormattedRun& run = document->runs[block.firstRun + r];
        int length = 0;
        wchar_t* wide = wideRun(run, &length);
        if (wide == nullptr) {
            layout.full = true;
            return;
        }
        layoutRun(layout, run.style | headingStyle, wide, length, left);
        free(wide);
    }
    finishLine(layout);
}

} // namespace

FormattedTip* layoutFormattedTip(HDC dc, HFONT font, const wchar_t* header, int headerLength,
                                 const FormattedDescription* document, int width, int maxHeight) {
    FormattedTip* tip = static_cast<FormattedTip*>(calloc(1, sizeof(FormattedTip)));
    if (tip == nullptr)
        return nullptr;
    tip->fonts[0] = font != nullptr ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    // Lines are filled short of the width by the error a line's glyphs may be drawn with.
    int slack = width / 32 + 2;
    Layout layout = {dc, tip,  width > 4 * slack ? width - slack : width, maxHeight, 0, 0, 0,
                     0,  false};
    HGDIOBJ old = SelectObject(dc, tip->fonts[0]);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    tip->ascent[0] = metrics.tmAscent;
    tip->descent[0] = metrics.tmDescent;
    int lineHeight = metrics.tmHeight;
    if (header != nullptr && headerLength > 0) {
        tip->headerText = static_cast<wchar_t*>(malloc(headerLength * sizeof(wchar_t)));
        if (tip->headerText != nullptr) {
            memcpy(tip->headerText, header, headerLength * sizeof(wchar_t));
            tip->headerLength = headerLength;
            RECT measured = {0, 0, layout.width, 0};
            DrawTextW(dc, header, headerLength, &measured,
                      DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
            tip->header = measured;
            tip->width = measured.right;
            layout.y = measured.bottom + lineHeight / 2;
            tip->height = measured.bottom;
        }
    }
    SelectObject(dc, old);
    int blocks = document != nullptr ? document->blockCount : 0;
    for (int k = 0; k < blocks && !layout.full; ++k) {
        if (k > 0)
            layout.y += lineHeight / 3;
        layout.lineFirst = tip->fragmentCount;
        layoutBlock(layout, document, document->blocks[k]);
    }
    return tip;
}

SIZE formattedTipSize(const FormattedTip* tip) {
    SIZE size = {tip != nullptr ? tip->width : 0, tip != nullptr ? tip->height : 0};
    return size;
}

void drawFormattedTip(HDC dc, const FormattedTip* tip, int x, int y) {
    if (tip == nullptr)
        return;
    int savedMode = SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, tip->fonts[0]);
    if (tip->headerLength > 0) {
        RECT header = tip->header;
        OffsetRect(&header, x, y);
        DrawTextW(dc, tip->headerText, tip->headerLength, &header,
                  DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_NOCLIP);
    }
    UINT savedAlign = SetTextAlign(dc, TA_BASELINE | TA_LEFT);
    // Each fragment is drawn with the advances it was measured with: left to the renderer, glyphs
    // may come out wider than measured and pass the tip's edge.
    int longest = 0;
    for (int i = 0; i < tip->fragmentCount; ++i)
        longest = tip->fragments[i].length > longest ? tip->fragments[i].length : longest;
    int* extents = static_cast<int*>(malloc((static_cast<size_t>(longest) + 1) * 2 * sizeof(int)));
    int* advances = extents != nullptr ? extents + longest + 1 : nullptr;
    for (int i = 0; i < tip->fragmentCount; ++i) {
        const Fragment& fragment = tip->fragments[i];
        if (fragment.baseline == 0 || fragment.length == 0)
            continue;
        SelectObject(dc, tip->fonts[fragment.font]);
        const wchar_t* text = tip->text + fragment.start;
        SIZE size = {};
        bool measured = extents != nullptr && GetTextExtentExPointW(dc, text, fragment.length, 0,
                                                                    nullptr, extents, &size);
        for (int k = 0; measured && k < fragment.length; ++k)
            advances[k] = extents[k] - (k > 0 ? extents[k - 1] : 0);
        ExtTextOutW(dc, x + fragment.x, y + fragment.baseline, fragment.options, nullptr, text,
                    static_cast<UINT>(fragment.length), measured ? advances : nullptr);
    }
    free(extents);
    SetTextAlign(dc, savedAlign);
    SelectObject(dc, old);
    SetBkMode(dc, savedMode);
}

void freeFormattedTip(FormattedTip* tip) {
    if (tip == nullptr)
        return;
    for (int style = 1; style < styleCount; ++style)
        if (tip->fonts[style] != nullptr && tip->fonts[style] != tip->fonts[0])
            DeleteObject(tip->fonts[style]);
    free(tip->headerText);
    free(tip->fragments);
    free(tip->text);
    free(tip);
}
