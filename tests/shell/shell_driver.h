// Drives blackbox.exe through its control channel from a test program: starts it in a folder of
// the test's choosing (copying the program there, so that the folder is the shell's own), sends
// control lines, collects the replies by sequence number and ends it. Every wait is bounded.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

struct ShellReply {
    bool ok = false;
    std::string error;              // the reason after "error N", when not ok
    std::vector<std::string> lines; // the data lines without their "- "
};

struct ShellSession {
    PROCESS_INFORMATION process = {};
    HANDLE toShell = nullptr, fromShell = nullptr;
    std::string pending;            // bytes read but not yet a whole line
    std::vector<std::string> lines; // data lines of the reply being read
    std::map<int, ShellReply> replies;
    int sent = 0;
};

// The path of blackbox.exe in the build (next to the test programs' folders).
std::string builtShellPath();
// Copies blackbox.exe into folder and starts it there as "blackbox.exe --control arguments";
// true once it said "ready" within timeoutMs.
bool startShell(ShellSession& session, const std::string& folder, const std::string& arguments,
                DWORD timeoutMs = 20000);
// Sends one control line; returns its sequence number.
int sendLine(ShellSession& session, const std::string& line);
// Waits for the reply to the line with that sequence number; false on timeout or end of output.
bool waitReply(ShellSession& session, int sequence, ShellReply& reply, DWORD timeoutMs = 10000);
// sendLine and waitReply in one; a timeout gives a reply that is not ok.
ShellReply shellCommand(ShellSession& session, const std::string& line, DWORD timeoutMs = 10000);
// Sends "quit" and waits for the program to end; its exit status, or -1 when it had to be
// killed after timeoutMs.
int stopShell(ShellSession& session, DWORD timeoutMs = 15000);
