// The command strings: "@FeedMarquee" plus a command word and an optional argument, and the
// shell's "@BBShowPlugins" / "@BBHidePlugins".
#pragma once

// Carries out one command string delivered with message 10901; unknown commands do nothing.
void handleCommand(const char* command);
