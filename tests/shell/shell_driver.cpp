#include "tests/shell/shell_driver.h"
#include <cstdlib>

namespace {

// Reads what the pipe holds without blocking; false when the shell's end is closed.
bool readAvailable(ShellSession& session) {
    DWORD available = 0;
    if (!PeekNamedPipe(session.fromShell, nullptr, 0, nullptr, &available, nullptr))
        return false;
    while (available > 0) {
        char buffer[4096];
        DWORD got = 0;
        DWORD want = available < sizeof buffer ? available : sizeof buffer;
        if (!ReadFile(session.fromShell, buffer, want, &got, nullptr) || got == 0)
            return false;
        session.pending.append(buffer, got);
        available -= got;
    }
    size_t newline;
    while ((newline = session.pending.find('\n')) != std::string::npos) {
        std::string line = session.pending.substr(0, newline);
        session.pending.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, 2, "- ") == 0) {
            session.lines.push_back(line.substr(2));
        } else if (line.compare(0, 3, "ok ") == 0 || line.compare(0, 6, "error ") == 0) {
            bool ok = line[0] == 'o';
            const char* number = line.c_str() + (ok ? 3 : 6);
            char* end = nullptr;
            int sequence = static_cast<int>(std::strtol(number, &end, 10));
            ShellReply reply;
            reply.ok = ok;
            if (!ok && end && *end == ' ')
                reply.error = end + 1;
            reply.lines.swap(session.lines);
            session.replies[sequence] = reply;
        } else {
            session.lines.push_back(line); // "ready" and anything unexpected
        }
    }
    return true;
}

} // namespace

std::string builtShellPath() {
    // Test programs live in <build>\tests\<unit>\; the shell in <build>\shell\.
    return testProgramFolder() + "..\\..\\shell\\blackbox.exe";
}

bool startShell(ShellSession& session, const std::string& folder, const std::string& arguments,
                DWORD timeoutMs) {
    std::string exe = folder + "blackbox.exe";
    if (!CopyFileA(builtShellPath().c_str(), exe.c_str(), FALSE))
        return false;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &session.toShell, &inherit, 0) ||
        !CreatePipe(&session.fromShell, &childOut, &inherit, 0))
        return false;
    SetHandleInformation(session.toShell, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(session.fromShell, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = "\"" + exe + "\" --control " + arguments;
    BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.c_str(), &startup, &session.process);
    CloseHandle(childIn);
    CloseHandle(childOut);
    if (!started)
        return false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (!readAvailable(session))
            return false;
        for (size_t i = 0; i < session.lines.size(); ++i)
            if (session.lines[i] == "ready") {
                session.lines.erase(session.lines.begin() + i);
                return true;
            }
        Sleep(10);
    }
    return false;
}

int sendLine(ShellSession& session, const std::string& line) {
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(session.toShell, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return ++session.sent;
}

bool waitReply(ShellSession& session, int sequence, ShellReply& reply, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (true) {
        auto found = session.replies.find(sequence);
        if (found != session.replies.end()) {
            reply = found->second;
            session.replies.erase(found);
            return true;
        }
        if (GetTickCount() - start >= timeoutMs || !readAvailable(session))
            return false;
        if (session.replies.find(sequence) == session.replies.end())
            Sleep(5);
    }
}

ShellReply shellCommand(ShellSession& session, const std::string& line, DWORD timeoutMs) {
    ShellReply reply;
    if (!waitReply(session, sendLine(session, line), reply, timeoutMs)) {
        reply.ok = false;
        reply.error = "no reply to " + line;
    }
    return reply;
}

int stopShell(ShellSession& session, DWORD timeoutMs) {
    if (!session.process.hProcess)
        return -1;
    sendLine(session, "quit");
    DWORD start = GetTickCount();
    int status = -1;
    while (GetTickCount() - start < timeoutMs) {
        readAvailable(session); // keep the pipe drained so the shell never blocks writing
        if (WaitForSingleObject(session.process.hProcess, 20) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(session.process.hProcess, &code);
            status = static_cast<int>(code);
            break;
        }
    }
    if (status == -1)
        TerminateProcess(session.process.hProcess, 99);
    CloseHandle(session.process.hProcess);
    CloseHandle(session.process.hThread);
    CloseHandle(session.toShell);
    CloseHandle(session.fromShell);
    session.process = PROCESS_INFORMATION();
    return status;
}
