#include "content/text_buffer.h"

#include <cstdlib>

bool reserveText(TextBuffer& out, size_t n) {
    if (out.failed)
        return false;
    if (n < out.capacity)
        return true;
    // Doubling keeps the copies a long text costs in proportion to its length.
    size_t capacity = out.capacity * 2 > n + 1 ? out.capacity * 2 : n + 1;
    if (capacity < 64)
        capacity = 64;
    char* grown = static_cast<char*>(std::realloc(out.text, capacity));
    if (grown == nullptr) {
        out.failed = true;
        return false;
    }
    if (out.text == nullptr)
        grown[0] = '\0';
    out.text = grown;
    out.capacity = capacity;
    return true;
}

void appendBytes(TextBuffer& out, const char* bytes, size_t n) {
    if (n == 0 || !reserveText(out, out.length + n))
        return;
    std::memcpy(out.text + out.length, bytes, n);
    out.length += n;
    out.text[out.length] = '\0';
}

char* takeText(TextBuffer& out, size_t* length) {
    char* text = out.failed ? nullptr : out.text;
    if (out.failed)
        std::free(out.text);
    if (length != nullptr)
        *length = text != nullptr ? out.length : 0;
    out = TextBuffer{};
    return text;
}
