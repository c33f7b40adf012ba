// The tooltip control: one tool per laid-out entry, identified by its rectangle.
#pragma once
#include <windows.h>

// Creates tooltipWindow and hands it tipWidth, tipHideDelay and allowtooltip; leaves it null on
// failure.
void createTooltip();
// Registers a tool for rect with text, or refreshes the text of the tool already at rect.
void addOrUpdateTool(const RECT& rect, const char* text);
// Removes the tools not refreshed since the previous sweep and clears the marks.
void sweepTools();
// Removes every tool.
void removeAllTools();
// TTM_ACTIVATE with on; nothing without a tooltip window.
void activateTooltip(bool on);
// Sends the current tipWidth and tipHideDelay (capped) to the control.
void applyTooltipSettings();
