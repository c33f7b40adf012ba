#include "tests/plugin/plugin_test_support.h"

#include <cstdio>
#include "tests/support/message_pump.h"

HINSTANCE loadModuleIn(const std::string& folder) {
    std::string source = testProgramFolder() + "fm_module_stub.dll";
    std::string target = folder + "fm_module_stub.dll";
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE))
        return nullptr;
    return LoadLibraryA(target.c_str());
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    for (const std::string& line : textLines(readFileText(path)))
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::vector<std::string> fileKeys(const std::string& path) {
    std::vector<std::string> keys;
    for (const std::string& line : fileLines(path))
        keys.push_back(line.substr(0, line.find(':') + 1));
    return keys;
}

void pumpMessages(DWORD ms) {
    pumpMessagesFor(ms);
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
