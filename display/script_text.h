// Text measured and drawn through the system's script engine (Uniscribe): runs of each script in
// their direction and in the visual order of the bidirectional algorithm, complex scripts shaped
// (Arabic joining, Devanagari conjuncts, Thai marks), and characters the font lacks drawn in a
// fallback face (display/font_fallback.h). Lines are broken and cut here, so what is measured is
// what is drawn.
#pragma once
#include <windows.h>

// Measures (DT_CALCRECT: rect's bottom, and its right to the widest line) or draws text (length -1:
// up to the terminator) into rect, as DrawTextW does for these flags: DT_LEFT, DT_CENTER or
// DT_RIGHT; DT_SINGLELINE, cut with a trailing "…" under DT_WORD_ELLIPSIS or DT_END_ELLIPSIS; or
// DT_WORDBREAK, lines broken where the script allows and "\n" starting a paragraph;
// DT_RTLREADING, the paragraph read right to left (its alignment is the caller's). An ampersand is
// always drawn as it is, and nothing is clipped. Returns the height of the lines.
int WINAPI drawScriptText(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format);
// Frees what the script engine keeps of the fonts drawn with lately (the plug-in ends).
void releaseScriptCaches();

// Text in several fonts of the caller's (the styles of one face, say): unit i is drawn in
// fonts[fontOf[i]] (fontOf null: every unit in fonts[0]; fonts null: in the selected font), the
// characters those fonts lack in fallback faces made like them, and the whole read in the
// direction given, its runs in visual order.
struct StyledText {
    const WCHAR* text;
    int length;
    const unsigned char* fontOf;
    const HFONT* fonts;
    int fontCount; // at most 16 are used; units of further fonts draw in fonts[0]
    bool rightToLeft;
};
// A line of styled text: its first unit, the units drawn (blanks at its end left out) and width.
struct StyledLine {
    int start, length, width;
};
// Breaks styled text into lines at most available pixels wide where its scripts allow, inside a
// word (at a character's end) only when the word alone is wider; notes at most capacity lines
// and returns how many it noted. Text without a unit is one empty line.
int breakStyledText(HDC dc, const StyledText& text, int available, StyledLine* lines, int capacity);
// The pixels the styled text takes as one line.
int styledTextWidth(HDC dc, const StyledText& text);
// Draws the styled text as one line with its left end at x and its baseline at baseline. Nothing
// is clipped.
void drawStyledText(HDC dc, const StyledText& text, int x, int baseline);
