// Painting and layout: the shell's style snapshot and the whole-window paint.
#pragma once
#include <windows.h>
#include "shell/blackbox_api.h"

extern HostStyleItem windowStyle; // copy of the style record chosen by styleType

// Where style records come from and how gradients are drawn: the shell's GetSettingPtr and
// MakeStyleGradient, unless a test puts its own functions in. getSettingPtr may return null.
struct StyleFunctions {
    void* (*getSettingPtr)(int index);
    void (*makeStyleGradient)(HDC dc, RECT* rect, HostStyleItem* style, bool withBorder);
};
extern StyleFunctions styleFunctions;

// Takes a new snapshot of the shell's style, then rebuilds the menu (popup false).
void loadShellStyle();
// The whole answer to WM_PAINT: draws into an off-screen bitmap, lays out every entry's itemRect
// and registers its tooltip tool.
void paintWindow(HWND window);
