// Fonts for the characters the window's font lacks. The plug-in itself picks, for each run of
// text whose characters the chosen font has no glyph for, the first installed face of its own list
// of faces (script faces of Windows and the Noto faces of Linux desktops, then symbol faces) that
// has a glyph for the run's first missing character; script_text.cpp draws the run in that face,
// at the size and weight of the chosen font. Without it those characters draw as the font's
// missing-glyph boxes.
#pragma once
#include <windows.h>
#include <usp10.h>

// On unless a test switches it off to see what it prevents.
extern bool fontFallbackEnabled;

// The face to draw c in when the font selected into dc lacks it, or null when no face of the list
// is installed that has it. The answer is remembered per block of 128 characters, so asking
// again costs a table look-up.
const wchar_t* fallbackFaceFor(HDC dc, UINT32 c);
// True when the font selected into dc (cache is its script cache) has a glyph for the character
// of length units (1, or 2 for a surrogate pair).
bool fontHasCharacter(HDC dc, SCRIPT_CACHE* cache, const WCHAR* units, int length);
// A font like the one selected into dc (letter size, weight, italic, underline) in face; the caller
// deletes it (counted as the plug-in's GDI object).
HFONT createFallbackFont(HDC dc, const wchar_t* face);
