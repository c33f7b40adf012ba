// The RSS item parser. It is no XML parser: it finds the markup between '<' and '>', looks at the
// start of each piece of markup, and keeps the feed's title and, per item, the title, link (or
// guid), description and date; RSS 2.0 and RSS 1.0 alike. One pass over the document: the scans
// for '<' use the C library's string search, text is decoded straight from the document into the
// entries' own copies, and nothing is allocated but the entries and their texts.
#include "content/rss_parser.h"

#include "content/feed_items.h"
#include "content/text_decoding.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether the n characters at p are the lower-case word, without regard to case. The document's
// terminating zero differs from every letter of a word, so the comparison never passes it.
inline bool matchNoCase(const char* p, const char* word, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(p[i]) != word[i])
            return false;
    return true;
}

// The first c at or after p, or the document's terminating zero. The parser works up to that zero
// instead of measuring the document first: a 10 MB response is then read once, not twice.
inline const char* findByte(const char* p, char c) {
    const char* found = std::strchr(p, c);
    return found != nullptr ? found : p + std::strlen(p);
}

// The end of the markup that starts at p: its '>', or the '<' that cuts it short, or the zero.
inline const char* markupEnd(const char* p) {
    while (*p != '\0' && *p != '>' && *p != '<')
        ++p;
    return p;
}

// The position of the "]]>" that closes a CDATA section whose inside starts at p, or the zero.
// Found through its ']', which HTML inside the section seldom holds.
const char* findCdataClose(const char* p) {
    for (;;) {
        p = findByte(p, ']');
        if (*p == '\0' || (p[1] == ']' && p[2] == '>'))
            return p;
        ++p;
    }
}

// The position of the "-->" that closes a comment whose inside starts at p, or the zero.
const char* findCommentClose(const char* p) {
    const char* start = p;
    for (;;) {
        p = findByte(p, '>');
        if (*p == '\0')
            return p;
        if (p - start >= 2 && p[-1] == '-' && p[-2] == '-')
            return p - 2;
        ++p;
    }
}

// The value of a keyword element: where its text stands and where the scan goes on afterwards.
struct ElementText {
    const char* text; // null: the element has no text (its value is absent)
    size_t length;    // bytes of the text, without a CDATA section's wrapper
    bool fromCdata;   // the text is the inside of a CDATA section
    const char* next; // where the scan for markup goes on
};

// The text of the element whose start tag ends with the '>' at tagEnd (or is cut short by a '<' or
// the document's end there). Text runs to the next '<': a '>' inside it is text. A CDATA section
// (possibly after layout blanks) is the text whole, up to its "]]>" or the document's end.
ElementText elementText(const char* tagStart, const char* tagEnd) {
    ElementText value{nullptr, 0, false, tagEnd};
    if (*tagEnd != '>')
        return value; // no text follows: the next markup is examined on its own
    if (tagEnd > tagStart && tagEnd[-1] == '/') {
        value.next = tagEnd + 1; // an empty element written as one tag
        return value;
    }
    const char* text = tagEnd + 1;
    const char* nextMarkup = findByte(text, '<');
    if (*nextMarkup == '<' && matchNoCase(nextMarkup + 1, "![cdata[", 8)) {
        const char* p = text;
        while (p < nextMarkup && isBlank(*p))
            ++p;
        if (p == nextMarkup) {
            const char* inside = nextMarkup + 9;
            const char* close = findCdataClose(inside);
            value.length = static_cast<size_t>(close - inside);
            value.text = value.length != 0 ? inside : nullptr;
            value.fromCdata = true;
            value.next = *close != '\0' ? close + 3 : close;
            return value;
        }
    }
    value.length = static_cast<size_t>(nextMarkup - text);
    value.text = value.length != 0 ? text : nullptr;
    value.next = nextMarkup;
    return value;
}

// Whether a guid's attributes (the markup between its name and its '>') say isPermaLink="false":
// such a guid names an identifier, not an address.
bool isPermaLinkFalse(const char* p, const char* end) {
    for (; p < end; ++p) {
        if (lowerAscii(*p) != 'i' || !matchNoCase(p, "ispermalink", 11))
            continue;
        const char* q = p + 11;
        while (q < end && isBlank(*q))
            ++q;
        if (q == end || *q != '=')
            continue;
        ++q;
        while (q < end && isBlank(*q))
            ++q;
        if (q == end || (*q != '"' && *q != '\''))
            continue;
        char quote = *q++;
        if (matchNoCase(q, "false", 5) && q[5] == quote)
            return true;
    }
    return false;
}

char* decodedCopy(const char* text, size_t length) {
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr)
        decodeEntities(text, length, copy);
    return copy;
}

// Descriptions shrink once their tags are gone. One of up to this many bytes is made plain on the
// stack and then copied into an allocation of its exact size; a longer one is made plain in its own
// allocation, which then gives back what it does not need.
const size_t stackDescriptionSize = 4096;

char* descriptionCopy(const char* text, size_t length, bool fromCdata) {
    if (length < stackDescriptionSize) {
        char plain[stackDescriptionSize];
        size_t plainLength = descriptionToText(text, length, plain, fromCdata);
        char* copy = static_cast<char*>(std::malloc(plainLength + 1));
        if (copy != nullptr)
            std::memcpy(copy, plain, plainLength + 1);
        return copy;
    }
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr)
        return nullptr;
    size_t plainLength = descriptionToText(text, length, copy, fromCdata);
    if (plainLength < length - length / 4) {
        if (char* smaller = static_cast<char*>(std::realloc(copy, plainLength + 1)))
            copy = smaller;
    }
    return copy;
}

// A value read but not yet kept: where its text stands in the document. It is decoded only when
// it reaches an entry, so values that are replaced or dropped cost nothing.
struct PendingText {
    bool present;
    ElementText value;
};

struct ParseState {
    bool inItem;
    FeedItem* current;
    PendingText link; // the pending values of the item (or channel) being read
    PendingText description;
    PendingText date;
    int32_t created;
};

// Decodes a present pending text into field, replacing what it held.
void keepText(char*& field, const PendingText& pending, bool isDescription) {
    if (!pending.present)
        return;
    const ElementText& v = pending.value;
    if (field != nullptr)
        std::free(field);
    field = isDescription ? descriptionCopy(v.text, v.length, v.fromCdata)
                          : decodedCopy(v.text, v.length);
}

void keepPending(ParseState& state, FeedItem* entry) {
    keepText(entry->link, state.link, false);
    keepText(entry->description, state.description, true);
    keepText(entry->date, state.date, false);
}

inline void releasePending(ParseState& state) {
    state.link.present = state.description.present = state.date.present = false;
}

void startItem(ParseState& state) {
    // Values read before the first item belong to the channel: its link goes to the header entry.
    if (state.current != nullptr && state.current == FetchList.first)
        keepPending(state, state.current);
    releasePending(state);
    state.inItem = true;
    state.current = nullptr;
}

void endItem(ParseState& state) {
    state.inItem = false;
    if (state.current != nullptr)
        keepPending(state, state.current);
    releasePending(state);
}

void addTitle(ParseState& state, const ElementText& value) {
    FeedItem* entry = appendEntry(&FetchList);
    if (entry == nullptr)
        return;
    entry->entryIndex = state.created++;
    if (state.current == nullptr)
        state.current = entry;
    if (value.text != nullptr)
        entry->title = decodedCopy(value.text, value.length);
    entry->titleLength = value.length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value.length);
}

// A value replaces the one pending; an element without text leaves the value absent.
inline void setPending(PendingText& pending, const ElementText& value) {
    pending.present = value.text != nullptr;
    pending.value = value;
}

// Only the first date of an item counts; an empty date element gives none.
inline bool hasDate(const ParseState& state) {
    return state.date.present;
}

enum Keyword { NoKeyword, TitleKeyword, LinkKeyword, DescriptionKeyword, DateKeyword };

// Looks at the markup that starts at m (right after its '<') and returns where the scan for the
// next '<' goes on.
const char* examineMarkup(ParseState& state, const char* m) {
    Keyword keyword = NoKeyword;
    size_t nameLength = 0;
    switch (lowerAscii(*m)) {
    case 'i':
        if (matchNoCase(m, "item", 4)) {
            startItem(state);
            return m + 4;
        }
        break;
    case '/':
        if (matchNoCase(m, "/item", 5)) {
            endItem(state);
            return m + 5;
        }
        break;
    case 'l':
        if (matchNoCase(m, "link", 4))
            keyword = LinkKeyword, nameLength = 4;
        break;
    case 'g':
        if (matchNoCase(m, "guid", 4)) {
            const char* tagEnd = markupEnd(m + 4);
            if (isPermaLinkFalse(m + 4, tagEnd))
                return tagEnd;
            keyword = LinkKeyword, nameLength = 4;
        }
        break;
    case 'd':
        if (state.inItem && matchNoCase(m, "description", 11))
            keyword = DescriptionKeyword, nameLength = 11;
        else if (state.inItem && !hasDate(state) && matchNoCase(m, "dc:date", 7))
            keyword = DateKeyword, nameLength = 7;
        break;
    case 't':
        if ((state.created == 0 || state.inItem) && matchNoCase(m, "title", 5))
            keyword = TitleKeyword, nameLength = 5;
        break;
    case 'p':
        if (state.inItem && !hasDate(state) && matchNoCase(m, "pubdate", 7))
            keyword = DateKeyword, nameLength = 7;
        break;
    case '!':
        // CDATA sections and comments are whole: markup inside them is not the feed's.
        if (matchNoCase(m, "![cdata[", 8)) {
            const char* close = findCdataClose(m + 8);
            return *close != '\0' ? close + 3 : close;
        }
        if (matchNoCase(m, "!--", 3)) {
            const char* close = findCommentClose(m + 3);
            return *close != '\0' ? close + 3 : close;
        }
        break;
    default:
        break;
    }
    if (keyword == NoKeyword)
        return m;

    const char* tagEnd = markupEnd(m + nameLength);
    ElementText value = elementText(m, tagEnd);
    switch (keyword) {
    case TitleKeyword:
        addTitle(state, value);
        break;
    case LinkKeyword:
        setPending(state.link, value);
        break;
    case DescriptionKeyword:
        setPending(state.description, value);
        break;
    case DateKeyword:
        setPending(state.date, value);
        break;
    case NoKeyword:
        break;
    }
    return value.next;
}

} // namespace

int32_t feedTtlMinutes;

void parseFeed(char* document, const char* baseUrl) {
    (void)baseUrl;
    feedTtlMinutes = 0;
    ParseState state{};
    if (document == nullptr) {
        entryCount = 0;
        return;
    }

    // The first token goes unexamined: the status line and headers of an HTTP response, or whatever
    // else stands before the first '<' or '>'.
    const char* p = document;
    while (*p == '<' || *p == '>')
        ++p;
    p += std::strcspn(p, "<>");

    // Only markup, the text after a '<', is examined; text between '>' and '<' is never taken for a
    // tag. A keyword's own text is read by examineMarkup.
    while (const char* lt = std::strchr(p, '<')) {
        const char* m = lt + 1;
        if (*m == '\0')
            break;
        if (*m == '<') {
            p = m;
            continue;
        }
        p = examineMarkup(state, m);
    }

    // Values read after the last item end belong to no entry and are dropped.
    entryCount = state.created;
}
