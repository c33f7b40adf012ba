// The plug-in window's procedure: dispatch, the mouse model, the four timers, hit-testing and
// opening links.
#pragma once
#include <windows.h>
#include "content/feed_items.h"

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The first DisplayList entry whose itemRect contains point (client coordinates), or null.
FeedItem* hitTestItem(POINT point);
// Opens entry's link through the shell (directly or with browserPath); true if a program started.
bool openItemLink(const FeedItem* entry);

// Invalidates the whole client area without erasing.
void repaint();
// In highlight mode 2, one more repaint shortly after (timer 4).
void followUpRepaint();
// (Re-)arms timer 1 with updateInterval(min) minutes, floored at one minute and capped safely.
void armUpdateTimer();
