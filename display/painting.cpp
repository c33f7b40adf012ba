// Painting and layout of the plug-in window. Every paint draws the whole window into one memory
// bitmap and copies it to the screen with a single BitBlt, so nothing flickers: first the style's
// gradient, then the header line and one block per entry (title line, optionally the
// description). On the way it stores each entry's itemRect, which hit-testing, the highlights and
// the tooltip tools use, and registers the entry's tool.
#include "display/painting.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/feed_items.h"
#include "content/text_decoding.h"
#include "content/utf8_ansi.h"
#include "display/tooltip.h"
#include "display/window_proc.h"
#include "feed/update_worker.h"
#include "plugin/gdi_count.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/setting_limits.h"
#include "plugin/settings.h"

HostStyleItem windowStyle;
StyleFunctions styleFunctions = {GetSettingPtr, MakeStyleGradient};

namespace {

// The shell's two border values (indices 14 and 12); their sum is the layout inset.
int shellInsetA = 0;
int shellInsetB = 0;

// Only the six style items are valid indices; anything else (a hand-edited file) paints with the
// first instead of copying whatever the shell keeps under that number.
int effectiveStyleType() {
    return settings.styleType >= 1 && settings.styleType <= 6 ? settings.styleType : 1;
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
ItemRect toItemRect(const RECT& r) {
    return ItemRect{static_cast<int32_t>(r.left), static_cast<int32_t>(r.top),
                    static_cast<int32_t>(r.right), static_cast<int32_t>(r.bottom)};
}

void drawHighlight(HDC dc, RECT rect, bool withBorder) {
    styleFunctions.makeStyleGradient(dc, &rect, &windowStyle, withBorder);
}

// DT_NOPREFIX keeps an ampersand in a headline ("Q&A") an ampersand. Only the three alignments
// are taken from justification: other bits (DT_MODIFYSTRING among them) would change what
// DrawTextA does with the text.
UINT alignmentFlags() {
    int j = settings.justification;
    return (j == 0 || j == 1 || j == 2) ? static_cast<UINT>(j) : DT_LEFT;
}
UINT measuringFlags() {
    UINT flags = alignmentFlags() | DT_NOPREFIX | DT_CALCRECT;
    return flags | (settings.wordWrap ? DT_WORDBREAK : DT_SINGLELINE | DT_WORD_ELLIPSIS);
}
UINT drawingFlags() {
    UINT flags = alignmentFlags() | DT_NOPREFIX;
    return flags | (settings.wordWrap ? DT_WORDBREAK : DT_SINGLELINE | DT_WORD_ELLIPSIS);
}

// A new text made by printf rules; null when memory runs out.
char* formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 0)
        return nullptr;
    char* text = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
    if (text == nullptr)
        return nullptr;
    va_start(args, format);
    vsnprintf(text, static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    return text;
}

// Feed text as drawn: converted from UTF-8 when encoding is 1, else the entry's own text. Any
// conversion lands in converted, which the caller frees.
const char* displayText(const char* text, char** converted) {
    *converted = nullptr;
    if (text == nullptr || settings.encoding != 1)
        return text;
    *converted = utf8ToAnsi(text);
    return *converted;
}

char* composeHeaderLine(const char* title) {
    // A private copy, so that the paint never shows a time the worker is writing half-way.
    char updated[sizeof lastUpdateTime];
    memcpy(updated, lastUpdateTime, sizeof updated);
    updated[sizeof updated - 1] = '\0';
    int count = entryCount - 1;
    if (settings.showItemCounts && settings.showUpdateTime)
        return formatText("%s  (%d) (%s)", title, count, updated);
    if (settings.showItemCounts)
        return formatText("%s  (%d)", title, count);
    if (settings.showUpdateTime)
        return formatText("%s  (%s)", title, updated);
    return formatText("%s", title);
}

char* composeItemLine(const char* title, const char* date) {
    if (date == nullptr || !settings.showDate)
        return formatText("%s", title);
    char* shortDate = settings.abbreviatedDate ? abbreviateDate(date) : nullptr;
    const char* dateText = shortDate != nullptr ? shortDate : date;
    char* line = settings.datePosHead ? formatText("(%s)  %s", dateText, title)
                                      : formatText("%s  (%s)", title, dateText);
    free(shortDate);
    return line;
}

// Registers the tool for rect. A tool holds at most 1024 characters; a longer text keeps its
// first 1023.
void registerTool(const RECT& rect, char* text) {
    if (text == nullptr)
        return;
    if (strnlen(text, toolTextCapacity + 1) > static_cast<size_t>(toolTextCapacity))
        text[toolTextCapacity - 1] = '\0';
    addOrUpdateTool(rect, text);
}

// What one paint works with: its memory context, the content rectangle, the inset, the height of
// the bitmap, and the one-line height once measured.
struct PaintContext {
    HDC dc;
    RECT content;
    int inset;
    int bitmapHeight;
    int singleLineHeight; // -1 until measured
};

// The height DrawTextA gives text between left and right; an empty text counts as one line.
// Without word wrap every block is one line of the same font, so the first measure serves the
// whole paint.
int measureHeight(PaintContext& paint, const char* text, int left, int top, int right) {
    if (!settings.wordWrap && paint.singleLineHeight >= 0)
        return paint.singleLineHeight;
    RECT measured = {left, top, right, top};
    DrawTextA(paint.dc, text[0] != '\0' ? text : " ", -1, &measured, measuringFlags());
    int height = measured.bottom - top;
    if (!settings.wordWrap)
        paint.singleLineHeight = height;
    return height;
}

// Draws text into rect unless rect lies wholly outside the bitmap (entries below the bottom edge
// are laid out but would only be cut off).
void drawBlock(const PaintContext& paint, const char* text, RECT rect) {
    if (rect.top >= paint.bitmapHeight || rect.bottom <= 0)
        return;
    DrawTextA(paint.dc, text, -1, &rect, drawingFlags());
}

// The memory device context and its bitmap, released in reverse order when the paint ends.
struct OffscreenCanvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ keptBitmap = nullptr;
    OffscreenCanvas(HDC target, int width, int height) {
        dc = countGdiCreated(CreateCompatibleDC(nullptr));
        bitmap = countGdiCreated(CreateCompatibleBitmap(target, width, height));
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

// The paint's font, selected into dc for its lifetime.
struct SelectedFont {
    HDC dc;
    HFONT font = nullptr;
    HGDIOBJ keptFont = nullptr;
    SelectedFont(HDC target, int height, const char* face) : dc(target) {
        font = countGdiCreated(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                           DEFAULT_CHARSET, 0, 0, 0, 0, face));
        if (font != nullptr)
            keptFont = SelectObject(dc, font);
    }
    ~SelectedFont() {
        if (keptFont != nullptr)
            SelectObject(dc, keptFont);
        if (font != nullptr)
            countGdiDeleted(DeleteObject(font));
    }
    SelectedFont(const SelectedFont&) = delete;
    SelectedFont& operator=(const SelectedFont&) = delete;
};

struct TextLook {
    int height;
    char face[LF_FACESIZE < 256 ? 256 : LF_FACESIZE];
    COLORREF colour;
};

// The font and colour: the shell's toolbar item and the chosen style item, read afresh at every
// paint, or the plug-in's own settings. A style item the shell does not give falls back to them.
TextLook chooseTextLook() {
    TextLook look;
    look.height = fontHeightInForce(settings.fontHeight);
    snprintf(look.face, sizeof look.face, "%.*s", static_cast<int>(sizeof settings.font - 1),
             settings.font);
    look.colour = settings.fontColor;
    if (settings.useRefFont) {
        HostStyleItem item;
        if (copyShellStyle(1, &item)) {
            look.height = item.fontHeight;
            snprintf(look.face, sizeof look.face, "%s", item.faceName);
        }
        if (copyShellStyle(effectiveStyleType(), &item))
            look.colour = item.textColor;
    }
    return look;
}

// Lays out and draws one entry at layoutY; returns the new layoutY.
int paintEntry(PaintContext& paint, FeedItem* entry, bool head, int layoutY) {
    const RECT& content = paint.content;
    const int inset = paint.inset;
    if (settings.highlight == 2) {
        RECT previous = toRect(entry->itemRect);
        if (!IsRectEmpty(&previous))
            drawHighlight(paint.dc, previous, settings.hilightBorder);
    }
    char* convertedTitle;
    const char* title = displayText(entry->title, &convertedTitle);
    const char* titleText = title != nullptr ? title : "";
    char* line = head ? composeHeaderLine(titleText) : composeItemLine(titleText, entry->date);
    const char* lineText = line != nullptr ? line : titleText;
    int indent = head ? inset : saturate(static_cast<long long>(settings.title_offset) + inset);

    RECT item = {content.left, layoutY, content.right, layoutY};
    int textLeft = saturate(static_cast<long long>(item.left) + indent);
    int textRight = saturate(static_cast<long long>(item.right) - inset);
    int height = measureHeight(paint, lineText, textLeft, layoutY, textRight);
    item.bottom = saturate(static_cast<long long>(layoutY) + height + settings.padding);
    int shift = saturate((static_cast<long long>(item.bottom) - item.top - height) / 2);
    RECT textRect = {textLeft, saturate(static_cast<long long>(item.top) + shift), textRight,
                     saturate(static_cast<long long>(item.bottom) + shift)};
    drawBlock(paint, lineText, textRect);
    layoutY = item.bottom;

    if (head) {
        if (settings.tipShowTitle)
            registerTool(item, line);
    } else {
        char* convertedDescription;
        const char* description = displayText(entry->description, &convertedDescription);
        if (description != nullptr && settings.showDesc) {
            int descLeft =
                saturate(static_cast<long long>(item.left) + settings.desc_offset + inset);
            int descHeight = measureHeight(paint, description, descLeft, layoutY, textRight);
            item.bottom = saturate(static_cast<long long>(layoutY) + descHeight + settings.padding);
            RECT descRect = {descLeft, layoutY, textRight, item.bottom};
            drawBlock(paint, description, descRect);
            layoutY = item.bottom;
        }
        if (entry->description != nullptr) {
            const char* descText = description != nullptr ? description : "";
            char* tip = settings.tipShowTitle ? formatText("%s\n\n%s", lineText, descText)
                                              : formatText("%s", descText);
            registerTool(item, tip);
            free(tip);
        } else if (settings.tipShowTitle) {
            registerTool(item, line);
        }
        free(convertedDescription);
    }
    entry->itemRect = toItemRect(item);
    free(line);
    free(convertedTitle);
    return layoutY;
}

} // namespace

void loadShellStyle() {
    shellInsetA = readShellInt(14);
    shellInsetB = readShellInt(12);
    HostStyleItem item;
    if (copyShellStyle(effectiveStyleType(), &item))
        windowStyle = item;
    buildMenu(false);
}

void paintWindow(HWND window) {
    sweepTools();
    int inset = saturate(static_cast<long long>(shellInsetA) + shellInsetB);
    PAINTSTRUCT paint;
    HDC paintDC = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    {
        OffscreenCanvas canvas(paintDC, client.right, client.bottom);
        if (canvas.ready()) {
            drawHighlight(canvas.dc, client, settings.showBorder);
            // The bottom is not used: entries below the window are laid out and cut off.
            RECT content = {inset, inset, saturate(static_cast<long long>(client.right) - inset),
                            saturate(static_cast<long long>(client.bottom) - inset)};
            TextLook look = chooseTextLook();
            SelectedFont font(canvas.dc, look.height, look.face);
            SetTextColor(canvas.dc, look.colour);
            SetBkMode(canvas.dc, TRANSPARENT);

            if (settings.highlight == 1 && runtime.mouseInside) {
                POINT cursor;
                if (GetCursorPos(&cursor) && ScreenToClient(window, &cursor)) {
                    FeedItem* under = hitTestItem(cursor);
                    if (under != nullptr)
                        drawHighlight(canvas.dc, toRect(under->itemRect), settings.hilightBorder);
                }
            }
            PaintContext context = {canvas.dc, content, inset, client.bottom, -1};
            int layoutY = content.top;
            for (FeedItem* entry = DisplayList.first; entry != nullptr; entry = entry->next)
                layoutY = paintEntry(context, entry, entry == DisplayList.first, layoutY);
            BitBlt(paintDC, 0, 0, settings.width, settings.height, canvas.dc, 0, 0, SRCCOPY);
        }
    }
    EndPaint(window, &paint);
}
