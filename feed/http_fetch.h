// A minimal HTTP/1.0 client on Winsock 1.1, run on the update worker thread.
#pragma once
#include <winsock.h>

// Fetches url ("http://host[:port]/path", scheme in any letter case) and returns everything that
// arrived until the server closed, status line and headers included, as a new zero-terminated text
// that the caller frees with free(); null when the fetch failed (bad address, unresolvable host,
// no connection, out of memory, or nothing arrived before the stall limit). Stops early, keeping
// what arrived, once stopRequested is set.
char* fetchUrl(const char* url);
// Sends text's bytes (without the terminator) on socket with send(); returns send's result.
int sendText(SOCKET socket, const char* text);

// Most bytes one recv asks for (fewer when the receive buffer's free room is smaller).
const int fetchReadLimit = 1024 * 1024;
// A connection attempt or a download that makes no progress for this many milliseconds ends the
// fetch (30000; tests shorten it).
extern unsigned long fetchStallLimitMs;
