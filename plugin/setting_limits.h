// The values in force for settings that a hand-edited file (or a menu entry) can set to something
// the window, the GDI or the tooltip control cannot use. The stored setting keeps the user's value
// where it is harmless; the window is always given a value it can work with. No Win32 here: the
// screen's extent is passed in, so the rules are plain arithmetic.
#pragma once

// The opacity used while transparency is on: the low 8 bits of alpha, raised to at least 16 (still
// visible, and still taking the mouse).
unsigned char opacityInForce(int alpha);
// A window width or height: at least 10 pixels and at most the virtual screen's extent (when that
// extent is known, i.e. positive).
int windowExtentInForce(int extent, int screenExtent);
// The height of the plug-in's own font: 1 to 128 pixels; 0 and negative values (no height the
// setting can mean) give the default 12.
int fontHeightInForce(int fontHeight);
// The tooltip's maximum width in pixels: at least 50, so that a description is never cut into a
// column of single words; at most 4096.
int tipWidthInForce(int tipWidth);
// The tooltip's hide delay in milliseconds as the control takes it: 0 or a negative count of
// seconds gives -1 (the control's own default), anything longer than 32,767 ms is capped there.
int tipHideDelayInForce(int seconds);
// Each feed's share of the "together" list: 1 to 1000 items.
int maxItemsPerFeedInForce(int items);
// The seconds each feed is shown in turn: 5 to 3600.
int turnSecondsInForce(int seconds);
// How long a tip stays up in milliseconds: the seconds given, at most an hour (the tips are timed
// by the plug-in, not the control); 0 or a negative count gives -1 (the control's own delay).
int tipShowMilliseconds(int seconds);
// A feed's own update interval in minutes: its own (1 to 1440) where it has one (above 0), else
// the global one.
int feedIntervalInForce(int own, int global);
// A feed's share of the "together" list: its own where it has one (above 0), else the global one;
// 1 to 1000 either way.
int feedShareInForce(int own, int global);
