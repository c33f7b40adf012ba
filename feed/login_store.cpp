// The Credential Manager calls (CredReadW, CredWriteW, CredDeleteW) and the list of refused
// logins. Both run on the update workers and on the window thread; the list has a lock of its own.
#include "feed/login_store.h"
#include <wincred.h>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

const int holdLimit = 32;

struct Hold {
    char key[320];
    char user[768];
    FILETIME written;
};

Hold holds[holdLimit];
char proxyKey[320]; // under the same lock
int holdCount;
volatile LONG holdLock;

void lockHolds() {
    while (InterlockedCompareExchange(&holdLock, 1, 0) != 0)
        Sleep(0);
}

void unlockHolds() {
    InterlockedExchange(&holdLock, 0);
}

// Drops the holds of key (all of them when key is null).
void dropHolds(const char* key) {
    lockHolds();
    int kept = 0;
    for (int i = 0; i < holdCount; ++i) {
        if (key != nullptr && std::strcmp(holds[i].key, key) != 0)
            holds[kept++] = holds[i];
    }
    holdCount = kept;
    unlockHolds();
}

// "FeedMarquee:" and key as a wide text; false when it does not fit.
bool targetOf(const char* key, wchar_t* target, size_t size) {
    char narrow[400];
    int written = std::snprintf(narrow, sizeof narrow, "FeedMarquee:%s", key ? key : "");
    if (key == nullptr || key[0] == '\0' || written < 0 ||
        static_cast<size_t>(written) >= sizeof narrow)
        return false;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, narrow, -1, target,
                               static_cast<int>(size)) > 0;
}

bool toUtf8(const wchar_t* text, size_t length, char* out, size_t size) {
    if (length == 0) {
        out[0] = '\0';
        return true;
    }
    int written = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out,
                                      static_cast<int>(size) - 1, nullptr, nullptr);
    out[written > 0 ? written : 0] = '\0';
    return written > 0;
}

} // namespace

bool readLogin(const char* key, StoredLogin* login) {
    std::memset(login, 0, sizeof *login);
    wchar_t target[400];
    PCREDENTIALW credential = nullptr;
    if (!targetOf(key, target, sizeof target / sizeof target[0]) ||
        !CredReadW(target, CRED_TYPE_GENERIC, 0, &credential))
        return false;
    const wchar_t* user = credential->UserName ? credential->UserName : L"";
    bool read = toUtf8(user, std::wcslen(user), login->user, sizeof login->user) &&
                login->user[0] != '\0' &&
                toUtf8(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                       credential->CredentialBlobSize / sizeof(wchar_t), login->password,
                       sizeof login->password);
    login->written = credential->LastWritten;
    if (credential->CredentialBlob)
        SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
    CredFree(credential);
    if (!read)
        clearLogin(login);
    return read;
}

bool saveLogin(const char* key, const wchar_t* user, const wchar_t* password) {
    wchar_t target[400];
    if (!targetOf(key, target, sizeof target / sizeof target[0]) || user == nullptr ||
        user[0] == L'\0' || password == nullptr)
        return false;
    CREDENTIALW credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = target;
    credential.UserName = const_cast<wchar_t*>(user);
    credential.CredentialBlobSize = static_cast<DWORD>(std::wcslen(password) * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    bool saved = CredWriteW(&credential, 0) != FALSE;
    dropHolds(key);
    return saved;
}

bool forgetLogin(const char* key) {
    wchar_t target[400];
    if (!targetOf(key, target, sizeof target / sizeof target[0]))
        return false;
    dropHolds(key);
    return CredDeleteW(target, CRED_TYPE_GENERIC, 0) || GetLastError() == ERROR_NOT_FOUND;
}

bool hasLogin(const char* key) {
    StoredLogin login;
    bool found = readLogin(key, &login);
    clearLogin(&login);
    return found;
}

void clearLogin(StoredLogin* login) {
    SecureZeroMemory(login, sizeof *login);
}

void holdRefusedLogin(const char* key, const StoredLogin* login) {
    if (loginHeld(key, login))
        return;
    lockHolds();
    // A full list forgets its oldest refusal.
    if (holdCount == holdLimit) {
        std::memmove(holds, holds + 1, sizeof(Hold) * (holdLimit - 1));
        --holdCount;
    }
    Hold& hold = holds[holdCount++];
    std::snprintf(hold.key, sizeof hold.key, "%s", key);
    std::snprintf(hold.user, sizeof hold.user, "%s", login->user);
    hold.written = login->written;
    unlockHolds();
}

bool loginHeld(const char* key, const StoredLogin* login) {
    lockHolds();
    bool held = false;
    for (int i = 0; i < holdCount && !held; ++i)
        held = std::strcmp(holds[i].key, key) == 0 &&
               std::strcmp(holds[i].user, login->user) == 0 &&
               CompareFileTime(&holds[i].written, &login->written) == 0;
    unlockHolds();
    return held;
}

void releaseLoginHolds() {
    dropHolds(nullptr);
}

void noteProxyWantsLogin(const char* key) {
    lockHolds();
    std::snprintf(proxyKey, sizeof proxyKey, "%s", key);
    unlockHolds();
}

bool proxyWantingLogin(char* key, size_t size) {
    lockHolds();
    std::snprintf(key, size, "%s", proxyKey);
    unlockHolds();
    return key[0] != '\0';
}
