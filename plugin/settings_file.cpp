// Reading and replacing the settings file. A replacement is complete and on the disk before it
// takes the old file's place: a full disk, or an error the system reports only when the data is
// flushed, leaves the old file as it was.
#include "plugin/settings_file.h"

#include <cstdlib>
#include <cwchar>

BOOL(WINAPI* settingsWriteFile)(HANDLE, LPCVOID, DWORD, DWORD*, LPOVERLAPPED) = WriteFile;

wchar_t* widePath(const char* path) {
    int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    wchar_t* wide =
        length > 0 ? static_cast<wchar_t*>(std::malloc(length * sizeof(wchar_t))) : nullptr;
    if (wide && MultiByteToWideChar(CP_ACP, 0, path, -1, wide, length) == 0) {
        std::free(wide);
        wide = nullptr;
    }
    return wide;
}

char* readSettingsBytes(const char* path, size_t* length, bool* missing) {
    *missing = false;
    *length = 0;
    wchar_t* wide = widePath(path);
    if (!wide)
        return nullptr;
    HANDLE file =
        CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::free(wide);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    LARGE_INTEGER size;
    char* bytes = nullptr;
    // A settings file beyond 1 GiB is no settings file; it is left alone.
    if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart < (1LL << 30)) {
        size_t total = static_cast<size_t>(size.QuadPart);
        bytes = static_cast<char*>(std::malloc(total + 1));
        size_t done = 0;
        while (bytes && done < total) {
            DWORD piece = total - done > (1u << 24) ? (1u << 24) : static_cast<DWORD>(total - done);
            DWORD got = 0;
            if (!ReadFile(file, bytes + done, piece, &got, nullptr) || got == 0)
                break;
            done += got;
        }
        if (bytes && done == total) {
            bytes[total] = '\0';
            *length = total;
        } else {
            std::free(bytes);
            bytes = nullptr;
        }
    }
    CloseHandle(file);
    return bytes;
}

namespace {

bool writeAll(HANDLE file, const char* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        DWORD piece = length - done > (1u << 24) ? (1u << 24) : static_cast<DWORD>(length - done);
        DWORD written = 0;
        if (!settingsWriteFile(file, bytes + done, piece, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

bool replaceSettingsFile(const char* path, const char* bytes, size_t length) {
    wchar_t* target = widePath(path);
    if (!target)
        return false;
    DWORD attributes = GetFileAttributesW(target);
    size_t pathLength = std::wcslen(target);
    wchar_t* temporary =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)
            ? nullptr
            : static_cast<wchar_t*>(std::malloc((pathLength + 5) * sizeof(wchar_t)));
    bool replaced = false;
    if (temporary) {
        std::wmemcpy(temporary, target, pathLength);
        std::wmemcpy(temporary + pathLength, L".new", 5);
        HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            LARGE_INTEGER size = {};
            bool whole = writeAll(file, bytes, length) && FlushFileBuffers(file) &&
                         GetFileSizeEx(file, &size) &&
                         static_cast<unsigned long long>(size.QuadPart) == length;
            whole = CloseHandle(file) && whole;
            replaced = whole && MoveFileExW(temporary, target,
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            if (!replaced)
                DeleteFileW(temporary);
        }
    }
    std::free(temporary);
    std::free(target);
    return replaced;
}

SettingsFileStamp settingsFileStamp(const char* path) {
    SettingsFileStamp stamp = {};
    wchar_t* wide = widePath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (wide && GetFileAttributesExW(wide, GetFileExInfoStandard, &data)) {
        stamp.exists = true;
        stamp.size =
            (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        stamp.written =
            (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
            data.ftLastWriteTime.dwLowDateTime;
    }
    std::free(wide);
    return stamp;
}

bool sameStamp(const SettingsFileStamp& a, const SettingsFileStamp& b) {
    return a.exists == b.exists && a.size == b.size && a.written == b.written;
}
