// Formats a description in one forward pass over its HTML: text between tags is decoded by the
// same rules as the plain descriptions (titleToText), tags move a little state (style counters,
// a bounded stack of lists, quotation and heading depth) and close the block in progress. Every
// tag and every byte of text is looked at a bounded number of times, and the output lives in
// one allocation whose size does not depend on the input, so a hostile description (a million
// unclosed tags, ten thousand nested lists, megabytes of blanks) costs linear time and fixed
// memory besides one scratch copy of the source.
#include "content/formatted_description.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "content/text_decoding.h"

namespace {

// Room for every character at four bytes and the closing "…".
const size_t textCapacity = static_cast<size_t>(formattedCharacterLimit) * 4 + 16;
// Every run holds at least one character.
const int runCapacity = formattedCharacterLimit + 8;
const size_t linkCapacity = 16 * 1024;
const size_t linkLengthLimit = 2048;
const int linkDepthLimit = 8;
const char ellipsis[] = "\xe2\x80\xa6";
const char bullet[] = "\xe2\x80\xa2";

struct ListLevel {
    bool ordered;
    long counter; // the number the next item of an ordered list shows
};

struct Builder {
    FormattedDescription* doc;
    char* text;
    size_t textLength;
    int characters;
    char* links;
    size_t linksLength;
    char* scratch; // a decoding copy of a fragment, sized for the whole source

    int bold, italic, underline, code;
    const char* linkStack[linkDepthLimit];
    int linkDepth, linkOverflow;
    ListLevel lists[formattedLevelLimit];
    int listDepth, listOverflow;
    int quoteDepth, pre, heading;
    bool preStart; // nothing read yet inside the innermost pre: a first line break goes
    char pendingMarker[16];
    bool blockOpen;
    bool full; // a limit was reached: nothing more is read
};

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
inline bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
inline bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline int least(int a, int b) {
    return a < b ? a : b;
}

FormattedBlock* currentBlock(Builder& b) {
    return b.doc->blockCount > 0 ? &b.doc->blocks[b.doc->blockCount - 1] : nullptr;
}

// The last byte written into the open block, or 0 when it has none.
char lastByte(const Builder& b) {
    if (!b.blockOpen || b.doc->blockCount == 0 ||
        b.doc->blocks[b.doc->blockCount - 1].runCount == 0)
        return 0;
    return b.text[b.textLength - 1];
}

// Removes the open block's trailing blanks (when dropBlanks) and line breaks (when dropBreaks),
// and runs left empty.
void trimBlock(Builder& b, bool dropBlanks, bool dropBreaks = true) {
    FormattedBlock* block = currentBlock(b);
    if (!b.blockOpen || block == nullptr)
        return;
    while (block->runCount > 0) {
        FormattedRun& run = b.doc->runs[b.doc->runCount - 1];
        char c = run.text[run.length - 1];
        if (!(dropBreaks && c == '\n') && !(dropBlanks && c == ' '))
            break;
        --run.length;
        --b.textLength;
        --b.characters;
        if (run.length == 0) {
            --b.doc->runCount;
            --block->runCount;
        }
    }
}

// The source held more than is shown: "…" ends the last run and reading stops.
void cut(Builder& b) {
    if (b.full)
        return;
    b.full = true;
    b.doc->cut = true;
    if (b.doc->runCount == 0)
        return;
    FormattedRun& run = b.doc->runs[b.doc->runCount - 1];
    if (run.text + run.length != b.text + b.textLength)
        return;
    while (run.length > 1 &&
           (run.text[run.length - 1] == ' ' || run.text[run.length - 1] == '\n')) {
        --run.length; // the mark follows the last word
        --b.textLength;
    }
    memcpy(b.text + b.textLength, ellipsis, 3);
    b.textLength += 3;
    run.length += 3;
}

void closeBlock(Builder& b) {
    if (!b.blockOpen)
        return;
    trimBlock(b, b.pre == 0);
    FormattedBlock* block = currentBlock(b);
    if (block != nullptr && block->runCount == 0)
        --b.doc->blockCount; // nothing visible was written
    b.blockOpen = false;
}

bool openBlock(Builder& b) {
    if (b.blockOpen)
        return true;
    if (b.doc->blockCount == formattedBlockLimit) {
        cut(b);
        return false;
    }
    FormattedBlock& block = b.doc->blocks[b.doc->blockCount++];
    memset(&block, 0, sizeof block);
    int lists = least(b.listDepth + b.listOverflow, formattedLevelLimit);
    int quotes = least(b.quoteDepth, formattedLevelLimit);
    block.level = 1;
    if (b.pre > 0) {
        block.kind = PreformattedBlock;
        block.level = static_cast<uint8_t>(quotes > 0 ? quotes : 1);
    } else if (b.heading > 0) {
        block.kind = HeadingBlock;
        block.level = static_cast<uint8_t>(b.heading);
    } else if (lists > 0) {
        block.kind = ListItemBlock;
        block.level = static_cast<uint8_t>(lists);
        memcpy(block.marker, b.pendingMarker, sizeof block.marker);
        b.pendingMarker[0] = '\0'; // the item's later blocks carry no marker
    } else if (quotes > 0) {
        block.kind = QuoteBlock;
        block.level = static_cast<uint8_t>(quotes);
    }
    block.indent = static_cast<uint8_t>(least(lists + quotes, formattedLevelLimit));
    block.firstRun = b.doc->runCount;
    b.blockOpen = true;
    return true;
}

uint8_t currentStyle(const Builder& b) {
    return static_cast<uint8_t>(
        (b.bold > 0 ? BoldStyle : 0) | (b.italic > 0 ? ItalicStyle : 0) |
        (b.underline > 0 || b.linkDepth + b.linkOverflow > 0 ? UnderlineStyle : 0) |
        (b.code > 0 ? CodeStyle : 0));
}

const char* currentLink(const Builder& b) {
    return b.linkDepth > 0 ? b.linkStack[b.linkDepth - 1] : nullptr;
}

// Appends bytes to the open block in the current style; false once a limit stops the reading.
bool put(Builder& b, const char* bytes, size_t n) {
    if (b.full || !openBlock(b))
        return false;
    FormattedBlock* block = currentBlock(b);
    uint8_t style = currentStyle(b);
    const char* link = currentLink(b);
    FormattedRun* run = block->runCount > 0 ? &b.doc->runs[b.doc->runCount - 1] : nullptr;
    if (run == nullptr || run->style != style || run->link != link) {
        if (b.doc->runCount == runCapacity) {
            cut(b);
            return false;
        }
        run = &b.doc->runs[b.doc->runCount++];
        run->text = b.text + b.textLength;
        run->length = 0;
        run->style = style;
        run->link = link;
        ++block->runCount;
    }
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0)
            continue; // zero bytes would end the text for every reader of it
        if ((c & 0xC0) != 0x80) {
            // A blank at the limit is dropped: only text beyond it makes the document cut.
            if (c == ' ' && b.characters == formattedCharacterLimit)
                continue;
            if (b.characters == formattedCharacterLimit || b.textLength + 8 > textCapacity) {
                cut(b);
                return false;
            }
            ++b.characters;
        } else if (b.textLength + 8 > textCapacity) {
            cut(b);
            return false;
        }
        b.text[b.textLength++] = static_cast<char>(c);
        ++run->length;
    }
    if (run->length == 0) { // nothing fitted
        --b.doc->runCount;
        --block->runCount;
    }
    return true;
}

// Appends decoded text whose white space is single blanks, folding a blank away at a block's start
// and after another blank or a line break.
bool appendText(Builder& b, const char* text, size_t n) {
    size_t i = 0;
    while (i < n && !b.full) {
        if (text[i] == ' ') {
            char last = lastByte(b);
            if (b.blockOpen && last != 0 && last != ' ' && last != '\n' && !put(b, " ", 1))
                return false;
            ++i;
            continue;
        }
        size_t end = i;
        while (end < n && text[end] != ' ')
            ++end;
        if (!put(b, text + i, end - i))
            return false;
        i = end;
    }
    return !b.full;
}

// The references of a fragment decoded and its white space folded, blanks at its ends kept (the
// fragment is decoded between two '|' that keep them from being trimmed). The result lives in the
// scratch copy until the next call.
size_t decodeFragment(Builder& b, const char* fragment, size_t n, const char** result) {
    b.scratch[0] = '|';
    memcpy(b.scratch + 1, fragment, n);
    b.scratch[n + 1] = '|';
    size_t length = titleToText(b.scratch, n + 2, b.scratch);
    *result = b.scratch + 1;
    return length >= 2 ? length - 2 : 0;
}

// The same without the ends: references decoded, blanks folded and trimmed (attribute values).
size_t decodeValue(Builder& b, const char* value, size_t n, const char** result) {
    memcpy(b.scratch, value, n);
    *result = b.scratch;
    return titleToText(b.scratch, n, b.scratch);
}

void handleText(Builder& b, const char* text, size_t n) {
    if (b.pre == 0) {
        const char* decoded;
        size_t length = decodeFragment(b, text, n, &decoded);
        appendText(b, decoded, length);
        return;
    }
    // Preformatted: white space as written (without carriage returns), references decoded in
    // the words between.
    size_t i = 0;
    if (b.preStart && n > 0) {
        b.preStart = false;
        if (text[0] == '\r')
            ++i;
        if (i < n && text[i] == '\n')
            ++i;
    }
    while (i < n && !b.full) {
        size_t end = i;
        if (isSpace(text[i])) {
            while (end < n && isSpace(text[end]))
                ++end;
            for (size_t k = i; k < end && !b.full; ++k)
                if (text[k] != '\r')
                    put(b, text + k, 1);
        } else {
            while (end < n && !isSpace(text[end]))
                ++end;
            const char* decoded;
            size_t length = decodeFragment(b, text + i, end - i, &decoded);
            put(b, decoded, length);
        }
        i = end;
    }
}

// What the formatter makes of each element it knows, by name (sorted, for a binary search).
enum ElementFlags : uint8_t {
    BlockElement = 1,  // ends the block in progress where it starts and ends
    InlineElement = 2, // acts inside a block: styles, links, line breaks, images, cells
    HiddenElement = 4, // dropped with its contents
};

struct KnownElement {
    const char* name;
    uint8_t flags;
};

const KnownElement knownElements[] = {
    {"a", InlineElement},         {"address", BlockElement},   {"article", BlockElement},
    {"aside", BlockElement},      {"b", InlineElement},        {"blockquote", BlockElement},
    {"body", BlockElement},       {"br", InlineElement},       {"caption", BlockElement},
    {"center", BlockElement},     {"cite", InlineElement},     {"code", InlineElement},
    {"dd", BlockElement},         {"details", BlockElement},   {"div", BlockElement},
    {"dl", BlockElement},         {"dt", BlockElement},        {"em", InlineElement},
    {"figcaption", BlockElement}, {"figure", BlockElement},    {"footer", BlockElement},
    {"form", HiddenElement},      {"h1", BlockElement},        {"h2", BlockElement},
    {"h3", BlockElement},         {"h4", BlockElement},        {"h5", BlockElement},
    {"h6", BlockElement},         {"header", BlockElement},    {"hr", BlockElement},
    {"html", BlockElement},       {"i", InlineElement},        {"iframe", HiddenElement},
    {"img", InlineElement},       {"ins", InlineElement},      {"kbd", InlineElement},
    {"li", BlockElement},         {"main", BlockElement},      {"nav", BlockElement},
    {"noscript", HiddenElement},  {"ol", BlockElement},        {"p", BlockElement},
    {"pre", BlockElement},        {"samp", InlineElement},     {"script", HiddenElement},
    {"section", BlockElement},    {"select", HiddenElement},   {"strong", InlineElement},
    {"style", HiddenElement},     {"summary", BlockElement},   {"table", BlockElement},
    {"td", InlineElement},        {"template", HiddenElement}, {"textarea", HiddenElement},
    {"th", InlineElement},        {"tr", BlockElement},        {"tt", InlineElement},
    {"u", InlineElement},         {"ul", BlockElement},        {"var", InlineElement},
};

// The flags of the element named name (lower case); 0 for one the formatter ignores.
uint8_t elementFlags(const char* name) {
    size_t low = 0, high = sizeof knownElements / sizeof knownElements[0];
    while (low < high) {
        size_t middle = (low + high) / 2;
        int order = strcmp(name, knownElements[middle].name);
        if (order == 0)
            return knownElements[middle].flags;
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return 0;
}

struct Tag {
    char name[12];
    uint8_t flags; // ElementFlags of the name
    bool closing;
    bool selfClosing;
    const char* href;
    size_t hrefLength;
    const char* alt;
    size_t altLength;
    const char* start;
    size_t startLength;
};

bool isTag(const Tag& tag, const char* name) {
    return strcmp(tag.name, name) == 0;
}

// Where the element's own name starts in the tag name at w[j], past a namespace prefix: XHTML
// written with one ("<xhtml:p>", as Atom's xhtml content may be) is the same HTML.
size_t pastPrefix(const char* w, size_t n, size_t j) {
    size_t k = j;
    while (k < n && (isAlnum(w[k]) || w[k] == '-' || w[k] == '_' || w[k] == '.'))
        ++k;
    return k != j && k < n && w[k] == ':' ? k + 1 : j;
}

// Reads the tag whose '<' is at w[i]; returns where the text after it starts.
size_t readTag(const char* w, size_t n, size_t i, Tag& tag) {
    memset(&tag, 0, sizeof tag);
    size_t j = i + 1;
    if (j < n && w[j] == '/') {
        tag.closing = true;
        ++j;
    }
    j = pastPrefix(w, n, j);
    size_t nameLength = 0;
    while (j < n && isAlnum(w[j])) {
        if (nameLength < sizeof tag.name - 1)
            tag.name[nameLength] = lower(w[j]);
        ++nameLength;
        ++j;
    }
    if (nameLength >= sizeof tag.name)
        tag.name[0] = '\0'; // no element this unit knows has so long a name
    tag.flags = elementFlags(tag.name);
    for (;;) {
        while (j < n && (isSpace(w[j]) || w[j] == '/'))
            ++j;
        if (j >= n)
            return n;
        if (w[j] == '>') {
            tag.selfClosing = w[j - 1] == '/';
            return j + 1;
        }
        size_t nameStart = j;
        while (j < n && !isSpace(w[j]) && w[j] != '>' && w[j] != '=' && w[j] != '/')
            ++j;
        if (j == nameStart) { // a stray '='
            ++j;
            continue;
        }
        size_t attributeLength = j - nameStart;
        while (j < n && isSpace(w[j]))
            ++j;
        const char* value = nullptr;
        size_t valueLength = 0;
        if (j < n && w[j] == '=') {
            ++j;
            while (j < n && isSpace(w[j]))
                ++j;
            if (j < n && (w[j] == '"' || w[j] == '\'')) {
                const char* close = static_cast<const char*>(memchr(w + j + 1, w[j], n - j - 1));
                value = w + j + 1;
                valueLength = (close != nullptr ? close : w + n) - value;
                j = close != nullptr ? static_cast<size_t>(close - w) + 1 : n;
            } else {
                value = w + j;
                while (j < n && !isSpace(w[j]) && w[j] != '>')
                    ++j;
                valueLength = static_cast<size_t>(w + j - value);
            }
        }
        const char* attribute = w + nameStart;
        auto named = [&](const char* wanted) {
            size_t k = 0;
            while (k < attributeLength && wanted[k] != '\0' && lower(attribute[k]) == wanted[k])
                ++k;
            return k == attributeLength && wanted[k] == '\0';
        };
        if (value == nullptr)
            continue;
        if (named("href")) {
            tag.href = value;
            tag.hrefLength = valueLength;
        } else if (named("alt")) {
            tag.alt = value;
            tag.altLength = valueLength;
        } else if (named("start")) {
            tag.start = value;
            tag.startLength = valueLength;
        }
    }
}

// Where the text after the element skipped whole (script, form, ...) starts: past its closing tag,
// or the end when it has none.
size_t skipElement(const char* w, size_t n, size_t from, const char* name) {
    size_t nameLength = strlen(name);
    size_t i = from;
    while (i < n) {
        const char* lt = static_cast<const char*>(memchr(w + i, '<', n - i));
        if (lt == nullptr)
            return n;
        size_t at = static_cast<size_t>(lt - w);
        size_t local = at + 1 < n && w[at + 1] == '/' ? pastPrefix(w, n, at + 2) : n;
        if (local + nameLength <= n) {
            size_t k = 0;
            while (k < nameLength && lower(w[local + k]) == name[k])
                ++k;
            if (k == nameLength && (local + k == n || !isAlnum(w[local + k]))) {
                const char* gt = static_cast<const char*>(memchr(w + at, '>', n - at));
                return gt != nullptr ? static_cast<size_t>(gt - w) + 1 : n;
            }
        }
        i = at + 1;
    }
    return n;
}

bool isHiddenElement(const Tag& tag) {
    return (tag.flags & HiddenElement) != 0;
}
bool isBlockElement(const Tag& tag) {
    return (tag.flags & BlockElement) != 0;
}

void count(int& depth, bool opening) {
    if (opening)
        ++depth;
    else if (depth > 0)
        --depth;
}

void keepLink(Builder& b, const Tag& tag) {
    const char* link = nullptr;
    if (tag.href != nullptr) {
        const char* decoded;
        size_t length = decodeValue(b, tag.href, tag.hrefLength, &decoded);
        length = strnlen(decoded, length); // a zero byte ends the address
        if (length > 0 && length <= linkLengthLimit && b.linksLength + length + 1 <= linkCapacity) {
            char* kept = b.links + b.linksLength;
            memcpy(kept, decoded, length);
            kept[length] = '\0';
            b.linksLength += length + 1;
            link = kept;
        }
    }
    if (b.linkDepth < linkDepthLimit)
        b.linkStack[b.linkDepth++] = link;
    else
        ++b.linkOverflow;
}

void dropLink(Builder& b) {
    if (b.linkOverflow > 0)
        --b.linkOverflow;
    else if (b.linkDepth > 0)
        --b.linkDepth;
}

void openList(Builder& b, const Tag& tag) {
    ListLevel level = {tag.name[0] == 'o', 1};
    if (tag.start != nullptr) {
        size_t k = 0;
        while (k < tag.startLength && isSpace(tag.start[k]))
            ++k;
        bool negative = k < tag.startLength && tag.start[k] == '-';
        k += negative ? 1 : 0;
        long value = 0;
        bool digits = false;
        for (; k < tag.startLength && tag.start[k] >= '0' && tag.start[k] <= '9'; ++k) {
            digits = true;
            if (value < 100000000L)
                value = value * 10 + (tag.start[k] - '0');
        }
        if (digits)
            level.counter = negative ? -value : value;
    }
    if (b.listDepth < formattedLevelLimit) {
        b.lists[b.listDepth++] = level;
    } else {
        // Deeper lists show at the deepest level, numbered as the innermost one.
        ++b.listOverflow;
        b.lists[formattedLevelLimit - 1] = level;
    }
}

void closeList(Builder& b) {
    if (b.listOverflow > 0)
        --b.listOverflow;
    else if (b.listDepth > 0)
        --b.listDepth;
}

void startListItem(Builder& b) {
    if (b.listDepth == 0) {
        memcpy(b.pendingMarker, bullet, sizeof bullet);
        return;
    }
    ListLevel& list = b.lists[b.listDepth - 1];
    if (!list.ordered) {
        memcpy(b.pendingMarker, bullet, sizeof bullet);
        return;
    }
    snprintf(b.pendingMarker, sizeof b.pendingMarker, "%ld.", list.counter);
    if (list.counter < 1000000000L)
        ++list.counter;
}

void appendImage(Builder& b, const Tag& tag) {
    const char* alt = nullptr;
    size_t length = tag.alt != nullptr ? decodeValue(b, tag.alt, tag.altLength, &alt) : 0;
    if (length == 0) {
        appendText(b, "[image]", 7);
        return;
    }
    if (appendText(b, "[image: ", 8) && appendText(b, alt, length))
        appendText(b, "]", 1);
}

void handleTag(Builder& b, const Tag& tag) {
    bool opening = !tag.closing;
    if (isBlockElement(tag))
        closeBlock(b);
    if (isTag(tag, "b") || isTag(tag, "strong")) {
        count(b.bold, opening);
    } else if (isTag(tag, "i") || isTag(tag, "em") || isTag(tag, "cite") || isTag(tag, "var")) {
        count(b.italic, opening);
    } else if (isTag(tag, "u") || isTag(tag, "ins")) {
        count(b.underline, opening);
    } else if (isTag(tag, "code") || isTag(tag, "kbd") || isTag(tag, "samp") || isTag(tag, "tt")) {
        count(b.code, opening);
    } else if (isTag(tag, "a")) {
        if (opening && !tag.selfClosing)
            keepLink(b, tag);
        else if (!opening)
            dropLink(b);
    } else if (isTag(tag, "br")) {
        if (lastByte(b) != 0) {
            trimBlock(b, b.pre == 0, false);
            put(b, "\n", 1);
        }
    } else if (isTag(tag, "img")) {
        if (opening)
            appendImage(b, tag);
    } else if (isTag(tag, "td") || isTag(tag, "th")) {
        if (opening && lastByte(b) != 0) {
            trimBlock(b, true, false);
            put(b, "  ", 2);
        }
    } else if (isTag(tag, "ul") || isTag(tag, "ol")) {
        if (opening)
            openList(b, tag);
        else
            closeList(b);
    } else if (isTag(tag, "li")) {
        if (opening)
            startListItem(b);
        else
            b.pendingMarker[0] = '\0';
    } else if (isTag(tag, "blockquote")) {
        count(b.quoteDepth, opening);
    } else if (isTag(tag, "pre")) {
        count(b.pre, opening);
        b.preStart = opening;
    } else if (tag.name[0] == 'h' && tag.name[1] >= '1' && tag.name[1] <= '6' && !tag.name[2]) {
        b.heading = opening ? tag.name[1] - '0' : 0;
    }
}

// Where the text after the comment, declaration or processing instruction at w[at] ('<' then '!'
// or '?') starts; at itself when none starts there.
size_t afterIgnoredMarkup(const char* w, size_t n, size_t at) {
    char next = at + 1 < n ? w[at + 1] : '\0';
    if (next == '!' && at + 3 < n && w[at + 2] == '-' && w[at + 3] == '-') {
        size_t k = at + 4;
        while (k + 2 < n && !(w[k] == '-' && w[k + 1] == '-' && w[k + 2] == '>'))
            ++k;
        return k + 2 < n ? k + 3 : n;
    }
    if (next != '!' && next != '?')
        return at;
    const char* gt = static_cast<const char*>(memchr(w + at, '>', n - at));
    return gt != nullptr ? static_cast<size_t>(gt - w) + 1 : n;
}

// Undoes one level of references of escaped HTML line by line, so that line breaks (which the
// decoding drops) stay for preformatted text. Writes at most count + 1 bytes; returns the length.
size_t unescapeLines(const char* source, size_t count, char* out) {
    size_t written = 0;
    size_t i = 0;
    while (i < count) {
        const char* newline = static_cast<const char*>(memchr(source + i, '\n', count - i));
        size_t end = newline != nullptr ? static_cast<size_t>(newline - source) : count;
        decodeEntities(source + i, end - i, out + written);
        written += strnlen(out + written, end - i);
        if (end < count)
            out[written++] = '\n';
        i = end + 1;
    }
    return written;
}

void formatHtml(Builder& b, const char* w, size_t n) {
    size_t i = 0;
    while (i < n && !b.full) {
        const char* lt = static_cast<const char*>(memchr(w + i, '<', n - i));
        size_t at = lt != nullptr ? static_cast<size_t>(lt - w) : n;
        if (at > i)
            handleText(b, w + i, at - i);
        if (at >= n || b.full)
            break;
        char next = at + 1 < n ? w[at + 1] : '\0';
        if (next == '!' || next == '?') {
            i = afterIgnoredMarkup(w, n, at);
        } else if (isLetter(next) || next == '/') {
            Tag tag;
            i = readTag(w, n, at, tag);
            if (!tag.closing && !tag.selfClosing && isHiddenElement(tag))
                i = skipElement(w, n, i, tag.name);
            else
                handleTag(b, tag);
        } else {
            handleText(b, w + at, 1); // a '<' that starts no tag is text
            i = at + 1;
        }
    }
    closeBlock(b);
}

void formatPlain(Builder& b, const char* text, size_t n) {
    size_t i = 0;
    while (i < n && !b.full) {
        const char* newline = static_cast<const char*>(memchr(text + i, '\n', n - i));
        size_t end = newline != nullptr ? static_cast<size_t>(newline - text) : n;
        bool blank = true;
        for (size_t k = i; k < end && blank; ++k)
            blank = isSpace(text[k]);
        if (blank) {
            closeBlock(b);
        } else {
            // The line's words with single blanks between them and after them (a line break inside
            // a paragraph joins its lines; the blank at its end goes with the block).
            size_t k = i;
            while (k < end && !b.full) {
                size_t word = k;
                while (word < end && !isSpace(text[word]))
                    ++word;
                if (word > k)
                    appendText(b, text + k, word - k);
                appendText(b, " ", 1);
                while (word < end && isSpace(text[word]))
                    ++word;
                k = word;
            }
        }
        i = end + 1;
    }
    closeBlock(b);
}

} // namespace

FormattedDescription* formatDescription(const char* source, size_t count, DescriptionForm form) {
    size_t size = sizeof(FormattedDescription) + sizeof(FormattedRun) * runCapacity +
                  sizeof(FormattedBlock) * formattedBlockLimit + textCapacity + linkCapacity;
    char* memory = static_cast<char*>(malloc(size));
    if (memory == nullptr)
        return nullptr;
    FormattedDescription* doc = reinterpret_cast<FormattedDescription*>(memory);
    memset(doc, 0, sizeof *doc);
    doc->runs = reinterpret_cast<FormattedRun*>(memory + sizeof(FormattedDescription));
    doc->blocks = reinterpret_cast<FormattedBlock*>(doc->runs + runCapacity);
    Builder b;
    memset(&b, 0, sizeof b);
    b.doc = doc;
    b.text = reinterpret_cast<char*>(doc->blocks + formattedBlockLimit);
    b.links = b.text + textCapacity;
    if (source == nullptr || count == 0)
        return doc;
    if (form == PlainText) {
        formatPlain(b, source, count);
        return doc;
    }
    // One copy for the scratch of decoding and, for escaped HTML, one for the HTML it stands for.
    char* work = static_cast<char*>(malloc(form == EscapedHtml ? 2 * count + 5 : count + 3));
    if (work == nullptr) {
        free(memory);
        return nullptr;
    }
    b.scratch = work;
    const char* html = source;
    size_t htmlLength = count;
    if (form == EscapedHtml) {
        html = work + count + 3;
        htmlLength = unescapeLines(source, count, work + count + 3);
    }
    formatHtml(b, html, htmlLength);
    free(work);
    return doc;
}

void freeFormattedDescription(FormattedDescription* document) {
    free(document);
}

size_t formattedPlainText(const FormattedDescription* document, char* out, size_t capacity) {
    size_t needed = 0;
    size_t written = 0;
    bool open = capacity > 0;
    auto add = [&](const char* bytes, size_t n) {
        needed += n;
        if (!open)
            return;
        if (written + n > capacity - 1) {
            // Ends before the first character that does not fit whole.
            size_t room = capacity - 1 - written;
            while (room > 0 && (static_cast<unsigned char>(bytes[room]) & 0xC0) == 0x80)
                --room;
            memcpy(out + written, bytes, room);
            written += room;
            open = false;
            return;
        }
        memcpy(out + written, bytes, n);
        written += n;
    };
    for (int32_t k = 0; document != nullptr && k < document->blockCount; ++k) {
        const FormattedBlock& block = document->blocks[k];
        if (k > 0)
            add("\n", 1);
        if (block.marker[0] != '\0') {
            add(block.marker, strlen(block.marker));
            add(" ", 1);
        }
        for (int32_t r = 0; r < block.runCount; ++r) {
            const FormattedRun& run = document->runs[block.firstRun + r];
            add(run.text, static_cast<size_t>(run.length));
        }
    }
    if (capacity > 0)
        out[written] = '\0';
    return needed;
}
