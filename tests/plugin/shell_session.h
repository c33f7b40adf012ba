// Runs the stand-in shell blackbox.exe as a child process and talks to it through its control
// channel (standard input and output), with bounded waits throughout.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A build path as Wine sees it (the host's root is drive Z:).
std::string windowsPath(const char* hostPath);

struct ShellSession {
    HANDLE process = nullptr;
    HANDLE input = nullptr;  // our end of the shell's standard input
    HANDLE output = nullptr; // our end of the shell's standard output
    std::string pending;
    bool ready = false;

    // Starts blackbox.exe with arguments (after "--control") and waits for its "ready" line.
    bool start(const std::string& arguments);
    // Sends one control line and returns the reply's data lines without their "- "; ok is false
    // for an error reply or no reply within the time.
    std::vector<std::string> command(const std::string& line, bool* ok = nullptr);
    // Asks the shell to quit and returns its exit status (-1 when it did not end in time).
    int quit();
    ~ShellSession();

  private:
    bool readLine(std::string& line, DWORD timeoutMs);
};

// The first line of lines that starts with prefix, or "".
std::string findLine(const std::vector<std::string>& lines, const std::string& prefix);
// The index of the first line at or after from that starts with prefix, or -1.
int lineIndex(const std::vector<std::string>& lines, const std::string& prefix, int from = 0);
// Waits (at most timeoutMs) until the file holds a line equal to line.
bool waitForLine(const std::string& path, const std::string& line, DWORD timeoutMs);
