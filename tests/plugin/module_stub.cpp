// A module that does nothing: copied into a temporary folder and loaded, its instance stands for
// the plug-in's own module in tests, so that the plug-in's folder is a real folder of the test's.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
