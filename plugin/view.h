// Where the settings and the feed state become what the window shows: the view options and the
// model that display/ paints, the style snapshot and the tooltip's settings.
#pragma once
#include <windows.h>

#include "display/view_model.h"

// The view options as the settings say now, each within the bounds the window can use.
ViewOptions viewOptionsFromSettings();
// The model of what the window shows now. Valid until the lists or the settings change.
ViewModel& currentView();
// The answer to WM_PAINT: paints currentView() with the options in force.
void paintPluginWindow(HWND window);
// Takes a new snapshot of the shell's style for the styleType in force, then rebuilds the menu
// (popup false).
void reloadShellStyle();
// Creates the tooltip control for the plug-in window with the tip settings in force.
void createPluginTooltip();
// Sends the current tipWidth and tipHideDelay to the tooltip control.
void applyTooltipSettings();
