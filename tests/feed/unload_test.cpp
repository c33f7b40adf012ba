// https fetches through code in a DLL that is unloaded the moment they return, repeatedly: whole
// fetches, fetches stopped while the request waits for a silent server, and stopped fetches whose
// request is not waited for at all (the late path, forced). WinHTTP must never call into unloaded
// code: a crash here ends the program. Runs beside the feed servers (run-with-feed-servers.sh).
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "tests/support/check.h"

namespace {

typedef int (*ProbeFetch)(const char* url, volatile LONG* stop, unsigned long stallMs,
                          unsigned long closeWaitMs);

struct Run {
    ProbeFetch probe;
    std::string url;
    volatile LONG stop;
    unsigned long closeWaitMs;
    int result;
};

DWORD WINAPI runProbe(void* argument) {
    Run* run = static_cast<Run*>(argument);
    run->result = run->probe(run->url.c_str(), &run->stop, 3000, run->closeWaitMs);
    return 0;
}

std::string probePath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + "fetch_unload_probe.dll";
}

bool probeLoaded() {
    return GetModuleHandleA("fetch_unload_probe.dll") != nullptr;
}

// Loads the probe, fetches path from the https feed server (stopping it after stopAfterMs unless
// that is 0), unloads the probe the moment the fetch returns; the fetch's result.
int fetchAndUnload(const char* path, DWORD stopAfterMs, unsigned long closeWaitMs) {
    HMODULE probe = LoadLibraryA(probePath().c_str());
    REQUIRE(probe != nullptr);
    const char* port = std::getenv("FM_PORT_HTTPS");
    Run run = {
        reinterpret_cast<ProbeFetch>(reinterpret_cast<void*>(GetProcAddress(probe, "probeFetch"))),
        std::string("https://localhost:") + (port ? port : "0") + path, 0, closeWaitMs, -1};
    REQUIRE(run.probe != nullptr);
    HANDLE thread = CreateThread(nullptr, 0, runProbe, &run, 0, nullptr);
    REQUIRE(thread != nullptr);
    if (stopAfterMs) {
        Sleep(stopAfterMs);
        InterlockedExchange(&run.stop, 1);
    }
    CHECK(WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0);
    CloseHandle(thread);
    FreeLibrary(probe);
    return run.result;
}

} // namespace

TEST(httpsFetchesNeverCallIntoUnloadedCode) {
    // The fetch code does not bring WinHTTP with it: the first https fetch loads it.
    HMODULE probe = LoadLibraryA(probePath().c_str());
    REQUIRE(probe != nullptr);
    CHECK(GetModuleHandleA("winhttp.dll") == nullptr);
    FreeLibrary(probe);
    // Whole fetches: the request reports closing in time and the code really goes each time.
    for (int i = 0; i < 5; ++i) {
        CHECK_EQ(fetchAndUnload("/feed", 0, 2000), 1);
        CHECK(!probeLoaded());
        CHECK(GetModuleHandleA("winhttp.dll") != nullptr);
    }
    // Stopped while the server is silent: the code goes, or (where closing is reported only
    // when WinHTTP's own time-out passes) stays loaded for good.
    int pinned = 0;
    for (int i = 0; i < 3; ++i) {
        CHECK_EQ(fetchAndUnload("/stall", 500, 1000), 0);
        pinned += probeLoaded() ? 1 : 0;
    }
    // Not waited for at all: the code stays.
    CHECK_EQ(fetchAndUnload("/stall", 500, 0), 0);
    CHECK(probeLoaded());
    std::printf("stopped fetches left the code loaded %d of 3 times\n", pinned);
    // The late callbacks come at the latest when WinHTTP's time-outs (3 s here) pass.
    Sleep(6000);
    CHECK(probeLoaded());
}
