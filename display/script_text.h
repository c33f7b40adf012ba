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
