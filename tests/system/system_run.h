// The shell with the real plug-in and the observer plug-in, in a temporary folder of its own,
// shared by the system test programs. The shell's folder holds blackbox.exe's working files and
// the observer; FeedMarquee.dll sits in a folder of its own below it, as plug-ins are usually
// installed, so that the settings file shows which of the two folders the plug-in chose.
#pragma once
#include "tests/shell/shell_driver.h"
#include "tests/support/temp_folder.h"

#include <string>
#include <utility>
#include <vector>

struct SystemRun {
    TempFolder folder;
    std::string pluginFolder;
    ShellSession shell;
    bool started = false;

    // files: names and contents put into the plug-in's folder before the shell starts.
    explicit SystemRun(const std::vector<std::pair<std::string, std::string>>& files = {});
    ~SystemRun();
    std::string settingsFile() const { return pluginFolder + "feedmarquee.rc"; }
};

// Sends one control line to the shell; false (and the reason on standard error) when it failed.
bool command(SystemRun& run, const std::string& line);
// Has the shell broadcast a command string, as the menu or a script would.
bool broadcast(SystemRun& run, const std::string& text);
