// Finds WinHTTP's functions at run time. Several threads may ask at once: each may load the
// library (LoadLibrary counts references, so the extra ones only pin it further) and the first
// complete table wins.
#include "feed/winhttp_api.h"
#include <cstdlib>

namespace {

WinHttpApi* volatile loadedApi;

template <typename Function> bool find(HMODULE library, const char* name, Function* out) {
    *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return *out != nullptr;
}

} // namespace

const WinHttpApi* winHttpApi() {
    if (loadedApi)
        return loadedApi;
    HMODULE library = LoadLibraryA("winhttp.dll");
    if (library == nullptr)
        return nullptr;
    WinHttpApi* api = static_cast<WinHttpApi*>(std::calloc(1, sizeof(WinHttpApi)));
    if (api == nullptr)
        return nullptr;
    bool complete = find(library, "WinHttpOpen", &api->open) &&
                    find(library, "WinHttpConnect", &api->connect) &&
                    find(library, "WinHttpOpenRequest", &api->openRequest) &&
                    find(library, "WinHttpCloseHandle", &api->closeHandle) &&
                    find(library, "WinHttpSetTimeouts", &api->setTimeouts) &&
                    find(library, "WinHttpSetOption", &api->setOption) &&
                    find(library, "WinHttpSetStatusCallback", &api->setStatusCallback) &&
                    find(library, "WinHttpAddRequestHeaders", &api->addRequestHeaders) &&
                    find(library, "WinHttpSendRequest", &api->sendRequest) &&
                    find(library, "WinHttpReceiveResponse", &api->receiveResponse) &&
                    find(library, "WinHttpQueryHeaders", &api->queryHeaders) &&
                    find(library, "WinHttpQueryDataAvailable", &api->queryDataAvailable) &&
                    find(library, "WinHttpReadData", &api->readData) &&
                    find(library, "WinHttpCrackUrl", &api->crackUrl) &&
                    find(library, "WinHttpGetIEProxyConfigForCurrentUser",
                         &api->getIEProxyConfigForCurrentUser) &&
                    find(library, "WinHttpGetProxyForUrl", &api->getProxyForUrl) &&
                    find(library, "WinHttpQueryAuthSchemes", &api->queryAuthSchemes) &&
                    find(library, "WinHttpSetCredentials", &api->setCredentials);
    if (!complete) {
        std::free(api);
        return nullptr;
    }
    // A table that lost the race is dropped; the library reference it took stays (harmless).
    if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&loadedApi), api,
                                          nullptr) != nullptr)
        std::free(api);
    return loadedApi;
}
