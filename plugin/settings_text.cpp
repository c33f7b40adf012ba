// Line work on the settings file's bytes. Every function takes a length and never stops at a NUL:
// a file is whatever bytes the user's editor left in it.
#include "plugin/settings_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/text_buffer.h"
#include "content/utf8.h"

namespace {

unsigned char lowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool sameLetters(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(static_cast<unsigned char>(a[i])) !=
            lowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// A key as given by callers ("feedmarquee.x:" or "feedmarquee.x"): its length without the colon
// and blanks at its end.
size_t keyNameLength(const char* key) {
    size_t n = std::strlen(key);
    while (n > 0 && (key[n - 1] == ':' || isBlank(key[n - 1])))
        --n;
    return n;
}

// The line at pos: where it ends (before "\r\n" or "\n") and where the next one starts.
void lineBounds(const char* text, size_t length, size_t pos, size_t* end, size_t* next) {
    const void* found = std::memchr(text + pos, '\n', length - pos);
    size_t newline = found ? static_cast<size_t>(static_cast<const char*>(found) - text) : length;
    *next = found ? newline + 1 : length;
    *end = newline > pos && text[newline - 1] == '\r' ? newline - 1 : newline;
}

// Where the line at pos starts its text: after the byte-order mark an editor may put at the start
// of a UTF-8 file.
size_t afterByteOrderMark(const char* text, size_t pos, size_t end) {
    return pos == 0 && end >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : pos;
}

// Fills entry when the line [pos, end) is "<blanks><prefix...><blanks>:<value>".
bool readEntry(const char* text, size_t pos, size_t end, const char* prefix, size_t prefixLength,
               SettingsEntry* entry) {
    size_t p = afterByteOrderMark(text, pos, end);
    while (p < end && isBlank(text[p]))
        ++p;
    if (end - p < prefixLength || !sameLetters(text + p, prefix, prefixLength))
        return false;
    const void* colon = std::memchr(text + p, ':', end - p);
    if (!colon)
        return false;
    size_t colonAt = static_cast<size_t>(static_cast<const char*>(colon) - text);
    size_t keyEnd = colonAt;
    while (keyEnd > p && isBlank(text[keyEnd - 1]))
        --keyEnd;
    size_t value = colonAt + 1, valueEnd = end;
    while (value < valueEnd && isBlank(text[value]))
        ++value;
    while (valueEnd > value && isBlank(text[valueEnd - 1]))
        --valueEnd;
    entry->keyStart = p;
    entry->keyLength = keyEnd - p;
    entry->valueStart = value;
    entry->valueLength = valueEnd - value;
    entry->lineStart = pos;
    entry->lineEnd = end;
    return true;
}

// A value with its line breaks made blanks: a break would start a line the next read takes for
// another key.
void putValue(TextBuffer& out, const char* value) {
    for (const char* v = value; *v; ++v) {
        char c = *v == '\r' || *v == '\n' ? ' ' : *v;
        appendBytes(out, &c, 1);
    }
}

// An output of about expected bytes, allocated at once (most rewrites keep the file's length).
TextBuffer startOutput(size_t expected) {
    TextBuffer out = {};
    reserveText(out, expected);
    return out;
}

// "\n" for a file whose lines end so and nowhere in "\r\n", else "\r\n" (also for a new file).
const char* lineEndOf(const char* text, size_t length) {
    const void* lf = std::memchr(text, '\n', length);
    if (!lf)
        return "\r\n";
    size_t at = static_cast<size_t>(static_cast<const char*>(lf) - text);
    return at > 0 && text[at - 1] == '\r' ? "\r\n" : "\n";
}

} // namespace

bool indexSettings(const char* text, size_t length, const char* prefix, SettingsIndex* index) {
    index->text = text;
    index->length = length;
    index->entries = nullptr;
    index->count = 0;
    size_t capacity = 0;
    size_t prefixLength = std::strlen(prefix);
    size_t lineNumber = 0;
    for (size_t pos = 0; pos < length;) {
        size_t end, next;
        lineBounds(text, length, pos, &end, &next);
        ++lineNumber;
        SettingsEntry entry;
        if (readEntry(text, pos, end, prefix, prefixLength, &entry)) {
            if (index->count == capacity) {
                capacity = capacity ? capacity * 2 : 64;
                SettingsEntry* grown = static_cast<SettingsEntry*>(
                    std::realloc(index->entries, capacity * sizeof(SettingsEntry)));
                if (!grown) {
                    releaseSettingsIndex(index);
                    return false;
                }
                index->entries = grown;
            }
            entry.lineNumber = lineNumber;
            index->entries[index->count++] = entry;
        }
        pos = next;
    }
    return true;
}

void releaseSettingsIndex(SettingsIndex* index) {
    std::free(index->entries);
    index->entries = nullptr;
    index->count = 0;
}

bool settingKeyIs(const SettingsIndex& index, const SettingsEntry& entry, const char* key) {
    size_t n = keyNameLength(key);
    return entry.keyLength == n && sameLetters(index.text + entry.keyStart, key, n);
}

const SettingsEntry* findSetting(const SettingsIndex& index, const char* key) {
    for (size_t i = 0; i < index.count; ++i)
        if (settingKeyIs(index, index.entries[i], key))
            return &index.entries[i];
    return nullptr;
}

char* settingValueCopy(const SettingsIndex& index, const SettingsEntry& entry) {
    char* copy = static_cast<char*>(std::malloc(entry.valueLength + 1));
    if (copy) {
        std::memcpy(copy, index.text + entry.valueStart, entry.valueLength);
        copy[entry.valueLength] = '\0';
    }
    return copy;
}

bool sameSettingValue(const SettingsIndex& a, const SettingsEntry* x, const SettingsIndex& b,
                      const SettingsEntry* y) {
    if (!x || !y)
        return !x && !y;
    return x->valueLength == y->valueLength &&
           std::memcmp(a.text + x->valueStart, b.text + y->valueStart, x->valueLength) == 0;
}

char* applySettingEdits(const char* text, size_t length, const SettingEdit* edits, size_t count,
                        size_t* newLength) {
    // The lines to change: the first of each edit's key, found in one pass.
    size_t* lineOf = static_cast<size_t*>(std::malloc((count + 1) * sizeof(size_t)));
    if (!lineOf)
        return nullptr;
    const size_t none = static_cast<size_t>(-1);
    for (size_t e = 0; e < count; ++e)
        lineOf[e] = none;
    for (size_t pos = 0; pos < length;) {
        size_t end, next;
        lineBounds(text, length, pos, &end, &next);
        SettingsEntry entry;
        if (count > 0 && readEntry(text, pos, end, "", 0, &entry)) {
            for (size_t e = 0; e < count; ++e) {
                size_t n = keyNameLength(edits[e].key);
                if (lineOf[e] == none && entry.keyLength == n &&
                    sameLetters(text + entry.keyStart, edits[e].key, n)) {
                    lineOf[e] = pos;
                    break;
                }
            }
        }
        pos = next;
    }
    size_t extra = 0;
    for (size_t e = 0; e < count; ++e)
        extra += std::strlen(edits[e].key) + std::strlen(edits[e].value) + 8;
    TextBuffer out = startOutput(length + extra);
    size_t copied = 0;
    for (size_t pos = 0; pos < length && !out.failed;) {
        size_t end, next;
        lineBounds(text, length, pos, &end, &next);
        for (size_t e = 0; e < count; ++e) {
            if (lineOf[e] != pos)
                continue;
            // Everything up to the colon and one blank stays; the value and the blanks after it
            // are replaced, the line end stays.
            const char* colon = static_cast<const char*>(std::memchr(text + pos, ':', end - pos));
            size_t valueAt = static_cast<size_t>(colon - text) + 1;
            appendBytes(out, text + copied, valueAt - copied);
            appendBytes(out, " ", 1);
            putValue(out, edits[e].value);
            copied = end;
            break;
        }
        pos = next;
    }
    appendBytes(out, text + copied, length - copied);
    const char* lineEnd = lineEndOf(text, length);
    bool ended = length == 0 || text[length - 1] == '\n';
    for (size_t e = 0; e < count; ++e) {
        if (lineOf[e] != none)
            continue;
        // A key given twice is written once.
        bool earlier = false;
        for (size_t d = 0; d < e && !earlier; ++d)
            earlier = lineOf[d] == none &&
                      keyNameLength(edits[d].key) == keyNameLength(edits[e].key) &&
                      sameLetters(edits[d].key, edits[e].key, keyNameLength(edits[e].key));
        if (earlier)
            continue;
        if (!ended)
            appendText(out, lineEnd);
        ended = true;
        appendBytes(out, edits[e].key, keyNameLength(edits[e].key));
        appendBytes(out, ": ", 2);
        putValue(out, edits[e].value);
        appendText(out, lineEnd);
    }
    std::free(lineOf);
    return takeText(out, newLength);
}

bool favoriteKeyParts(const char* key, size_t keyLength, const char* prefix, int* number,
                      size_t* fieldStart, size_t* fieldLength) {
    size_t p = 0;
    while (p < keyLength && isBlank(key[p]))
        ++p;
    size_t prefixLength = std::strlen(prefix);
    if (keyLength - p < prefixLength + 3 || !sameLetters(key + p, prefix, prefixLength) ||
        !sameLetters(key + p + prefixLength, "fav", 3))
        return false;
    p += prefixLength + 3;
    size_t digits = p;
    long value = 0;
    while (p < keyLength && key[p] >= '0' && key[p] <= '9' && p - digits < 8)
        value = value * 10 + (key[p++] - '0');
    if (p == digits || p >= keyLength || key[p] != '.')
        return false;
    size_t field = p + 1;
    size_t end = field;
    while (end < keyLength && key[end] != ':' && !isBlank(key[end]))
        ++end;
    if (end == field)
        return false;
    *number = static_cast<int>(value);
    *fieldStart = field;
    *fieldLength = end - field;
    return true;
}

char* withoutFavoriteLines(const char* text, size_t length, const char* prefix, int number,
                           size_t* newLength) {
    TextBuffer out = startOutput(length);
    size_t copied = 0;
    for (size_t pos = 0; pos < length && !out.failed;) {
        size_t end, next;
        lineBounds(text, length, pos, &end, &next);
        int found = 0;
        size_t field = 0, fieldLength = 0;
        size_t start = afterByteOrderMark(text, pos, end);
        if (favoriteKeyParts(text + start, end - start, prefix, &found, &field, &fieldLength) &&
            found >= number) {
            appendBytes(out, text + copied, start - copied);
            if (found > number) {
                // The line again with the number one lower: the digits are just before ".field".
                size_t dot = start + field - 1;
                size_t digits = dot;
                while (digits > start && text[digits - 1] >= '0' && text[digits - 1] <= '9')
                    --digits;
                char lowered[16];
                int n = std::snprintf(lowered, sizeof lowered, "%d", found - 1);
                appendBytes(out, text + start, digits - start);
                appendBytes(out, lowered, static_cast<size_t>(n));
                appendBytes(out, text + dot, next - dot);
            }
            copied = next;
        }
        pos = next;
    }
    appendBytes(out, text + copied, length - copied);
    return takeText(out, newLength);
}

bool isValidUtf8(const char* text, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    while (p < end) {
        size_t n = utf8SequenceLength(p, end);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}
