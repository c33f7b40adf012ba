// The settings file as bytes: its "key: value" lines found in one pass, single values replaced and
// favourites' lines dropped without touching any other byte (comments, other programs' lines, NUL
// and Ctrl-Z bytes, lines of any length, either line end). Portable: no file access here.
#pragma once
#include <cstddef>

// One line whose key starts with the indexed prefix. Offsets are into the indexed text.
struct SettingsEntry {
    size_t keyStart, keyLength;     // the key as written, without blanks and colon
    size_t valueStart, valueLength; // the value without the blanks around it
    size_t lineStart, lineEnd;      // lineEnd: where the line's "\r\n" or "\n" begins
    size_t lineNumber;              // counted from 1
};

// The entries of a text in file order. Owned: releaseSettingsIndex frees them.
struct SettingsIndex {
    const char* text;
    size_t length;
    SettingsEntry* entries;
    size_t count;
};

// Indexes every line of text (length bytes, NULs allowed) whose key, after leading blanks, starts
// with prefix (letter case ignored) and is followed by blanks and a colon. False when memory ran
// out (the index is then empty). The text must outlive the index.
bool indexSettings(const char* text, size_t length, const char* prefix, SettingsIndex* index);
void releaseSettingsIndex(SettingsIndex* index);

// The first entry whose key equals key (a trailing colon and letter case are ignored), or null.
const SettingsEntry* findSetting(const SettingsIndex& index, const char* key);
// True when the entry's key equals key as findSetting compares them.
bool settingKeyIs(const SettingsIndex& index, const SettingsEntry& entry, const char* key);
// The value of an entry as a new zero-terminated copy (free()); null when memory runs out.
char* settingValueCopy(const SettingsIndex& index, const SettingsEntry& entry);
// True when the two entries (either may be null for "absent") hold the same value.
bool sameSettingValue(const SettingsIndex& a, const SettingsEntry* x, const SettingsIndex& b,
                      const SettingsEntry* y);

// A value to put into the file: the key (as it is written when the line is new) and the value.
struct SettingEdit {
    const char* key;
    const char* value;
};

// A new text (free()) with each edit applied to text: the first line of an edit's key gets the
// new value after its colon, the key and everything before the value kept as written; a key
// without a line gets a new line at the end, in the file's own line ends (a last line without
// its line end is ended first). Line breaks in a value become blanks. Null when memory runs out.
char* applySettingEdits(const char* text, size_t length, const SettingEdit* edits, size_t count,
                        size_t* newLength);

// When a key (after leading blanks) is "<prefix>fav<number>.<field>:", letter case ignored: the
// number (below 100000000) and where the field's name starts and how long it is.
bool favoriteKeyParts(const char* key, size_t keyLength, const char* prefix, int* number,
                      size_t* fieldStart, size_t* fieldLength);

// A new text (free()) without the lines of favourite number (any field) and with the favourites
// numbered above it numbered one lower; every other byte kept. Null when memory runs out.
char* withoutFavoriteLines(const char* text, size_t length, const char* prefix, int number,
                           size_t* newLength);

// True when text (length bytes) is valid UTF-8 (no overlong forms, no surrogates, at most
// U+10FFFF).
bool isValidUtf8(const char* text, size_t length);
