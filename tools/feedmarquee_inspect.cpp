// feedmarquee-inspect [--base URL] [--schedule] [--rich] FILE: runs the feed parser over a saved
// HTTP response or a bare feed file (FILE "-": standard input) exactly as an update pass does, and
// prints what the window would show, one JSON object per line: {"entryCount": N}, then one object
// per entry in order. URL is the address the feed came from; relative links are resolved against
// it. --schedule adds, after the first line, {"feedTtlMinutes": N}: the update interval the feed
// asks for (0: none). --rich adds to each entry "descriptionBlocks": its description formatted as
// the tooltip draws it, a list of {"kind", "level", "marker", "runs": [{"text", "b", "i", "u",
// "code", "link"}]} (false and null fields left out).
#include "content/description_source.h"
#include "content/feed_document.h"
#include "content/feed_items.h"
#include "content/formatted_description.h"
#include "content/rss_parser.h"
#include "content/stored_date.h"
#include "content/stored_link.h"
#include "content/text_decoding.h"
#include "content/utf8.h"
#include "feed/http_response.h"

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
        if (c == '\n') { // a line break inside a formatted block
            out += "\\n";
            ++p;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++p;
        } else if (c >= 0x20 && c < 0x80) {
            out += static_cast<char>(c);
            ++p;
        } else if (size_t n = c >= 0x80 ? utf8SequenceLength(p, end) : 0) { // 2 to 4 here
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

// Parses the text read from the file as an update pass parses a received body. A saved HTTP
// response goes through the response stage first (chunks joined, gzip and deflate inflated) and
// its Content-Type takes part in choosing the charset; one the stage cannot read whole is parsed
// as it stands (parseFeed passes over a status line and headers). A status other than 2xx, which
// an update reports as a failure, is named on standard error.
FeedList* parseDocument(std::string& data, const char* baseUrl, DescriptionSources* sources) {
    HttpResponse response = {};
    if (data.compare(0, 5, "HTTP/") == 0 && beginResponse(&response, true)) {
        ResponseProgress progress = feedResponse(&response, data.data(), data.size());
        if (progress == responseNeedMore)
            progress = finishResponse(&response);
        if (progress == responseComplete && response.body != nullptr) {
            if (response.status < 200 || response.status > 299)
                std::fprintf(stderr, "feedmarquee-inspect: an update fails here: HTTP %d %s\n",
                             response.status, response.statusText);
            FeedList* list = parseFeedBody(response.body, response.bodyLength, response.contentType,
                                           baseUrl, true, sources);
            endResponse(&response);
            return list;
        }
        endResponse(&response);
    }
    return parseFeedBody(&data[0], data.size(), nullptr, baseUrl, true, sources);
}

void appendJsonText(std::string& out, const char* text, size_t length) {
    appendJsonString(out, std::string(text, length).c_str());
}

// The entry's description formatted from its source (as a tip shows it), else from its plain
// text, as a JSON list of blocks.
void appendDescriptionBlocks(std::string& out, const FeedItem* entry,
                             const DescriptionSources* sources) {
    static const char* const kinds[] = {"p", "h", "li", "quote", "pre"};
    DescriptionSource source = {
        entry->description, entry->description ? std::strlen(entry->description) : 0, PlainText};
    findDescriptionSource(sources, entry->key, entry->entryIndex, &source);
    FormattedDescription* document = formatDescription(source.text, source.length, source.form);
    out += '[';
    for (int32_t k = 0; document != nullptr && k < document->blockCount; ++k) {
        const FormattedBlock& block = document->blocks[k];
        out += k > 0 ? ", {\"kind\": \"" : "{\"kind\": \"";
        out += kinds[block.kind];
        out += "\", \"level\": " + std::to_string(block.level) + ", \"marker\": ";
        appendJsonString(out, block.marker[0] != '\0' ? block.marker : nullptr);
        out += ", \"runs\": [";
        for (int32_t r = 0; r < block.runCount; ++r) {
            const FormattedRun& run = document->runs[block.firstRun + r];
            out += r > 0 ? ", {\"text\": " : "{\"text\": ";
            appendJsonText(out, run.text, static_cast<size_t>(run.length));
            if (run.style & BoldStyle)
                out += ", \"b\": true";
            if (run.style & ItalicStyle)
                out += ", \"i\": true";
            if (run.style & UnderlineStyle)
                out += ", \"u\": true";
            if (run.style & CodeStyle)
                out += ", \"code\": true";
            if (run.link != nullptr) {
                out += ", \"link\": ";
                appendJsonString(out, run.link);
            }
            out += '}';
        }
        out += "]}";
    }
    out += ']';
    freeFormattedDescription(document);
}

} // namespace

int main(int argc, char** argv) {
    const char* baseUrl = nullptr;
    bool showSchedule = false;
    bool showRich = false;
    for (; argc > 2; --argc, ++argv) {
        if (argc > 3 && std::strcmp(argv[1], "--base") == 0) {
            baseUrl = argv[2];
            --argc, ++argv;
        } else if (std::strcmp(argv[1], "--schedule") == 0) {
            showSchedule = true;
        } else if (std::strcmp(argv[1], "--rich") == 0) {
            showRich = true;
        } else {
            break;
        }
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: feedmarquee-inspect [--base URL] [--schedule] [--rich] FILE "
                             "(FILE - reads standard input)\n");
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

    // As an update pass: the received text parsed in place into a new list.
    DescriptionSources* sources = showRich ? newDescriptionSources() : nullptr;
    FeedList* list = parseDocument(data, baseUrl, sources);
    if (list == nullptr || (showRich && sources == nullptr)) {
        std::fprintf(stderr, "feedmarquee-inspect: out of memory\n");
        releaseFeedList(list);
        freeDescriptionSources(sources);
        return 1;
    }

    std::string out = "{\"entryCount\": " + std::to_string(list->count) + "}\n";
    if (showSchedule)
        out += "{\"feedTtlMinutes\": " + std::to_string(list->ttlMinutes) + "}\n";
    for (const FeedItem* e = list->first; e != nullptr; e = e->next) {
        DateText held;
        const char* date = itemDate(e, &held);
        char* shortDate = abbreviateDate(date);
        out += "{\"entryIndex\": " + std::to_string(e->entryIndex) + ", \"title\": ";
        appendJsonString(out, e->title);
        out += ", \"titleLength\": " + std::to_string(e->titleLength) + ", \"link\": ";
        LinkText whole;
        appendJsonString(out, itemLink(e, &whole));
        out += ", \"description\": ";
        appendJsonString(out, e->description);
        out += ", \"date\": ";
        appendJsonString(out, date);
        out += ", \"shortDate\": ";
        appendJsonString(out, shortDate);
        if (showRich) {
            out += ", \"descriptionBlocks\": ";
            appendDescriptionBlocks(out, e, sources);
        }
        out += "}\n";
        std::free(shortDate);
    }
    releaseFeedList(list);
    freeDescriptionSources(sources);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
