// Settings files of the shell: plain text, one "key: value" line per setting. Keys match without
// regard to case and may be preceded by blanks when read; a write puts the key at the start of
// its line, replacing the key's first line or appending a new one, and keeps every other line
// (comments, unknown keys, duplicates) byte for byte. The whole file is read into memory, so lines
// of any length are handled; a write goes to a temporary file that then replaces the original, so
// a failed write (a full disk included) never leaves half a file behind. A file marked read-only is
// never written.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "shell/shell_internal.h"

BOOL(WINAPI* rcWriteFile)(HANDLE, LPCVOID, DWORD, DWORD*, LPOVERLAPPED) = WriteFile;

namespace {

bool readWholeFile(const char* fileName, std::string& content) {
    FILE* file = std::fopen(fileName, "rb");
    if (!file)
        return false;
    content.clear();
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The key without its trailing colon and surrounding blanks: what a line must begin with.
std::string keyName(const char* key) {
    std::string name(key);
    while (!name.empty() && (isBlank(name.back()) || name.back() == ':'))
        name.pop_back();
    size_t start = 0;
    while (start < name.size() && isBlank(name[start]))
        ++start;
    return name.substr(start);
}

bool sameLetters(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

struct LineMatch {
    size_t lineStart = 0; // first byte of the line
    size_t lineEnd = 0;   // the byte before which the line's "\r\n" or "\n" begins
    size_t valueStart = 0;
};

// Finds the first line that holds name followed (after optional blanks) by a colon.
bool findKeyLine(const std::string& content, const std::string& name, LineMatch& match) {
    if (name.empty())
        return false;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        size_t next = end == std::string::npos ? content.size() : end + 1;
        if (end == std::string::npos)
            end = content.size();
        if (end > pos && content[end - 1] == '\r')
            --end;
        // The byte-order mark an editor may put before a UTF-8 file's first line stays before it.
        size_t start = pos == 0 && content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : pos;
        size_t p = start;
        while (p < end && isBlank(content[p]))
            ++p;
        if (end - p > name.size() && sameLetters(content.data() + p, name.data(), name.size())) {
            size_t q = p + name.size();
            while (q < end && isBlank(content[q]))
                ++q;
            if (q < end && content[q] == ':') {
                match.lineStart = start;
                match.lineEnd = end;
                match.valueStart = q + 1;
                return true;
            }
        }
        pos = next;
    }
    return false;
}

bool writeAll(HANDLE file, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        DWORD piece = content.size() - done > (1u << 24)
                          ? (1u << 24)
                          : static_cast<DWORD>(content.size() - done);
        DWORD written = 0;
        if (!rcWriteFile(file, content.data() + done, piece, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// The new content goes to a temporary file that is written, flushed to the disk and measured
// before it replaces the old one: a full disk, or an error reported only at the flush, leaves the
// old file whole.
bool writeWholeFile(const char* fileName, const std::string& content) {
    std::string temporary = std::string(fileName) + ".new";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    bool ok = writeAll(file, content) && FlushFileBuffers(file) && GetFileSizeEx(file, &size) &&
              static_cast<unsigned long long>(size.QuadPart) == content.size();
    ok = CloseHandle(file) && ok;
    if (ok && MoveFileExA(temporary.c_str(), fileName,
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary.c_str());
    return false;
}

} // namespace

bool rcLookup(const char* fileName, const char* key, std::string& value) {
    if (!fileName || !key)
        return false;
    std::string content;
    if (!readWholeFile(fileName, content))
        return false;
    LineMatch match;
    if (!findKeyLine(content, keyName(key), match))
        return false;
    size_t start = match.valueStart, end = match.lineEnd;
    while (start < end && isBlank(content[start]))
        ++start;
    while (end > start && isBlank(content[end - 1]))
        --end;
    value.assign(content, start, end - start);
    return true;
}

bool rcStore(const char* fileName, const char* key, const std::string& value) {
    if (!fileName || !key || !*fileName)
        return false;
    std::string name = keyName(key);
    if (name.empty())
        return false;
    // A line break inside a value would split it into lines the next read takes for other keys.
    std::string cleanValue = value;
    for (char& c : cleanValue)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::string line = name + ": " + cleanValue;

    // A file marked read-only is left alone, as the system's own profile functions leave it: the
    // rename below would otherwise replace it (the system allows renaming over it).
    DWORD attributes = GetFileAttributesA(fileName);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    std::string content;
    bool existed = readWholeFile(fileName, content);
    if (!existed && attributes != INVALID_FILE_ATTRIBUTES)
        return false; // there, but unreadable: never replace what could not be read
    LineMatch match;
    if (findKeyLine(content, name, match)) {
        content.replace(match.lineStart, match.lineEnd - match.lineStart, line);
    } else {
        // New lines follow the file's own line ends; a new file gets the system's.
        bool lfOnly =
            content.find('\n') != std::string::npos && content.find("\r\n") == std::string::npos;
        const char* newline = lfOnly ? "\n" : "\r\n";
        if (!content.empty() && content.back() != '\n')
            content += newline;
        content += line;
        content += newline;
    }
    return writeWholeFile(fileName, content);
}

bool parseInt(const std::string& text, int& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long number = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    while (isBlank(*end))
        ++end;
    if (*end)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool parseBool(const std::string& text, bool& value) {
    static const char* const truths[] = {"true", "yes", "on", "1"};
    static const char* const untruths[] = {"false", "no", "off", "0"};
    for (const char* word : truths)
        if (text.size() == std::strlen(word) && sameLetters(text.c_str(), word, text.size())) {
            value = true;
            return true;
        }
    for (const char* word : untruths)
        if (text.size() == std::strlen(word) && sameLetters(text.c_str(), word, text.size())) {
            value = false;
            return true;
        }
    return false;
}

bool parseColour(const std::string& text, COLORREF& value) {
    std::string digits = text;
    if (!digits.empty() && digits[0] == '#')
        digits.erase(0, 1);
    if (digits.size() != 6 && digits.size() != 3)
        return false;
    for (char c : digits)
        if (!std::strchr("0123456789abcdefABCDEF", c) || c == 0)
            return false;
    unsigned long rgb = std::strtoul(digits.c_str(), nullptr, 16);
    unsigned r, g, b;
    if (digits.size() == 3) { // #rgb stands for #rrggbb
        r = ((rgb >> 8) & 15) * 17;
        g = ((rgb >> 4) & 15) * 17;
        b = (rgb & 15) * 17;
    } else {
        r = (rgb >> 16) & 255;
        g = (rgb >> 8) & 255;
        b = rgb & 255;
    }
    value = RGB(r, g, b);
    return true;
}

std::string colourText(COLORREF value) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", GetRValue(value), GetGValue(value),
                  GetBValue(value));
    return text;
}

namespace {
std::string readStringResult; // what ReadString returned last; valid until the next call
}

extern "C" {

int ReadInt(const char* fileName, const char* key, int defaultValue) {
    recordEvent("ReadInt", {textArg(fileName), textArg(key), intArg(defaultValue)});
    std::string text;
    int value;
    if (rcLookup(fileName, key, text) && parseInt(text, value))
        return value;
    return defaultValue;
}

bool ReadBool(const char* fileName, const char* key, bool defaultValue) {
    recordEvent("ReadBool", {textArg(fileName), textArg(key), boolArg(defaultValue)});
    std::string text;
    bool value;
    if (rcLookup(fileName, key, text) && parseBool(text, value))
        return value;
    return defaultValue;
}

COLORREF ReadColor(const char* fileName, const char* key, const char* defaultColour) {
    recordEvent("ReadColor", {textArg(fileName), textArg(key), textArg(defaultColour)});
    std::string text;
    COLORREF value;
    if (rcLookup(fileName, key, text) && parseColour(text, value))
        return value;
    if (defaultColour && parseColour(defaultColour, value))
        return value;
    return RGB(0, 0, 0);
}

const char* ReadString(const char* fileName, const char* key, const char* defaultText) {
    recordEvent("ReadString", {textArg(fileName), textArg(key), textArg(defaultText)});
    std::string text;
    if (rcLookup(fileName, key, text))
        readStringResult = text;
    else if (defaultText)
        readStringResult = defaultText;
    else
        return nullptr;
    return readStringResult.c_str();
}

void WriteInt(const char* fileName, const char* key, int value) {
    recordEvent("WriteInt", {textArg(fileName), textArg(key), intArg(value)});
    rcStore(fileName, key, intArg(value));
}

void WriteBool(const char* fileName, const char* key, bool value) {
    recordEvent("WriteBool", {textArg(fileName), textArg(key), boolArg(value)});
    rcStore(fileName, key, value ? "true" : "false");
}

void WriteColor(const char* fileName, const char* key, COLORREF value) {
    recordEvent("WriteColor", {textArg(fileName), textArg(key), colourText(value)});
    rcStore(fileName, key, colourText(value));
}

void WriteString(const char* fileName, const char* key, const char* value) {
    recordEvent("WriteString", {textArg(fileName), textArg(key), textArg(value)});
    rcStore(fileName, key, value ? value : "");
}

bool FileExists(const char* path) {
    recordEvent("FileExists", {textArg(path)});
    if (!path || !*path)
        return false;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

char* GetBlackboxPath(char* buffer, int size) {
    recordEvent("GetBlackboxPath", {intArg(size)});
    if (!buffer || size <= 0)
        return buffer;
    std::string folder = shellFolder();
    // A folder that does not fit is not cut short: a cut path would name some other folder.
    if (folder.size() + 1 > static_cast<size_t>(size))
        buffer[0] = 0;
    else
        std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return buffer;
}

} // extern "C"
