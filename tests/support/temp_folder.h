// Files for the Windows tests: fresh temporary folders removed with their files, the test
// program's own folder, and whole-file reads and writes.
#pragma once
#include <string>
#include <vector>

// A new empty folder under the system's temporary folder, its path ending in a backslash, with tag
// in its name; empty when none could be made.
std::string makeTempFolder(const char* tag);
// Deletes every file in folder (a path ending in a backslash), then the folder once it is empty;
// folders inside it must be removed first. Does nothing for an empty path.
void removeFolder(const std::string& folder);

// A fresh folder for one scope, removed with its files when the scope ends.
struct TempFolder {
    std::string path; // ends in a backslash

    explicit TempFolder(const char* tag = "test") : path(makeTempFolder(tag)) {}
    ~TempFolder() { removeFolder(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string file(const char* name) const { return path + name; }
};

// The folder of the running test program, ending in a backslash.
std::string testProgramFolder();

bool fileExists(const std::string& path);
// The whole file; empty when it cannot be read.
std::string readFileText(const std::string& path);
// Replaces the file with exactly content; false when it cannot be written.
bool writeFileText(const std::string& path, const std::string& content);
// The lines of text, split at each '\n' and without a '\r' before it; empty lines are kept, and a
// last '\n' does not begin another line.
std::vector<std::string> textLines(const std::string& text);
