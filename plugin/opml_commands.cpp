// The OPML commands: files, dialogs, the settings file and messages. The lists themselves are read
// and written by content/opml.
#include "plugin/opml_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/charset.h"
#include "content/opml.h"
#include "content/utf8_ansi.h"
#include "feed/feed_address.h"
#include "feed/idn_win32.h"
#include "plugin/commands.h"
#include "plugin/dialog_library.h"
#include "plugin/lifecycle.h"
#include "plugin/menu.h"
#include "plugin/runtime_state.h"
#include "plugin/settings.h"
#include "plugin/view.h"

BOOL(WINAPI* saveFileDialog)(OPENFILENAMEA*) = saveFileDialogOnDemand;

namespace {

const char opmlFilter[] = "OPML files (*.opml, *.xml)\0*.opml;*.xml\0All files\0*.*\0";

void tell(const char* text, UINT icon) {
    showMessageBox(nullptr, text, pluginName, MB_TOPMOST | icon);
}

void tellAbout(const char* format, const char* path, UINT icon = MB_ICONWARNING) {
    char text[MAX_PATH + 512];
    std::snprintf(text, sizeof text, format, path);
    tell(text, icon);
}

// The whole file in a new zero-terminated buffer; null with *tooLarge set when it is larger than
// limit bytes, null alone when it cannot be read.
char* readWholeFile(const char* path, size_t limit, size_t* length, bool* tooLarge) {
    *tooLarge = false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > limit) {
        *tooLarge = true;
        return nullptr;
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    char* text = static_cast<char*>(std::malloc(data.nFileSizeLow + 1));
    size_t read = text != nullptr ? std::fread(text, 1, data.nFileSizeLow, file) : 0;
    // A file that grew meanwhile is not read whole: it counts as unreadable.
    bool whole = text != nullptr && !std::ferror(file) && std::fgetc(file) == EOF;
    std::fclose(file);
    if (!whole) {
        std::free(text);
        return nullptr;
    }
    text[read] = '\0';
    *length = read;
    return text;
}

// Writes text to path through a temporary file beside it, so that path is replaced whole or not
// at all.
bool replaceFile(const char* path, const char* text, size_t length) {
    char temporary[MAX_PATH + 8];
    if (std::snprintf(temporary, sizeof temporary, "%s.new", path) >= int(sizeof temporary))
        return false;
    FILE* file = std::fopen(temporary, "wb");
    if (file == nullptr)
        return false;
    bool written = std::fwrite(text, 1, length, file) == length;
    written = std::fclose(file) == 0 && written;
    if (written && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(temporary);
    return false;
}

// An address as a favourite holds it: characters beyond ASCII percent-encoded (as browsers send
// them). False when the plug-in could not fetch it: not http or https, no host, a blank or a
// control character in it, or longer than a setting holds.
bool usableAddress(const char* url, char (&out)[256]) {
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(url); *p; ++p) {
        if (*p <= 0x20 || *p == 0x7F)
            return false;
        if (n + 4 > sizeof out)
            return false;
        if (*p >= 0x80) {
            static const char hex[] = "0123456789ABCDEF";
            out[n++] = '%';
            out[n++] = hex[*p >> 4];
            out[n++] = hex[*p & 15];
        } else {
            out[n++] = static_cast<char>(*p);
        }
    }
    out[n] = '\0';
    size_t scheme = _strnicmp(out, "http://", 7) == 0    ? 7
                    : _strnicmp(out, "https://", 8) == 0 ? 8
                                                         : 0;
    return scheme != 0 && out[scheme] != '\0' && out[scheme] != '/';
}

// Appends the feeds as favourites after those in the file, in one rewrite of the file (the
// settings file's own writer, which keeps every other byte). A file that does not take the write
// is reported as there.
bool appendFavorites(const OpmlFeeds& feeds) {
    const char** titles = static_cast<const char**>(std::calloc(feeds.count + 1, sizeof(char*)));
    const char** urls = static_cast<const char**>(std::calloc(feeds.count + 1, sizeof(char*)));
    bool added = false;
    if (titles == nullptr || urls == nullptr) {
        reportSettingsNotWritten();
    } else {
        for (size_t i = 0; i < feeds.count; ++i) {
            titles[i] = feeds.feeds[i].title;
            urls[i] = feeds.feeds[i].url;
        }
        added = addFavorites(titles, urls, feeds.count);
    }
    std::free(titles);
    std::free(urls);
    return added;
}

} // namespace

bool importOpml(const char* path) {
    size_t length = 0;
    bool tooLarge = false;
    char* document = readWholeFile(path, opmlLargestFile, &length, &tooLarge);
    if (document == nullptr) {
        tellAbout(tooLarge ? "%s is larger than 8 MiB, far more than any subscription list; no "
                             "favourite was added."
                           : "%s could not be read; no favourite was added.",
                  path);
        return false;
    }
    // The list's own character set (byte-order mark or XML declaration) to UTF-8.
    size_t convertedLength = 0;
    char* converted = convertToUtf8(document, length, nullptr, &convertedLength);
    OpmlFeeds listed;
    OpmlStatus status = converted != nullptr ? readOpml(converted, convertedLength, &listed)
                                             : readOpml(document, length, &listed);
    std::free(converted);
    std::free(document);
    if (status != opmlRead) {
        tellAbout(status == opmlNotOpml
                      ? "%s is not an OPML subscription list; no favourite was added."
                  : status == opmlTruncated
                      ? "%s ends before its list does (the file is cut off); no favourite was "
                        "added."
                      : "There was not enough memory to read %s; no favourite was added.",
                  path);
        return false;
    }
    if (listed.count == 0) {
        tellAbout("%s lists no feed addresses; no favourite was added.", path);
        freeOpmlFeeds(&listed);
        return false;
    }

    // Every address must be one the plug-in can fetch before any is added.
    OpmlFeeds added = {};
    size_t refused = 0, already = 0;
    const char* firstRefused = nullptr;
    // The duplicate test by hash first: a list of thousands is compared in a blink.
    unsigned long long* addedHashes = static_cast<unsigned long long*>(
        std::malloc((listed.count + 1) * sizeof(unsigned long long)));
    bool memoryLeft = addedHashes != nullptr;
    for (size_t i = 0; i < listed.count && memoryLeft; ++i) {
        char url[256];
        if (!usableAddress(listed.feeds[i].url, url)) {
            if (refused++ == 0)
                firstRefused = listed.feeds[i].url;
            continue;
        }
        // The same feed twice (in the list, or a favourite already) is added once.
        unsigned long long hash = feedAddressHash(url, systemHostToAscii);
        bool listedBefore = false;
        for (size_t j = 0; j < added.count && !listedBefore; ++j)
            listedBefore = addedHashes[j] == hash &&
                           sameFeedAddress(added.feeds[j].url, url, systemHostToAscii);
        if (listedBefore || favoriteWithAddress(url) != nullptr) {
            ++already;
            continue;
        }
        // Titles stay UTF-8 (the settings file stores them so), every character kept.
        char title[256];
        copySettingUtf8(title, listed.feeds[i].title);
        // A line break would end the setting's line and start another key of the file.
        for (char* c = title; *c; ++c)
            if (static_cast<unsigned char>(*c) < 0x20)
                *c = ' ';
        addedHashes[added.count] = hash;
        memoryLeft = addOpmlFeed(&added, title, url);
    }
    std::free(addedHashes);
    char text[MAX_PATH + 640];
    bool changed = false;
    if (!memoryLeft) {
        tellAbout("There was not enough memory to read %s; no favourite was added.", path);
    } else if (refused != 0) {
        std::snprintf(text, sizeof text,
                      "%u of the %u feed addresses in %s cannot be used (the first: %.200s). "
                      "FeedMarquee reads http:// and https:// addresses of at most 255 "
                      "characters without blanks. No favourite was added.",
                      unsigned(refused), unsigned(listed.count), path, firstRefused);
        tell(text, MB_ICONWARNING);
    } else if (added.count == 0) {
        tellAbout("Every feed in %s is a favourite already; none was added.", path,
                  MB_ICONINFORMATION);
    } else if (appendFavorites(added)) {
        changed = true;
        std::snprintf(text, sizeof text, "Added %u favourite%s from %s%s", unsigned(added.count),
                      added.count == 1 ? "" : "s", path,
                      already != 0 ? " (the others are favourites already)." : ".");
        tell(text, MB_ICONINFORMATION);
    }
    freeOpmlFeeds(&added);
    freeOpmlFeeds(&listed);
    return changed;
}

namespace {

// A new UTF-8 copy of a text in the ANSI code page; null when memory runs out.
char* ansiToUtf8(const char* text) {
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    wchar_t* wide =
        wideLength > 0 ? static_cast<wchar_t*>(std::malloc(wideLength * sizeof(wchar_t))) : nullptr;
    if (wide == nullptr || MultiByteToWideChar(CP_ACP, 0, text, -1, wide, wideLength) == 0) {
        std::free(wide);
        return nullptr;
    }
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    char* utf8 = length > 0 ? static_cast<char*>(std::malloc(length)) : nullptr;
    if (utf8 != nullptr &&
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, length, nullptr, nullptr) == 0) {
        std::free(utf8);
        utf8 = nullptr;
    }
    std::free(wide);
    return utf8;
}

} // namespace

bool exportOpml(const char* path) {
    if (favorites == nullptr) {
        tell("There are no favourites to export yet.", MB_ICONINFORMATION);
        return false;
    }
    OpmlFeeds feeds = {};
    bool memoryLeft = true;
    for (const FavoriteFeed* f = favorites; f && memoryLeft; f = f->next) {
        char* url = ansiToUtf8(f->url);
        memoryLeft = url != nullptr && addOpmlFeed(&feeds, f->title, url); // titles are UTF-8
        std::free(url);
    }
    SYSTEMTIME now;
    GetSystemTime(&now);
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char date[64];
    std::snprintf(date, sizeof date, "%s, %02u %s %u %02u:%02u:%02u GMT", days[now.wDayOfWeek % 7],
                  now.wDay, months[(now.wMonth + 11) % 12], now.wYear, now.wHour, now.wMinute,
                  now.wSecond);
    char* document = memoryLeft ? writeOpml(&feeds, "FeedMarquee favourites", date) : nullptr;
    size_t count = feeds.count;
    freeOpmlFeeds(&feeds);
    bool written = document != nullptr && replaceFile(path, document, std::strlen(document));
    std::free(document);
    char text[MAX_PATH + 128];
    if (written)
        std::snprintf(text, sizeof text, "Exported %u favourite%s to %s.", unsigned(count),
                      count == 1 ? "" : "s", path);
    else
        std::snprintf(text, sizeof text, "%s could not be written; nothing was exported.", path);
    tell(text, written ? MB_ICONINFORMATION : MB_ICONWARNING);
    return written;
}

namespace {

// Asks for a file with the open or save dialog; false when the user cancels.
bool askForPath(bool save, char (&path)[MAX_PATH]) {
    path[0] = '\0';
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = opmlFilter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrDefExt = "opml";
    dialog.Flags = save ? OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST
                        : OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    BOOL chosen = save ? saveFileDialog(&dialog) : openFileDialog(&dialog);
    path[sizeof path - 1] = '\0';
    return chosen && path[0] != '\0';
}

// The path argument without blanks or quotes around it.
void takePath(const char* argument, char (&path)[MAX_PATH]) {
    path[0] = '\0';
    if (argument == nullptr)
        return;
    while (*argument == ' ' || *argument == '\t')
        ++argument;
    size_t n = std::strlen(argument);
    while (n > 0 && (argument[n - 1] == ' ' || argument[n - 1] == '\t'))
        --n;
    if (n >= 2 && argument[0] == '"' && argument[n - 1] == '"') {
        ++argument;
        n -= 2;
    }
    if (n < sizeof path) {
        std::memcpy(path, argument, n);
        path[n] = '\0';
    }
}

} // namespace

void importOpmlCommand(const char* argument) {
    char path[MAX_PATH];
    takePath(argument, path);
    if (path[0] == '\0' && !askForPath(false, path))
        return;
    if (importOpml(path))
        favoritesChanged(); // the feeds shown together or in turn, and the menu
}

void exportOpmlCommand(const char* argument) {
    char path[MAX_PATH];
    takePath(argument, path);
    if (path[0] == '\0' && !askForPath(true, path))
        return;
    exportOpml(path);
}
