// A bounded message pump for tests that drive real windows: dispatches this thread's messages for
// about ms milliseconds. Header-only, so that test DLLs loaded into the shell can use it too.
#pragma once
#include <windows.h>

inline void pumpMessagesFor(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        // Bounded also inside: a window that never validates would otherwise be painted forever.
        while (GetTickCount() - start < ms && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}
