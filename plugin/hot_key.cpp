// Reading and writing the hot key's text. The virtual-key codes are Windows' own numbers, spelt out
// here so that the reader builds and is tested without the Windows headers.
#include "plugin/hot_key.h"

#include <cstdio>
#include <cstring>

namespace {

struct NamedKey {
    const char* name;
    unsigned key;
};

// Written with the first name of each key; the others are read too.
const NamedKey namedKeys[] = {
    {"Space", 0x20},    {"Enter", 0x0D},     {"Return", 0x0D}, {"Tab", 0x09},    {"Esc", 0x1B},
    {"Escape", 0x1B},   {"Backspace", 0x08}, {"Insert", 0x2D}, {"Ins", 0x2D},    {"Delete", 0x2E},
    {"Del", 0x2E},      {"Home", 0x24},      {"End", 0x23},    {"PageUp", 0x21}, {"PgUp", 0x21},
    {"PageDown", 0x22}, {"PgDn", 0x22},      {"Up", 0x26},     {"Down", 0x28},   {"Left", 0x25},
    {"Right", 0x27},    {"Pause", 0x13},
};

const NamedKey modifierNames[] = {
    {"Ctrl", hotKeyControl}, {"Control", hotKeyControl}, {"Alt", hotKeyAlt},
    {"Shift", hotKeyShift},  {"Win", hotKeyWin},
};

const unsigned keyF1 = 0x70, keyNumPad0 = 0x60;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameWord(const char* part, size_t length, const char* name) {
    if (std::strlen(name) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (lower(part[i]) != lower(name[i]))
            return false;
    return true;
}

// The number after prefix in part ("F12" -> 12), or -1.
int numberAfter(const char* part, size_t length, const char* prefix) {
    size_t prefixLength = std::strlen(prefix);
    if (length <= prefixLength || length > prefixLength + 2)
        return -1;
    for (size_t i = 0; i < prefixLength; ++i)
        if (lower(part[i]) != lower(prefix[i]))
            return -1;
    int number = 0;
    for (size_t i = prefixLength; i < length; ++i) {
        if (part[i] < '0' || part[i] > '9')
            return -1;
        number = number * 10 + (part[i] - '0');
    }
    return number;
}

// The virtual key named by part, or 0.
unsigned keyOf(const char* part, size_t length) {
    if (length == 1) {
        char c = lower(part[0]);
        if (c >= 'a' && c <= 'z')
            return static_cast<unsigned>(c - 'a' + 'A');
        if (c >= '0' && c <= '9')
            return static_cast<unsigned>(c);
    }
    for (const NamedKey& named : namedKeys)
        if (sameWord(part, length, named.name))
            return named.key;
    int function = numberAfter(part, length, "F");
    if (function >= 1 && function <= 24)
        return keyF1 + static_cast<unsigned>(function - 1);
    int pad = numberAfter(part, length, "NumPad");
    if (pad >= 0 && pad <= 9 && length == 7)
        return keyNumPad0 + static_cast<unsigned>(pad);
    return 0;
}

unsigned modifierOf(const char* part, size_t length) {
    for (const NamedKey& named : modifierNames)
        if (sameWord(part, length, named.name))
            return named.key;
    return 0;
}

bool isFunctionKey(unsigned key) {
    return key >= keyF1 && key < keyF1 + 24;
}

void append(char* out, size_t size, size_t& used, const char* text) {
    int written = std::snprintf(out + used, size - used, "%s", text);
    if (written > 0)
        used += static_cast<size_t>(written) < size - used ? static_cast<size_t>(written)
                                                           : size - used - 1;
}

} // namespace

HotKeyReading readHotKey(const char* text, HotKey* out) {
    *out = HotKey{0, 0};
    if (text == nullptr)
        return hotKeyNone;
    const char* end = text + std::strlen(text);
    const char* p = text;
    while (p < end && isBlank(*p))
        ++p;
    if (p == end)
        return hotKeyNone;
    HotKey read = {0, 0};
    while (true) {
        const char* partEnd = p;
        while (partEnd < end && *partEnd != '+')
            ++partEnd;
        const char* first = p;
        const char* last = partEnd;
        while (first < last && isBlank(*first))
            ++first;
        while (last > first && isBlank(last[-1]))
            --last;
        size_t length = static_cast<size_t>(last - first);
        bool final = partEnd == end;
        if (length == 0)
            return hotKeyUnreadable;
        if (final) {
            read.key = keyOf(first, length);
            if (read.key == 0)
                return hotKeyUnreadable;
            break;
        }
        unsigned modifier = modifierOf(first, length);
        if (modifier == 0 || (read.modifiers & modifier))
            return hotKeyUnreadable;
        read.modifiers |= modifier;
        p = partEnd + 1;
    }
    // Shift alone does not keep a key from other programs: Shift+A is a typed capital.
    if ((read.modifiers & (hotKeyControl | hotKeyAlt | hotKeyWin)) == 0 && !isFunctionKey(read.key))
        return hotKeyUnreadable;
    *out = read;
    return hotKeyRead;
}

void formatHotKey(const HotKey& key, char* out, size_t size) {
    if (size == 0)
        return;
    out[0] = '\0';
    size_t used = 0;
    const NamedKey written[] = {{"Ctrl+", hotKeyControl},
                                {"Alt+", hotKeyAlt},
                                {"Shift+", hotKeyShift},
                                {"Win+", hotKeyWin}};
    for (const NamedKey& modifier : written)
        if (key.modifiers & modifier.key)
            append(out, size, used, modifier.name);
    char name[8] = "";
    if ((key.key >= 'A' && key.key <= 'Z') || (key.key >= '0' && key.key <= '9')) {
        name[0] = static_cast<char>(key.key);
        name[1] = '\0';
    } else if (isFunctionKey(key.key)) {
        std::snprintf(name, sizeof name, "F%u", key.key - keyF1 + 1);
    } else if (key.key >= keyNumPad0 && key.key <= keyNumPad0 + 9) {
        std::snprintf(name, sizeof name, "NumPad%u", key.key - keyNumPad0);
    } else {
        for (const NamedKey& named : namedKeys)
            if (named.key == key.key) {
                append(out, size, used, named.name);
                return;
            }
        std::snprintf(name, sizeof name, "#%u", key.key);
    }
    append(out, size, used, name);
}
