// UTF-8 to the ANSI code page through UTF-16, for the narrow GDI text functions.
#include "content/utf8_ansi.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cstring>

char* utf8ToAnsi(const char* text) {
    if (text == nullptr)
        return nullptr;
    size_t length = std::strlen(text);
    int bytes = length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);

    int units = bytes != 0 ? MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0) : 0;
    wchar_t* wide =
        static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(wchar_t)));
    if (wide == nullptr)
        return nullptr;
    if (units != 0)
        units = MultiByteToWideChar(CP_UTF8, 0, text, bytes, wide, units);

    int ansiBytes =
        units != 0 ? WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr) : 0;
    char* ansi = static_cast<char*>(std::calloc(static_cast<size_t>(ansiBytes) + 1, 1));
    if (ansi != nullptr && ansiBytes != 0)
        WideCharToMultiByte(CP_ACP, 0, wide, units, ansi, ansiBytes, nullptr, nullptr);
    std::free(wide);
    return ansi;
}
