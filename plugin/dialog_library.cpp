// Each call loads "comdlg32.dll", runs the dialog and frees the library; the system keeps one copy
// loaded while any call is inside, so a dialog opened from within another is safe.
#include "plugin/dialog_library.h"

namespace {

template <typename Record> BOOL runDialog(const char* name, Record* dialog) {
    typedef BOOL(WINAPI * Function)(Record*);
    HMODULE library = LoadLibraryA("comdlg32.dll");
    if (library == nullptr)
        return FALSE;
    // Through the generic function pointer type, which converts to any other without a warning.
    Function function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    BOOL accepted = function != nullptr ? function(dialog) : FALSE;
    FreeLibrary(library);
    return accepted;
}

} // namespace

BOOL WINAPI openFileDialogOnDemand(OPENFILENAMEA* dialog) {
    return runDialog("GetOpenFileNameA", dialog);
}

BOOL WINAPI saveFileDialogOnDemand(OPENFILENAMEA* dialog) {
    return runDialog("GetSaveFileNameA", dialog);
}

BOOL WINAPI openFileDialogWideOnDemand(OPENFILENAMEW* dialog) {
    return runDialog("GetOpenFileNameW", dialog);
}

BOOL WINAPI saveFileDialogWideOnDemand(OPENFILENAMEW* dialog) {
    return runDialog("GetSaveFileNameW", dialog);
}

BOOL WINAPI chooseColorDialogOnDemand(CHOOSECOLORA* dialog) {
    return runDialog("ChooseColorA", dialog);
}

BOOL WINAPI chooseFontDialogOnDemand(CHOOSEFONTA* dialog) {
    return runDialog("ChooseFontA", dialog);
}
