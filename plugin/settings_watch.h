// Hand edits of the settings file picked up while the plug-in runs: a change notification on the
// file's folder wakes a waiting thread, which tells the window; the window reads the file after a
// short settling delay and takes what the user changed. Nothing runs while nothing changes.
#pragma once
#include <windows.h>

// Posted by the watching thread to the window (at most one waits at a time).
const UINT WM_SETTINGS_FOLDER_CHANGED = WM_USER + 101;

// Watches the folder of settingsPath for window; an earlier watch ends first. False when the
// folder cannot be watched (the file is then read only at a start and "Reload Settings").
bool watchSettingsFolder(HWND window);
// Ends the watch and its thread; nothing when none runs.
void stopWatchingSettings();
// The window's answer to WM_SETTINGS_FOLDER_CHANGED: arms the settling delay, after which a file
// whose content changed is taken and applied as "Reload Settings" applies it.
void settingsFolderChanged(HWND window);
