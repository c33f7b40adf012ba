// The DLL's entry point. The four exports and the work behind them are in lifecycle.cpp.
#include <windows.h>
#include "plugin/lifecycle.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        return processAttach() ? TRUE : FALSE;
    // reserved is non-null when the process is ending rather than the DLL being unloaded.
    if (reason == DLL_PROCESS_DETACH)
        processDetach(reserved != nullptr);
    return TRUE;
}
