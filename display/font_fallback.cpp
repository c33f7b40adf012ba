#include "display/font_fallback.h"

#include <usp10.h>

#include <cstring>
#include <cwchar>

#include "display/gdi_count.h"

bool fontFallbackEnabled = true;

namespace {

// In order of preference: the broad faces of the Latin, Greek and Cyrillic scripts, the faces of
// single scripts, then faces of many scripts and of symbols and emoji (drawn in one colour).
const wchar_t* const fallbackFaces[] = {
    L"Segoe UI",         L"Noto Sans",        L"Arial",
    L"Noto Sans Hebrew", L"Noto Sans Arabic", L"Noto Sans Devanagari",
    L"Nirmala UI",       L"Mangal",           L"Noto Sans Thai",
    L"Leelawadee UI",    L"Leelawadee",       L"Noto Sans CJK JP",
    L"Noto Sans CJK SC", L"Noto Sans CJK KR", L"Yu Gothic",
    L"Meiryo",           L"MS Gothic",        L"Microsoft YaHei",
    L"SimSun",           L"Malgun Gothic",    L"Gulim",
    L"DejaVu Sans",      L"Segoe UI Symbol",  L"Symbola",
    L"Segoe UI Emoji",   L"Arial Unicode MS",
};
const int faceCount = sizeof fallbackFaces / sizeof fallbackFaces[0];

// Per face: 0 not asked yet, 1 installed, 2 missing.
unsigned char faceState[faceCount];

// Per block of 128 characters (the blocks beyond the Basic Multilingual Plane share the last
// entry per plane): 0 not asked yet, 1 + the face's index, or 255 for none.
const int bmpBlocks = 0x10000 / 128;
unsigned char blockFace[bmpBlocks + 17];

int CALLBACK noteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool installed(HDC dc, int face) {
    if (faceState[face] == 0) {
        LOGFONTW query = {};
        query.lfCharSet = DEFAULT_CHARSET;
        wcsncpy(query.lfFaceName, fallbackFaces[face], LF_FACESIZE - 1);
        bool found = false;
        EnumFontFamiliesExW(dc, &query, noteFace, reinterpret_cast<LPARAM>(&found), 0);
        faceState[face] = found ? 1 : 2;
    }
    return faceState[face] == 1;
}

// True when face has a glyph for c (a surrogate pair above the plane).
bool faceHas(HDC dc, int face, UINT32 c) {
    HFONT font = createFallbackFont(dc, fallbackFaces[face]);
    if (font == nullptr)
        return false;
    HGDIOBJ kept = SelectObject(dc, font);
    WCHAR units[2];
    int length = 1;
    if (c >= 0x10000) {
        units[0] = static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
        units[1] = static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
        length = 2;
    } else {
        units[0] = static_cast<WCHAR>(c);
    }
    SCRIPT_CACHE cache = nullptr;
    bool has = fontHasCharacter(dc, &cache, units, length);
    ScriptFreeCache(&cache);
    SelectObject(dc, kept);
    countGdiDeleted(DeleteObject(font));
    return has;
}

} // namespace

bool fontHasCharacter(HDC dc, SCRIPT_CACHE* cache, const WCHAR* units, int length) {
    WORD glyphs[4] = {0, 0, 0, 0};
    if (length == 1)
        return ScriptGetCMap(dc, cache, units, 1, 0, glyphs) == S_OK;
    // The character map of some script engines answers single units only: a pair is shaped.
    SCRIPT_FONTPROPERTIES properties = {};
    properties.cBytes = sizeof properties;
    SCRIPT_ANALYSIS analysis = {};
    WORD clusters[2];
    SCRIPT_VISATTR visual[4];
    int count = 0;
    if (FAILED(ScriptGetFontProperties(dc, cache, &properties)) ||
        FAILED(ScriptShape(dc, cache, units, 2, 4, &analysis, glyphs, clusters, visual, &count)))
        return false;
    return count == 1 && glyphs[0] != properties.wgDefault;
}

const wchar_t* fallbackFaceFor(HDC dc, UINT32 c) {
    if (c > 0x10FFFF)
        return nullptr;
    unsigned char& known = c < 0x10000 ? blockFace[c / 128] : blockFace[bmpBlocks + (c >> 16)];
    if (known == 0) {
        known = 255;
        for (int face = 0; face < faceCount; ++face) {
            if (installed(dc, face) && faceHas(dc, face, c)) {
                known = static_cast<unsigned char>(face + 1);
                break;
            }
        }
    }
    return known != 255 ? fallbackFaces[known - 1] : nullptr;
}

HFONT createFallbackFont(HDC dc, const wchar_t* face) {
    LOGFONTW look = {};
    HGDIOBJ current = GetCurrentObject(dc, OBJ_FONT);
    if (current == nullptr || GetObjectW(current, sizeof look, &look) == 0)
        return nullptr;
    // The same size of letters: faces of other scripts are often much taller for their size (room
    // for marks above and below), so a height given as the cell's would draw them small.
    TEXTMETRICW metrics;
    if (GetTextMetricsW(dc, &metrics))
        look.lfHeight = -(metrics.tmHeight - metrics.tmInternalLeading);
    look.lfCharSet = DEFAULT_CHARSET;
    look.lfOutPrecision = OUT_DEFAULT_PRECIS;
    wcsncpy(look.lfFaceName, face, LF_FACESIZE - 1);
    look.lfFaceName[LF_FACESIZE - 1] = L'\0';
    return countGdiCreated(CreateFontIndirectW(&look));
}
