#include "tests/system/system_run.h"

#include <cstdio>

SystemRun::SystemRun(const std::vector<std::pair<std::string, std::string>>& files)
    : pluginFolder(folder.path + "FeedMarquee\\") {
    std::string built = testProgramFolder();
    CreateDirectoryA(pluginFolder.c_str(), nullptr);
    for (const auto& file : files)
        writeFileText(pluginFolder + file.first, file.second);
    std::string plugin = pluginFolder + "FeedMarquee.dll";
    CopyFileA((built + "..\\..\\FeedMarquee.dll").c_str(), plugin.c_str(), FALSE);
    CopyFileA((built + "system_probe.dll").c_str(), folder.file("system_probe.dll").c_str(), FALSE);
    // FeedMarquee first: its window is then the shell's "plugin" window.
    started = startShell(shell, folder.path,
                         "--exec-log " + folder.file("exec.log") + " " + plugin + " " +
                             folder.file("system_probe.dll"));
}

SystemRun::~SystemRun() {
    if (shell.process.hProcess)
        stopShell(shell);
    // The plug-in's folder goes before the shell's (which removes only files).
    removeFolder(pluginFolder);
}

bool command(SystemRun& run, const std::string& line) {
    ShellReply reply = shellCommand(run.shell, line);
    if (!reply.ok)
        std::fprintf(stderr, "  control line \"%s\" failed: %s\n", line.c_str(),
                     reply.error.c_str());
    return reply.ok;
}

bool broadcast(SystemRun& run, const std::string& text) {
    return command(run, "broadcast " + text);
}
