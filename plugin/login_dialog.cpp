// The login dialog, built in memory (the plug-in has no resources): a line naming the origin,
// the user name, the password in a masked field, OK and Cancel. It is opened from a zero-delay
// timer rather than inside the command, so that the shell's broadcast of the command returns at
// once instead of waiting while the user types.
#include "plugin/login_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "feed/feed_address.h"
#include "feed/http_auth.h"
#include "feed/idn_win32.h"
#include "feed/login_store.h"
#include "plugin/feed_updates.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

const wchar_t loginDialogTitle[] = L"FeedMarquee Login";

namespace {

const UINT_PTR loginTimer = 0x4C47;
const int loginLabelField = 100;
const int fieldLimit = 255;

char pendingKey[320]; // the login the dialog opens for; window thread only
HWND openDialog;      // the dialog while it is open

// The key of the login a command's argument names; false when it names none.
bool keyOf(const char* argument, char* key, size_t size) {
    if (argument != nullptr && _stricmp(argument, "proxy") == 0)
        return proxyWantingLogin(key, size);
    const char* url = settings.feedUrl;
    if (argument != nullptr && argument[0] != '\0') {
        // Only a number names a favourite.
        if (argument[0] < '0' || argument[0] > '9')
            return false;
        const FavoriteFeed* favorite = favoriteAt(std::atoi(argument));
        if (favorite == nullptr)
            return false;
        url = favorite->url;
    }
    // The address as the fetch sees it (host in its ASCII form), so that both find one login.
    char* prepared = static_cast<char*>(std::malloc(feedAddressLimit + 1));
    bool found =
        prepared != nullptr &&
        prepareFeedAddress(url, typedAddress, systemHostToAscii, prepared, feedAddressLimit + 1) &&
        loginOrigin(prepared, key, size);
    std::free(prepared);
    return found;
}

// Appends a dialog template's WORD-aligned pieces.
struct TemplateWriter {
    WORD* at;
};

void writeText(TemplateWriter* writer, const wchar_t* text) {
    do {
        *writer->at++ = static_cast<WORD>(*text);
    } while (*text++);
}

void addItem(TemplateWriter* writer, DWORD style, short x, short y, short cx, short cy, WORD id,
             WORD classAtom, const wchar_t* text) {
    writer->at = reinterpret_cast<WORD*>((reinterpret_cast<ULONG_PTR>(writer->at) + 3) & ~3u);
    DLGITEMTEMPLATE* item = reinterpret_cast<DLGITEMTEMPLATE*>(writer->at);
    item->style = style | WS_CHILD | WS_VISIBLE;
    item->dwExtendedStyle = 0;
    item->x = x;
    item->y = y;
    item->cx = cx;
    item->cy = cy;
    item->id = id;
    writer->at = reinterpret_cast<WORD*>(item + 1);
    *writer->at++ = 0xFFFF;
    *writer->at++ = classAtom;
    writeText(writer, text);
    *writer->at++ = 0; // no creation data
}

void clearField(HWND dialog, int field) {
    // The edit control's own copy of the password is overwritten before the dialog goes.
    wchar_t blank[fieldLimit + 1];
    for (int i = 0; i < fieldLimit; ++i)
        blank[i] = L' ';
    blank[fieldLimit] = L'\0';
    SetDlgItemTextW(dialog, field, blank);
    SetDlgItemTextW(dialog, field, L"");
}

INT_PTR CALLBACK loginProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        openDialog = dialog;
        bool proxy = std::strncmp(pendingKey, proxyLoginPrefix, std::strlen(proxyLoginPrefix)) == 0;
        char label[400];
        std::snprintf(label, sizeof label, "%s %s", proxy ? "Proxy login for" : "Login for",
                      proxy ? pendingKey + std::strlen(proxyLoginPrefix) : pendingKey);
        wchar_t wide[400];
        if (MultiByteToWideChar(CP_UTF8, 0, label, -1, wide, 400) > 0)
            SetDlgItemTextW(dialog, loginLabelField, wide);
        SendDlgItemMessageW(dialog, loginUserField, EM_LIMITTEXT, fieldLimit, 0);
        SendDlgItemMessageW(dialog, loginPasswordField, EM_LIMITTEXT, fieldLimit, 0);
        // The user name kept is offered again, and the password asked for; the kept password is
        // never shown.
        StoredLogin kept;
        bool offered = readLogin(pendingKey, &kept) &&
                       MultiByteToWideChar(CP_UTF8, 0, kept.user, -1, wide, 400) > 0;
        clearLogin(&kept);
        if (!offered)
            return TRUE;
        SetDlgItemTextW(dialog, loginUserField, wide);
        SetFocus(GetDlgItem(dialog, loginPasswordField));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            wchar_t user[fieldLimit + 1], password[fieldLimit + 1];
            GetDlgItemTextW(dialog, loginUserField, user, fieldLimit + 1);
            GetDlgItemTextW(dialog, loginPasswordField, password, fieldLimit + 1);
            bool saved = user[0] != L'\0' && saveLogin(pendingKey, user, password);
            SecureZeroMemory(password, sizeof password);
            if (!saved) {
                MessageBeep(MB_ICONWARNING);
                return TRUE;
            }
            clearField(dialog, loginPasswordField);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            clearField(dialog, loginPasswordField);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

void CALLBACK openLoginDialog(HWND window, UINT, UINT_PTR, DWORD) {
    KillTimer(window, loginTimer);
    if (openDialog != nullptr) {
        SetForegroundWindow(openDialog);
        return;
    }
    DWORD buffer[512] = {};
    DLGTEMPLATE* dialog = reinterpret_cast<DLGTEMPLATE*>(buffer);
    dialog->style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    dialog->cdit = 7;
    dialog->cx = 220;
    dialog->cy = 86;
    TemplateWriter writer = {reinterpret_cast<WORD*>(dialog + 1)};
    *writer.at++ = 0; // no menu
    *writer.at++ = 0; // the standard dialog class
    writeText(&writer, loginDialogTitle);
    *writer.at++ = 8;
    writeText(&writer, L"MS Shell Dlg");
    const WORD buttonClass = 0x0080, editClass = 0x0081, staticClass = 0x0082;
    addItem(&writer, SS_LEFT | SS_NOPREFIX, 7, 7, 206, 10, loginLabelField, staticClass, L"");
    addItem(&writer, SS_LEFT, 7, 24, 60, 10, 0xFFFF, staticClass, L"User name:");
    addItem(&writer, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 70, 22, 143, 12, loginUserField,
            editClass, L"");
    addItem(&writer, SS_LEFT, 7, 42, 60, 10, 0xFFFF, staticClass, L"Password:");
    addItem(&writer, ES_AUTOHSCROLL | ES_PASSWORD | WS_BORDER | WS_TABSTOP, 70, 40, 143, 12,
            loginPasswordField, editClass, L"");
    addItem(&writer, BS_DEFPUSHBUTTON | WS_TABSTOP, 106, 64, 50, 14, IDOK, buttonClass, L"OK");
    addItem(&writer, BS_PUSHBUTTON | WS_TABSTOP, 163, 64, 50, 14, IDCANCEL, buttonClass, L"Cancel");
    INT_PTR chosen = DialogBoxIndirectParamW(runtime.instance, dialog, window, loginProc, 0);
    openDialog = nullptr;
    if (chosen == IDOK)
        requestUpdate();
}

} // namespace

void loginCommand(HWND window, const char* argument) {
    if (openDialog != nullptr || !keyOf(argument, pendingKey, sizeof pendingKey))
        return;
    SetTimer(window, loginTimer, USER_TIMER_MINIMUM, openLoginDialog);
}

void forgetLoginCommand(const char* argument) {
    char key[320];
    if (keyOf(argument, key, sizeof key))
        forgetLogin(key);
}
