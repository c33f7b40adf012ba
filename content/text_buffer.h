// A text that grows in one allocation as pieces are appended to it (a file being written, an
// export being made), always zero-terminated. Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstring>

struct TextBuffer {
    char* text; // null until the first piece (or a reserve); free() it, or take it
    size_t length;
    size_t capacity;
    bool failed; // memory ran out: nothing more is appended
};

// Room for at least n bytes and the terminating zero, allocated now; false when memory runs out.
bool reserveText(TextBuffer& out, size_t n);
// Appends n bytes (any bytes, zeros too); an empty piece changes nothing.
void appendBytes(TextBuffer& out, const char* bytes, size_t n);
inline void appendText(TextBuffer& out, const char* text) {
    appendBytes(out, text, std::strlen(text));
}
// The text, now the caller's to free(), its length in *length (may be null); null, with the text
// freed, when an append failed.
char* takeText(TextBuffer& out, size_t* length);
