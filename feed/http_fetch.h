// A minimal HTTP/1.0 client on Winsock 1.1, run on the update worker thread.
#pragma once
#include <winsock.h>

// Fetches url ("http://host[:port]/path") and returns everything that arrived, status line and
// headers included, as a new zero-terminated text that the caller frees with free(); null when
// the fetch failed (bad address, no connection).
char* fetchUrl(const char* url);
// Sends text's bytes (without the terminator) on socket; returns send's result.
int sendText(SOCKET socket, const char* text);
