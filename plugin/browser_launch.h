// Starting the browser program the user chose (browserPath, UTF-8) with a link. A path the ANSI
// code page can write goes through the shell's BBExecute, as every program the plug-in starts;
// one beyond the code page, which the shell's narrow call cannot name, is started through
// ShellExecuteW, whose library is loaded only for that call.
#pragma once
#include <windows.h>

// ShellExecuteW as startBrowser calls it (a result above 32 is success); tests may put their own
// in.
typedef HINSTANCE(WINAPI* WideExecuteFunction)(HWND owner, const wchar_t* verb, const wchar_t* file,
                                               const wchar_t* arguments, const wchar_t* directory,
                                               int showCommand);
extern WideExecuteFunction executeWide;

// Starts program (UTF-8) with arguments (ASCII: a quoted web link); false when it could not be
// named or started.
bool startBrowser(const char* program, const char* arguments);
