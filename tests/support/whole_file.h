// A whole file's bytes, for tests that build natively as well as for Windows (temp_folder.h is
// Win32 only). Empty when the file cannot be read.
#pragma once
#include <cstdio>
#include <string>

inline std::string readWholeFile(const std::string& path) {
    std::string content;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            content.append(buffer, n);
        std::fclose(file);
    }
    return content;
}
