// The export table of the built FeedMarquee.dll: exactly the entry points the shell looks up, by
// their plain names, with beginPluginEx the same function as beginSlitPlugin; and its version
// resource, which says the version the plug-in's info gives.
#include <windows.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/check.h"

namespace {
// The build gives a host path; under Wine the host's root is drive Z:.
std::string dllPath() {
    std::string path = FEEDMARQUEE_DLL;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    return path;
}
} // namespace

TEST(the_dll_exports_the_four_entry_points_undecorated) {
    // Mapped without resolving its imports from the shell and without running its entry point.
    HMODULE dll = LoadLibraryExA(dllPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    REQUIRE(dll);
    const BYTE* base = reinterpret_cast<const BYTE*>(dll);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS32* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    REQUIRE(directory.VirtualAddress != 0);
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const DWORD* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        found.push_back(reinterpret_cast<const char*>(base + names[i]));
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = {"beginPlugin", "beginPluginEx", "beginSlitPlugin",
                                         "endPlugin", "pluginInfo"};
    CHECK(found == expected);
    for (const std::string& name : found)
        std::printf("export %s\n", name.c_str());

    FARPROC slit = GetProcAddress(dll, "beginSlitPlugin");
    CHECK(slit != nullptr);
    CHECK(GetProcAddress(dll, "beginPluginEx") == slit);
    // pluginInfo needs nothing set up: call it as the shell does, the caller removing the argument.
    typedef const char*(__cdecl * InfoFunction)(int);
    InfoFunction info =
        reinterpret_cast<InfoFunction>(reinterpret_cast<void*>(GetProcAddress(dll, "pluginInfo")));
    REQUIRE(info);
    CHECK_EQ(info(1), "FeedMarquee");
    std::string version = info(2);
    CHECK_EQ(info(7), "FeedMarquee " + version);
    FreeLibrary(dll);

    // Explorer's Properties read the version resource: the same version as the plug-in's info, in
    // the numbers and in the texts.
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(dllPath().c_str(), &ignored);
    REQUIRE(size > 0);
    std::vector<char> block(size);
    REQUIRE(GetFileVersionInfoA(dllPath().c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    REQUIRE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                  unsigned(LOWORD(fixed->dwFileVersionMS)),
                  unsigned(HIWORD(fixed->dwFileVersionLS)));
    CHECK_EQ(numbers, version);
    CHECK_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    CHECK_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    CHECK_EQ(fixed->dwFileType, DWORD(VFT_DLL));
    const char* const texts[][2] = {
        {"FileVersion", version.c_str()}, {"ProductVersion", version.c_str()},
        {"ProductName", "FeedMarquee"},   {"OriginalFilename", "FeedMarquee.dll"},
        {"FileDescription", nullptr},     {"LegalCopyright", nullptr},
    };
    for (const auto& text : texts) {
        char* value = nullptr;
        std::string path = std::string("\\StringFileInfo\\040904E4\\") + text[0];
        bool found =
            VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value && *value;
        if (!found)
            check::fail(__FILE__, __LINE__, std::string("no ") + text[0]);
        else if (text[1])
            CHECK_EQ(value, text[1]);
        else
            std::printf("%s: %s\n", text[0], value);
    }
}

TEST(the_dll_imports_no_library_that_only_some_runs_need) {
    // The file dialogs' library brings COM and the printing stack into the shell's process and is
    // loaded when a dialog opens; WinHTTP brings the TLS stack and is loaded with the first https
    // fetch. The others would bring as much for nothing.
    const char* const onDemand[] = {"comdlg32.dll", "winhttp.dll", "ole32.dll",
                                    "oleaut32.dll", "shell32.dll", "winspool.drv"};
    HMODULE dll = LoadLibraryExA(dllPath().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    REQUIRE(dll);
    const BYTE* base = reinterpret_cast<const BYTE*>(dll);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS32* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    REQUIRE(directory.VirtualAddress != 0);
    std::vector<std::string> imported;
    for (const IMAGE_IMPORT_DESCRIPTOR* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        std::printf("import %s\n", name.c_str());
        imported.push_back(name);
    }
    CHECK(std::find(imported.begin(), imported.end(), "kernel32.dll") != imported.end());
    for (const char* library : onDemand) {
        bool found = std::find(imported.begin(), imported.end(), library) != imported.end();
        if (found)
            std::printf("imported at load: %s\n", library);
        CHECK(!found);
    }
    FreeLibrary(dll);
}
