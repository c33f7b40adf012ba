// The commands that open a dialog: the file, colour and font choosers and the About box. Each is
// answered from a second thread while the test's thread sits in the dialog's modal loop, as a
// person would answer it; the records the dialogs are given are checked through the seam that
// replaces the dialog calls.
#include "tests/support/check.h"
#include "tests/plugin/command_fixture.h"

#include <commdlg.h>
#include <cstring>
#include <string>

#include "plugin/commands.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "release/version.h"

namespace {

// ---- Answering real dialogs from another thread ------------------------------------------------

typedef void (*DialogAnswer)(HWND dialog);

struct Answerer {
    DWORD dialogThread;  // the thread whose dialog is answered
    DialogAnswer answer; // what a person would do in it
    HANDLE thread;
    volatile LONG found;
    LONG messagesBefore; // sentMessageCount when the dialog was found
    char caption[128];
    char text[512]; // the static texts of the dialog, concatenated
};

BOOL CALLBACK findDialog(HWND window, LPARAM result) {
    char className[32];
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
    }
    return TRUE;
}

HWND openDialog(DWORD thread) {
    HWND dialog = nullptr;
    EnumThreadWindows(thread, findDialog, reinterpret_cast<LPARAM>(&dialog));
    return dialog;
}

BOOL CALLBACK collectStatics(HWND child, LPARAM answerer) {
    Answerer* a = reinterpret_cast<Answerer*>(answerer);
    char className[32];
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Static") == 0) {
        size_t used = std::strlen(a->text);
        GetWindowTextA(child, a->text + used, static_cast<int>(sizeof a->text - used));
    }
    return TRUE;
}

DWORD WINAPI answerDialog(void* parameter) {
    Answerer* a = static_cast<Answerer*>(parameter);
    HWND dialog = nullptr;
    for (int i = 0; i < 200 && !dialog; ++i) {
        Sleep(50);
        dialog = openDialog(a->dialogThread);
    }
    if (!dialog)
        return 0;
    Sleep(300); // let the dialog finish its own initialisation
    a->messagesBefore = sentMessageCount;
    GetWindowTextA(dialog, a->caption, sizeof a->caption);
    EnumChildWindows(dialog, collectStatics, reinterpret_cast<LPARAM>(a));
    InterlockedExchange(&a->found, 1);
    a->answer(dialog);
    // Never leave the test hanging in a dialog the answer did not close.
    for (int i = 0; i < 100 && IsWindow(dialog); ++i)
        Sleep(50);
    for (int i = 0; i < 20 && IsWindow(dialog); ++i) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        Sleep(250);
    }
    return 0;
}

void startAnswering(Answerer& a, DialogAnswer answer) {
    std::memset(&a, 0, sizeof a);
    a.dialogThread = GetCurrentThreadId();
    a.answer = answer;
    a.thread = CreateThread(nullptr, 0, answerDialog, &a, 0, nullptr);
}

void finishAnswering(Answerer& a) {
    WaitForSingleObject(a.thread, 30000);
    CloseHandle(a.thread);
}

void pressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void cancel(HWND dialog) {
    pressButton(dialog, IDCANCEL);
}
void accept(HWND dialog) {
    pressButton(dialog, IDOK);
}

std::string chosenProgram;

void chooseProgram(HWND dialog) {
    // The file name box: a combo box in the newer layout, an edit box in the older.
    for (int id : {0x47c, 0x480}) {
        HWND box = GetDlgItem(dialog, id);
        if (box && IsWindowVisible(box))
            SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosenProgram.c_str()));
    }
    accept(dialog);
}

void chooseRed(HWND dialog) {
    // The red, green and blue boxes of the colour dialog.
    SetDlgItemTextA(dialog, 706, "200");
    SetDlgItemTextA(dialog, 707, "16");
    SetDlgItemTextA(dialog, 708, "32");
    Sleep(100);
    accept(dialog);
}

char chosenFace[LF_FACESIZE];

// Picks an entry of a combo box the way a click would: select it, then notify the dialog.
void pickComboEntry(HWND dialog, int id, int index) {
    HWND box = GetDlgItem(dialog, id);
    SendMessageA(box, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

// Chooses the first horizontal face the dialog lists, then 20 points.
void chooseFaceAndSize20(HWND dialog) {
    const int faceBox = 0x470, sizeBox = 0x472;
    int faces = static_cast<int>(SendDlgItemMessageA(dialog, faceBox, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < faces; ++i) {
        char face[256] = {};
        if (SendDlgItemMessageA(dialog, faceBox, CB_GETLBTEXTLEN, i, 0) >= LF_FACESIZE)
            continue;
        SendDlgItemMessageA(dialog, faceBox, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(face));
        if (face[0] != '@') {
            std::strcpy(chosenFace, face);
            pickComboEntry(dialog, faceBox, i);
            break;
        }
    }
    int size = static_cast<int>(SendDlgItemMessageA(dialog, sizeBox, CB_FINDSTRINGEXACT,
                                                    static_cast<WPARAM>(-1),
                                                    reinterpret_cast<LPARAM>("20")));
    if (size >= 0)
        pickComboEntry(dialog, sizeBox, size);
    Sleep(100);
    accept(dialog);
}

// ---- Seams that stand in for the dialogs -------------------------------------------------------

OPENFILENAMEA fileRecord;
std::string fileInitial, fileFilter;
BOOL fileAnswer;
BOOL WINAPI fakeOpenFile(OPENFILENAMEA* dialog) {
    fileRecord = *dialog;
    fileInitial = dialog->lpstrFile;
    fileFilter.assign(dialog->lpstrFilter, 40);
    if (fileAnswer) {
        std::strcpy(dialog->lpstrFile, "C:\\Tools\\browser.exe");
    } else {
        // A failed dialog may leave the buffer changed (a too small buffer gets the size needed).
        dialog->lpstrFile[0] = '\x05';
        dialog->lpstrFile[1] = '\x01';
    }
    return fileAnswer;
}

CHOOSECOLORA colorRecord;
BOOL colorAnswer;
BOOL WINAPI fakeChooseColor(CHOOSECOLORA* dialog) {
    colorRecord = *dialog;
    dialog->rgbResult = RGB(10, 20, 30);
    return colorAnswer;
}

CHOOSEFONTA fontRecord;
LOGFONTA fontGiven;
BOOL fontAnswer;
BOOL WINAPI fakeChooseFont(CHOOSEFONTA* dialog) {
    fontRecord = *dialog;
    fontGiven = *dialog->lpLogFont;
    std::strcpy(dialog->lpLogFont->lfFaceName, "Courier New");
    dialog->lpLogFont->lfHeight = -17;
    return fontAnswer;
}

} // namespace

TEST(browser_dialog_is_given_the_current_program_and_its_answer_is_kept_only_on_ok) {
    startPlugin("feedmarquee.browserPath: C:\\Old\\browser.exe\n");
    openFileDialog = fakeOpenFile;
    fileAnswer = FALSE;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSetBrowser");
    CHECK_EQ(fileRecord.lStructSize, DWORD(88));
    CHECK(fileRecord.hwndOwner == nullptr);
    CHECK_EQ(fileFilter.substr(0, 23), std::string("Programs(*.exe)\0*.exe\0\0", 23));
    CHECK_EQ(fileRecord.nMaxFile, DWORD(256));
    CHECK_EQ(fileRecord.Flags, DWORD(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));
    CHECK_EQ(fileInitial, "C:\\Old\\browser.exe");
    CHECK_EQ(settings.browserPath, "C:\\Old\\browser.exe");
    fileAnswer = TRUE;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSetBrowser");
    CHECK_EQ(settings.browserPath, "C:\\Tools\\browser.exe");
    stopPlugin();
}

TEST(colour_dialog_starts_at_the_text_colour_and_stores_the_choice_only_on_ok) {
    startPlugin("feedmarquee.fontColor: #102030\n");
    COLORREF before = settings.fontColor;
    chooseColorDialog = fakeChooseColor;
    colorAnswer = FALSE;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontColor");
    CHECK_EQ(colorRecord.lStructSize, DWORD(36));
    CHECK(colorRecord.hwndOwner == nullptr);
    CHECK_EQ(colorRecord.rgbResult, before);
    CHECK_EQ(colorRecord.Flags, DWORD(CC_RGBINIT));
    CHECK(colorRecord.lpCustColors != nullptr);
    CHECK_EQ(settings.fontColor, before);
    CHECK(!repaintPending());
    colorAnswer = TRUE;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontColor");
    CHECK_EQ(settings.fontColor, COLORREF(RGB(10, 20, 30)));
    CHECK(repaintPending());
    stopPlugin();
}

TEST(font_dialog_starts_at_the_own_font_and_stores_face_and_height_only_on_ok) {
    startPlugin("feedmarquee.font: Arial\nfeedmarquee.fontHeight: 15\n");
    chooseFontDialog = fakeChooseFont;
    fontAnswer = FALSE;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSetFont");
    CHECK_EQ(fontRecord.lStructSize, DWORD(60));
    CHECK(fontRecord.hwndOwner == runtime.pluginWindow);
    CHECK_EQ(fontRecord.Flags, DWORD(CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT));
    CHECK_EQ(fontRecord.nFontType, WORD(SCREEN_FONTTYPE));
    CHECK_EQ(fontGiven.lfFaceName, "Arial");
    CHECK_EQ(fontGiven.lfHeight, LONG(15));
    CHECK_EQ(fontGiven.lfWeight, LONG(400));
    CHECK_EQ(settings.font, "Arial");
    CHECK_EQ(settings.fontHeight, 15);
    fontAnswer = TRUE;
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSetFont");
    CHECK_EQ(settings.font, "Courier New");
    CHECK_EQ(settings.fontHeight, 17);
    stopPlugin();
}

TEST(real_dialogs_cancelled_change_nothing) {
    startPlugin("feedmarquee.browserPath: C:\\Old\\browser.exe\n"
                "feedmarquee.fontColor: #102030\n"
                "feedmarquee.font: Tahoma\nfeedmarquee.fontHeight: 15\n");
    PluginSettings before;
    std::memcpy(&before, &settings, sizeof settings);
    for (const char* command :
         {"@FeedMarqueeSetBrowser", "@FeedMarqueeFontColor", "@FeedMarqueeSetFont"}) {
        Answerer answerer;
        startAnswering(answerer, cancel);
        handleCommand(runtime.pluginWindow, command);
        finishAnswering(answerer);
        if (!answerer.found)
            check::fail(__FILE__, __LINE__, std::string("no dialog for ") + command);
        if (std::memcmp(&before, &settings, sizeof settings) != 0)
            check::fail(__FILE__, __LINE__, std::string("cancel changed settings: ") + command);
    }
    stopPlugin();
}

TEST(real_dialogs_accepted_store_the_choice) {
    startPlugin("feedmarquee.fontColor: #000000\n"
                "feedmarquee.font: Tahoma\nfeedmarquee.fontHeight: 15\n");
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    chosenProgram = program;
    Answerer answerer;
    startAnswering(answerer, chooseProgram);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSetBrowser");
    finishAnswering(answerer);
    CHECK(answerer.found);
    CHECK_EQ(_stricmp(settings.browserPath, program), 0);

    startAnswering(answerer, chooseRed);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeFontColor");
    finishAnswering(answerer);
    CHECK(answerer.found);
    CHECK_EQ(settings.fontColor, COLORREF(RGB(200, 16, 32)));

    chosenFace[0] = '\0';
    startAnswering(answerer, chooseFaceAndSize20);
    handleCommand(runtime.pluginWindow, "@FeedMarqueeSetFont");
    finishAnswering(answerer);
    CHECK(answerer.found);
    REQUIRE(chosenFace[0] != '\0');
    CHECK_EQ(settings.font, chosenFace);
    // 20 points at the screen's resolution, as a character height.
    HDC screen = GetDC(nullptr);
    int expected = MulDiv(20, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    CHECK(settings.fontHeight >= expected - 1 && settings.fontHeight <= expected + 1);
    stopPlugin();
}

TEST(about_tells_the_shell_then_shows_the_version) {
    startPlugin();
    Answerer answerer;
    startAnswering(answerer, accept);
    handleCommand(runtime.pluginWindow, "@FEEDMARQUEEabout");
    finishAnswering(answerer);
    CHECK(answerer.found);
    CHECK_EQ(answerer.messagesBefore, LONG(1)); // 10302 reached the shell before the box
    REQUIRE(!sentMessages.empty());
    CHECK_EQ(sentMessages[0].window, testShellWindow);
    CHECK_EQ(sentMessages[0].message, UINT(10302));
    CHECK_EQ(answerer.caption, "FeedMarquee");
    CHECK(std::strstr(answerer.text, "FeedMarquee " FM_VERSION) != nullptr);
    stopPlugin();
}
