// The favourites are numbered keys ("feedmarquee.fav3.url:", "feedmarquee.fav3.title:") in the
// settings file, and the shell's settings functions can only write a key, never drop one. So the
// file is rewritten here: read whole, the removed favourite's lines left out, the later numbers
// lowered by one, written to a temporary file beside it and moved over it, so that a failure on
// the way never leaves half a file.
#include "plugin/favorite_removal.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"

namespace {

// The largest settings file rewritten; a larger one is no settings file this plug-in wrote.
const long largestSettingsFile = 8 * 1024 * 1024;

const char favoritePrefix[] = "feedmarquee.fav";

// When line starts with a favourite key ("feedmarquee.fav" digits ".url:" or ".title:", letter
// case ignored as the shell's reader ignores it), its number and where the digits end.
bool favoriteKeyOf(const char* line, int* number, const char** digitsEnd) {
    size_t prefixLength = sizeof favoritePrefix - 1;
    if (_strnicmp(line, favoritePrefix, prefixLength) != 0)
        return false;
    const char* p = line + prefixLength;
    long value = 0;
    const char* digits = p;
    while (*p >= '0' && *p <= '9' && p - digits < 9)
        value = value * 10 + (*p++ - '0');
    if (p == digits || (*p >= '0' && *p <= '9'))
        return false;
    if (_strnicmp(p, ".url:", 5) != 0 && _strnicmp(p, ".title:", 7) != 0)
        return false;
    *number = static_cast<int>(value);
    *digitsEnd = p;
    return true;
}

char* readWholeFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    char* text = nullptr;
    if (fseek(file, 0, SEEK_END) == 0) {
        long size = ftell(file);
        if (size >= 0 && size <= largestSettingsFile && fseek(file, 0, SEEK_SET) == 0) {
            text = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
            if (text != nullptr) {
                size_t read = fread(text, 1, static_cast<size_t>(size), file);
                text[read] = '\0';
            }
        }
    }
    fclose(file);
    return text;
}

void tellNotRemoved() {
    char text[MAX_PATH + 200];
    snprintf(text, sizeof text,
             "The settings file could not be written (is it marked read-only?), so the favourite "
             "was not removed.\n\n%s",
             settingsPath[0] ? settingsPath : "(no place for a settings file was found)");
    showMessageBox(nullptr, text, pluginName, MB_TOPMOST | MB_ICONWARNING);
}

// Writes text to a temporary file beside path and moves it over path.
bool replaceFile(const char* path, const char* text) {
    char temporary[MAX_PATH + 8];
    if (snprintf(temporary, sizeof temporary, "%s.new", path) >= MAX_PATH)
        return false;
    FILE* file = fopen(temporary, "wb");
    if (file == nullptr)
        return false;
    size_t length = strlen(text);
    bool written = fwrite(text, 1, length, file) == length;
    written = fclose(file) == 0 && written;
    if (!written || !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary);
        return false;
    }
    return true;
}

} // namespace

char* withoutFavorite(const char* text, int index) {
    // Renumbering never makes a line longer.
    char* out = static_cast<char*>(malloc(strlen(text) + 1));
    if (out == nullptr)
        return nullptr;
    char* o = out;
    const char* line = text;
    while (*line != '\0') {
        const char* end = strchr(line, '\n');
        end = end != nullptr ? end + 1 : line + strlen(line);
        int number = 0;
        const char* digitsEnd = nullptr;
        if (!favoriteKeyOf(line, &number, &digitsEnd) || number < index) {
            memcpy(o, line, static_cast<size_t>(end - line));
            o += end - line;
        } else if (number > index) {
            size_t prefixLength = sizeof favoritePrefix - 1;
            memcpy(o, line, prefixLength);
            o += prefixLength;
            o += sprintf(o, "%d", number - 1);
            memcpy(o, digitsEnd, static_cast<size_t>(end - digitsEnd));
            o += end - digitsEnd;
        }
        line = end;
    }
    *o = '\0';
    return out;
}

bool removeFavorite(int index) {
    if (index < 0 || index >= favoriteCount)
        return false;
    // The favourites may have changed in the file since they were read: only the file's own
    // numbering is rewritten, so the index must still name a favourite there.
    if (index >= countFavorites())
        return false;
    DWORD attributes = settingsPath[0] ? GetFileAttributesA(settingsPath) : INVALID_FILE_ATTRIBUTES;
    bool writable = attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_READONLY) == 0 && writeSettings();
    char* text = writable ? readWholeFile(settingsPath) : nullptr;
    char* rewritten = text != nullptr ? withoutFavorite(text, index) : nullptr;
    bool removed = rewritten != nullptr && replaceFile(settingsPath, rewritten);
    free(text);
    free(rewritten);
    if (!removed) {
        tellNotRemoved();
        return false;
    }
    readSettings();
    return true;
}
