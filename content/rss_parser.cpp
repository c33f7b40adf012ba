// The feed parser. It is no XML parser: it finds the markup between '<' and '>', looks at the
// start of each piece of markup, and keeps the feed's title and link and, per item (RSS 2.0,
// RSS 1.0) or entry (Atom), the title, link, description and date. One pass over the document: the
// scans for '<' are byte_scan.h's block searches, text is decoded straight from the document into
// the entries' own copies, and nothing is allocated but the entries, their texts and the few base
// addresses a feed declares. A value that is more than one run of text (CDATA sections between
// text, comments, a description holding raw HTML) is joined in place inside the document first.
#include "content/rss_parser.h"

#include "content/atom_parser.h"
#include "content/byte_scan.h"
#include "content/feed_items.h"
#include "content/description_source.h"
#include "content/key_hash.h"
#include "content/stored_date.h"
#include "content/stored_link.h"
#include "content/text_decoding.h"
#include "content/url_resolve.h"

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
    return sameShortBytesNoCase(p, word, n);
}

// Whether the markup at p is named word (n bytes), the whole name: "<items>" is no "<item>".
inline bool isName(const char* p, const char* word, size_t n) {
    if (!matchNoCase(p, word, n))
        return false;
    char c = p[n];
    return c == '>' || c == '/' || c == '<' || c == '\0' || isBlank(c);
}

// The first c at or after p, or the document's terminating zero. The parser works up to that zero
// instead of measuring the document first: a 10 MB response is then read once, not twice.
inline char* findByte(char* p, char c) {
    return findByteOrZero(p, c);
}

// The end of the markup that starts at p: its '>', or the '<' that cuts it short, or the zero.
inline char* markupEnd(char* p) {
    return const_cast<char*>(findEitherOrZero(p, '>', '<'));
}

// The position of the "]]>" that closes a CDATA section whose inside starts at p, or the zero.
// Found through its ']', which HTML inside the section seldom holds.
char* findCdataClose(char* p) {
    for (;;) {
        p = findByte(p, ']');
        if (*p == '\0' || (p[1] == ']' && p[2] == '>'))
            return p;
        ++p;
    }
}

// The position of the "-->" that closes a comment whose inside starts at p, or the zero.
char* findCommentClose(char* p) {
    char* start = p;
    for (;;) {
        p = findByte(p, '>');
        if (*p == '\0')
            return p;
        if (p - start >= 2 && p[-1] == '-' && p[-2] == '-')
            return p - 2;
        ++p;
    }
}

// The name after a namespace prefix ("atom:" in "atom:entry"), or name itself when it has none.
inline const char* afterAnyPrefix(const char* name) {
    const char* p = name;
    while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ||
           *p == '_' || *p == '-' || *p == '.')
        ++p;
    return *p == ':' && p != name ? p + 1 : name;
}

// Whether the markup at m (after its '<') starts or ends an item or entry, with or without a
// prefix: a value that holds one (an unclosed description) ends there, so that it cannot swallow
// the feed's items.
inline bool isItemBoundary(const char* m) {
    const char* name = afterAnyPrefix(*m == '/' ? m + 1 : m);
    return isName(name, "item", 4) || isName(name, "entry", 5);
}

// Whether the markup at m (after its '<') is the closing tag name, with or without a prefix.
inline bool isClosingTag(const char* m, const char* name, size_t nameLength) {
    return *m == '/' &&
           (isName(m + 1, name, nameLength) || isName(afterAnyPrefix(m + 1), name, nameLength));
}

inline char* afterClose(char* close, size_t closeLength) {
    return *close != '\0' ? close + closeLength : close;
}

// The value of a keyword element: where its text stands and where the scan goes on afterwards.
struct ElementText {
    char* text;    // null: the element has no text (its value is absent)
    size_t length; // bytes of the text, without CDATA wrappers and comments
    bool asHtml;   // the text is HTML as it stands (a CDATA section, or raw markup)
    char* next;    // where the scan for markup goes on
};

inline void setText(ElementText& value, char* text, size_t length) {
    value.length = length;
    value.text = length != 0 ? text : nullptr;
}

// How a value may be written: text only (it ends at the first tag), or holding markup up to the
// element's own closing tag, which is HTML (a description) or is dropped (a title's tags).
enum ValueMarkup { NoMarkup, HtmlMarkup, DroppedMarkup };

// A value made of several pieces: text, CDATA sections, comments and, where markup is allowed,
// elements. Finds where it ends (markup allowed: at the element's own closing tag, name, or at the
// start or end of an item; else at the first tag) and then joins the pieces in place from text on:
// CDATA sections lose their wrappers, comments go, tags of raw markup stay (HtmlMarkup) or go
// (DroppedMarkup: a '<' that starts no tag stays). For HtmlMarkup, escaped HTML text between CDATA
// sections is decoded once so that the whole is HTML; text in raw markup is HTML already. A title
// (DroppedMarkup) is decoded afterwards as a whole.
void joinPieces(char* text, const char* name, size_t nameLength, ValueMarkup markup,
                ElementText& value) {
    const bool markupAllowed = markup != NoMarkup;
    char* end = nullptr;
    bool sawElement = false;
    for (char* p = text; end == nullptr;) {
        char* lt = findByte(p, '<');
        char* m = lt + 1;
        if (*lt == '\0') {
            end = lt;
        } else if (matchNoCase(m, "![cdata[", 8)) {
            char* close = findCdataClose(m + 8);
            p = *close != '\0' ? close + 3 : (end = close);
        } else if (matchNoCase(m, "!--", 3)) {
            char* close = findCommentClose(m + 3);
            p = *close != '\0' ? close + 3 : (end = close);
        } else if (!markupAllowed || isClosingTag(m, name, nameLength) || isItemBoundary(m)) {
            end = lt;
        } else {
            // Only a start tag makes the value raw markup: a '<' that starts no tag ("<$50") is a
            // character of escaped HTML, whose tags are still to be decoded.
            sawElement = sawElement || (*m >= 'a' && *m <= 'z') || (*m >= 'A' && *m <= 'Z');
            p = m;
        }
    }
    value.next = end;

    const bool decodeText = markup == HtmlMarkup && !sawElement;
    char* out = text;
    for (char* p = text; p < end;) {
        char* lt = findByte(p, '<');
        if (lt > end)
            lt = end;
        size_t n = static_cast<size_t>(lt - p);
        if (decodeText) {
            // decodeEntities terminates its output, at lt at the latest: keep that byte.
            char kept = *lt;
            out += decodeEntities(p, n, out);
            *lt = kept;
        } else {
            std::memmove(out, p, n);
            out += n;
        }
        if (lt == end)
            break;
        char* m = lt + 1;
        if (matchNoCase(m, "![cdata[", 8)) {
            char* close = findCdataClose(m + 8);
            size_t inside = static_cast<size_t>(close - (m + 8));
            std::memmove(out, m + 8, inside);
            out += inside;
            p = afterClose(close, 3);
        } else if (matchNoCase(m, "!--", 3)) {
            p = afterClose(findCommentClose(m + 3), 3);
        } else if (markup == DroppedMarkup &&
                   ((*m >= 'a' && *m <= 'z') || (*m >= 'A' && *m <= 'Z') || *m == '/' ||
                    *m == '?' || *m == '!')) {
            char* close = findByte(m, '>');
            p = close < end ? close + 1 : end;
        } else {
            *out++ = '<';
            p = m;
        }
    }
    setText(value, text, static_cast<size_t>(out - text));
    value.asHtml = markupAllowed;
}

// The text of the element name (lower case; elementName: its name as the document writes it) whose
// start tag ends with the '>' at tagEnd (or is cut short by a '<' or the document's end there).
// Plain text runs to the next '<': a '>' inside it is text. A CDATA section with only blanks around
// it is the value whole, up to its "]]>" or the document's end. Anything else is joined by
// joinPieces; markupAllowed lets the value hold raw markup up to the element's own closing tag (a
// description with unescaped HTML), so that nothing inside it is taken for the feed's own elements.
// Where the scan goes on after a value that ends at p: past the element's own closing tag when it
// stands there written as the start tag (elementName, nameLength bytes) was, so that it needs no
// examination of its own; else at p.
inline char* afterOwnClosingTag(char* p, const char* elementName, size_t nameLength) {
    if (p[0] != '<' || p[1] != '/')
        return p;
    return sameShortBytes(p + 2, elementName, nameLength) && p[2 + nameLength] == '>'
               ? p + 3 + nameLength
               : p;
}

ElementText elementText(char* elementName, char* tagEnd, const char* name, size_t nameLength,
                        ValueMarkup markup) {
    const bool markupAllowed = markup != NoMarkup;
    ElementText value{nullptr, 0, false, tagEnd};
    if (*tagEnd != '>')
        return value; // no text follows: the next markup is examined on its own
    if (tagEnd[-1] == '/') {
        value.next = tagEnd + 1; // an empty element written as one tag
        return value;
    }
    char* text = tagEnd + 1;
    char* lt = findByte(text, '<');
    char* past =
        lt[0] == '<' && lt[1] == '/' ? afterOwnClosingTag(lt, elementName, nameLength) : lt;
    // A closing tag other than the element's own ends a text-only value; one that may hold markup
    // reads on to its own closing tag ("Hello</b> World", a stray closing tag in a title).
    if (*lt == '\0' || past != lt || (lt[1] == '/' && !markupAllowed)) {
        setText(value, text, static_cast<size_t>(lt - text));
        value.next = past;
        return value;
    }
    if (matchNoCase(lt + 1, "![cdata[", 8)) {
        char* p = text;
        while (p < lt && isBlank(*p))
            ++p;
        if (p == lt) {
            char* inside = lt + 9;
            char* close = findCdataClose(inside);
            char* after = afterClose(close, 3);
            char* q = after;
            while (isBlank(*q))
                ++q;
            if (*q == '\0' || (q[0] == '<' && q[1] == '/')) {
                setText(value, inside, static_cast<size_t>(close - inside));
                value.asHtml = true;
                char* past = afterOwnClosingTag(q, elementName, nameLength);
                value.next = past != q ? past : after;
                return value;
            }
        }
    } else if (!markupAllowed && lt[1] != '!') {
        setText(value, text, static_cast<size_t>(lt - text)); // the value ends at the first tag
        value.next = lt;
        return value;
    }
    joinPieces(text, name, nameLength, markup, value);
    return value;
}
inline ElementText elementText(char* elementName, char* tagEnd, const char* name, size_t nameLength,
                               bool markupAllowed) {
    return elementText(elementName, tagEnd, name, nameLength,
                       markupAllowed ? HtmlMarkup : NoMarkup);
}

// How a kept text becomes an entry's field: references decoded (links, dates), made a title's
// plain text (HTML references, white space folded), or made plain text from HTML (descriptions,
// Atom titles of type html or xhtml). Either way without blanks at either end.
enum TextForm { DecodedForm, TitleForm, HtmlForm };

// A value read but not yet kept: where its text stands in the document. It is decoded only when
// it reaches an entry, so values that are replaced or dropped cost nothing.
struct PendingText {
    bool present;
    int priority; // which of several elements for one field wins (summary over content, ...)
    TextForm form;
    ElementText value;
};

// A field's text is written straight into the list's storage: room for its source is reserved
// there, the decoder writes into it (none writes more bytes than it reads) and the unused end is
// given back, so no field costs an allocation of its own. Each returns null when memory runs out.
// The list's texts are final once the next one is written.
// The length of a zero-terminated text by the parser's own scan (the runtime's strlen is slow in
// the shipped build).
inline size_t textLength(const char* text) {
    return static_cast<size_t>(findByteOrZero(text, '\0') - text);
}

char* decodedText(FeedList* list, const char* text, size_t length) {
    char* out = reserveListText(list, length);
    if (out != nullptr)
        keepListText(list, out, length + 1, decodeEntities(text, length, out));
    return out;
}

char* descriptionText(FeedList* list, const char* text, size_t length, bool asHtml) {
    char* out = reserveListText(list, length);
    if (out != nullptr)
        keepListText(list, out, length + 1, descriptionToText(text, length, out, asHtml));
    return out;
}

// The text with its references decoded and without blanks at either end (a pretty-printed feed
// indents its values). The blanks are left out of the source range, so the text needs no second
// look.
char* trimmedText(FeedList* list, const char* text, size_t length) {
    while (length > 0 && isBlank(*text))
        ++text, --length;
    while (length > 0 && isBlank(text[length - 1]))
        --length;
    return decodedText(list, text, length);
}

char* titleText(FeedList* list, const char* text, size_t length) {
    char* out = reserveListText(list, length);
    if (out != nullptr)
        keepListText(list, out, length + 1, titleToText(text, length, out));
    return out;
}

char* pendingText(FeedList* list, const PendingText& pending) {
    if (!pending.present)
        return nullptr;
    const ElementText& v = pending.value;
    switch (pending.form) {
    case HtmlForm:
        return descriptionText(list, v.text, v.length, v.asHtml);
    case TitleForm:
        return titleText(list, v.text, v.length);
    default:
        return trimmedText(list, v.text, v.length);
    }
}

// Gives back a text just written that is not kept (it was the last one written).
inline void dropText(FeedList* list, char* text) {
    if (text != nullptr)
        dropListText(list, text, textLength(text) + 1);
}

// A value replaces the pending one when it is present and ranks at least as high (replace) or
// higher (first of a rank wins).
inline void offerPending(PendingText& pending, const ElementText& value, int priority,
                         TextForm form, bool laterOfRankWins) {
    if (value.text == nullptr)
        return;
    if (pending.present &&
        (priority < pending.priority || (priority == pending.priority && !laterOfRankWins)))
        return;
    pending.present = true;
    pending.priority = priority;
    pending.form = form;
    pending.value = value;
}

inline bool isEmptyText(const char* text) {
    if (text == nullptr)
        return true;
    while (isBlank(*text))
        ++text;
    return *text == '\0';
}

inline int32_t clippedLength(size_t length) {
    return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

// ---- Links ----------------------------------------------------------------------------------

// The address written at text (length bytes, references not yet decoded) as a text of the list,
// blanks at either end removed and, when it is relative and base (absolute) is given, resolved
// against base. Null when it is empty or memory runs out. A reference that cannot be resolved
// stays as written.
char* linkText(FeedList* list, const char* text, size_t length, const char* base) {
    char* link = trimmedText(list, text, length);
    if (link == nullptr)
        return nullptr;
    if (link[0] == '\0') {
        dropText(list, link);
        return nullptr;
    }
    if (base == nullptr || *base == '\0' || hasScheme(link))
        return link;
    // Resolution keeps the base's scheme and authority and adds at most a '/' to the reference.
    // Addresses are short: the resolved one is made on the stack, unless it may be very long.
    size_t linkLength = std::strlen(link);
    size_t size = std::strlen(base) + linkLength + 8;
    char onStack[2048];
    char* resolved = size <= sizeof onStack ? onStack : static_cast<char*>(std::malloc(size));
    if (resolved != nullptr && resolveUrl(base, link, resolved, size)) {
        // The resolved address takes the reference's place (reserved after giving it back, so it
        // starts where the reference did while the block has room).
        dropListText(list, link, linkLength + 1);
        size_t resolvedLength = std::strlen(resolved);
        link = reserveListText(list, resolvedLength);
        if (link != nullptr)
            std::memcpy(link, resolved, resolvedLength + 1);
    }
    if (resolved != onStack)
        std::free(resolved);
    return link;
}

// ---- The parse ------------------------------------------------------------------------------

// The levels at which a feed may declare xml:base, each resolved against the one above it.
enum BaseLevel { RootBase, ChannelBase, ItemBase, baseLevels };

// Namespace prefixes the document binds to the Atom or RSS 1.0 namespace ("atom" of <atom:feed
// xmlns:atom="http://www.w3.org/2005/Atom">): elements with them are read as the unprefixed ones.
const int boundPrefixes = 4;
const size_t longestPrefix = 16;

struct ParseState {
    const char* documentBase; // the address the document came from, or null
    char prefixes[boundPrefixes][longestPrefix];
    size_t prefixLengths[boundPrefixes];
    int prefixCount;
    // Where a search for the end of a processing instruction or of a DOCTYPE's internal subset
    // found none: every later one fails too, so none is searched for again (no quadratic scans).
    bool unclosedInstruction;
    bool unclosedDeclaration;
    // xml:base in force at each level, resolved (a text of the list); null: none declared
    const char* bases[baseLevels];
    bool inChannel;
    bool inItem;
    int32_t ignoreDepth; // inside image, textInput or an entry's source: nothing there is kept

    FeedList* list; // the list being built
    FeedItem* header;
    bool headerTitled;
    StoredLink headerLink; // the channel's link, until the header entry exists

    // The item (or entry) being read.
    PendingText title;
    PendingText dcTitle;
    PendingText description; // description or summary
    PendingText content;     // content or content:encoded: shown when the description is blank
    PendingText date;
    PendingText guid;
    bool guidIsLink; // the guid is a permalink (no isPermaLink="false")
    StoredLink link;

    int32_t created;
    DescriptionSources* sources; // collects each item's description source; null: not wanted

    // The feed's own schedule.
    long ttl;
    long syPeriod; // minutes; 0: not given
    long syFrequency;
    bool syGiven;
};

// The base in force: the innermost declared one, else the document's address.
const char* baseAbove(const ParseState& state, int level) {
    for (int l = level; l >= 0; --l) {
        bool open = l == RootBase || (l == ChannelBase && state.inChannel) ||
                    (l == ItemBase && state.inItem);
        if (open && state.bases[l] != nullptr)
            return state.bases[l];
    }
    return state.documentBase;
}
inline const char* currentBase(const ParseState& state) {
    return baseAbove(state, ItemBase);
}

inline void clearBase(ParseState& state, int level) {
    state.bases[level] = nullptr;
}

// Takes the xml:base of a start tag (attributes from p to end) for level, resolved against the
// base above it. A relative xml:base with no base above it cannot name an address and is ignored.
void declareBase(ParseState& state, int level, const char* p, const char* end) {
    clearBase(state, level);
    if (p == end)
        return;
    AttributeValue declared = findAttribute(p, end, "xml:base");
    if (declared.text == nullptr)
        return;
    char* base = linkText(state.list, declared.text, declared.length, baseAbove(state, level - 1));
    if (base != nullptr && !hasScheme(base)) {
        dropText(state.list, base);
        base = nullptr;
    }
    state.bases[level] = base;
}

void clearItem(ParseState& state) {
    state.title.present = state.dcTitle.present = state.description.present = false;
    state.content.present = false;
    state.date.present = state.guid.present = false;
    state.link = StoredLink{nullptr};
}

// The header entry comes first: a feed without a title of its own still gets one (untitled), so
// that its first item is listed as an item.
bool ensureHeader(ParseState& state) {
    if (state.header != nullptr)
        return true;
    FeedItem* entry = appendEntry(state.list);
    if (entry == nullptr)
        return false;
    entry->entryIndex = state.created++;
    entry->link = state.headerLink;
    state.headerLink = StoredLink{nullptr};
    state.header = entry;
    return true;
}

// The title of an item that has none: its description's plain text, cut after a word to at most
// titleCharacters characters and then marked with an ellipsis. Null for no or empty text.
const size_t titleCharacters = 80;

// The bytes of text a title made from it keeps; ellipsis: it is cut, and marked with one.
size_t titleCut(const char* text, bool& ellipsis) {
    // Count characters by the bytes that start them, so a cut never splits a UTF-8 sequence.
    size_t characters = 0;
    size_t cut = 0;
    const char* p = text;
    for (; *p != '\0'; ++p) {
        if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) {
            if (characters == titleCharacters) {
                cut = static_cast<size_t>(p - text);
                break;
            }
            ++characters;
        }
    }
    ellipsis = *p != '\0';
    if (!ellipsis)
        return static_cast<size_t>(p - text);
    // A description's paragraph break ends a word as a blank does.
    if (text[cut] != ' ' && text[cut] != '\n') {
        size_t blank = cut;
        while (blank > 0 && text[blank] != ' ' && text[blank] != '\n')
            --blank;
        if (blank > 0)
            cut = blank; // else one word fills the whole length: it is cut inside
    }
    while (cut > 0 && (text[cut - 1] == ' ' || text[cut - 1] == '\n'))
        --cut;
    return cut;
}

const char ellipsisText[] = "\xE2\x80\xA6";

// Makes the paragraph breaks of a description's text blanks, for a title shown on one line.
void joinParagraphs(char* text, size_t length) {
    for (char* p = static_cast<char*>(std::memchr(text, '\n', length)); p != nullptr;
         p = static_cast<char*>(std::memchr(p + 1, '\n', length - (p + 1 - text))))
        *p = ' ';
}

// A title made from text (see titleCut) into out, which has room for the text and an ellipsis.
void writeTitleFromText(const char* text, size_t cut, bool ellipsis, char* out) {
    std::memcpy(out, text, cut);
    joinParagraphs(out, cut);
    if (ellipsis)
        std::memcpy(out + cut, ellipsisText, sizeof ellipsisText);
    else
        out[cut] = '\0';
}

char* titleFromText(FeedList* list, const char* text) {
    if (isEmptyText(text))
        return nullptr;
    bool ellipsis = false;
    size_t cut = titleCut(text, ellipsis);
    char* title = reserveListText(list, cut + (ellipsis ? sizeof ellipsisText - 1 : 0));
    if (title != nullptr)
        writeTitleFromText(text, cut, ellipsis, title);
    return title;
}

// Takes a pending title: null when absent or blank.
char* titleOf(FeedList* list, const PendingText& pending) {
    char* title = pendingText(list, pending);
    if (isEmptyText(title)) {
        dropText(list, title);
        return nullptr;
    }
    if (pending.form == HtmlForm)
        joinParagraphs(title, textLength(title)); // a title shows on one line
    return title;
}

// Takes a pending description or content: null when absent or white space only (a line break,
// "&nbsp;"), so that an item's content is shown in place of a blank description.
char* descriptionOf(FeedList* list, const PendingText& pending) {
    char* description = pendingText(list, pending);
    if (description != nullptr && description[0] == '\0') {
        dropListText(list, description, 1);
        return nullptr;
    }
    return description;
}

// The key that identifies an item across updates, as its hash: its guid as written, else its
// link, else its title. The guid's text is not kept: only its hash is.
uint64_t itemKey(ParseState& state, const FeedItem* entry) {
    if (state.guid.present) {
        // A guid written plainly is hashed where it stands, without its text going to the list.
        const ElementText& written = state.guid.value;
        uint64_t plain = written.asHtml ? 0 : plainKeyHashOf(written.text, written.length);
        if (plain != 0)
            return plain;
        char* guid = pendingText(state.list, state.guid);
        uint64_t key = guid != nullptr && !isEmptyText(guid) ? keyHashOf(guid) : 0;
        dropText(state.list, guid);
        if (key != 0)
            return key;
    }
    LinkText whole;
    const char* link = itemLink(entry, &whole);
    return keyHashOf(link != nullptr ? link : entry->title);
}

// Makes the entry of the item just read: its title, or else its dc:title, or else the start of its
// description, or else its link. An item with none of them is skipped.
void finishItem(ParseState& state) {
    if (!state.inItem)
        return;
    FeedList* list = state.list;
    StoredLink link = state.link;
    state.link = StoredLink{nullptr};
    if (link.bytes == nullptr && state.guid.present && state.guidIsLink)
        link = storeLink(
            list,
            linkText(list, state.guid.value.text, state.guid.value.length, currentBase(state)),
            true);
    state.inItem = false;
    state.ignoreDepth = 0;
    clearBase(state, ItemBase);

    const char* title = titleOf(list, state.title);
    int32_t titleLength = clippedLength(state.title.value.length);
    if (title == nullptr) {
        title = titleOf(list, state.dcTitle);
        titleLength = clippedLength(state.dcTitle.value.length);
    }
    const PendingText* described = &state.description;
    const char* description = descriptionOf(list, state.description);
    if (description == nullptr) {
        described = &state.content;
        description = descriptionOf(list, state.content);
    }
    if (title == nullptr) {
        title = titleFromText(list, description);
        LinkText whole;
        if (title == nullptr && link.bytes != nullptr)
            title = listText(list, linkOf(link, &whole), 0);
        titleLength = title != nullptr ? clippedLength(std::strlen(title)) : 0;
    }
    FeedItem* entry = nullptr;
    if (title != nullptr && ensureHeader(state))
        entry = appendEntry(list);
    if (entry == nullptr) {
        clearItem(state); // what was written for it stays unused in the list's storage
        return;
    }
    entry->entryIndex = state.created++;
    entry->title = title;
    entry->titleLength = titleLength;
    entry->link = link;
    entry->description = description;
    // A present but empty date stays present: a feed's empty date is not a missing one. A date in
    // a machine form, written plainly, is held as parts straight from the document.
    static const char empty[] = "";
    const ElementText& written = state.date.value;
    if (!state.date.present || written.asHtml ||
        !holdDateParts(entry, written.text, written.length)) {
        char* date = pendingText(list, state.date);
        if (date != nullptr && date[0] == '\0') {
            dropListText(list, date, 1);
            entry->date = storedDateText(empty);
        } else {
            keepItemDate(list, entry, date);
        }
    }
    entry->key = itemKey(state, entry);
    if (state.sources != nullptr) {
        const ElementText& source = described->value;
        collectDescriptionSource(state.sources, entry, description ? source.text : nullptr,
                                 source.length, source.asHtml ? RawHtml : EscapedHtml);
    }
    clearItem(state);
}

// Where the feed's own values go: read outside items and outside image, textInput and source.
inline bool atFeedLevel(const ParseState& state) {
    return !state.inItem && state.ignoreDepth == 0;
}
inline bool atItemLevel(const ParseState& state) {
    return state.inItem && state.ignoreDepth == 0;
}

void takeFeedTitle(ParseState& state, const PendingText& pending) {
    if (state.headerTitled)
        return;
    char* title = titleOf(state.list, pending);
    if (title == nullptr || !ensureHeader(state))
        return;
    state.header->title = title;
    state.header->titleLength = clippedLength(pending.value.length);
    state.headerTitled = true;
}

// A link element: its href (Atom) or its text (RSS). Only the first link of the feed or of an item
// counts, and of Atom's links only an alternate one.
char* examineLink(ParseState& state, char* m) {
    char* tagEnd = markupEnd(m + 4);
    bool wanted = atItemLevel(state)
                      ? state.link.bytes == nullptr
                      : atFeedLevel(state) && state.headerLink.bytes == nullptr &&
                            (state.header == nullptr || state.header->link.bytes == nullptr);
    // A link that cannot count is passed by its tag alone: an RSS link's text holds no markup, and
    // an Atom entry's other links (edit, replies, enclosure) need no look at their attributes.
    if (!wanted)
        return tagEnd;
    ElementText value{nullptr, 0, false, tagEnd};
    // rel, href and xml:base, read in one pass over the tag.
    static const char* const names[] = {"rel", "href", "xml:base"};
    AttributeValue attributes[3] = {{nullptr, 0}, {nullptr, 0}, {nullptr, 0}};
    if (tagEnd > m + 4) {
        findAttributes(m + 4, tagEnd, names, 3, attributes);
        if (!isAlternateRel(attributes[0]))
            return tagEnd;
    }
    const AttributeValue& href = attributes[1];
    if (href.text == nullptr)
        value = elementText(m, tagEnd, "link", 4, false);
    else if (*tagEnd == '>')
        value.next = tagEnd + 1;

    const char* text = href.text != nullptr ? href.text : value.text;
    size_t length = href.text != nullptr ? href.length : value.length;
    if (text == nullptr || length == 0)
        return value.next;
    const char* base = currentBase(state);
    // A link's own xml:base stays in the list's storage behind it (rare, and small).
    if (tagEnd > m + 4) {
        const AttributeValue& declared = attributes[2];
        if (declared.text != nullptr) {
            char* ownBase = linkText(state.list, declared.text, declared.length, base);
            if (ownBase != nullptr && hasScheme(ownBase))
                base = ownBase;
            else
                dropText(state.list, ownBase);
        }
    }
    char* link = linkText(state.list, text, length, base);
    if (link == nullptr)
        return value.next;
    if (state.inItem)
        state.link = storeLink(state.list, link, true);
    else if (state.header != nullptr)
        state.header->link = storeLink(state.list, link, false);
    else
        state.headerLink = storeLink(state.list, link, false);
    return value.next;
}

// A title: the item's (the first counts) or the feed's. Atom's html and xhtml titles are made
// plain text; others keep their text as written, references decoded.
char* examineTitle(ParseState& state, char* m) {
    char* tagEnd = markupEnd(m + 5);
    AtomTextType type = tagEnd > m + 5 ? atomTextType(m + 5, tagEnd) : AtomText;
    ElementText value =
        elementText(m, tagEnd, "title", 5, type == AtomXhtml ? HtmlMarkup : DroppedMarkup);
    PendingText pending{false, 0, type == AtomText ? TitleForm : HtmlForm, value};
    pending.present = value.text != nullptr;
    if (atItemLevel(state))
        offerPending(state.title, value, 1, pending.form, false);
    else if (atFeedLevel(state) && pending.present)
        takeFeedTitle(state, pending);
    return value.next;
}

// A description, summary or content: read whole (raw markup included) wherever it stands; an item
// keeps the last description or summary (priority 2) and the last content (priority 1).
char* examineDescription(ParseState& state, char* m, const char* name, size_t nameLength,
                         int priority) {
    char* tagEnd = markupEnd(m + nameLength);
    ElementText value = elementText(m, tagEnd, name, nameLength, true);
    if (atItemLevel(state))
        offerPending(priority == 2 ? state.description : state.content, value, priority, HtmlForm,
                     true);
    return value.next;
}

// A date of an item: pubDate, dc:date and Atom's updated rank above published; the first of a
// rank counts.
char* examineDate(ParseState& state, char* m, const char* name, size_t nameLength, int priority) {
    if (!atItemLevel(state) || (state.date.present && state.date.priority >= priority))
        return m;
    char* tagEnd = markupEnd(m + nameLength);
    ElementText value = elementText(m, tagEnd, name, nameLength, false);
    offerPending(state.date, value, priority, DecodedForm, false);
    return value.next;
}

// A whole number written in the text (blanks around it allowed); -1 when there is none. Large
// values stop growing at a bound far beyond any schedule.
long countIn(const ElementText& value) {
    if (value.text == nullptr)
        return -1;
    const char* p = value.text;
    const char* end = p + value.length;
    while (p < end && isBlank(*p))
        ++p;
    if (p < end && *p == '+')
        ++p;
    if (p == end || *p < '0' || *p > '9')
        return -1;
    long n = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        n = n < 100000000 ? n * 10 + (*p - '0') : n;
    return n;
}

// The schedule elements of the channel: ttl, sy:updatePeriod and sy:updateFrequency.
char* examineSchedule(ParseState& state, char* m, const char* name, size_t nameLength, int which) {
    if (state.inItem)
        return m;
    char* tagEnd = markupEnd(m + nameLength);
    ElementText value = elementText(m, tagEnd, name, nameLength, false);
    if (which == 0) {
        long n = countIn(value);
        if (n > 0 && state.ttl <= 0)
            state.ttl = n;
    } else if (which == 1) {
        static const struct {
            const char* word;
            long minutes;
        } periods[] = {{"hourly", 60},
                       {"daily", 1440},
                       {"weekly", 10080},
                       {"monthly", 43200},
                       {"yearly", 525600}};
        state.syGiven = true;
        AttributeValue text{value.text, value.length};
        for (const auto& period : periods)
            if (attributeIs(text, period.word))
                state.syPeriod = period.minutes;
    } else {
        state.syGiven = true;
        long n = countIn(value);
        if (n > 0)
            state.syFrequency = n;
    }
    return value.next;
}

// Enters an element whose contents belong to something else (image, textInput, an entry's
// source); an empty one (RSS 1.0's <image rdf:resource="..."/>) holds nothing.
char* enterIgnored(ParseState& state, char* afterName) {
    char* tagEnd = markupEnd(afterName);
    if (*tagEnd == '>' && tagEnd[-1] != '/')
        ++state.ignoreDepth;
    return tagEnd;
}
inline char* leaveIgnored(ParseState& state, char* afterName) {
    if (state.ignoreDepth > 0)
        --state.ignoreDepth;
    return afterName;
}

char* startItem(ParseState& state, char* afterName) {
    char* tagEnd = markupEnd(afterName);
    if (*tagEnd == '>' && tagEnd[-1] == '/')
        return tagEnd; // an empty item holds nothing
    finishItem(state); // an item left open ends where the next begins
    state.inItem = true;
    state.ignoreDepth = 0;
    clearItem(state);
    if (tagEnd != afterName)
        declareBase(state, ItemBase, afterName, tagEnd); // finishItem left none in force
    return tagEnd;
}

char* startLevel(ParseState& state, int level, char* afterName) {
    char* tagEnd = markupEnd(afterName);
    if (level == ChannelBase)
        state.inChannel = true;
    declareBase(state, level, afterName, tagEnd);
    return tagEnd;
}

// The name after a prefix bound to the Atom or RSS 1.0 namespace, or name itself.
char* afterBoundPrefix(const ParseState& state, char* name) {
    for (int i = 0; i < state.prefixCount; ++i) {
        size_t n = state.prefixLengths[i];
        size_t k = 0;
        while (k < n && name[k] == state.prefixes[i][k]) // stops at the document's end
            ++k;
        if (k == n && name[n] == ':')
            return name + n + 1;
    }
    return name;
}

// Takes the prefixes that the start tag whose attributes run from p to end binds to the Atom
// (1.0, or the older 0.3) or RSS 1.0 (or 0.90) namespace.
void bindPrefixes(ParseState& state, const char* p, const char* end) {
    static const char* const namespaces[] = {"http://www.w3.org/2005/Atom",
                                             "http://purl.org/atom/ns#", "http://purl.org/rss/1.0/",
                                             "http://my.netscape.com/rdf/simple/0.9/"};
    for (; p + 6 < end && state.prefixCount < boundPrefixes; ++p) {
        if (!matchNoCase(p, "xmlns:", 6) || !isBlank(p[-1]))
            continue;
        const char* name = p + 6;
        const char* q = name;
        while (q < end && *q != '=' && !isBlank(*q))
            ++q;
        size_t length = static_cast<size_t>(q - name);
        const char* v = q;
        while (v < end && (isBlank(*v) || *v == '='))
            ++v;
        if (v == end || (*v != '"' && *v != '\''))
            continue;
        char quote = *v++;
        const char* valueEnd = v;
        while (valueEnd < end && *valueEnd != quote)
            ++valueEnd;
        bool known = false;
        for (const char* uri : namespaces)
            known = known || (std::strlen(uri) == static_cast<size_t>(valueEnd - v) &&
                              std::memcmp(uri, v, static_cast<size_t>(valueEnd - v)) == 0);
        if (known && length != 0 && length < longestPrefix) {
            std::memcpy(state.prefixes[state.prefixCount], name, length);
            state.prefixLengths[state.prefixCount++] = length;
        }
        p = valueEnd;
    }
}

// After a processing instruction ("<?xml-stylesheet href='x?a=<item>'?>") that starts at m (after
// its '<'): past its "?>"; markup inside it is not the feed's. Without an end: m, as any tag.
char* skipInstruction(ParseState& state, char* m) {
    for (char* p = m + 1; !state.unclosedInstruction;) {
        p = findByte(p, '>');
        if (*p == '\0')
            state.unclosedInstruction = true;
        else if (p[-1] == '?')
            return p + 1;
        else
            ++p;
    }
    return m;
}

// After a declaration that starts at m (after its '<'): a DOCTYPE's internal subset, whose entity
// values may hold markup, is passed over whole up to its "]>" (quoted values and comments
// skipped); any other declaration ends at its '>'.
char* skipDeclaration(ParseState& state, char* m) {
    if (state.unclosedDeclaration)
        return m;
    char* p = m;
    while (*p != '\0' && *p != '>' && *p != '[') {
        if (*p == '"' || *p == '\'') { // an identifier in quotes may hold '[' or '>'
            char* close = findByte(p + 1, *p);
            if (*close == '\0') {
                state.unclosedDeclaration = true;
                return m;
            }
            p = close;
        }
        ++p;
    }
    if (*p != '[')
        return *p == '>' ? p + 1 : p;
    for (++p; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\'') {
            char* close = findByte(p + 1, *p);
            if (*close == '\0')
                break;
            p = close;
        } else if (p[0] == '<' && p[1] == '!' && p[2] == '-' && p[3] == '-') {
            char* close = findCommentClose(p + 4);
            if (*close == '\0')
                break;
            p = close + 2;
        } else if (*p == ']') {
            char* q = p + 1;
            while (isBlank(*q))
                ++q;
            if (*q == '>')
                return q + 1;
        }
    }
    state.unclosedDeclaration = true;
    return m;
}

char* examineClosingTag(ParseState& state, char* m) {
    char* name = afterBoundPrefix(state, m + 1);
    switch (lowerAscii(*name)) {
    case 'i':
        if (isName(name, "item", 4)) {
            finishItem(state);
            return name + 4;
        }
        if (isName(name, "image", 5))
            return leaveIgnored(state, name + 5);
        break;
    case 'e':
        if (isName(name, "entry", 5)) {
            finishItem(state);
            return name + 5;
        }
        break;
    case 't':
        if (isName(name, "textinput", 9))
            return leaveIgnored(state, name + 9);
        break;
    case 's':
        if (isName(name, "source", 6))
            return leaveIgnored(state, name + 6);
        break;
    case 'c':
        if (isName(name, "channel", 7)) {
            state.inChannel = false;
            clearBase(state, ChannelBase);
            return name + 7;
        }
        break;
    default:
        break;
    }
    return m;
}

// Whether a guid whose tag's attributes run from p to end is a permalink: unless isPermaLink says
// "false". The attribute as nearly every feed writes it, alone in the tag, is read in one step.
bool guidIsPermalink(const char* p, const char* end) {
    static const char written[] = " isPermaLink=\"";
    const size_t n = sizeof written - 1;
    size_t length = static_cast<size_t>(end - p);
    if (length == n + 6 && std::memcmp(p, written, n) == 0 && std::memcmp(p + n, "false\"", 6) == 0)
        return false;
    if (length == n + 5 && std::memcmp(p, written, n) == 0 && std::memcmp(p + n, "true\"", 5) == 0)
        return true;
    return !attributeIs(findAttribute(p, end, "ispermalink"), "false");
}

// Looks at the markup that starts at m (right after its '<') and returns where the scan for the
// next '<' goes on.
char* examineMarkup(ParseState& state, char* m) {
    if (state.prefixCount != 0 && *m != '/')
        m = afterBoundPrefix(state, m);
    switch (lowerAscii(*m)) {
    case 'i':
        if (isName(m, "item", 4))
            return startItem(state, m + 4);
        if (isName(m, "image", 5))
            return enterIgnored(state, m + 5);
        break;
    case 'e':
        if (isName(m, "entry", 5))
            return startItem(state, m + 5);
        break;
    case '/':
        return examineClosingTag(state, m);
    case 'l':
        if (isName(m, "link", 4))
            return examineLink(state, m);
        break;
    case 'g':
        if (isName(m, "guid", 4)) {
            char* tagEnd = markupEnd(m + 4);
            // Every item's guid is its key; only a permalink one can stand in for its link.
            if (!atItemLevel(state) || state.guid.present)
                return tagEnd;
            state.guidIsLink = guidIsPermalink(m + 4, tagEnd);
            ElementText value = elementText(m, tagEnd, "guid", 4, false);
            offerPending(state.guid, value, 1, DecodedForm, false);
            return value.next;
        }
        break;
    case 't':
        if (isName(m, "title", 5))
            return examineTitle(state, m);
        if (isName(m, "ttl", 3))
            return examineSchedule(state, m, "ttl", 3, 0);
        if (isName(m, "textinput", 9))
            return enterIgnored(state, m + 9);
        break;
    case 'd':
        if (isName(m, "description", 11))
            return examineDescription(state, m, "description", 11, 2);
        if (isName(m, "dc:date", 7))
            return examineDate(state, m, "dc:date", 7, 2);
        if (isName(m, "dc:title", 8)) {
            if (!atItemLevel(state) || state.dcTitle.present)
                return m;
            ElementText value = elementText(m, markupEnd(m + 8), "dc:title", 8, DroppedMarkup);
            offerPending(state.dcTitle, value, 1, TitleForm, false);
            return value.next;
        }
        break;
    case 's':
        if (isName(m, "summary", 7))
            return examineDescription(state, m, "summary", 7, 2);
        if (isName(m, "source", 6))
            return enterIgnored(state, m + 6);
        if (isName(m, "sy:updateperiod", 15))
            return examineSchedule(state, m, "sy:updateperiod", 15, 1);
        if (isName(m, "sy:updatefrequency", 18))
            return examineSchedule(state, m, "sy:updatefrequency", 18, 2);
        break;
    case 'c':
        if (isName(m, "content", 7))
            return examineDescription(state, m, "content", 7, 1);
        if (isName(m, "content:encoded", 15))
            return examineDescription(state, m, "content:encoded", 15, 1);
        if (isName(m, "channel", 7))
            return startLevel(state, ChannelBase, m + 7);
        break;
    case 'p':
        if (isName(m, "pubdate", 7))
            return examineDate(state, m, "pubdate", 7, 2);
        if (isName(m, "published", 9))
            return examineDate(state, m, "published", 9, 1);
        break;
    case 'u':
        if (isName(m, "updated", 7))
            return examineDate(state, m, "updated", 7, 2);
        break;
    case 'r':
        if (isName(m, "rss", 3))
            return startLevel(state, RootBase, m + 3);
        if (isName(m, "rdf:rdf", 7))
            return startLevel(state, RootBase, m + 7);
        break;
    case 'f':
        if (isName(m, "feed", 4))
            return startLevel(state, RootBase, m + 4);
        break;
    case '!':
        // CDATA sections and comments are whole: markup inside them is not the feed's.
        if (matchNoCase(m, "![cdata[", 8))
            return afterClose(findCdataClose(m + 8), 3);
        if (matchNoCase(m, "!--", 3))
            return afterClose(findCommentClose(m + 3), 3);
        if (matchNoCase(m, "!doctype", 8))
            return skipDeclaration(state, m + 8);
        break;
    case '?':
        return skipInstruction(state, m);
    default:
        break;
    }
    return m;
}

// Reads the prefixes that the document's first element (its root, after any declaration,
// processing instruction or comment) binds to the Atom or RSS 1.0 namespace.
void findRootPrefixes(ParseState& state, char* p) {
    for (int pieces = 0; pieces < 64; ++pieces) {
        char* lt = findByte(p, '<');
        if (*lt == '\0')
            return;
        char* m = lt + 1;
        if (*m == '?') {
            p = skipInstruction(state, m);
        } else if (*m == '!') {
            p = matchNoCase(m, "!--", 3)        ? afterClose(findCommentClose(m + 3), 3)
                : matchNoCase(m, "!doctype", 8) ? skipDeclaration(state, m + 8)
                                                : m;
        } else {
            bindPrefixes(state, m, markupEnd(m));
            return;
        }
        if (p == m)
            return;
    }
}

// Where the document proper starts: a saved HTTP response's status line and headers hold no feed
// markup (a Link header even holds '<'), so its body starts after the first empty line. A bare
// document (the update pass hands over the body) starts at its first byte.
char* documentStart(char* document) {
    if (!matchNoCase(document, "http/", 5))
        return document;
    char* p = document;
    for (;;) {
        char* lineEnd = findByte(p, '\n');
        if (*lineEnd == '\0')
            return lineEnd;
        p = lineEnd + 1;
        if (*p == '\n')
            return p + 1;
        if (p[0] == '\r' && p[1] == '\n')
            return p + 2;
    }
}

// The schedule the feed states, in minutes: its ttl, else the syndication period over its
// frequency (daily and once by default); at most a day, so a feed cannot silence itself.
int32_t scheduleMinutes(const ParseState& state) {
    const long longest = 1440;
    long minutes = 0;
    if (state.ttl > 0) {
        minutes = state.ttl;
    } else if (state.syGiven) {
        long period = state.syPeriod > 0 ? state.syPeriod : 1440;
        long frequency = state.syFrequency > 0 ? state.syFrequency : 1;
        minutes = period / frequency;
        if (minutes < 1)
            minutes = 1;
    }
    return static_cast<int32_t>(minutes > longest ? longest : minutes);
}

} // namespace

char* titleFromDescription(const char* text) {
    if (isEmptyText(text))
        return nullptr;
    bool ellipsis = false;
    size_t cut = titleCut(text, ellipsis);
    char* title = static_cast<char*>(std::malloc(cut + sizeof ellipsisText));
    if (title != nullptr)
        writeTitleFromText(text, cut, ellipsis, title);
    return title;
}

FeedList* parseFeed(char* document, const char* baseUrl, DescriptionSources* sources) {
    // The texts are the document less its markup: half its size is a fair first guess for the
    // list's size hint. Only the document's first stretch is measured: the list's blocks stop
    // growing at a size such a stretch already asks for, and measuring all of a 10 MB document
    // would read it once more before the parse does.
    const size_t measured = 512 * 1024;
    size_t length = document != nullptr ? lengthUpTo(document, measured) : 0;
    FeedList* list = newFeedList(length / 2);
    if (list == nullptr || document == nullptr)
        return list;
    ParseState state{};
    state.list = list;
    state.sources = sources;
    state.documentBase = baseUrl != nullptr && *baseUrl != '\0' ? baseUrl : nullptr;

    // Only markup, the text after a '<', is examined; text between '>' and '<' is never taken for a
    // tag. A keyword's own text is read by examineMarkup.
    char* p = documentStart(document);
    findRootPrefixes(state, p);
    // The document is read front to back, but in pieces of very different lengths (a tag, then a
    // description of a kilobyte) that the processor's own look-ahead follows badly: each cache
    // line is asked for a little ahead of the scan, once.
    const size_t fetchAhead = 2048;
    const char* fetched = p;
    for (;;) {
        char* lt = findByte(p, '<');
        for (; fetched < lt + fetchAhead; fetched += 64)
            __builtin_prefetch(fetched);
        char* m = lt + 1;
        if (*lt == '\0' || *m == '\0')
            break;
        if (*m == '<') {
            p = m;
            continue;
        }
        p = examineMarkup(state, m);
    }

    finishItem(state); // a document cut off inside an item still shows it
    list->ttlMinutes = scheduleMinutes(state);
    trimFeedList(list);
    return list;
}
