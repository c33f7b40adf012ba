#include "plugin/browser_launch.h"

#include <cstdlib>

#include "content/utf8_ansi.h"
#include "plugin/window_proc.h"

namespace {

HINSTANCE WINAPI shellExecuteOnDemand(HWND owner, const wchar_t* verb, const wchar_t* file,
                                      const wchar_t* arguments, const wchar_t* directory,
                                      int showCommand) {
    typedef HINSTANCE(WINAPI * Function)(HWND, const wchar_t*, const wchar_t*, const wchar_t*,
                                         const wchar_t*, int);
    HMODULE library = LoadLibraryA("shell32.dll");
    if (library == nullptr)
        return nullptr;
    // Through the generic function pointer type, which converts to any other without a warning.
    Function function = reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "ShellExecuteW")));
    HINSTANCE result = function != nullptr
                           ? function(owner, verb, file, arguments, directory, showCommand)
                           : nullptr;
    FreeLibrary(library);
    return result;
}

// wide in the ANSI code page (free()), or null when a character has no form there (a best fit,
// "a" for "ā", would name another file).
char* exactCodePageForm(const wchar_t* wide) {
    BOOL lost = FALSE;
    int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lost);
    char* out =
        size > 0 && !lost ? static_cast<char*>(std::malloc(static_cast<size_t>(size))) : nullptr;
    if (out != nullptr && (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out, size,
                                               nullptr, &lost) == 0 ||
                           lost)) {
        std::free(out);
        out = nullptr;
    }
    return out;
}

} // namespace

WideExecuteFunction executeWide = shellExecuteOnDemand;

bool startBrowser(const char* program, const char* arguments) {
    wchar_t* wideProgram = utf8ToWide(program);
    if (wideProgram == nullptr)
        return false;
    bool started = false;
    if (char* narrow = exactCodePageForm(wideProgram)) {
        started = executeInShell(GetDesktopWindow(), nullptr, narrow, arguments, nullptr,
                                 SW_SHOWNORMAL, false) != FALSE;
        std::free(narrow);
    } else if (wchar_t* wideArguments = utf8ToWide(arguments)) {
        HINSTANCE result = executeWide(GetDesktopWindow(), nullptr, wideProgram, wideArguments,
                                       nullptr, SW_SHOWNORMAL);
        started = reinterpret_cast<INT_PTR>(result) > 32;
        std::free(wideArguments);
    }
    std::free(wideProgram);
    return started;
}
