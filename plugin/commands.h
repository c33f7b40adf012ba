// The command strings: "@FeedMarquee" plus a command word and an optional argument, and the
// shell's "@BBShowPlugins" / "@BBHidePlugins".
#pragma once
#include <windows.h>
#include <commdlg.h>

struct PluginSettings;

// Carries out one command string delivered with message 10901; unknown commands do nothing.
void handleCommand(HWND window, const char* command);

// Hands the window the settings just taken from the file (previous: those in force before), as
// "Reload Settings" does after reading it.
void applyFileSettings(HWND window, const PluginSettings& previous);

// The three common dialogs the commands open, called through these pointers so that tests can
// answer them; they start as the on-demand GetOpenFileNameA, ChooseColorA and ChooseFontA of
// plugin/dialog_library.h. Each returns
// non-zero when the user accepted the dialog.
extern BOOL(WINAPI* openFileDialog)(OPENFILENAMEA* dialog);
extern BOOL(WINAPI* chooseColorDialog)(CHOOSECOLORA* dialog);
extern BOOL(WINAPI* chooseFontDialog)(CHOOSEFONTA* dialog);
