// The plug-in window's procedure: dispatch, the mouse model, the four timers, hit-testing and
// opening links.
#pragma once
#include <windows.h>
#include <cstddef>
#include "content/feed_items.h"

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The item of the first shown entry whose rectangle contains point (client coordinates), or null.
const FeedItem* hitTestItem(POINT point);
// Opens entry's link through the shell (directly or with browserPath); true if a program started.
// Only "http://" and "https://" links with a host, at most 2048 characters, without control
// characters, blanks or double quotes are opened; any other link opens nothing (false).
bool openItemLink(const FeedItem* entry);
// The shell's BBExecute as openItemLink calls it; tests may put their own in.
typedef BOOL (*ExecuteFunction)(HWND owner, const char* verb, const char* file,
                                const char* arguments, const char* directory, int showCommand,
                                bool noErrorMessages);
extern ExecuteFunction executeInShell;
// The link test of openItemLink: true when link may be handed to the shell.
bool isOpenableLink(const char* link);
// Writes link as one double-quoted command-line argument into argument (size bytes), trailing
// backslashes doubled so the closing quote stays a quote; false when it does not fit.
bool quoteLinkArgument(const char* link, char* argument, size_t size);

// Invalidates the whole client area without erasing.
void repaint();
// In highlight mode 2, one more repaint shortly after (timer 4).
void followUpRepaint();
// (Re-)arms timer 1 with the delay in force (updateTimerDelayMs): the interval in force, floored at
// one minute and capped safely, or the longer wait after failures.
void armUpdateTimer();
// The period of timer 1 for minutes: at least one minute, at most USER_TIMER_MAXIMUM ms.
UINT updateTimerPeriod(int minutes);
