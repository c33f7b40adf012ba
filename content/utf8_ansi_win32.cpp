// UTF-8 to UTF-16 for the wide text functions, and on to the ANSI code page for the narrow ones.
#include "content/utf8_ansi.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// Steps back over a UTF-8 sequence that the byte limit cut short, so that it is left out whole.
size_t wholeUtf8Characters(const char* text, size_t length) {
    size_t start = length;
    size_t back = 0;
    while (start > 0 && back < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
        ++back;
    }
    if (start == 0)
        return length;
    unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (lead >= 0xC0 && back + 1 < needed)
        return start - 1;
    return length;
}

// A new zero-terminated UTF-16 text from bytes in codePage; null when memory runs out.
wchar_t* convertToWide(UINT codePage, const char* text, size_t length) {
    int bytes = length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
    int units = bytes != 0 ? MultiByteToWideChar(codePage, 0, text, bytes, nullptr, 0) : 0;
    wchar_t* wide =
        static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(wchar_t)));
    if (wide == nullptr)
        return nullptr;
    if (units != 0)
        units = MultiByteToWideChar(codePage, 0, text, bytes, wide, units);
    wide[units] = L'\0';
    return wide;
}

} // namespace

wchar_t* utf8ToWide(const char* text) {
    if (text == nullptr)
        return nullptr;
    return convertToWide(CP_UTF8, text, std::strlen(text));
}

wchar_t* bytesToWide(const char* text, size_t length, bool utf8) {
    if (text == nullptr)
        return nullptr;
    size_t bytes = strnlen(text, length);
    if (utf8 && bytes == length)
        bytes = wholeUtf8Characters(text, bytes);
    return convertToWide(utf8 ? CP_UTF8 : CP_ACP, text, bytes);
}

char* ansiToUtf8(const char* text) {
    wchar_t* wide = text != nullptr ? bytesToWide(text, std::strlen(text), false) : nullptr;
    if (wide == nullptr)
        return nullptr;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* utf8 = bytes > 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(bytes))) : nullptr;
    if (utf8 != nullptr)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, bytes, nullptr, nullptr);
    std::free(wide);
    return utf8;
}

char* utf8ToAnsi(const char* text) {
    wchar_t* wide = utf8ToWide(text);
    if (wide == nullptr)
        return nullptr;
    size_t length = std::wcslen(wide);
    int units = length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
    int ansiBytes =
        units != 0 ? WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr) : 0;
    char* ansi = static_cast<char*>(std::calloc(static_cast<size_t>(ansiBytes) + 1, 1));
    if (ansi != nullptr && ansiBytes != 0)
        WideCharToMultiByte(CP_ACP, 0, wide, units, ansi, ansiBytes, nullptr, nullptr);
    std::free(wide);
    return ansi;
}
