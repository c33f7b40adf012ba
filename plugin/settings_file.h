// The settings file on disk: read whole as bytes, replaced whole through a temporary file, and
// stamped (size and last write) so that a change notification can tell the user's edits from the
// plug-in's own writes cheaply. Paths are the system's code page, opened through the wide API.
#pragma once
#include <windows.h>
#include <cstddef>

// The bytes of path in a new buffer (free()), zero-terminated past length. Null when the file
// cannot be opened or read whole; *missing then tells a file that does not exist.
char* readSettingsBytes(const char* path, size_t* length, bool* missing);

// Replaces path with the bytes: written to "<path>.new" beside it, every write checked, flushed
// to the disk, its size checked, then moved over path. On any failure the temporary file goes,
// path is left as it was and the result is false. A file marked read-only is never replaced.
bool replaceSettingsFile(const char* path, const char* bytes, size_t length);

// Every WriteFile of replaceSettingsFile goes through this pointer; tests put in one that fails
// as a full disk does.
extern BOOL(WINAPI* settingsWriteFile)(HANDLE file, LPCVOID bytes, DWORD count, DWORD* written,
                                       LPOVERLAPPED overlapped);

// What a change notification compares: the file's size and last write time, zero when absent.
struct SettingsFileStamp {
    unsigned long long size;
    unsigned long long written;
    bool exists;
};
SettingsFileStamp settingsFileStamp(const char* path);
bool sameStamp(const SettingsFileStamp& a, const SettingsFileStamp& b);

// A path in the system's code page as a new UTF-16 text (free()); null when memory runs out.
wchar_t* widePath(const char* path);
