// Logins for private feeds: the Login and Forget Login commands and the small dialog that asks a
// user name and a password (masked). A command never carries a password: command strings reach
// every window and the shell records them; the password is typed into the dialog only and kept
// in the Credential Manager (feed/login_store.h), nowhere else.
#pragma once
#include <windows.h>

// The dialog's title and its fields, for the tests that fill it in.
extern const wchar_t loginDialogTitle[]; // "FeedMarquee Login"
const int loginUserField = 101;
const int loginPasswordField = 102;

// "@FeedMarqueeLogin [n|proxy]": opens the dialog for the shown feed's origin, favourite n's, or
// the proxy that last asked for a login, once the current message is done (the command returns at
// once). A stored login updates the feeds at once.
void loginCommand(HWND window, const char* argument);
// "@FeedMarqueeForgetLogin [n|proxy]": removes that login (for every feed of its origin).
void forgetLoginCommand(const char* argument);
