// The watching thread only waits and posts: the file is read on the window's thread, where the
// settings live. A notification for any file of the folder (the plug-in's saved copies, other
// programs' files) costs one comparison of the file's size and time there, no read.
#include "plugin/settings_watch.h"

#include <cstdlib>
#include <cwchar>

#include "feed/worker_stack.h"
#include "plugin/commands.h"
#include "plugin/settings.h"
#include "plugin/settings_file.h"

namespace {

// Long enough for an editor that writes a file in several steps to finish.
const UINT settlingDelayMs = 400;
const UINT_PTR settlingTimer = 0x5E77;

HANDLE changeHandle = INVALID_HANDLE_VALUE;
HANDLE stopEvent;
HANDLE watchThread;
HWND watchedWindow;
volatile LONG notePending; // a posted message not yet answered

DWORD WINAPI watchFolder(void*) {
    // The thread lives as long as the window and only waits: the stack pages Wine fills at a
    // thread's start (about 1 MB) would otherwise stay resident all that time.
    releaseUnusedStack();
    HANDLE handles[2] = {stopEvent, changeHandle};
    for (;;) {
        DWORD woken = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 + 1)
            return 0;
        if (InterlockedExchange(&notePending, 1) == 0)
            PostMessageA(watchedWindow, WM_SETTINGS_FOLDER_CHANGED, 0, 0);
        if (!FindNextChangeNotification(changeHandle))
            return 0;
    }
}

void CALLBACK settled(HWND window, UINT, UINT_PTR, DWORD) {
    KillTimer(window, settlingTimer);
    PluginSettings previous = settings;
    bool changed = false;
    if (settingsFileChanged(&changed) && changed)
        applyFileSettings(window, previous);
}

} // namespace

bool watchSettingsFolder(HWND window) {
    stopWatchingSettings();
    if (!settingsPath[0])
        return false;
    wchar_t* folder = widePath(settingsPath);
    wchar_t* slash = folder ? std::wcsrchr(folder, L'\\') : nullptr;
    if (!slash) {
        std::free(folder);
        return false;
    }
    slash[1] = L'\0';
    changeHandle = FindFirstChangeNotificationW(
        folder, FALSE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
    std::free(folder);
    if (changeHandle == INVALID_HANDLE_VALUE)
        return false;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watchedWindow = window;
    notePending = 0;
    watchThread = stopEvent ? CreateThread(nullptr, 64 * 1024, watchFolder, nullptr,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                            : nullptr;
    if (!watchThread) {
        stopWatchingSettings();
        return false;
    }
    return true;
}

void stopWatchingSettings() {
    if (watchThread) {
        SetEvent(stopEvent);
        WaitForSingleObject(watchThread, INFINITE);
        CloseHandle(watchThread);
        watchThread = nullptr;
    }
    if (stopEvent) {
        CloseHandle(stopEvent);
        stopEvent = nullptr;
    }
    if (changeHandle != INVALID_HANDLE_VALUE) {
        FindCloseChangeNotification(changeHandle);
        changeHandle = INVALID_HANDLE_VALUE;
    }
    if (watchedWindow)
        KillTimer(watchedWindow, settlingTimer);
    watchedWindow = nullptr;
}

void settingsFolderChanged(HWND window) {
    InterlockedExchange(&notePending, 0);
    SetTimer(window, settlingTimer, settlingDelayMs, settled);
}
