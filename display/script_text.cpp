// A stretch of text is itemized by script and direction, each item split where its characters
// need another font than the one selected (a fallback face), and each piece shaped and placed in
// its font. Line breaking and the ellipsis work on the widths of the characters in logical order;
// each line is then shaped again on its own and drawn run by run in visual order, every run on the
// baseline of the selected font.
#include "display/script_text.h"

#include <usp10.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "display/font_fallback.h"
#include "display/gdi_count.h"

namespace {

// The fonts one stretch draws in: its own fonts (the selected one, or the styles a caller gives)
// and the fallback faces made from them.
const int maxFonts = 32;

// The script engine's caches of the fonts drawn with lately, found by the font's description: a
// fresh cache reads the font's tables again, and the window makes its fonts anew at every paint.
struct FontCache {
    LOGFONTW look;
    SCRIPT_CACHE cache;
    bool used;
};
// More than one stretch's fonts, so a stretch never drops the cache of a font it still draws in.
FontCache fontCaches[maxFonts + 8];
int nextFontCache = 0;

bool sameLook(const LOGFONTW& a, const LOGFONTW& b) {
    return a.lfHeight == b.lfHeight && a.lfWidth == b.lfWidth && a.lfWeight == b.lfWeight &&
           a.lfItalic == b.lfItalic && a.lfUnderline == b.lfUnderline &&
           a.lfStrikeOut == b.lfStrikeOut && a.lfCharSet == b.lfCharSet &&
           a.lfQuality == b.lfQuality && a.lfEscapement == b.lfEscapement &&
           a.lfOrientation == b.lfOrientation &&
           wcsncmp(a.lfFaceName, b.lfFaceName, LF_FACESIZE) == 0;
}

// The cache for the font selected into dc.
SCRIPT_CACHE* scriptCacheFor(HDC dc) {
    LOGFONTW look = {};
    GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof look, &look);
    const int count = sizeof fontCaches / sizeof fontCaches[0];
    for (int i = 0; i < count; ++i)
        if (fontCaches[i].used && sameLook(fontCaches[i].look, look))
            return &fontCaches[i].cache;
    FontCache& entry = fontCaches[nextFontCache];
    nextFontCache = (nextFontCache + 1) % count;
    ScriptFreeCache(&entry.cache);
    entry.look = look;
    entry.used = true;
    return &entry.cache;
}

struct Run {
    int start; // in the stretch
    int length;
    int font; // index into Shaped::fonts
    SCRIPT_ANALYSIS analysis;
    WORD* glyphs;
    WORD* clusters;
    SCRIPT_VISATTR* visual;
    int* advances;
    GOFFSET* offsets;
    int glyphCount;
    int width;
};

struct Shaped {
    const WCHAR* text;
    int length;
    Run* runs = nullptr;
    int runCount = 0;
    int* widths = nullptr;            // per unit, in logical order
    SCRIPT_LOGATTR* breaks = nullptr; // per unit
    int width = 0;
    const unsigned char* fontOf = nullptr; // per unit, its own font; null: all in fonts[0]
    HFONT original = nullptr;              // the font selected when the stretch began
    HFONT fonts[maxFonts] = {};            // [0, ownCount) the stretch's own (not owned)
    const wchar_t* faces[maxFonts] = {};   // the fallback face of each further font
    int baseOf[maxFonts] = {};             // the own font a fallback font was made like
    SCRIPT_CACHE* caches[maxFonts] = {};   // each font's, kept from call to call; null until used
    int ascents[maxFonts] = {};
    int defaultGlyphs[maxFonts] = {}; // the font's missing glyph + 1; 0 until asked
    int selected = -1;                // the font selected into the device context now
    int ownCount = 1;
    int fontCount = 1;
};

void release(HDC dc, Shaped& shaped) {
    for (int r = 0; r < shaped.runCount; ++r) {
        Run& run = shaped.runs[r];
        free(run.glyphs);
        free(run.clusters);
        free(run.visual);
        free(run.advances);
        free(run.offsets);
    }
    free(shaped.runs);
    free(shaped.widths);
    free(shaped.breaks);
    if (shaped.original != nullptr)
        SelectObject(dc, shaped.original);
    for (int f = shaped.ownCount; f < shaped.fontCount; ++f)
        countGdiDeleted(DeleteObject(shaped.fonts[f]));
}

bool isBlank(WCHAR c) {
    return c < 0x20 || c == 0x20 || c == 0xA0 || (c >= 0x2000 && c <= 0x200F) || c == 0x2028 ||
           c == 0x2029 || c == 0x3000 || c == 0xFEFF;
}

// A unit that belongs to the character before it: a low surrogate, a joiner, a variation
// selector or a combining mark. Drawn in the font of that character, so shaping keeps them
// together.
bool followsPrevious(WCHAR c) {
    if ((c >= 0xDC00 && c <= 0xDFFF) || c == 0x200C || c == 0x200D || (c >= 0xFE00 && c <= 0xFE0F))
        return true;
    WORD type = 0;
    return GetStringTypeW(CT_CTYPE3, &c, 1, &type) && (type & C3_NONSPACING);
}

UINT32 characterAt(const WCHAR* text, int length, int i) {
    UINT32 c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    return c;
}

// Selecting a font costs the system a look-up even when it is selected already. A font's script
// cache and ascent are found when it is first selected.
void selectFont(HDC dc, Shaped& shaped, int font) {
    if (shaped.selected != font)
        SelectObject(dc, shaped.fonts[font]);
    shaped.selected = font;
    if (shaped.caches[font] == nullptr) {
        shaped.caches[font] = scriptCacheFor(dc);
        TEXTMETRICW metrics;
        shaped.ascents[font] = GetTextMetricsW(dc, &metrics) ? metrics.tmAscent : 0;
    }
}

// The index of face made like the own font base among the stretch's fonts, made when new; base
// itself when no more fit or the font cannot be made.
int fontFor(HDC dc, Shaped& shaped, const wchar_t* face, int base) {
    for (int f = shaped.ownCount; f < shaped.fontCount; ++f)
        if (shaped.faces[f] == face && shaped.baseOf[f] == base)
            return f;
    if (shaped.fontCount == maxFonts)
        return base;
    selectFont(dc, shaped, base);
    HFONT font = createFallbackFont(dc, face);
    if (font == nullptr)
        return base;
    int f = shaped.fontCount++;
    shaped.fonts[f] = font;
    shaped.faces[f] = face;
    shaped.baseOf[f] = base;
    selectFont(dc, shaped, f);
    return f;
}

// Which units of text the font has glyphs for (true), written to has.
void coverage(HDC dc, Shaped& shaped, int font, const WCHAR* text, int length, bool* has,
              WORD* glyphs) {
    selectFont(dc, shaped, font);
    HRESULT result = ScriptGetCMap(dc, shaped.caches[font], text, length, 0, glyphs);
    if (result != S_OK && shaped.defaultGlyphs[font] == 0) {
        SCRIPT_FONTPROPERTIES properties = {};
        properties.cBytes = sizeof properties;
        ScriptGetFontProperties(dc, shaped.caches[font], &properties);
        shaped.defaultGlyphs[font] = properties.wgDefault + 1;
    }
    for (int i = 0; i < length; ++i) {
        has[i] = result == S_OK || (SUCCEEDED(result) &&
                                    glyphs[i] + 1 != shaped.defaultGlyphs[font] && glyphs[i] != 0);
        if (!has[i] && i + 1 < length && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            has[i] = fontHasCharacter(dc, shaped.caches[font], text + i, 2);
    }
}

// True for a script that is shaped (joined, reordered, marks placed), not only mapped to glyphs.
bool isComplex(const SCRIPT_ANALYSIS& analysis) {
    const SCRIPT_PROPERTIES** properties = nullptr;
    int scripts = 0;
    return SUCCEEDED(ScriptGetProperties(&properties, &scripts)) && analysis.eScript < scripts &&
           properties[analysis.eScript]->fComplex;
}

// Chooses the font of each unit of one item drawn in the own font base: that font where it has
// the glyph, else the fallback face of the first character still missing, face after face (an item
// of one script may hold symbols and emoji too). A complex script keeps the whole item in the first
// fallback face where that face has the glyphs, so its shaping sees the item whole. A character no
// face has stays in the own font, as its box.
void chooseFonts(HDC dc, Shaped& shaped, const SCRIPT_ITEM& item, int start, int length, int base,
                 unsigned char* choice, bool* has, bool* fallbackHas, WORD* glyphs) {
    const WCHAR* text = shaped.text + start;
    unsigned char* chosen = choice + start;
    memset(chosen, base, length);
    coverage(dc, shaped, base, text, length, has, glyphs);
    if (!fontFallbackEnabled || std::find(has, has + length, false) == has + length)
        return;
    bool complex = isComplex(item.a);
    for (int round = 0; round < maxFonts; ++round) {
        int missing = -1;
        for (int i = 0; i < length && missing < 0; ++i)
            if (!has[i] && chosen[i] == base && !isBlank(text[i]) && !followsPrevious(text[i]))
                missing = i;
        if (missing < 0)
            break;
        const wchar_t* face = fallbackFaceFor(dc, characterAt(text, length, missing));
        int font = face != nullptr ? fontFor(dc, shaped, face, base) : base;
        if (font == base) {
            has[missing] = true; // no face has it: not asked again
            continue;
        }
        coverage(dc, shaped, font, text, length, fallbackHas, glyphs);
        bool wholeItem = complex && round == 0;
        for (int i = 0; i < length; ++i)
            if (chosen[i] == base && fallbackHas[i] && (!has[i] || wholeItem))
                chosen[i] = static_cast<unsigned char>(font);
        if (!fallbackHas[missing])
            has[missing] = true; // the face chosen for it lacks it after all
    }
    for (int i = 1; i < length; ++i)
        if (followsPrevious(text[i]))
            chosen[i] = chosen[i - 1];
}

// The own font of unit i: the style it is drawn in, before any fallback face.
int ownFontAt(const Shaped& shaped, int i) {
    int font = shaped.fontOf != nullptr ? shaped.fontOf[i] : 0;
    return font < shaped.ownCount ? font : 0;
}

bool shapeRun(HDC dc, Shaped& shaped, Run& run) {
    selectFont(dc, shaped, run.font);
    SCRIPT_CACHE* cache = shaped.caches[run.font];
    const WCHAR* text = shaped.text + run.start;
    int capacity = run.length * 3 / 2 + 16;
    run.clusters = static_cast<WORD*>(malloc(run.length * sizeof(WORD)));
    for (;;) {
        run.glyphs = static_cast<WORD*>(malloc(capacity * sizeof(WORD)));
        run.visual = static_cast<SCRIPT_VISATTR*>(malloc(capacity * sizeof(SCRIPT_VISATTR)));
        if (run.clusters == nullptr || run.glyphs == nullptr || run.visual == nullptr)
            return false;
        HRESULT result = ScriptShape(dc, cache, text, run.length, capacity, &run.analysis,
                                     run.glyphs, run.clusters, run.visual, &run.glyphCount);
        if (result == USP_E_SCRIPT_NOT_IN_FONT && run.analysis.eScript != SCRIPT_UNDEFINED) {
            run.analysis.eScript = SCRIPT_UNDEFINED; // the font's own glyphs, unshaped
        } else if (result == E_OUTOFMEMORY && capacity < run.length * 8 + 64) {
            capacity *= 2;
        } else if (FAILED(result)) {
            return false;
        } else {
            break;
        }
        free(run.glyphs);
        free(run.visual);
        run.glyphs = nullptr;
        run.visual = nullptr;
    }
    run.advances = static_cast<int*>(malloc(run.glyphCount * sizeof(int) + 1));
    run.offsets = static_cast<GOFFSET*>(malloc(run.glyphCount * sizeof(GOFFSET) + 1));
    if (run.advances == nullptr || run.offsets == nullptr)
        return false;
    ABC abc = {};
    if (FAILED(ScriptPlace(dc, cache, run.glyphs, run.glyphCount, run.visual, &run.analysis,
                           run.advances, run.offsets, &abc)))
        return false;
    run.width = abc.abcA + static_cast<int>(abc.abcB) + abc.abcC;
    ScriptGetLogicalWidths(&run.analysis, run.length, run.glyphCount, run.advances, run.clusters,
                           run.visual, shaped.widths + run.start);
    return true;
}

// Shapes the styled text read in its direction (its fonts null: all in the selected font). False
// when the system cannot (memory); the stretch then draws nothing.
bool shape(HDC dc, const StyledText& styled, Shaped& shaped) {
    const WCHAR* text = styled.text;
    int length = styled.length;
    shaped.text = text;
    shaped.length = length;
    shaped.original = static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT));
    shaped.fonts[0] = shaped.original;
    if (styled.fonts != nullptr && styled.fontCount > 0) {
        shaped.ownCount = styled.fontCount < maxFonts / 2 ? styled.fontCount : maxFonts / 2;
        for (int f = 0; f < shaped.ownCount; ++f)
            shaped.fonts[f] = styled.fonts[f] != nullptr ? styled.fonts[f] : shaped.original;
        shaped.fontOf = styled.fontOf;
    }
    shaped.fontCount = shaped.ownCount;
    selectFont(dc, shaped, 0);
    if (length <= 0)
        return true;
    SCRIPT_ITEM* items = static_cast<SCRIPT_ITEM*>(malloc((length + 1) * sizeof(SCRIPT_ITEM)));
    unsigned char* choice = static_cast<unsigned char*>(malloc(length));
    bool* has = static_cast<bool*>(malloc(length * 2 * sizeof(bool)));
    WORD* glyphs = static_cast<WORD*>(malloc(length * sizeof(WORD)));
    shaped.widths = static_cast<int*>(calloc(length, sizeof(int)));
    shaped.breaks = static_cast<SCRIPT_LOGATTR*>(calloc(length, sizeof(SCRIPT_LOGATTR)));
    shaped.runs = static_cast<Run*>(calloc(length, sizeof(Run)));
    int itemCount = 0;
    SCRIPT_CONTROL control = {};
    SCRIPT_STATE state = {};
    state.uBidiLevel = styled.rightToLeft ? 1 : 0;
    bool ready =
        items != nullptr && choice != nullptr && has != nullptr && glyphs != nullptr &&
        shaped.widths != nullptr && shaped.breaks != nullptr && shaped.runs != nullptr &&
        SUCCEEDED(ScriptItemize(text, length, length + 1, &control, &state, items, &itemCount));
    for (int i = 0; ready && i < itemCount; ++i) {
        int itemEnd = items[i + 1].iCharPos;
        // Each stretch of the item in one own font (one style) gets its fonts on its own.
        for (int start = items[i].iCharPos, end = start; start < itemEnd; start = end) {
            int base = ownFontAt(shaped, start);
            while (end < itemEnd && ownFontAt(shaped, end) == base)
                ++end;
            chooseFonts(dc, shaped, items[i], start, end - start, base, choice, has, has + length,
                        glyphs);
            for (int u = start; u < end && ready; ++u) {
                // Items of scripts that need no shaping (Latin next to digits, say) share a run
                // in one font and one direction: every run is one more call to draw.
                Run* previous = shaped.runCount > 0 ? &shaped.runs[shaped.runCount - 1] : nullptr;
                bool joins = u > start
                                 ? choice[u] == choice[u - 1]
                                 : previous != nullptr && previous->font == choice[u] &&
                                       previous->analysis.s.uBidiLevel == items[i].a.s.uBidiLevel &&
                                       !isComplex(previous->analysis) && !isComplex(items[i].a);
                if (joins) {
                    ++previous->length;
                    continue;
                }
                Run& run = shaped.runs[shaped.runCount++];
                run.start = u;
                run.length = 1;
                run.font = choice[u];
                run.analysis = items[i].a;
            }
        }
    }
    // Where lines may break is the script's matter, so it is asked per item, not per run: a run
    // that starts with a change of style would lose the break before its first word. Nothing
    // before an item tells its first character that a blank precedes it.
    for (int i = 0; ready && i < itemCount; ++i) {
        int start = items[i].iCharPos;
        ScriptBreak(text + start, items[i + 1].iCharPos - start, &items[i].a,
                    shaped.breaks + start);
        if (start > 0 && shaped.breaks[start - 1].fWhiteSpace && !shaped.breaks[start].fWhiteSpace)
            shaped.breaks[start].fSoftBreak = 1;
    }
    for (int r = 0; ready && r < shaped.runCount; ++r) {
        ready = shapeRun(dc, shaped, shaped.runs[r]);
        shaped.width += shaped.runs[r].width;
    }
    free(items);
    free(choice);
    free(has);
    free(glyphs);
    selectFont(dc, shaped, 0);
    return ready;
}

// Draws a shaped stretch with its left edge at x and every run on the baseline at y.
void drawShaped(HDC dc, Shaped& shaped, int x, int y) {
    if (shaped.runCount == 0)
        return;
    BYTE* levels = static_cast<BYTE*>(malloc(shaped.runCount));
    int* order = static_cast<int*>(malloc(shaped.runCount * sizeof(int)));
    if (levels != nullptr && order != nullptr) {
        for (int r = 0; r < shaped.runCount; ++r)
            levels[r] = static_cast<BYTE>(shaped.runs[r].analysis.s.uBidiLevel);
        if (SUCCEEDED(ScriptLayout(shaped.runCount, levels, order, nullptr))) {
            for (int v = 0; v < shaped.runCount; ++v) {
                Run& run = shaped.runs[order[v]];
                selectFont(dc, shaped, run.font);
                ScriptTextOut(dc, shaped.caches[run.font], x, y - shaped.ascents[run.font], 0,
                              nullptr, &run.analysis, nullptr, 0, run.glyphs, run.glyphCount,
                              run.advances, nullptr, run.offsets);
                x += run.width;
            }
        }
    }
    free(levels);
    free(order);
    selectFont(dc, shaped, 0);
}

struct Layout {
    HDC dc;
    RECT rect;
    UINT format;
    int lineHeight;
    int lines = 0;
    int widest = 0;
    // Where measured lines are noted (breakStyledText): the paragraph's first unit and room.
    const WCHAR* base = nullptr;
    StyledLine* noted = nullptr;
    int capacity = 0;
};

// Draws one line, unless measuring: length units of text, then the ellipsis when cut, aligned in
// the rectangle. width is the line's width as the paragraph measured it; a drawn line is shaped
// again on its own, unless it is the whole paragraph (shaped, when given).
void emitLine(Layout& layout, const WCHAR* text, int length, bool cut, int width,
              Shaped* whole = nullptr) {
    if (layout.format & DT_CALCRECT) {
        if (width > layout.widest)
            layout.widest = width;
        if (layout.noted != nullptr && layout.lines < layout.capacity)
            layout.noted[layout.lines] =
                StyledLine{static_cast<int>(text - layout.base), length, width};
        ++layout.lines;
        return;
    }
    WCHAR* withEllipsis = nullptr;
    if (cut) {
        withEllipsis = static_cast<WCHAR*>(malloc((length + 1) * sizeof(WCHAR)));
        if (withEllipsis != nullptr) {
            wmemcpy(withEllipsis, text, length);
            withEllipsis[length++] = 0x2026;
            text = withEllipsis;
        }
    }
    Shaped line;
    bool rightToLeft = (layout.format & DT_RTLREADING) != 0;
    if (whole != nullptr) {
        line = *whole;
        *whole = Shaped{}; // the line releases it
    }
    if (whole != nullptr ||
        shape(layout.dc, StyledText{text, length, nullptr, nullptr, 0, rightToLeft}, line)) {
        int x = layout.rect.left;
        if (layout.format & DT_CENTER)
            x += (layout.rect.right - layout.rect.left - line.width) / 2;
        else if (layout.format & DT_RIGHT)
            x = layout.rect.right - line.width;
        drawShaped(layout.dc, line, x,
                   layout.rect.top + layout.lines * layout.lineHeight + line.ascents[0]);
    }
    release(layout.dc, line);
    free(withEllipsis);
    ++layout.lines;
}

// The units of [start, end) less the blanks at its end.
int trimmedEnd(const Shaped& shaped, int start, int end) {
    while (end > start && shaped.breaks[end - 1].fWhiteSpace)
        --end;
    return end;
}

int widthOf(const Shaped& shaped, int start, int end) {
    int width = 0;
    for (int i = start; i < end; ++i)
        width += shaped.widths[i];
    return width;
}

// One paragraph on one line, cut with an ellipsis at a character's end when it is too wide.
void layOutSingleLine(Layout& layout, Shaped& shaped, int available) {
    bool ellipsis = (layout.format & (DT_WORD_ELLIPSIS | DT_END_ELLIPSIS)) != 0;
    if (!ellipsis || shaped.width <= available)
        return emitLine(layout, shaped.text, shaped.length, false, shaped.width, &shaped);
    Shaped dots;
    const WCHAR ellipsisText[] = {0x2026};
    shape(layout.dc, StyledText{ellipsisText, 1, nullptr, nullptr, 0, false}, dots);
    int dotsWidth = dots.width;
    int limit = available - dotsWidth;
    release(layout.dc, dots);
    int kept = 0, width = 0;
    for (int i = 0; i < shaped.length && width + shaped.widths[i] <= limit; ++i) {
        width += shaped.widths[i];
        if (i + 1 == shaped.length || shaped.breaks[i + 1].fCharStop)
            kept = i + 1;
    }
    int end = trimmedEnd(shaped, 0, kept);
    emitLine(layout, shaped.text, end, true, widthOf(shaped, 0, end) + dotsWidth);
}

// One paragraph broken into lines: at the last break opportunity that fits, or inside a word
// (at a character's end) when a single word is wider than the line.
void layOutWrapped(Layout& layout, const Shaped& shaped, int available) {
    const SCRIPT_LOGATTR* breaks = shaped.breaks;
    int start = 0;
    do {
        int width = 0, lastBreak = -1, end = shaped.length;
        for (int i = start; i < shaped.length; ++i) {
            if (i > start && breaks[i].fSoftBreak)
                lastBreak = i;
            if (i > start && !breaks[i].fWhiteSpace && width + shaped.widths[i] > available) {
                end = lastBreak > start ? lastBreak : i;
                while (end > start + 1 && !breaks[end].fCharStop)
                    --end;
                break;
            }
            width += shaped.widths[i];
        }
        int kept = trimmedEnd(shaped, start, end);
        emitLine(layout, shaped.text + start, kept - start, false, widthOf(shaped, start, kept));
        start = end;
        while (start < shaped.length && breaks[start].fWhiteSpace)
            ++start;
    } while (start < shaped.length);
}

} // namespace

int WINAPI drawScriptText(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format) {
    if (length < 0)
        length = static_cast<int>(wcslen(text));
    Layout layout = {dc, *rect, format, 0};
    TEXTMETRICW metrics;
    layout.lineHeight = GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : 0;
    int available = rect->right - rect->left;
    bool singleLine = (format & DT_SINGLELINE) != 0;
    bool wrapped = !singleLine && (format & DT_WORDBREAK) != 0;
    // One line shows no more characters than it has pixels (and some to spare for marks and
    // joiners): the rest of a huge title is never shaped.
    int shown = available > 64 ? available * 4 : 256;
    if (singleLine && length > shown) {
        length = shown;
        if (text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF)
            --length;
    }
    int start = 0;
    do {
        int end = start;
        while (end < length && (singleLine || text[end] != L'\n'))
            ++end;
        int paragraphEnd = end > start && text[end - 1] == L'\r' && !singleLine ? end - 1 : end;
        Shaped paragraph;
        StyledText plain = {
            text + start, paragraphEnd - start, nullptr, nullptr, 0, (format & DT_RTLREADING) != 0};
        if (shape(dc, plain, paragraph)) {
            if (wrapped)
                layOutWrapped(layout, paragraph, available);
            else
                layOutSingleLine(layout, paragraph, available);
        }
        release(dc, paragraph);
        start = end + 1;
    } while (start <= length);
    int height = layout.lines * layout.lineHeight;
    if (format & DT_CALCRECT) {
        rect->right = rect->left + layout.widest;
        rect->bottom = rect->top + height;
    }
    return height;
}

void releaseScriptCaches() {
    for (FontCache& entry : fontCaches) {
        ScriptFreeCache(&entry.cache);
        entry.used = false;
    }
}

int breakStyledText(HDC dc, const StyledText& text, int available, StyledLine* lines,
                    int capacity) {
    Layout layout = {dc, RECT{0, 0, available, 0}, DT_CALCRECT | DT_WORDBREAK, 0};
    layout.base = text.text;
    layout.noted = lines;
    layout.capacity = capacity;
    Shaped paragraph;
    if (shape(dc, text, paragraph))
        layOutWrapped(layout, paragraph, available);
    release(dc, paragraph);
    int count = layout.lines < capacity ? layout.lines : capacity;
    // A line is drawn shaped on its own, and its width is that drawing's: the widths of the
    // characters in the paragraph can add up to less where a script reorders them.
    for (int i = 0; i < count; ++i) {
        StyledText line = text;
        line.text += lines[i].start;
        line.length = lines[i].length;
        line.fontOf = text.fontOf != nullptr ? text.fontOf + lines[i].start : nullptr;
        lines[i].width = styledTextWidth(dc, line);
    }
    return count;
}

int styledTextWidth(HDC dc, const StyledText& text) {
    Shaped line;
    int width = shape(dc, text, line) ? line.width : 0;
    release(dc, line);
    return width;
}

void drawStyledText(HDC dc, const StyledText& text, int x, int baseline) {
    Shaped line;
    if (shape(dc, text, line))
        drawShaped(dc, line, x, baseline);
    release(dc, line);
}
