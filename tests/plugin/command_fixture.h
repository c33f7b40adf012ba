// A plug-in set up in-process for the command and menu tests: the settings read through the
// shell's real settings functions from a file beside the test program, a real plug-in window and
// tooltip control, and two windows standing in for the shell and its slit that note what they
// are sent. Everything runs on the test's own thread, which plays the shell's GUI thread.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
extern std::vector<SentMessage> sentMessages; // to the shell and slit stand-ins, oldest first
extern volatile LONG sentMessageCount;        // its size, readable from other threads
extern HWND testShellWindow;
extern HWND testSlitWindow;

// Starts a case afresh: the settings file holds exactly rcText (empty: every default), the
// window stands at the settings' place and size and is shown; withSlit gives the plug-in a slit
// window as beginSlitPlugin would. No update pass runs and nothing is shown.
void startPlugin(const char* rcText = "", bool withSlit = false);
// Undoes startPlugin: waits for a running pass, frees the lists, the menu, the windows and the
// favourites, and puts the real dialogs back.
void stopPlugin();

std::string settingsFileText(); // the whole settings file (beside the test program)
// The value on the first line of the settings file that begins with key (letter case ignored),
// blanks around it removed; "<missing>" when no line has the key.
std::string fileValue(const char* key);

bool repaintPending();    // the window has an invalid area; validates it afterwards
bool timerArmed(UINT id); // the window has timer id (which this kills)
bool isTopmost(HWND window);
// The period of the latest SetTimer call for timer id on the plug-in window since startPlugin, or
// 0 without one. SetTimer is watched through the program's import table, so the plug-in's own
// calls are seen without changing them.
UINT timerPeriod(UINT id);
RECT windowRect();                         // the plug-in window's screen rectangle
void setDisplayTitle(const char* title);   // the window shows one header entry with title
const char* displayTitle();                // its first entry's title, or null
void waitForPass();                        // stops the update passes
int messagesTo(HWND window, UINT message); // how many of sentMessages match
