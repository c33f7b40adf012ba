// The OPML commands: files, dialogs, the settings file and messages. The lists themselves are read
// and written by content/opml.
#include "plugin/opml_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

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
#include "plugin/settings_text.h"
#include "plugin/view.h"

BOOL(WINAPI* openOpmlDialog)(OPENFILENAMEW*) = openFileDialogWideOnDemand;
BOOL(WINAPI* saveOpmlDialog)(OPENFILENAMEW*) = saveFileDialogWideOnDemand;

namespace {

const wchar_t opmlFilter[] = L"OPML files (*.opml, *.xml)\0*.opml;*.xml\0All files\0*.*\0";
// A path as commands and dialogs hand it on: UTF-8, at most MAX_PATH - 1 UTF-16 units.
const size_t pathBytes = 3 * MAX_PATH;

void tell(const char* text, UINT icon) {
    showMessageBox(nullptr, text, pluginName, MB_TOPMOST | icon);
}

// The message boxes are narrow: the path is named in the code page.
void tellAbout(const char* format, const char* path, UINT icon = MB_ICONWARNING) {
    char text[MAX_PATH + 512];
    char* shown = utf8ToAnsi(path);
    std::snprintf(text, sizeof text, format, shown != nullptr ? shown : path);
    std::free(shown);
    tell(text, icon);
}

// The whole file in a new zero-terminated buffer; null with *tooLarge set when it is larger than
// limit bytes, null alone when it cannot be read.
char* readWholeFile(const char* path, size_t limit, size_t* length, bool* tooLarge) {
    *tooLarge = false;
    wchar_t* wide = utf8ToWide(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (wide == nullptr || !GetFileAttributesExW(wide, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::free(wide);
        return nullptr;
    }
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > limit) {
        std::free(wide);
        *tooLarge = true;
        return nullptr;
    }
    FILE* file = _wfopen(wide, L"rb");
    std::free(wide);
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
    wchar_t* wide = utf8ToWide(path);
    wchar_t temporary[MAX_PATH + 8];
    bool named =
        wide != nullptr && _snwprintf(temporary, MAX_PATH + 8, L"%ls.new", wide) < MAX_PATH + 8 - 1;
    FILE* file = named ? _wfopen(temporary, L"wb") : nullptr;
    if (file == nullptr) {
        std::free(wide);
        return false;
    }
    bool written = std::fwrite(text, 1, length, file) == length;
    written = std::fclose(file) == 0 && written;
    written = written && MoveFileExW(temporary, wide, MOVEFILE_REPLACE_EXISTING);
    if (!written)
        DeleteFileW(temporary);
    std::free(wide);
    return written;
}

// An address as a favourite holds it: as the plug-in sends it (characters beyond ASCII
// percent-encoded, as browsers send them, an internationalised host in its ASCII form), at most
// 8 KiB. Null when the plug-in can fetch it, else why it cannot, for the message.
const char* addressFault(const char* url, char (&out)[feedAddressLimit + 1]) {
    if (prepareFeedAddress(url, typedAddress, systemHostToAscii, out, sizeof out))
        return nullptr;
    size_t scheme = _strnicmp(url, "http://", 7) == 0    ? 7
                    : _strnicmp(url, "https://", 8) == 0 ? 8
                                                         : 0;
    if (scheme == 0)
        return "not an http:// or https:// address";
    const char* host = url + scheme;
    const char* hostEnd = host + std::strcspn(host, "/?#");
    if (std::memchr(host, '@', static_cast<size_t>(hostEnd - host)) != nullptr)
        return "a user name or password in it";
    size_t encoded = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(url); *p; ++p) {
        if (*p <= 0x20 || *p == 0x7F)
            return "a blank or control character in it";
        encoded += *p >= 0x80 ? 3 : 1;
    }
    return encoded > feedAddressLimit ? "longer than 8 KiB" : "no host name that can be reached";
}

// The outlines skipped for their addresses: how many, and the first few named in a text for the
// message ("- Title: why" per line).
struct Skipped {
    size_t count;
    char named[1200];
};

void noteSkipped(Skipped& skipped, const OpmlFeed& feed, const char* fault) {
    const size_t namedAtMost = 8;
    if (skipped.count++ >= namedAtMost)
        return;
    // The outline's title, else its address, in the system's code page for the message box.
    char* name = utf8ToAnsi(feed.title[0] != '\0' ? feed.title : feed.url);
    size_t used = std::strlen(skipped.named);
    std::snprintf(skipped.named + used, sizeof skipped.named - used, "\n- %.80s%s: %s",
                  name != nullptr ? name : "", name && std::strlen(name) > 80 ? "..." : "", fault);
    std::free(name);
}

// The message's account of the skipped outlines ("" for none), in out.
void describeSkipped(const Skipped& skipped, char* out, size_t size) {
    out[0] = '\0';
    if (skipped.count == 0)
        return;
    int n = std::snprintf(out, size,
                          "\n\n%u outline%s skipped, as FeedMarquee cannot use %s "
                          "address%s:%s",
                          unsigned(skipped.count), skipped.count == 1 ? " was" : "s were",
                          skipped.count == 1 ? "its" : "their", skipped.count == 1 ? "" : "es",
                          skipped.named);
    if (skipped.count > 8 && n > 0 && size_t(n) < size)
        std::snprintf(out + n, size - n, "\n... and %u more.", unsigned(skipped.count - 8));
}

// Appends the feeds as favourites after those in the file, in one rewrite of the file (the
// settings file's own writer, which keeps every other byte). A file that does not take the write
// is reported as there.
bool appendFavorites(const OpmlFeeds& feeds) {
    const char** titles = static_cast<const char**>(std::calloc(feeds.count + 1, sizeof(char*)));
    const char** urls = static_cast<const char**>(std::calloc(feeds.count + 1, sizeof(char*)));
    bool added = false;
    if (titles == nullptr || urls == nullptr) {
        reportSettingsNotWritten(true);
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

    // An outline whose address the plug-in cannot fetch is skipped and named; the rest go in.
    OpmlFeeds added = {};
    size_t already = 0;
    Skipped skipped = {};
    // The duplicate test by hash first: a list of thousands is compared in a blink.
    unsigned long long* addedHashes = static_cast<unsigned long long*>(
        std::malloc((listed.count + 1) * sizeof(unsigned long long)));
    bool memoryLeft = addedHashes != nullptr;
    for (size_t i = 0; i < listed.count && memoryLeft; ++i) {
        char url[feedAddressLimit + 1];
        if (const char* fault = addressFault(listed.feeds[i].url, url)) {
            noteSkipped(skipped, listed.feeds[i], fault);
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
    char text[MAX_PATH + 2048];
    char skippedText[1400];
    describeSkipped(skipped, skippedText, sizeof skippedText);
    bool changed = false;
    char* shown = utf8ToAnsi(path); // the message box is narrow
    const char* named = shown != nullptr ? shown : path;
    if (!memoryLeft) {
        tellAbout("There was not enough memory to read %s; no favourite was added.", path);
    } else if (added.count == 0 && already == 0) {
        std::snprintf(text, sizeof text,
                      "None of the feed addresses in %s can be used; no favourite was added.%s",
                      named, skippedText);
        tell(text, MB_ICONWARNING);
    } else if (added.count == 0) {
        std::snprintf(text, sizeof text,
                      "Every feed in %s is a favourite already; none was added.%s", named,
                      skippedText);
        tell(text, skipped.count != 0 ? MB_ICONWARNING : MB_ICONINFORMATION);
    } else if (appendFavorites(added)) {
        changed = true;
        char alreadyText[80] = ".";
        if (already != 0)
            std::snprintf(alreadyText, sizeof alreadyText,
                          " (%u more %s favourite%s already or listed twice).", unsigned(already),
                          already == 1 ? "was a" : "were", already == 1 ? "" : "s");
        std::snprintf(text, sizeof text, "Added %u favourite%s from %s%s%s", unsigned(added.count),
                      added.count == 1 ? "" : "s", named, alreadyText, skippedText);
        tell(text, skipped.count != 0 ? MB_ICONWARNING : MB_ICONINFORMATION);
    }
    std::free(shown);
    freeOpmlFeeds(&added);
    freeOpmlFeeds(&listed);
    return changed;
}

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
    char* shown = utf8ToAnsi(path); // the message box is narrow
    if (written)
        std::snprintf(text, sizeof text, "Exported %u favourite%s to %s.", unsigned(count),
                      count == 1 ? "" : "s", shown != nullptr ? shown : path);
    else
        std::snprintf(text, sizeof text, "%s could not be written; nothing was exported.",
                      shown != nullptr ? shown : path);
    std::free(shown);
    tell(text, written ? MB_ICONINFORMATION : MB_ICONWARNING);
    return written;
}

namespace {

// Asks for a file with the open or save dialog; false when the user cancels.
bool askForPath(bool save, char (&path)[pathBytes]) {
    path[0] = '\0';
    wchar_t chosenPath[MAX_PATH] = L"";
    OPENFILENAMEW dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = opmlFilter;
    dialog.lpstrFile = chosenPath;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"opml";
    dialog.Flags = save ? OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST
                        : OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    BOOL chosen = save ? saveOpmlDialog(&dialog) : openOpmlDialog(&dialog);
    chosenPath[MAX_PATH - 1] = L'\0';
    return chosen && chosenPath[0] != L'\0' &&
           WideCharToMultiByte(CP_UTF8, 0, chosenPath, -1, path, sizeof path, nullptr, nullptr) > 0;
}

// The path argument without blanks or quotes around it; false (and the user told) when it is too
// long to be a path, so that a scripted command never opens a dialog in its place.
bool takePath(const char* argument, char (&path)[pathBytes]) {
    path[0] = '\0';
    if (argument == nullptr)
        return true;
    while (*argument == ' ' || *argument == '\t')
        ++argument;
    size_t n = std::strlen(argument);
    while (n > 0 && (argument[n - 1] == ' ' || argument[n - 1] == '\t'))
        --n;
    if (n >= 2 && argument[0] == '"' && argument[n - 1] == '"') {
        ++argument;
        n -= 2;
    }
    // Counted in the characters a path holds (UTF-16 units), read as UTF-8 or the code page.
    bool utf8 = isValidUtf8(argument, n);
    wchar_t* wide = n > 0 ? bytesToWide(argument, n, utf8) : nullptr;
    if (n > 0 && wide == nullptr)
        return false; // out of memory
    size_t characters = wide != nullptr ? std::wcslen(wide) : 0;
    if (characters >= MAX_PATH) {
        std::free(wide);
        char text[160];
        std::snprintf(text, sizeof text,
                      "The path given is %u characters long; a path has at most %u.",
                      static_cast<unsigned>(characters), static_cast<unsigned>(MAX_PATH - 1));
        tell(text, MB_ICONWARNING);
        return false;
    }
    if (wide != nullptr &&
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, sizeof path, nullptr, nullptr) == 0)
        path[0] = '\0';
    std::free(wide);
    return true;
}

} // namespace

void importOpmlCommand(const char* argument) {
    char path[pathBytes];
    if (!takePath(argument, path))
        return;
    if (path[0] == '\0' && !askForPath(false, path))
        return;
    if (importOpml(path))
        favoritesChanged(); // the feeds shown together or in turn, and the menu
}

void exportOpmlCommand(const char* argument) {
    char path[pathBytes];
    if (!takePath(argument, path))
        return;
    if (path[0] == '\0' && !askForPath(true, path))
        return;
    exportOpml(path);
}
