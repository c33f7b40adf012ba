// The process-wide, unsaved state of the running plug-in. Created zeroed when the DLL loads.
#pragma once
#include <windows.h>

struct RuntimeState {
    HINSTANCE instance;      // the plug-in's module, as passed to beginPlugin
    HWND shellWindow;        // the shell's main window (GetBBWnd)
    HWND pluginWindow;       // the plug-in's own window, class "FeedMarquee"
    HWND slitWindow;         // the shell's slit; null when started through beginPlugin
    bool layeredSupported;   // NT-family with major version above 4
    int virtualScreenWidth;  // last seen SM_CXVIRTUALSCREEN
    int virtualScreenHeight; // last seen SM_CYVIRTUALSCREEN
    bool winsockReady;       // Winsock 1.1 started at process attach
    bool mouseInside;        // the mouse is over the window (highlight mode 1)
    bool autoHidden;         // the window is parked, or about to be, at its auto-hide position
};

extern RuntimeState runtime;

// The messages the shell delivers to the plug-in window: 10103, 10881, 10901, ending in 0.
extern UINT pluginMessages[4];

extern const char* const pluginName; // "FeedMarquee": window class and message box caption
