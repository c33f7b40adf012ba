// A fresh, empty folder under the system's temporary folder for one test, removed with its files
// when the test ends. Shared by the shell's tests.
#pragma once
#include <windows.h>
#include <cstdio>
#include <string>

struct TempFolder {
    std::string path; // ends in a backslash

    TempFolder() {
        static int counter = 0;
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        char name[64];
        std::snprintf(name, sizeof name, "bbtest-%lu-%d-%lu\\", GetCurrentProcessId(), ++counter,
                      GetTickCount());
        path = std::string(base) + name;
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path + "*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((path + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path.c_str());
    }
    std::string file(const char* name) const { return path + name; }
};

inline std::string readFileText(const std::string& path) {
    std::string content;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return content;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    std::fclose(file);
    return content;
}

inline void writeFileText(const std::string& path, const std::string& content) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
}
