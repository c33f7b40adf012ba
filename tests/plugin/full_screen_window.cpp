// A program whose window is in front until it is ended: covering the primary monitor, as a
// full-screen game or a presentation does, or ("small") a small one. For the new-items sound's
// full-screen check, which looks at other programs' windows only.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    bool small = argc > 1 && strcmp(argv[1], "small") == 0;
    int width = small ? 200 : GetSystemMetrics(SM_CXSCREEN);
    int height = small ? 100 : GetSystemMetrics(SM_CYSCREEN);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "in front", WS_POPUP | WS_VISIBLE, 0, 0,
                                  width, height, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(window);
    MSG message;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(20);
    }
    return 0;
}
