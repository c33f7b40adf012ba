#include "feed/idn_win32.h"
#include <windows.h>

namespace {

typedef int(WINAPI* IdnToAsciiFunction)(DWORD, const wchar_t*, int, wchar_t*, int);

IdnToAsciiFunction findIdnToAscii() {
    static IdnToAsciiFunction found;
    if (found)
        return found;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC address = kernel ? GetProcAddress(kernel, "IdnToAscii") : nullptr;
    if (address == nullptr) {
        // Kept loaded: it is small and asked again for every such name.
        HMODULE normaliz = LoadLibraryA("normaliz.dll");
        address = normaliz ? GetProcAddress(normaliz, "IdnToAscii") : nullptr;
    }
    found = reinterpret_cast<IdnToAsciiFunction>(reinterpret_cast<void*>(address));
    return found;
}

} // namespace

bool systemHostToAscii(const char* host, size_t length, char* out, size_t outSize) {
    IdnToAsciiFunction idnToAscii = findIdnToAscii();
    if (idnToAscii == nullptr || length == 0 || length > 255 || outSize == 0)
        return false;
    wchar_t wide[256];
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, host, int(length), wide, 255);
    if (count <= 0)
        count = MultiByteToWideChar(CP_ACP, 0, host, int(length), wide, 255);
    if (count <= 0)
        return false;
    wchar_t ascii[256];
    int asciiLength = idnToAscii(0, wide, count, ascii, 255);
    if (asciiLength <= 0 || size_t(asciiLength) >= outSize)
        return false;
    for (int i = 0; i < asciiLength; ++i) {
        if (ascii[i] == 0 || ascii[i] >= 0x80)
            return false;
        out[i] = static_cast<char>(ascii[i]);
    }
    out[asciiLength] = '\0';
    return true;
}
