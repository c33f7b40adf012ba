#pragma once
// The stack each feed thread (a pass, the loader, the seen-keys writer, a bounded name lookup)
// reserves. The deepest path (a request's header text beside the response record, then a parse)
// needs under 100 KiB, so 256 KiB leaves room; the default would be the executable's reserve
// (often 2 MiB) for each of the up to ten slow passes running at once. Wine gives every thread at
// least 1 MiB whatever is asked.
#include <windows.h>
#include <process.h>
#include <cstdint>

const unsigned workerStackReserve = 256 * 1024;

#ifndef STACK_SIZE_PARAM_IS_A_RESERVATION
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#endif

// _beginthreadex with workerStackReserve as the reserve (not the commit) of the new stack.
inline uintptr_t beginWorkerThread(unsigned(__stdcall* start)(void*), void* argument) {
    return _beginthreadex(nullptr, workerStackReserve, start, argument,
                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}
