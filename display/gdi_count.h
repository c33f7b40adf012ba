// Accounting of the GDI objects the plug-in makes, so that tests can tell that every font, bitmap,
// brush, pen and device context created at run time is deleted again (under Wine the system's
// own per-process GDI count is not available). Wrap each create and each delete:
//     HFONT font = countGdiCreated(CreateFontA(...));
//     countGdiDeleted(DeleteObject(font));
// Objects that are only selected, or that belong to the system (GetStockObject, GetDC), are not
// counted. Thread-safe; costs one interlocked operation per call.
#pragma once
#include <windows.h>

inline volatile LONG gdiObjectsAlive = 0;   // created minus deleted
inline volatile LONG gdiObjectsCreated = 0; // every create counted so far

// Counts a successful create (object not null) and returns object unchanged.
template <typename Handle> inline Handle countGdiCreated(Handle object) {
    if (object) {
        InterlockedIncrement(&gdiObjectsAlive);
        InterlockedIncrement(&gdiObjectsCreated);
    }
    return object;
}
// Counts a successful delete (DeleteObject or DeleteDC returned non-zero); returns its result.
inline BOOL countGdiDeleted(BOOL deleted) {
    if (deleted)
        InterlockedDecrement(&gdiObjectsAlive);
    return deleted;
}
