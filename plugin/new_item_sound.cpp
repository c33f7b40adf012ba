// The new-items sound. winmm is loaded only when a sound is to play, so a plug-in without a
// sounding feed never loads it. What each feed showed at the last look is kept by address, so a
// feed that moves in the list, or a list replaced by a pass that brought nothing new (the same
// items, or new ones hidden by the filters), plays nothing.
#include "plugin/new_item_sound.h"

#include <mmsystem.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "content/feed_items.h"
#include "plugin/feed_updates.h"
#include "plugin/item_filters.h"
#include "plugin/settings.h"

const wchar_t* const newItemSoundAlias = L"FeedMarqueeNewItems";

namespace {

const DWORD soundSpacingMs = 60 * 1000;

HMODULE winmm;

template <typename Function> Function procedureOf(HMODULE module, const char* name) {
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

typedef BOOL(WINAPI* PlaySoundFunction)(LPCWSTR, HMODULE, DWORD);

bool playThroughWinmm(const wchar_t* alias) {
    if (winmm == nullptr)
        winmm = LoadLibraryW(L"winmm.dll");
    PlaySoundFunction play = procedureOf<PlaySoundFunction>(winmm, "PlaySoundW");
    // SND_NODEFAULT: an alias the user set to "(None)" stays silent instead of the default beep.
    return play != nullptr && play(alias, nullptr, SND_ALIAS | SND_ASYNC | SND_NODEFAULT) != FALSE;
}

// A window of another program covering its whole monitor is in front, or the system says the
// user is busy with a full-screen program or a presentation.
bool fullScreenInFront() {
    typedef HRESULT(WINAPI * QueryState)(int*);
    QueryState query =
        procedureOf<QueryState>(GetModuleHandleW(L"shell32.dll"), "SHQueryUserNotificationState");
    int state = 0;
    // QUNS_BUSY, QUNS_RUNNING_D3D_FULL_SCREEN, QUNS_PRESENTATION_MODE
    if (query != nullptr && SUCCEEDED(query(&state)) && state >= 2 && state <= 4)
        return true;
    HWND front = GetForegroundWindow();
    DWORD process = 0;
    if (front == nullptr || front == GetDesktopWindow() || front == GetShellWindow())
        return false;
    GetWindowThreadProcessId(front, &process);
    if (process == GetCurrentProcessId())
        return false; // the shell's own desktop window covers the screen
    RECT window;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetWindowRect(front, &window) ||
        !GetMonitorInfoW(MonitorFromWindow(front, MONITOR_DEFAULTTONEAREST), &monitor))
        return false;
    return window.left <= monitor.rcMonitor.left && window.top <= monitor.rcMonitor.top &&
           window.right >= monitor.rcMonitor.right && window.bottom >= monitor.rcMonitor.bottom;
}

// The list a feed showed at the last look.
struct NotedFeed {
    char* url;
    FeedList* list; // retained
};
NotedFeed* noted;
int notedCount;
bool played;
DWORD playedAt;

NotedFeed* notedFor(const char* url) {
    for (int i = 0; i < notedCount; ++i)
        if (strcmp(noted[i].url, url) == 0)
            return &noted[i];
    NotedFeed* grown =
        static_cast<NotedFeed*>(realloc(noted, (notedCount + 1) * sizeof(NotedFeed)));
    if (grown == nullptr)
        return nullptr;
    noted = grown;
    char* copy = duplicateText(url, 0);
    if (copy == nullptr)
        return nullptr;
    noted[notedCount] = NotedFeed{copy, nullptr};
    return &noted[notedCount++];
}

bool listHoldsKey(const FeedList* list, uint64_t key) {
    for (const FeedItem* item = firstItem(list); item != nullptr; item = item->next)
        if (item->key == key)
            return true;
    return false;
}

// True when the feed's list holds a new item, shown by the filters, that the list before lacked.
bool broughtNewItems(int index, const ShownFeed& feed, const FeedList* before) {
    if (feed.newItems <= 0 || !feed.hasHeadlines)
        return false;
    const ItemFilter* filter = filterForFeed(feed.url);
    for (const FeedItem* item = firstItem(feed.list); item != nullptr; item = item->next)
        if (itemIsNew(index, item) && !listHoldsKey(before, item->key) &&
            filterVerdict(filter, item, settings.encoding == 1) != itemHidden)
            return true;
    return false;
}

// Sets a key's default value to text unless the key was there before.
bool createWithDefault(const wchar_t* path, const wchar_t* text, DWORD type) {
    HKEY key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return false;
    LONG result = ERROR_SUCCESS;
    if (disposition == REG_CREATED_NEW_KEY)
        result = RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(text),
                                static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

} // namespace

bool (*playSoundAlias)(const wchar_t* alias) = playThroughWinmm;
bool (*fullScreenProgramShown)() = fullScreenInFront;
DWORD(WINAPI* soundClock)() = GetTickCount;

bool registerNewItemSound() {
    const wchar_t* sound = L"%SystemRoot%\\media\\Windows Notify.wav";
    return createWithDefault(L"AppEvents\\EventLabels\\FeedMarqueeNewItems",
                             L"FeedMarquee: new items", REG_SZ) &&
           createWithDefault(L"AppEvents\\Schemes\\Apps\\.Default\\FeedMarqueeNewItems\\.Default",
                             sound, REG_EXPAND_SZ) &&
           createWithDefault(L"AppEvents\\Schemes\\Apps\\.Default\\FeedMarqueeNewItems\\.Current",
                             sound, REG_EXPAND_SZ);
}

bool soundForNewItems() {
    // Every feed's list is noted, so that a feed whose sound is switched on later has a list to
    // be compared with.
    bool brought = false;
    for (int index = 0, count = shownFeedCount(); index < count; ++index) {
        ShownFeed feed;
        if (!shownFeedAt(index, &feed) || feed.url == nullptr || !feed.hasHeadlines)
            continue;
        NotedFeed* last = notedFor(feed.url);
        if (last == nullptr || last->list == feed.list)
            continue;
        if (last->list != nullptr && !brought && newItemSoundWanted(feed.url))
            brought = broughtNewItems(index, feed, last->list);
        releaseFeedList(last->list);
        last->list = retainFeedList(feed.list);
    }
    if (!brought)
        return false;
    DWORD now = soundClock();
    if (played && now - playedAt < soundSpacingMs)
        return false;
    if (fullScreenProgramShown())
        return false;
    registerNewItemSound();
    played = playSoundAlias(newItemSoundAlias);
    if (played)
        playedAt = now;
    return played;
}

void releaseNewItemSound() {
    for (int i = 0; i < notedCount; ++i) {
        free(noted[i].url);
        releaseFeedList(noted[i].list);
    }
    free(noted);
    noted = nullptr;
    notedCount = 0;
    played = false;
    if (winmm != nullptr) {
        PlaySoundFunction play = procedureOf<PlaySoundFunction>(winmm, "PlaySoundW");
        if (play != nullptr)
            play(nullptr, nullptr, 0); // a sound still playing stops before winmm goes
        FreeLibrary(winmm);
        winmm = nullptr;
    }
}
