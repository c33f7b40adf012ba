// The plug-in started in this process against the stand-in shell (see plugin_test_support.h).
#include "tests/plugin/plugin_test_support.h"

#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "shell/shell_record.h"

std::vector<MessageBoxCall> messageBoxes;

int WINAPI recordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", style});
    return IDOK;
}

PluginRun::PluginRun() {
    static bool shellReady = createShellWindows(GetModuleHandleA(nullptr));
    (void)shellReady;
    pluginFolder = makeTempFolder("plugin");
    shellFolder = makeTempFolder("shell");
    executeLog = shellFolder + "execute.log";
    module = loadModuleIn(pluginFolder);
    setShellFolder(shellFolder.c_str());
    setExecuteLog(executeLog.c_str());
    showMessageBox = recordMessageBox;
    messageBoxes.clear();
    clearShellRecord();
}

PluginRun::~PluginRun() {
    if (running)
        end();
    pumpMessages(20);
    setExecuteLog(nullptr);
    setShellFolder(nullptr);
    if (module)
        FreeLibrary(module);
    removeFolder(pluginFolder);
    removeFolder(shellFolder);
}

void PluginRun::settingsFile(const char* rcText) {
    if (rcText)
        writeFileText(pluginFolder + "feedmarquee.rc", rcText);
    else
        DeleteFileA((pluginFolder + "feedmarquee.rc").c_str());
}

int PluginRun::begin() {
    int result = beginPlugin(module);
    running = result == 0;
    return result;
}

int PluginRun::beginSlit() {
    int result = beginSlitPlugin(module, shellSlitWindow());
    running = result == 0;
    return result;
}

int PluginRun::end() {
    running = false;
    return endPlugin(module);
}

int findRecord(const std::string& prefix, int from) {
    std::vector<ShellRecordEntry> record = shellRecord();
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(record.size()); ++i)
        if (recordLine(record[i]).compare(0, prefix.size(), prefix) == 0)
            return i;
    return -1;
}

int countRecord(const std::string& prefix) {
    int count = 0;
    for (const ShellRecordEntry& entry : shellRecord())
        if (recordLine(entry).compare(0, prefix.size(), prefix) == 0)
            ++count;
    return count;
}
