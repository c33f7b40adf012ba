// The command strings: "@FeedMarquee" plus a command word and an optional argument, and the
// shell's "@BBShowPlugins" / "@BBHidePlugins".
#pragma once
#include <windows.h>

// Carries out one command string delivered with message 10901; unknown commands do nothing.
void handleCommand(HWND window, const char* command);
