#include "tests/plugin/shell_session.h"

#include <algorithm>
#include "tests/plugin/plugin_test_support.h"

std::string windowsPath(const char* hostPath) {
    std::string path = hostPath;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    return path;
}

bool ShellSession::start(const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput = nullptr;
    if (!CreatePipe(&childInput, &input, &inherit, 0) ||
        !CreatePipe(&output, &childOutput, &inherit, 0))
        return false;
    SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = "\"" + windowsPath(BLACKBOX_EXE) + "\" --control " + arguments;
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back(0);
    PROCESS_INFORMATION info = {};
    BOOL created = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &info);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!created)
        return false;
    CloseHandle(info.hThread);
    process = info.hProcess;
    std::string first;
    ready = readLine(first, 20000) && first == "ready";
    return ready;
}

bool ShellSession::readLine(std::string& line, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        size_t newline = pending.find('\n');
        if (newline != std::string::npos) {
            line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr))
            return false;
        if (available) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(output, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr))
                return false;
            pending.append(buffer, got);
            continue;
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
}

std::vector<std::string> ShellSession::command(const std::string& line, bool* ok) {
    std::vector<std::string> lines;
    if (ok)
        *ok = false;
    std::string text = line + "\n";
    DWORD written = 0;
    if (!ready ||
        !WriteFile(input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return lines;
    std::string reply;
    while (readLine(reply, 30000)) {
        if (reply.compare(0, 2, "- ") == 0) {
            lines.push_back(reply.substr(2));
        } else if (reply.compare(0, 3, "ok ") == 0 || reply == "ok") {
            if (ok)
                *ok = true;
            break;
        } else if (reply.compare(0, 5, "error") == 0) {
            lines.push_back(reply);
            break;
        }
    }
    return lines;
}

int ShellSession::quit() {
    if (!process)
        return -1;
    command("quit");
    DWORD status = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &status);
    else
        TerminateProcess(process, 99);
    CloseHandle(process);
    process = nullptr;
    return static_cast<int>(status);
}

ShellSession::~ShellSession() {
    if (process) {
        if (input) {
            CloseHandle(input); // the end of its input ends the shell
            input = nullptr;
        }
        if (WaitForSingleObject(process, 20000) != WAIT_OBJECT_0)
            TerminateProcess(process, 99);
        CloseHandle(process);
    }
    if (input)
        CloseHandle(input);
    if (output)
        CloseHandle(output);
}

std::string findLine(const std::vector<std::string>& lines, const std::string& prefix) {
    int index = lineIndex(lines, prefix);
    return index < 0 ? "" : lines[index];
}

int lineIndex(const std::vector<std::string>& lines, const std::string& prefix, int from) {
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(lines.size()); ++i)
        if (lines[i].compare(0, prefix.size(), prefix) == 0)
            return i;
    return -1;
}

bool waitForLine(const std::string& path, const std::string& line, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    do {
        for (const std::string& l : fileLines(path))
            if (l == line)
                return true;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}
