#pragma once
// How feed threads (a pass, the loader, the seen-keys writer, a bounded name lookup) are started
// and what their stacks cost while they wait: up to ten slow passes may run at once for minutes.
#include <cstdint>

// The stack each feed thread reserves. The deepest path (a request's header text beside the
// response record, then a parse) needs under 100 KiB, so 256 KiB leaves room; the default is the
// executable's reserve (2 MiB for the shell).
const unsigned workerStackReserve = 256 * 1024;

// _beginthreadex with workerStackReserve as the reserve (not the commit) of the new stack.
uintptr_t beginWorkerThread(unsigned(__stdcall* start)(void*), void* argument);

// Called first by each feed thread: tells the system that the committed stack pages below the
// caller's frame (but for a small margin) hold nothing. Windows commits a stack as it grows, so
// there it finds nothing to do; Wine commits and fills a thread's whole stack (at least 1 MiB) at
// its start, which this gives back.
void releaseUnusedStack();
