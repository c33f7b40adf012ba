#include "tests/support/login_dialog_driver.h"
#include <windows.h>

bool answerLoginDialog(const wchar_t* user, const wchar_t* password, std::wstring* label) {
    HWND dialog = nullptr;
    for (DWORD start = GetTickCount(); !dialog && GetTickCount() - start < 10000; Sleep(50))
        dialog = FindWindowW(L"#32770", L"FeedMarquee Login");
    if (dialog == nullptr)
        return false;
    wchar_t text[400] = L"";
    GetDlgItemTextW(dialog, 100, text, 400);
    *label = text;
    SetDlgItemTextW(dialog, 101, user);
    SetDlgItemTextW(dialog, 102, password);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    // The dialog ends once its modal loop (in the plug-in's thread) sees the end.
    for (DWORD start = GetTickCount(); IsWindow(dialog) && GetTickCount() - start < 5000;)
        Sleep(50);
    return !IsWindow(dialog);
}
