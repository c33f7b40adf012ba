// The filters and the new-items sound in a running plug-in: two feeds on 127.0.0.1 shown together,
// the global words from the settings file and a feed's own words handed in, read back as the user
// and a screen reader meet them. The sound, the full-screen check and the clock are the unit's
// seams (no audio device here); the sound alias is registered in this prefix's registry.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/accessible_list.h"
#include "display/painting.h"
#include "display/script_text.h"
#include "plugin/commands.h"
#include "plugin/feed_updates.h"
#include "plugin/item_filters.h"
#include "plugin/new_item_sound.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/view.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/check.h"
#include "tests/system/feed_server.h"

namespace {

// "title", "+" after a highlighted item's, "*" after a new one's.
std::string shownLines() {
    std::string out;
    const ViewModel& view = currentView();
    for (size_t i = 1; i < view.count; ++i) {
        const ViewEntry& entry = view.entries[i];
        out += (out.empty() ? "" : " | ") + std::string(entry.item->title);
        out += entry.highlighted ? "+" : "";
        out += entry.isNew ? "*" : "";
    }
    return out;
}

std::string header() {
    const ViewModel& view = currentView();
    return std::string(view.entries[0].item->title) + view.headerSuffix;
}

std::wstring readerName(int item) {
    WideText text;
    accessibleListSource.itemName(item, text);
    std::wstring name = text.text != nullptr ? text.text : L"";
    releaseText(text);
    return name;
}

int soundsPlayed;
bool fullScreen;
DWORD soundNow = 5000;
bool recordSound(const wchar_t* alias) {
    soundsPlayed += wcscmp(alias, newItemSoundAlias) == 0 ? 1 : 0;
    return true;
}
bool fakeFullScreen() {
    return fullScreen;
}
DWORD WINAPI fakeSoundClock() {
    return soundNow;
}

// Every text the paint draws (measuring calls left out), as UTF-16.
std::wstring drawnText;
int WINAPI recordDrawnText(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format) {
    if ((format & DT_CALCRECT) == 0)
        drawnText += std::wstring(text, length < 0 ? wcslen(text) : size_t(length)) + L"\n";
    return drawScriptText(dc, text, length, rect, format);
}
std::wstring paintedText() {
    drawnText.clear();
    InvalidateRect(runtime.pluginWindow, nullptr, FALSE);
    UpdateWindow(runtime.pluginWindow);
    return drawnText;
}

int reorders;
void CALLBACK countReorder(HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG, DWORD, DWORD) {
    reorders += event == EVENT_OBJECT_REORDER && window == runtime.pluginWindow ? 1 : 0;
}

std::wstring registryDefault(const wchar_t* path) {
    wchar_t value[300] = L"";
    DWORD size = sizeof value;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return L"<none>";
    LONG result =
        RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? value : L"<no value>";
}

const wchar_t* const soundKeys[] = {
    L"AppEvents\\Schemes\\Apps\\.Default\\FeedMarqueeNewItems\\.Current",
    L"AppEvents\\Schemes\\Apps\\.Default\\FeedMarqueeNewItems\\.Default",
    L"AppEvents\\Schemes\\Apps\\.Default\\FeedMarqueeNewItems",
    L"AppEvents\\EventLabels\\FeedMarqueeNewItems",
};

} // namespace

TEST(hidden_and_highlighted_items_the_header_the_reader_and_the_sound) {
    bool (*const fullScreenCheck)() = fullScreenProgramShown;
    for (const wchar_t* key : soundKeys)
        RegDeleteKeyW(HKEY_CURRENT_USER, key);
    FeedServer news, sport;
    REQUIRE(startFeedServer(news) && startFeedServer(sport));
    setFeedResponse(news, answerFeed,
                    rssWithItems("News", {"Budget VOTE today@Tue, 08 Dec 2026 12:00:00 GMT",
                                          "Celebrity gossip@Tue, 08 Dec 2026 11:00:00 GMT",
                                          "Rates held@Tue, 08 Dec 2026 10:00:00 GMT",
                                          "Café opens@Tue, 08 Dec 2026 09:00:00 GMT"}));
    setFeedResponse(sport, answerFeed,
                    rssWithItems("Sport", {"Derby tonight@Tue, 08 Dec 2026 11:30:00 GMT",
                                           "Transfer GOSSIP@Tue, 08 Dec 2026 08:00:00 GMT"}));
    std::string newsUrl = feedServerUrl(news, "/n"), sportUrl = feedServerUrl(sport, "/s");
    std::string rc = "feedmarquee.show: together\nfeedmarquee.updateInterval(min): 60\n"
                     "feedmarquee.showFeedName: false\nfeedmarquee.maxItemsPerFeed: 2\n"
                     "feedmarquee.showItemCounts: true\n"
                     "feedmarquee.hideWords: gossip, café\nfeedmarquee.highlightWords: vote\n"
                     "feedmarquee.fav0.url: " +
                     newsUrl + "\nfeedmarquee.fav1.url: " + sportUrl + "\n";
    playSoundAlias = recordSound;
    fullScreenProgramShown = fakeFullScreen;
    soundClock = fakeSoundClock;
    updateStopWaitMs = 3000;
    PluginRun run;
    run.settingsFile(rc.c_str());
    REQUIRE(run.begin() == 0);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_REORDER, EVENT_OBJECT_REORDER, nullptr,
                                         countReorder, 0, 0, WINEVENT_OUTOFCONTEXT);

    // Gossip goes in both feeds, in any case, and "Café" with it. A feed's share of two is filled
    // with shown items, and the header counts what is shown and what is hidden.
    const std::string shown = "Budget VOTE today+ | Derby tonight | Rates held";
    CHECK(waitFor([&] { return shownLines() == shown; }, 8000));
    CHECK_EQ(shownLines(), shown);
    CHECK_EQ(header(), std::string("2 feeds  (3)  (3 hidden)"));
    CHECK(readerName(0) == L"highlighted, Budget VOTE today");
    CHECK(readerName(1) == L"Derby tonight");
    textFunctions.drawText = recordDrawnText;
    std::wstring painted = paintedText();
    CHECK(painted.find(L"2 feeds  (3)  (3 hidden)") != std::wstring::npos);
    CHECK(painted.find(L"Budget VOTE today") != std::wstring::npos);
    CHECK(painted.find(L"gossip") == std::wstring::npos);
    CHECK(painted.find(L"GOSSIP") == std::wstring::npos);
    CHECK(painted.find(L"Caf") == std::wstring::npos);

    // The sport feed's own words, set through its Feed Settings, add to the global ones, and the
    // change is announced to readers. The news feed's own share of one leaves it one item.
    reorders = 0;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 1 hideWords derby");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 1 highlightWords transfer");
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 1 sound");
    CHECK_EQ(shownLines(), std::string("Budget VOTE today+ | Rates held"));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 0 maxItems 1");
    CHECK_EQ(shownLines(), std::string("Budget VOTE today+"));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFeedSetting 0 maxItems 0");
    CHECK_EQ(shownLines(), std::string("Budget VOTE today+ | Rates held"));
    // The sound is among the control panel's sounds as soon as a feed wants it.
    CHECK(registryDefault(L"AppEvents\\EventLabels\\FeedMarqueeNewItems") ==
          L"FeedMarquee: new items");
    CHECK_EQ(header(), std::string("2 feeds  (2)  (4 hidden)"));
    CHECK(waitFor([&] { return reorders > 0; }, 2000));
    // Shown in turn, the sport feed, all of whose items are hidden now, gets no turn.
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShow inTurn");
    stepTurn(1);
    CHECK_EQ(header().substr(0, 9), std::string("News  1/2"));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeShow together");

    // A pass bringing a hidden new item and a shown one: only the shown one is new, and the sound
    // (the sport feed's switch is on) plays once.
    setFeedResponse(sport, answerFeed,
                    rssWithItems("Sport", {"Cup final@Tue, 08 Dec 2026 13:00:00 GMT",
                                           "More gossip@Tue, 08 Dec 2026 12:30:00 GMT",
                                           "Derby tonight@Tue, 08 Dec 2026 11:30:00 GMT",
                                           "Transfer GOSSIP@Tue, 08 Dec 2026 08:00:00 GMT"}));
    handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateNow");
    CHECK(waitFor([&] { return shownLines().find("Cup final*") == 0; }, 8000));
    CHECK_EQ(header(), std::string("2 feeds  (3)  (1 new)  (5 hidden)"));
    CHECK_EQ(soundsPlayed, 1);
    CHECK(registryDefault(soundKeys[0]).find(L"\\media\\") != std::wstring::npos);

    // Within the minute nothing more plays; a pass whose only new item is hidden plays nothing;
    // during a full-screen program nothing plays; then again after the minute. The user's choice
    // of "(None)" in the control panel stays.
    auto passWith = [&](const char* newest, const char* marker) {
        setFeedResponse(
            sport, answerFeed,
            rssWithItems("Sport", {std::string(newest) + "@Tue, 08 Dec 2026 14:00:00 GMT",
                                   "Cup final@Tue, 08 Dec 2026 13:00:00 GMT"}));
        int before = completedPasses();
        handleCommand(runtime.pluginWindow, "@FeedMarqueeUpdateNow");
        CHECK(waitFor([&] { return completedPasses() >= before + 2 && !updatesRunning(); }, 8000));
        pumpMessages(50);
        CHECK(shownLines().find(marker) != std::string::npos);
    };
    passWith("Goal!", "Goal!*");
    CHECK_EQ(soundsPlayed, 1);
    soundNow += 61000;
    passWith("Gossip round-up", "Cup final");
    CHECK_EQ(soundsPlayed, 1);
    fullScreen = true;
    passWith("Penalty", "Penalty*");
    CHECK_EQ(soundsPlayed, 1);
    fullScreen = false;
    HKEY current;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, soundKeys[0], 0, KEY_SET_VALUE, &current) ==
            ERROR_SUCCESS);
    RegSetValueExW(current, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2);
    RegCloseKey(current);
    passWith("Red card", "Red card*");
    CHECK_EQ(soundsPlayed, 2);
    CHECK(registryDefault(soundKeys[0]) == L"");

    // Settings read again without the words: everything shows, nothing is hidden.
    FILE* file = fopen(settingsPath, "wb");
    REQUIRE(file != nullptr);
    std::string plain = "feedmarquee.show: together\nfeedmarquee.showFeedName: false\n"
                        "feedmarquee.showItemCounts: true\nfeedmarquee.fav0.url: " +
                        newsUrl + "\nfeedmarquee.fav1.url: " + sportUrl + "\n";
    fwrite(plain.data(), 1, plain.size(), file);
    fclose(file);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeReloadSettings");
    CHECK(shownLines().find("Celebrity gossip") != std::string::npos);
    CHECK(header().find("hidden") == std::string::npos);
    CHECK(paintedText().find(L"Celebrity gossip") != std::wstring::npos);

    // Texts in the ANSI code page (encoding 0) are matched as the characters they show: a list
    // shown in "one" mode, the word written in UTF-8 in the file.
    file = fopen(settingsPath, "wb");
    REQUIRE(file != nullptr);
    const char ansi[] = "feedmarquee.show: one\nfeedmarquee.encoding: 0\n"
                        "feedmarquee.hideWords: CAFÉ\n";
    fwrite(ansi, 1, sizeof ansi - 1, file);
    fclose(file);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeReloadSettings");
    FeedList* list = newFeedList(0);
    for (const char* title : {"Local", "Caf\xE9 opens", "Rates held"})
        appendEntry(list)->title = listText(list, title, 0);
    showListDirectly(list);
    releaseFeedList(list);
    CHECK_EQ(shownLines(), std::string("Rates held"));
    CHECK_EQ(header(), std::string("Local  (1 hidden)"));
    showListDirectly(nullptr);
    textFunctions.drawText = drawScriptText;

    UnhookWinEvent(hook);
    run.end();
    fullScreenProgramShown = fullScreenCheck;
    for (const wchar_t* key : soundKeys)
        RegDeleteKeyW(HKEY_CURRENT_USER, key);
    stopFeedServer(news);
    stopFeedServer(sport);
}

// The full-screen check of the real system: another program's window covering the monitor in
// front counts, a small one does not, and none once it is gone.
TEST(another_programs_window_covering_the_monitor_is_full_screen) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    REQUIRE(length > 0 && length < MAX_PATH);
    strcpy(strrchr(path, '\\') + 1, "full_screen_window.exe");
    CHECK(!fullScreenProgramShown());
    for (const char* size : {"small", "full"}) {
        std::string command = std::string("\"") + path + "\" " + size;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        REQUIRE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
        CHECK(waitFor(
            [&] {
                HWND front = GetForegroundWindow();
                DWORD owner = 0;
                GetWindowThreadProcessId(front, &owner);
                return front != nullptr && owner == process.dwProcessId;
            },
            10000));
        CHECK_EQ(fullScreenProgramShown(), strcmp(size, "full") == 0);
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        pumpMessages(100);
        CHECK(!fullScreenProgramShown());
    }
}
