// Where the settings and the feed state become what the window shows: the view options and the
// model that display/ paints, the style snapshot and the tooltip's settings.
#pragma once
#include <windows.h>

#include "display/view_model.h"

// The view options as the settings say now, each within the bounds the window can use.
ViewOptions viewOptionsFromSettings();
// The model of what the window shows now, composed again where the feeds, the mode or the feed in
// turn changed since the last call. Valid until the next call.
ViewModel& currentView();
// Something the entries show changed outside the feeds' lists (marks): compose them again and
// repaint.
void viewChanged();
// Frees what the view holds (the plug-in ends; the next start composes anew).
void releaseView();
// "inTurn": the turn timer's tick. The feed in turn moves on when its time is up, unless the mouse
// rests over window; a feed with nothing to show is skipped.
void turnTick(HWND window);
// Timer 5 (a second) runs while the feeds are shown in turn, and only then.
void armTurnTimer();
// "inTurn": shows the next (direction 1) or previous (-1) feed at once; false when the feeds are
// not shown in turn or there is only one.
bool stepTurn(int direction);
// The user has seen entry (its tooltip showed, it was opened): it is no longer new.
void markEntrySeen(const ViewEntry* entry);
// The clock of the turns, in milliseconds (GetTickCount; tests put their own in).
extern DWORD(WINAPI* turnClock)();
// The answer to WM_PAINT: paints currentView() with the options in force.
void paintPluginWindow(HWND window);
// Takes a new snapshot of the shell's style for the styleType in force, then rebuilds the menu
// (popup false).
void reloadShellStyle();
// Creates the tooltip control for the plug-in window with the tip settings in force.
void createPluginTooltip();
// Sends the current tipWidth and tipHideDelay to the tooltip control.
void applyTooltipSettings();

// "@FeedMarqueeShow one|together|inTurn" (any letter case): shows the feeds that way from now on;
// another word changes nothing.
void setShowMode(const char* word);
// "Mark All Read": every item of every shown feed is seen; the marks and the count go.
void markEverythingRead();
// The favourites in the file changed (one was removed): the feeds and the menu follow.
void favoritesChanged();
