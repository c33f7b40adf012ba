#include "feed/worker_stack.h"

#include <windows.h>
#include <process.h>

#ifndef STACK_SIZE_PARAM_IS_A_RESERVATION
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#endif

namespace {

// What stays untouched below this function's frame: room for the calls it makes (VirtualQuery,
// VirtualAlloc), whose frames are small. Every caller's frame lies above.
const uintptr_t keptBelowFrame = 16 * 1024;

} // namespace

uintptr_t beginWorkerThread(unsigned(__stdcall* start)(void*), void* argument) {
    return _beginthreadex(nullptr, workerStackReserve, start, argument,
                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
}

void releaseUnusedStack() {
    volatile char frame = 0;
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(const_cast<char*>(&frame), &region, sizeof region) == 0)
        return;
    uintptr_t here = reinterpret_cast<uintptr_t>(&frame);
    if (here < keptBelowFrame)
        return;
    uintptr_t low = reinterpret_cast<uintptr_t>(region.AllocationBase);
    uintptr_t high = (here - keptBelowFrame) & ~uintptr_t(0xfff);
    // Only plain committed pages are reset: never the guard page, nor reserved pages.
    for (uintptr_t at = low; at < high;) {
        if (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0)
            return;
        uintptr_t end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (end > high)
            end = high;
        if (end <= at)
            return;
        if (region.State == MEM_COMMIT && (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0)
            VirtualAlloc(reinterpret_cast<void*>(at), end - at, MEM_RESET, PAGE_READWRITE);
        at = end;
    }
}
