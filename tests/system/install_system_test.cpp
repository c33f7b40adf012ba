// The release archive installed as a user installs it. install_test.py unpacks the archive into
// plugins\FeedMarquee\ of a fresh shell folder (FM_INSTALL_FOLDER) and names its version
// (FM_RELEASE_VERSION); this program does the rest as the user would: the sample settings copied
// into place with a feed address filled in, the DLL listed in plugins.rc, the shell started
// without naming the plug-in. Then the plug-in's line goes from plugins.rc again, and after a
// restart nothing of it runs and nothing was written outside its folder but what README.txt names.
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/shell/shell_driver.h"
#include "tests/support/check.h"
#include "tests/support/temp_folder.h"
#include "tests/system/feed_server.h"

namespace {

// A folder named by the host (a path starting with '/') as Windows sees it, ending in '\'.
std::string windowsFolder(const char* variable) {
    const char* value = std::getenv(variable);
    std::string path = value ? value : "";
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

// Files with their size and time, by path.
typedef std::map<std::string, std::string> Snapshot;

// Every file in root + relative and in its folders down to depth more levels. Linked folders are
// not followed: Wine links some of the profile's folders to the host's home.
void addFiles(Snapshot& snapshot, const std::string& root, const std::string& relative, int depth) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth > 0 && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                addFiles(snapshot, root, relative + name + "\\", depth - 1);
            snapshot[root + relative + name + "\\"] = "folder";
        } else {
            char state[64];
            wsprintfA(state, "%lu bytes, %08lx%08lx", found.nFileSizeLow,
                      found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime);
            snapshot[root + relative + name] = state;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// The files the plug-in could write outside its own folder: the shell's folder, and the user's
// profile folders as far as a program would make a folder of its own there.
Snapshot outsideFiles(const std::string& shellFolder) {
    Snapshot snapshot;
    addFiles(snapshot, shellFolder, "", 8);
    for (const char* variable : {"APPDATA", "LOCALAPPDATA", "TEMP"}) {
        char folder[MAX_PATH];
        DWORD length = GetEnvironmentVariableA(variable, folder, sizeof folder);
        if (length > 0 && length < sizeof folder)
            addFiles(snapshot, std::string(folder) + "\\", "", 2);
    }
    return snapshot;
}

bool keyExists(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The keys of a settings file's lines, in lower case, in file order.
std::vector<std::string> settingKeys(const std::string& text) {
    std::vector<std::string> keys;
    for (std::string line : textLines(text)) {
        if (line.compare(0, 12, "feedmarquee.") != 0 || line.find(':') == std::string::npos)
            continue;
        line.resize(line.find(':'));
        std::transform(line.begin(), line.end(), line.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        keys.push_back(line);
    }
    return keys;
}

bool moduleLoaded(DWORD process, const char* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
    if (snapshot == INVALID_HANDLE_VALUE)
        return true; // cannot tell: count it as loaded, so the test cannot pass by accident
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    bool found = false;
    for (BOOL more = Module32First(snapshot, &module); more && !found;
         more = Module32Next(snapshot, &module))
        found = lstrcmpiA(module.szModule, name) == 0;
    CloseHandle(snapshot);
    return found;
}

// The texts the plug-in has painted (the probe lists one tool per painted entry).
std::string paintedTexts(ShellSession& shell, const std::string& folder) {
    DeleteFileA((folder + "probe.txt").c_str());
    if (!shellCommand(shell, "broadcast @SystemProbe tools repainted").ok)
        return "";
    return readFileText(folder + "probe.txt");
}

// The About box's text, read through the shell's control channel and closed again.
std::string aboutText(ShellSession& shell) {
    int pick = sendLine(shell, "pick About");
    std::string text;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000 && text.empty();) {
        // Controls are listed as "ID<TAB>class<TAB>text<TAB>visible"; the message is static text.
        ShellReply listing = shellCommand(shell, "dialog list");
        for (const std::string& line : listing.lines) {
            size_t label = line.find("\tStatic\t");
            if (label != std::string::npos && line.find("FeedMarquee") != std::string::npos)
                text = line.substr(label + 8, line.find('\t', label + 8) - (label + 8));
        }
        if (text.empty())
            Sleep(100);
    }
    shellCommand(shell, "dialog ok");
    ShellReply reply;
    waitReply(shell, pick, reply);
    return text;
}

std::string versionResource(const std::string& dll) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(dll.c_str(), &ignored);
    std::vector<char> block(size ? size : 1);
    char* value = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(dll.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductVersion",
                        reinterpret_cast<void**>(&value), &length))
        return "";
    return value;
}

} // namespace

TEST(the_archive_installs_shows_a_feed_and_uninstalls_without_a_trace) {
    const std::string folder = windowsFolder("FM_INSTALL_FOLDER");
    const char* version = std::getenv("FM_RELEASE_VERSION");
    REQUIRE(!folder.empty() && version);
    const std::string pluginFolder = folder + "plugins\\FeedMarquee\\";
    const std::string dll = pluginFolder + "FeedMarquee.dll";
    REQUIRE(fileExists(dll));
    CHECK_EQ(versionResource(dll), version);

    FeedServer server;
    REQUIRE(startFeedServer(server));
    setFeedResponse(server, answerFeed,
                    rssWithItems("Installed Feed", {"Harbour opens", "Ferry on time"}));

    // The sample settings, copied into place with the feed's address filled in.
    std::string settings;
    for (const std::string& line : textLines(readFileText(pluginFolder + "feedmarquee.rc.sample")))
        settings += (line.compare(0, 20, "feedmarquee.feedUrl:") == 0
                         ? "feedmarquee.feedUrl: " + feedServerUrl(server, "/feed.xml")
                         : line) +
                    "\r\n";
    REQUIRE(settings.find("127.0.0.1") != std::string::npos);
    REQUIRE(writeFileText(pluginFolder + "feedmarquee.rc", settings));
    // The probe, which reports what the plug-in painted, is a plug-in of the shell's folder.
    REQUIRE(CopyFileA((testProgramFolder() + "system_probe.dll").c_str(),
                      (folder + "system_probe.dll").c_str(), FALSE));
    REQUIRE(CopyFileA(builtShellPath().c_str(), (folder + "blackbox.exe").c_str(), FALSE));
    REQUIRE(writeFileText(folder + "plugins.rc", "# plugins.rc\r\n"
                                                 "plugins\\FeedMarquee\\FeedMarquee.dll\r\n"
                                                 "system_probe.dll\r\n"));
    const Snapshot before = outsideFiles(folder);

    ShellSession shell;
    REQUIRE(startShell(shell, folder, ""));
    std::string painted;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(100)) {
        painted = paintedTexts(shell, folder);
        if (painted.find("Ferry on time") != std::string::npos)
            break;
    }
    CHECK(painted.find("Installed Feed") != std::string::npos);
    CHECK(painted.find("Harbour opens") != std::string::npos);
    CHECK(painted.find("Ferry on time") != std::string::npos);
    CHECK(lastFeedRequest(server).find("\r\nUser-Agent: FeedMarquee/" + std::string(version) +
                                       "\r\n") != std::string::npos);
    CHECK_EQ(aboutText(shell), std::string("FeedMarquee ") + version);
    CHECK_EQ(stopShell(shell), 0);
    stopFeedServer(server);
    // The sample spells every setting as the plug-in does: nothing was added to it at shut-down.
    std::vector<std::string> sampleKeys = settingKeys(settings);
    CHECK(sampleKeys.size() > 40);
    CHECK(settingKeys(readFileText(pluginFolder + "feedmarquee.rc")) == sampleKeys);

    // Removed from the list: after a restart the shell runs without it.
    REQUIRE(writeFileText(folder + "plugins.rc", "# plugins.rc\r\nsystem_probe.dll\r\n"));
    ShellSession without;
    REQUIRE(startShell(without, folder, ""));
    CHECK(FindWindowA("FeedMarquee", nullptr) == nullptr);
    CHECK(!moduleLoaded(without.process.dwProcessId, "FeedMarquee.dll"));
    CHECK(moduleLoaded(without.process.dwProcessId, "system_probe.dll"));
    CHECK_EQ(stopShell(without), 0);

    // Written outside the plug-in's folder: only the test's own files. The settings stayed in the
    // plug-in's folder, and no login or sound was set up, so the registry has none of them.
    Snapshot after = outsideFiles(folder);
    for (const auto& file : after) {
        const std::string& path = file.first;
        if (path.compare(0, pluginFolder.size(), pluginFolder) == 0 ||
            path == folder + "plugins.rc" || path == folder + "probe.txt")
            continue;
        auto old = before.find(path);
        if (old == before.end() || old->second != file.second)
            check::fail(__FILE__, __LINE__, "written outside the plug-in's folder: " + path);
    }
    CHECK(fileExists(pluginFolder + "feedmarquee.cache"));
    for (const char* key : {"Software\\FeedMarquee", "AppEvents\\EventLabels\\FeedMarqueeNewItems",
                            "AppEvents\\Schemes\\Apps\\.Default\\FeedMarqueeNewItems"})
        CHECK(!keyExists(key));
}
