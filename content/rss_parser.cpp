// The RSS item parser. It is no XML parser: it finds the markup between '<' and '>', looks at the
// start of each piece of markup, and keeps the feed's title and, per item, the title, link (or
// guid), description and date; RSS 2.0 and RSS 1.0 alike. One pass over the document: the scans
// for '<' go a block at a time, text is decoded straight from the document into the entries' own
// copies, and nothing is allocated but the entries and their texts.
#include "content/rss_parser.h"

#include "content/feed_items.h"
#include "content/text_decoding.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Compares the n characters at p with the lower-case word, without regard to case; false when fewer
// than n characters remain before end.
inline bool matchNoCase(const char* p, const char* end, const char* word, size_t n) {
    if (static_cast<size_t>(end - p) < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(p[i]) != word[i])
            return false;
    return true;
}

// The first c at or after p, or end. Markup and the text between it are mostly short, so the first
// bytes are searched inline a block at a time and only a longer search goes to memchr.
inline const char* findByte(const char* p, const char* end, char c) {
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (int block = 0; block < 4 && end - p >= 16; ++block, p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, wanted)));
        if (mask != 0)
            return p + __builtin_ctz(mask);
    }
#endif
    const void* found = std::memchr(p, c, static_cast<size_t>(end - p));
    return found != nullptr ? static_cast<const char*>(found) : end;
}

// The end of the markup that starts at p: its '>', or the '<' that cuts it short, or end.
inline const char* markupEnd(const char* p, const char* end) {
    while (p < end && *p != '>' && *p != '<')
        ++p;
    return p;
}

// The position of the "]]>" that closes a CDATA section whose inside starts at p, or end. Found
// through its ']', which HTML inside the section seldom holds.
const char* findCdataClose(const char* p, const char* end) {
    for (;;) {
        p = findByte(p, end, ']');
        if (end - p < 3)
            return end;
        if (p[1] == ']' && p[2] == '>')
            return p;
        ++p;
    }
}

// The position of the "-->" that closes a comment whose inside starts at p, or end.
const char* findCommentClose(const char* p, const char* end) {
    const char* start = p;
    for (;;) {
        p = findByte(p, end, '>');
        if (p == end)
            return end;
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
ElementText elementText(const char* tagStart, const char* tagEnd, const char* end) {
    ElementText value{nullptr, 0, false, tagEnd};
    if (tagEnd == end || *tagEnd == '<')
        return value; // no text follows: the next markup is examined on its own
    if (tagEnd > tagStart && tagEnd[-1] == '/') {
        value.next = tagEnd + 1; // an empty element written as one tag
        return value;
    }
    const char* text = tagEnd + 1;
    const char* nextMarkup = findByte(text, end, '<');
    if (nextMarkup != end && matchNoCase(nextMarkup + 1, end, "![cdata[", 8)) {
        const char* p = text;
        while (p < nextMarkup && isBlank(*p))
            ++p;
        if (p == nextMarkup) {
            const char* inside = nextMarkup + 9;
            const char* close = findCdataClose(inside, end);
            value.length = static_cast<size_t>(close - inside);
            value.text = value.length != 0 ? inside : nullptr;
            value.fromCdata = true;
            value.next = close == end ? end : close + 3;
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
        if (lowerAscii(*p) != 'i' || !matchNoCase(p, end, "ispermalink", 11))
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
        if (matchNoCase(q, end, "false", 5) && q + 5 < end && q[5] == quote)
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
const char* examineMarkup(ParseState& state, const char* m, const char* end) {
    Keyword keyword = NoKeyword;
    size_t nameLength = 0;
    switch (lowerAscii(*m)) {
    case 'i':
        if (matchNoCase(m, end, "item", 4)) {
            startItem(state);
            return m + 4;
        }
        break;
    case '/':
        if (matchNoCase(m, end, "/item", 5)) {
            endItem(state);
            return m + 5;
        }
        break;
    case 'l':
        if (matchNoCase(m, end, "link", 4))
            keyword = LinkKeyword, nameLength = 4;
        break;
    case 'g':
        if (matchNoCase(m, end, "guid", 4)) {
            const char* tagEnd = markupEnd(m + 4, end);
            if (isPermaLinkFalse(m + 4, tagEnd))
                return tagEnd;
            keyword = LinkKeyword, nameLength = 4;
        }
        break;
    case 'd':
        if (state.inItem && matchNoCase(m, end, "description", 11))
            keyword = DescriptionKeyword, nameLength = 11;
        else if (state.inItem && !hasDate(state) && matchNoCase(m, end, "dc:date", 7))
            keyword = DateKeyword, nameLength = 7;
        break;
    case 't':
        if ((state.created == 0 || state.inItem) && matchNoCase(m, end, "title", 5))
            keyword = TitleKeyword, nameLength = 5;
        break;
    case 'p':
        if (state.inItem && !hasDate(state) && matchNoCase(m, end, "pubdate", 7))
            keyword = DateKeyword, nameLength = 7;
        break;
    case '!':
        // CDATA sections and comments are whole: markup inside them is not the feed's.
        if (matchNoCase(m, end, "![cdata[", 8)) {
            const char* close = findCdataClose(m + 8, end);
            return close == end ? end : close + 3;
        }
        if (matchNoCase(m, end, "!--", 3)) {
            const char* close = findCommentClose(m + 3, end);
            return close == end ? end : close + 3;
        }
        break;
    default:
        break;
    }
    if (keyword == NoKeyword)
        return m;

    const char* tagEnd = markupEnd(m + nameLength, end);
    ElementText value = elementText(m, tagEnd, end);
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

void parseFeed(char* document) {
    ParseState state{};
    const char* p = document;
    const char* end = document != nullptr ? document + std::strlen(document) : nullptr;

    // The first token goes unexamined: the status line and headers of an HTTP response, or whatever
    // else stands before the first '<' or '>'.
    while (p < end && (*p == '<' || *p == '>'))
        ++p;
    if (p < end) {
        const char* lt = findByte(p, end, '<');
        const char* gt = findByte(p, lt, '>');
        p = gt;
    }

    // Only markup, the text after a '<', is examined; text between '>' and '<' is never taken for a
    // tag. A keyword's own text is read by examineMarkup.
    while (p < end) {
        const char* lt = findByte(p, end, '<');
        const char* m = lt + 1;
        if (m >= end)
            break;
        if (*m == '<') {
            p = m;
            continue;
        }
        p = examineMarkup(state, m, end);
    }

    // Values read after the last item end belong to no entry and are dropped.
    entryCount = state.created;
}
