// OPML is read with a forward scan over the markup, not a full XML reader: an export from any
// reader is a flat run of <outline> start tags whose attributes are all that matters, and real
// files are often not quite well-formed (an unescaped '&' in a title), which a strict reader
// would refuse whole. What must hold is that the document is OPML (its root element) and that it
// is whole (its closing </opml>).
#include "content/opml.h"

#include <cstdlib>
#include <cstring>

#include "content/atom_parser.h"
#include "content/text_buffer.h"
#include "content/text_decoding.h"

namespace {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Whether the element name at p (up to end) is name (lower case), followed by the end of a name.
bool nameIs(const char* p, const char* end, const char* name) {
    size_t n = std::strlen(name);
    if (static_cast<size_t>(end - p) < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(p[i]) != name[i])
            return false;
    return p + n == end || isBlank(p[n]) || p[n] == '/' || p[n] == '>';
}

// The first occurrence of text (its bytes as written) in [p, end), or null.
const char* findText(const char* p, const char* end, const char* text) {
    size_t n = std::strlen(text);
    while (static_cast<size_t>(end - p) >= n) {
        const char* hit = static_cast<const char*>(std::memchr(p, text[0], end - p));
        if (hit == nullptr || static_cast<size_t>(end - hit) < n)
            return nullptr;
        if (std::memcmp(hit, text, n) == 0)
            return hit;
        p = hit + 1;
    }
    return nullptr;
}

// The end of the tag that starts at lt ('<'): the '>' that closes it, quoted values respected;
// null when the document ends first. A quote starts a value only after an '=' (blanks between):
// an apostrophe in a stray word between attributes ("<outline it's ...") is no value.
const char* tagEnd(const char* lt, const char* end) {
    char quote = 0;
    char previous = 0; // the last byte outside values that is no blank
    for (const char* p = lt + 1; p < end; ++p) {
        if (quote != 0) {
            if (*p == quote)
                quote = 0;
        } else if ((*p == '"' || *p == '\'') && previous == '=') {
            quote = *p;
            previous = 0;
        } else if (*p == '>') {
            return p;
        } else if (!isBlank(*p)) {
            previous = *p;
        }
    }
    return nullptr;
}

// The end of a DOCTYPE whose name starts at p (after "<!DOCTYPE"): the '>' after its internal
// subset, if it has one, with the quoted texts, comments and declarations inside that subset
// (which hold '>' of their own) passed over; null when the document ends first.
const char* doctypeEnd(const char* p, const char* end) {
    char quote = 0;
    bool inSubset = false;
    for (; p < end; ++p) {
        char c = *p;
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (inSubset && end - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
            const char* close = findText(p + 4, end, "-->");
            if (close == nullptr)
                return nullptr;
            p = close + 2;
        } else if (c == '[') {
            inSubset = true;
        } else if (c == ']') {
            inSubset = false;
        } else if (c == '>' && !inSubset) {
            return p;
        }
    }
    return nullptr;
}

// A new text of the attribute's value as a title: references decoded (HTML's named ones too, as
// other readers write them: "&aelig;"), each run of white space one blank, none at either end (""
// for an absent attribute); null when memory runs out.
char* titleOf(const AttributeValue& value) {
    // A zero byte in the value ends it, as it ends the text the title is kept as.
    size_t length = value.text != nullptr ? strnlen(value.text, value.length) : 0;
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr)
        copy[titleToText(value.text != nullptr ? value.text : "", length, copy)] = '\0';
    return copy;
}

// A new text of the attribute's value with its references decoded and blanks at either end
// removed ("" for an absent attribute); null when memory runs out.
char* attributeText(const AttributeValue& value) {
    const char* text = value.text != nullptr ? value.text : "";
    size_t length = value.length;
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr)
        return nullptr;
    // A line break or tab written into the value reads as a blank, as XML normalises attributes.
    for (size_t i = 0; i < length; ++i)
        copy[i] = text[i] == '\r' || text[i] == '\n' || text[i] == '\t' ? ' ' : text[i];
    decodeEntities(copy, length, copy);
    size_t start = 0, n = std::strlen(copy);
    while (start < n && isBlank(copy[start]))
        ++start;
    while (n > start && isBlank(copy[n - 1]))
        --n;
    std::memmove(copy, copy + start, n - start);
    copy[n - start] = '\0';
    return copy;
}

// Appends text escaped for an attribute value or element content.
void appendEscaped(TextBuffer& out, const char* text) {
    const char* run = text;
    for (const char* p = text;; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        const char* escape = c == '&'    ? "&amp;"
                             : c == '<'  ? "&lt;"
                             : c == '>'  ? "&gt;"
                             : c == '"'  ? "&quot;"
                             : c == '\t' ? " " // as a reader normalises the attribute
                                         : nullptr;
        // Other control characters cannot be written in XML 1.0 at all: they are left out.
        if (escape == nullptr && c >= 0x20)
            continue;
        appendBytes(out, run, static_cast<size_t>(p - run));
        if (c == 0)
            return;
        if (escape != nullptr)
            appendText(out, escape);
        run = p + 1;
    }
}

} // namespace

bool addOpmlFeed(OpmlFeeds* feeds, const char* title, const char* url) {
    if (feeds->count == feeds->capacity) {
        size_t capacity = feeds->capacity != 0 ? feeds->capacity * 2 : 16;
        OpmlFeed* grown =
            static_cast<OpmlFeed*>(std::realloc(feeds->feeds, capacity * sizeof(OpmlFeed)));
        if (grown == nullptr)
            return false;
        feeds->feeds = grown;
        feeds->capacity = capacity;
    }
    char* titleCopy = static_cast<char*>(std::malloc(std::strlen(title) + 1));
    char* urlCopy = static_cast<char*>(std::malloc(std::strlen(url) + 1));
    if (titleCopy == nullptr || urlCopy == nullptr) {
        std::free(titleCopy);
        std::free(urlCopy);
        return false;
    }
    std::strcpy(titleCopy, title);
    std::strcpy(urlCopy, url);
    feeds->feeds[feeds->count++] = OpmlFeed{titleCopy, urlCopy};
    return true;
}

void freeOpmlFeeds(OpmlFeeds* feeds) {
    for (size_t i = 0; i < feeds->count; ++i) {
        std::free(feeds->feeds[i].title);
        std::free(feeds->feeds[i].url);
    }
    std::free(feeds->feeds);
    *feeds = OpmlFeeds{};
}

OpmlStatus readOpml(const char* document, size_t length, OpmlFeeds* feeds) {
    *feeds = OpmlFeeds{};
    const char* p = document;
    const char* end = document + length;
    if (length >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
        p += 3;
    bool inOpml = false;
    OpmlStatus status = opmlTruncated;
    while (p < end) {
        const char* lt = static_cast<const char*>(std::memchr(p, '<', end - p));
        if (lt == nullptr)
            break;
        if (!inOpml) {
            // Before the root element only blanks, the declaration, comments and a DOCTYPE.
            for (const char* q = p; q < lt; ++q)
                if (!isBlank(*q)) {
                    freeOpmlFeeds(feeds);
                    return opmlNotOpml;
                }
        }
        if (end - lt >= 4 && std::memcmp(lt, "<!--", 4) == 0) {
            const char* close = findText(lt + 4, end, "-->");
            if (close == nullptr)
                break;
            p = close + 3;
            continue;
        }
        // A CDATA section runs to its "]]>", a DOCTYPE past its internal subset: both may hold
        // '>' and markup of their own.
        if (end - lt >= 9 && std::memcmp(lt, "<![CDATA[", 9) == 0) {
            const char* close = findText(lt + 9, end, "]]>");
            if (close == nullptr)
                break;
            p = close + 3;
            continue;
        }
        if (end - lt >= 9 && lt[1] == '!' && nameIs(lt + 2, end, "doctype")) {
            const char* close = doctypeEnd(lt + 9, end);
            if (close == nullptr)
                break;
            p = close + 1;
            continue;
        }
        const char* gt = tagEnd(lt, end);
        if (gt == nullptr)
            break;
        const char* name = lt + 1;
        p = gt + 1;
        if (*name == '?' || *name == '!') {
            continue; // the XML declaration, another declaration
        }
        if (!inOpml) {
            if (!nameIs(name, gt, "opml")) {
                freeOpmlFeeds(feeds);
                return opmlNotOpml;
            }
            inOpml = true;
            continue;
        }
        if (*name == '/') {
            if (nameIs(name + 1, gt, "opml")) {
                status = opmlRead;
                break;
            }
            continue;
        }
        if (!nameIs(name, gt, "outline"))
            continue;
        const char* attributes = name + 7;
        AttributeValue url = findAttribute(attributes, gt, "xmlurl");
        if (url.text == nullptr)
            continue; // a folder, or a link that is no feed
        // The text, else (absent or blank) the title.
        char* titleText = titleOf(findAttribute(attributes, gt, "text"));
        if (titleText != nullptr && titleText[0] == '\0') {
            std::free(titleText);
            titleText = titleOf(findAttribute(attributes, gt, "title"));
        }
        char* urlText = attributeText(url);
        bool added = urlText != nullptr && titleText != nullptr &&
                     (urlText[0] == '\0' || addOpmlFeed(feeds, titleText, urlText));
        std::free(urlText);
        std::free(titleText);
        if (!added) {
            freeOpmlFeeds(feeds);
            return opmlNoMemory;
        }
    }
    if (!inOpml) {
        freeOpmlFeeds(feeds);
        return opmlNotOpml;
    }
    if (status != opmlRead)
        freeOpmlFeeds(feeds);
    return status;
}

char* writeOpml(const OpmlFeeds* feeds, const char* listTitle, const char* dateCreated) {
    TextBuffer out = {};
    appendText(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n"
                "  <head>\n    <title>");
    appendEscaped(out, listTitle != nullptr ? listTitle : "");
    appendText(out, "</title>\n");
    if (dateCreated != nullptr) {
        appendText(out, "    <dateCreated>");
        appendEscaped(out, dateCreated);
        appendText(out, "</dateCreated>\n");
    }
    appendText(out, "  </head>\n  <body>\n");
    for (size_t i = 0; i < feeds->count; ++i) {
        const OpmlFeed& feed = feeds->feeds[i];
        // An untitled feed keeps an empty text: readers then name it by the feed's own title.
        const char* title = feed.title != nullptr ? feed.title : "";
        appendText(out, "    <outline type=\"rss\" text=\"");
        appendEscaped(out, title);
        if (title[0] != '\0') {
            appendText(out, "\" title=\"");
            appendEscaped(out, title);
        }
        appendText(out, "\" xmlUrl=\"");
        appendEscaped(out, feed.url);
        appendText(out, "\"/>\n");
    }
    appendText(out, "  </body>\n</opml>\n");
    return takeText(out, nullptr);
}
