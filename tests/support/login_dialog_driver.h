// Drives the plug-in's login dialog as a user would, from any thread or process: waits for it,
// reads the line naming the origin, types the user name and password and presses OK.
#pragma once
#include <string>

// True when the dialog appeared within 10 seconds, took the login and closed; label receives the
// line it showed ("Login for https://host:443").
bool answerLoginDialog(const wchar_t* user, const wchar_t* password, std::wstring* label);
