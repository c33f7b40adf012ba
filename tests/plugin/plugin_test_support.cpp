#include "tests/plugin/plugin_test_support.h"

#include <cstdio>

std::string makeTempFolder(const char* tag) {
    static int serial = 0;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (;;) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%sfm-%s-%lu-%d\\", base, tag, GetCurrentProcessId(),
                      ++serial);
        if (CreateDirectoryA(name, nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return "";
    }
}

void removeFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                DeleteFileA((folder + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

HINSTANCE loadModuleIn(const std::string& folder) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string source = self;
    source = source.substr(0, source.rfind('\\') + 1) + "fm_module_stub.dll";
    std::string target = folder + "fm_module_stub.dll";
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE))
        return nullptr;
    return LoadLibraryA(target.c_str());
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readFile(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

void writeFile(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = readFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> fileKeys(const std::string& path) {
    std::vector<std::string> keys;
    for (const std::string& line : fileLines(path))
        keys.push_back(line.substr(0, line.find(':') + 1));
    return keys;
}

void pumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        // Bounded also inside: a window that never validates would otherwise be painted forever.
        while (GetTickCount() - start < ms && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

namespace {
INPUT mouseInput(int x, int y, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    // Absolute coordinates are in 0..65535 over the primary screen.
    input.mi.dx = MulDiv(x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
    input.mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    return input;
}
INPUT keyInput(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}
} // namespace

void dragWindow(HWND window, int dx, int dy, bool alt) {
    RECT rect;
    GetWindowRect(window, &rect);
    int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    std::vector<INPUT> inputs;
    inputs.push_back(mouseInput(x, y, 0));
    if (alt)
        inputs.push_back(keyInput(VK_MENU, false));
    inputs.push_back(mouseInput(x, y, MOUSEEVENTF_LEFTDOWN));
    for (int step = 1; step <= 4; ++step)
        inputs.push_back(mouseInput(x + dx * step / 4, y + dy * step / 4, 0));
    inputs.push_back(mouseInput(x + dx, y + dy, MOUSEEVENTF_LEFTUP));
    if (alt)
        inputs.push_back(keyInput(VK_MENU, true));
    SetForegroundWindow(window);
    // All at once: the system's move loop takes the rest of the input from the queue.
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    pumpMessages(300);
}

void moveMouseTo(int x, int y) {
    INPUT input = mouseInput(x, y, 0);
    SendInput(1, &input, sizeof(INPUT));
    pumpMessages(200);
}

void rightClickWindow(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    INPUT inputs[3] = {mouseInput(x, y, 0), mouseInput(x, y, MOUSEEVENTF_RIGHTDOWN),
                       mouseInput(x, y, MOUSEEVENTF_RIGHTUP)};
    SendInput(3, inputs, sizeof(INPUT));
    pumpMessages(200);
}
