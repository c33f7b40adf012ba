// WinHTTP's functions, found when the first https address is fetched rather than imported: a
// plug-in that only ever reads http feeds never maps WinHTTP and the TLS stack behind it.
#pragma once
#include <windows.h>
#include <winhttp.h>

struct WinHttpApi {
    decltype(&::WinHttpOpen) open;
    decltype(&::WinHttpConnect) connect;
    decltype(&::WinHttpOpenRequest) openRequest;
    decltype(&::WinHttpCloseHandle) closeHandle;
    decltype(&::WinHttpSetTimeouts) setTimeouts;
    decltype(&::WinHttpSetOption) setOption;
    decltype(&::WinHttpSetStatusCallback) setStatusCallback;
    decltype(&::WinHttpAddRequestHeaders) addRequestHeaders;
    decltype(&::WinHttpSendRequest) sendRequest;
    decltype(&::WinHttpReceiveResponse) receiveResponse;
    decltype(&::WinHttpQueryHeaders) queryHeaders;
    decltype(&::WinHttpQueryDataAvailable) queryDataAvailable;
    decltype(&::WinHttpReadData) readData;
    decltype(&::WinHttpCrackUrl) crackUrl;
    decltype(&::WinHttpGetIEProxyConfigForCurrentUser) getIEProxyConfigForCurrentUser;
    decltype(&::WinHttpGetProxyForUrl) getProxyForUrl;
    decltype(&::WinHttpQueryAuthSchemes) queryAuthSchemes;
    decltype(&::WinHttpSetCredentials) setCredentials;
};

// Loads winhttp.dll and finds every function once; null when the library or any function is
// missing (the fetch then fails with "secure connection failed"). Safe from any thread. The
// library stays loaded for the life of the process: WinHTTP keeps threads of its own that may
// still run after a request was closed.
const WinHttpApi* winHttpApi();
