// The DLL's entry point. The four exports and the work behind them are in lifecycle.cpp.
#include <windows.h>
#include "plugin/lifecycle.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        return processAttach() ? TRUE : FALSE;
    if (reason == DLL_PROCESS_DETACH)
        processDetach();
    return TRUE;
}
