// Start-up and shut-down of the plug-in: the work behind the exported entry points.
#pragma once
#include <windows.h>
#include <winsock.h>

// The four exports (C linkage, the C calling convention); exports.def names them for the DLL.
extern "C" {
// Starts the plug-in (free-floating unless the settings say inSlit). 0 on success, 1 on failure;
// a start while the plug-in already runs is refused (1) and leaves the running copy as it was.
int beginPlugin(HINSTANCE instance);
// Starts the plug-in for the slit window slit; returns what beginPlugin returned.
int beginSlitPlugin(HINSTANCE instance, HWND slit);
// Shuts down; returns UnregisterClassA's result (non-zero on success).
int endPlugin(HINSTANCE instance);
// The metadata text for index (see the table in lifecycle.cpp); static, never null.
const char* pluginInfo(int index);
}

// Process attach and detach: start and clean up Winsock 1.1. processAttach returns false when
// Winsock 1.1 is unavailable (after telling the user), which refuses the load. processDetach
// cleans up only when the DLL is unloaded from a process that goes on (processEnding false).
bool processAttach();
void processDetach(bool processEnding);

// processAttach with the Winsock start-up function given, so tests can make it fail.
typedef int(WINAPI* WinsockStartup)(WORD version, WSADATA* data);
bool attachWinsock(WinsockStartup startup);

// Every message box of the plug-in goes through this pointer (MessageBoxA unless a test answers
// the boxes itself); its result is the box's answer.
typedef int(WINAPI* MessageBoxFunction)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
extern MessageBoxFunction showMessageBox;
