// Searches for one byte in a text, done by this code rather than by the C runtime: the parser's
// scans for '<', ']' and '>' and the text decoding's for '&' and '<'. The shipped 32-bit build
// cannot assume SSE2 (Windows 7 runs without it), so the SSE2 search is taken only when the
// processor has it, else a portable search a machine word at a time. Portable: no Win32 headers.
#pragma once
#include <cstddef>

// The first c at or after p in a zero-terminated text, or the terminating zero.
const char* findByteOrZero(const char* p, char c);
inline char* findByteOrZero(char* p, char c) {
    return const_cast<char*>(findByteOrZero(static_cast<const char*>(p), c));
}

// The first c from p up to end (not included), or end.
const char* findByteBefore(const char* p, const char* end, char c);

// The same searches a machine word at a time, as on a processor without SSE2 (tests use them).
const char* findByteOrZeroWordwise(const char* p, char c);
const char* findByteBeforeWordwise(const char* p, const char* end, char c);

// Whether the processor runs SSE2 instructions (always on x86-64).
bool processorHasSse2();
