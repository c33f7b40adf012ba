// The common dialogs' library, loaded only while one of its dialogs is open: it brings a large
// part of the system (COM, printing) into the shell's process, and most runs never open a dialog.
#pragma once
#include <windows.h>
#include <commdlg.h>

// GetOpenFileNameA/W, GetSaveFileNameA/W, ChooseColorA and ChooseFontA of "comdlg32.dll", looked up
// when called; the library is freed again when the dialog has closed. Without the library or the
// function they return FALSE, as a cancelled dialog does.
BOOL WINAPI openFileDialogOnDemand(OPENFILENAMEA* dialog);
BOOL WINAPI saveFileDialogOnDemand(OPENFILENAMEA* dialog);
BOOL WINAPI openFileDialogWideOnDemand(OPENFILENAMEW* dialog);
BOOL WINAPI saveFileDialogWideOnDemand(OPENFILENAMEW* dialog);
BOOL WINAPI chooseColorDialogOnDemand(CHOOSECOLORA* dialog);
BOOL WINAPI chooseFontDialogOnDemand(CHOOSEFONTA* dialog);
