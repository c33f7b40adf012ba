// Painting and layout: the shell's style snapshot and the whole-window paint.
#pragma once
#include <windows.h>
#include <cstddef>

#include "display/view_model.h"
#include "shell/blackbox_api.h"

extern HostStyleItem windowStyle; // copy of the style record chosen by styleType

// Where style records come from and how gradients are drawn: the shell's GetSettingPtr and
// MakeStyleGradient, unless a test puts its own functions in. getSettingPtr may return null.
struct StyleFunctions {
    void* (*getSettingPtr)(int index);
    void (*makeStyleGradient)(HDC dc, RECT* rect, HostStyleItem* style, bool withBorder);
};
extern StyleFunctions styleFunctions;

// How text is measured (DT_CALCRECT) and drawn: drawScriptText (display/script_text.h), with the
// flags DrawTextW takes, unless a test puts in its own to see the UTF-16 texts that reach it.
struct TextFunctions {
    int(WINAPI* drawText)(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format);
};
extern TextFunctions textFunctions;

// Takes a new snapshot of the shell's style: the border values and the style item styleType (1 to
// 6; anything else reads as 1).
void loadShellStyle(int styleType);
// The whole answer to WM_PAINT: draws model into the client area through an off-screen bitmap, lays
// out the rectangle of every entry that reaches into the window and registers its tooltip tool;
// the entries below the window get an empty rectangle and no tool. At the end it removes the tools
// the paint did not refresh.
void paintWindow(HWND window, const ViewModel& model, const ViewOptions& options);
// The first entry of model whose rectangle contains point (client coordinates), or null.
ViewEntry* entryAtPoint(const ViewModel& model, POINT point);
// The client rectangle the last paint laid the entry at position out in; empty for an entry it
// did not lay out, one scrolled away or below the window, and for every entry once the model's
// entries changed (forgetEntryRects).
ItemRect entryRect(size_t position);
// The same for an entry of model (empty for one not in it).
ItemRect entryRect(const ViewModel& model, const ViewEntry* entry);
// Forgets the rectangles of the last paint: the caller composed new entries, which have none
// until the next paint.
void forgetEntryRects();
// Gives the entry at position the rectangle a paint would, and the entries before it an empty one
// where they had none, for a caller that lays out entries itself (tests).
void placeEntry(size_t position, ItemRect rect);
// Frees the texts that paints keep between them (the plug-in ends; the next paint makes them anew).
void releasePaintTexts();
