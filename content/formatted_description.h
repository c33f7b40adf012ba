// A description as its author formatted it: blocks (paragraphs, headings, list items, quotations,
// preformatted text) of styled runs (bold, italic, underlined or linked, monospace), made from the
// description's HTML or plain text when it is about to be shown, never kept per item. Images show
// as their alternative text, tables as one line per row; scripts, styles, forms, iframes and
// their contents go. Bounded whatever the input: at most formattedCharacterLimit characters and
// formattedBlockLimit blocks (then "…"), nesting shown at most formattedLevelLimit deep, and time
// linear in the source. Portable: no Win32 headers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "content/feed_items.h"

// How a description's source is written.
enum DescriptionForm : uint8_t {
    EscapedHtml, // HTML written with XML references ("&lt;p&gt;"), as in most RSS descriptions
    RawHtml,     // HTML as it stands (a CDATA section, Atom xhtml, JSON Feed content_html)
    PlainText    // text without markup: one paragraph per block of lines between blank lines
};

enum FormattedBlockKind : uint8_t {
    ParagraphBlock,
    HeadingBlock,
    ListItemBlock,
    QuoteBlock,
    PreformattedBlock // white space and line breaks kept
};

enum FormattedStyle : uint8_t { BoldStyle = 1, ItalicStyle = 2, UnderlineStyle = 4, CodeStyle = 8 };

const int formattedCharacterLimit = 4000;
const int formattedBlockLimit = 200;
const int formattedLevelLimit = 8;

struct FormattedRun {
    const char* text; // UTF-8, not zero-terminated; a line break inside a block is '\n'
    int32_t length;   // bytes of text, at least 1
    const char* link; // a link's address (zero-terminated, never fetched), or null
    uint8_t style;    // FormattedStyle bits
};

struct FormattedBlock {
    FormattedBlockKind kind;
    uint8_t level;    // a heading's number; list or quotation depth from 1; else 1
    uint8_t indent;   // list and quotation depth together, for indenting when drawn
    char marker[16];  // a list item's marker ("•", "3."), empty for none
    int32_t firstRun; // index into the document's runs
    int32_t runCount; // at least 1
};

struct FormattedDescription {
    FormattedBlock* blocks;
    int32_t blockCount;
    FormattedRun* runs;
    int32_t runCount;
    bool cut; // the source held more than the limits allow: the last run ends with "…"
};

// Formats the first count bytes of source (zero bytes among them end nothing). Returns null only
// when memory runs out; an empty description gives a document of no blocks. Free the result with
// freeFormattedDescription.
FormattedDescription* formatDescription(const char* source, size_t count, DescriptionForm form);
void freeFormattedDescription(FormattedDescription* document);

// The document's text without styles: blocks separated by '\n', list markers before their items.
// Writes at most capacity - 1 bytes and a terminating zero (never splitting a character); returns
// the bytes the whole text needs without the zero.
size_t formattedPlainText(const FormattedDescription* document, char* out, size_t capacity);
