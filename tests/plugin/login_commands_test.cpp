// The Login and Forget Login commands as the menu sends them: each argument names the login of
// the shown feed's origin, a favourite's or the proxy's; the dialog stores what is typed into it
// under that origin, written as the fetch looks it up.
#include "tests/support/check.h"
#include "tests/plugin/command_fixture.h"
#include "tests/support/login_dialog_driver.h"
#include "tests/support/message_pump.h"

#include <process.h>
#include <string>

#include "feed/login_store.h"
#include "plugin/commands.h"
#include "plugin/runtime_state.h"

namespace {

const char* const shownOrigin = "https://intranet.example:443";
const char* const favouriteOrigin = "http://build.example:8080";

struct DialogAnswer {
    bool answered;
    std::wstring label;
};

unsigned __stdcall answerOnItsOwnThread(void* record) {
    DialogAnswer* answer = static_cast<DialogAnswer*>(record);
    answer->answered = answerLoginDialog(L"builder", L"b\u00fcild pass", &answer->label);
    return 0;
}

} // namespace

TEST(eachArgumentNamesItsOwnLoginAndTheDialogStoresIt) {
    startPlugin("feedmarquee.feedUrl: HTTPS://Intranet.Example/feeds/a.xml#top\n"
                "feedmarquee.fav0.title: Builds\n"
                "feedmarquee.fav0.url: http://build.example:8080/rss\n");
    HWND window = runtime.pluginWindow;
    REQUIRE(saveLogin(shownOrigin, L"reader", L"one"));
    REQUIRE(saveLogin(favouriteOrigin, L"reader", L"two"));
    // Nothing names a login: a word, a favourite that is not there, a proxy that never asked.
    handleCommand(window, "@FeedMarqueeForgetLogin x");
    handleCommand(window, "@FeedMarqueeForgetLogin 7");
    handleCommand(window, "@FeedMarqueeForgetLogin proxy");
    CHECK(hasLogin(shownOrigin) && hasLogin(favouriteOrigin));
    handleCommand(window, "@FeedMarqueeForgetLogin 0");
    CHECK(hasLogin(shownOrigin) && !hasLogin(favouriteOrigin));
    handleCommand(window, "@FeedMarqueeForgetLogin");
    CHECK(!hasLogin(shownOrigin));

    // The dialog opens after the command has returned, and keeps what is typed for the origin.
    DialogAnswer answer = {};
    handleCommand(window, "@FeedMarqueeLogin 0");
    HANDLE helper = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, answerOnItsOwnThread, &answer, 0, nullptr));
    REQUIRE(helper != nullptr);
    for (DWORD start = GetTickCount();
         WaitForSingleObject(helper, 0) == WAIT_TIMEOUT && GetTickCount() - start < 20000;)
        pumpMessagesFor(50);
    WaitForSingleObject(helper, 5000);
    CloseHandle(helper);
    CHECK(answer.answered);
    CHECK(answer.label == L"Login for http://build.example:8080");
    StoredLogin stored;
    REQUIRE(readLogin(favouriteOrigin, &stored));
    CHECK_EQ(std::string(stored.user), std::string("builder"));
    CHECK_EQ(std::string(stored.password), std::string("b\xC3\xBCild pass"));
    clearLogin(&stored);
    CHECK(!hasLogin(shownOrigin));
    // The settings file never sees it.
    CHECK(settingsFileText().find("pass") == std::string::npos);
    forgetLogin(favouriteOrigin);
    stopPlugin();
}
