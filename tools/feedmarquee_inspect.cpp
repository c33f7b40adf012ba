// feedmarquee-inspect [--base URL] [--schedule] FILE: runs the feed parser over a saved HTTP
// response or a bare feed file (FILE "-": standard input) exactly as an update pass does, and
// prints what the window would show, one JSON object per line: {"entryCount": N}, then one object
// per entry in order. URL is the address the feed came from; relative links are resolved against
// it. --schedule adds, after the first line, {"feedTtlMinutes": N}: the update interval the feed
// asks for (0: none).
#include "content/feed_items.h"
#include "content/rss_parser.h"
#include "content/text_decoding.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Reads the whole stream; false on a read error.
bool readAll(std::FILE* file, std::string& data) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) != 0)
        data.append(buffer, n);
    return !std::ferror(file);
}

// The length of the valid UTF-8 sequence at p (2 to 4), or 0 when the byte there starts none.
size_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    unsigned char c = p[0];
    size_t n;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            low = 0xA0; // no overlong forms
        else if (c == 0xED)
            high = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else
        return 0;
    if (static_cast<size_t>(end - p) < n || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return n;
}

// Appends text as a JSON string: valid UTF-8 unchanged, control bytes and every byte that is not
// part of valid UTF-8 as \u00XX, so the output is valid JSON whatever the feed held.
void appendJsonString(std::string& out, const char* text) {
    if (text == nullptr) {
        out += "null";
        return;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + std::strlen(text);
    out += '"';
    while (p < end) {
        unsigned char c = *p;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++p;
        } else if (c >= 0x20 && c < 0x80) {
            out += static_cast<char>(c);
            ++p;
        } else if (size_t n = c >= 0x80 ? utf8SequenceLength(p, end) : 0) {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++p;
        }
    }
    out += '"';
}

// Makes the text read from the file the document parseFeed gets, as an update pass does with a
// received body: every step between reading and parsing belongs here. parseFeed itself passes
// over a saved response's status line and headers.
char* prepareDocument(std::string& data) {
    return &data[0];
}

} // namespace

int main(int argc, char** argv) {
    const char* baseUrl = nullptr;
    bool showSchedule = false;
    for (; argc > 2; --argc, ++argv) {
        if (argc > 3 && std::strcmp(argv[1], "--base") == 0) {
            baseUrl = argv[2];
            --argc, ++argv;
        } else if (std::strcmp(argv[1], "--schedule") == 0) {
            showSchedule = true;
        } else {
            break;
        }
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: feedmarquee-inspect [--base URL] [--schedule] FILE (FILE - "
                             "reads standard input)\n");
        return 1;
    }
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const char* path = argv[1];
    std::string data;
    bool fromStdin = std::strcmp(path, "-") == 0;
    std::FILE* file = fromStdin ? stdin : std::fopen(path, "rb");
    if (file == nullptr) {
        std::fprintf(stderr, "feedmarquee-inspect: cannot open %s: %s\n", path,
                     std::strerror(errno));
        return 1;
    }
    bool ok = readAll(file, data);
    if (!fromStdin)
        std::fclose(file);
    if (!ok) {
        std::fprintf(stderr, "feedmarquee-inspect: cannot read %s\n", path);
        return 1;
    }

    // As an update pass: empty the FetchList, then parse the received text in place.
    freeFetchList();
    parseFeed(prepareDocument(data), baseUrl);

    std::string out = "{\"entryCount\": " + std::to_string(entryCount) + "}\n";
    if (showSchedule)
        out += "{\"feedTtlMinutes\": " + std::to_string(feedTtlMinutes) + "}\n";
    for (const FeedItem* e = FetchList.first; e != nullptr; e = e->next) {
        char* shortDate = abbreviateDate(e->date);
        out += "{\"entryIndex\": " + std::to_string(e->entryIndex) + ", \"title\": ";
        appendJsonString(out, e->title);
        out += ", \"titleLength\": " + std::to_string(e->titleLength) + ", \"link\": ";
        appendJsonString(out, e->link);
        out += ", \"description\": ";
        appendJsonString(out, e->description);
        out += ", \"date\": ";
        appendJsonString(out, e->date);
        out += ", \"shortDate\": ";
        appendJsonString(out, shortDate);
        out += "}\n";
        std::free(shortDate);
    }
    freeFetchList();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
