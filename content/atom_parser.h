// The attribute-borne rules of the feed parser's single pass: reading an attribute of a start tag,
// which link of an Atom feed or entry is its address, and in which form an Atom text construct
// (title, summary, content) is written. RSS uses the attribute reader too (a guid's isPermaLink,
// xml:base). Portable: no Win32 headers.
#pragma once
#include <cstddef>

// Where an attribute's value stands in the document, as written (references not decoded).
struct AttributeValue {
    const char* text; // null: the attribute is absent
    size_t length;
};

// The value of the attribute name (lower case, matched without regard to case) among the
// attributes from p up to end (a start tag after its element name, without its '>'). An attribute
// written without a value is present with an empty one. Reads nothing at or after end.
AttributeValue findAttribute(const char* p, const char* end, const char* name);
// The values of several attributes (names lower case, as above) in one reading of the tag.
void findAttributes(const char* p, const char* end, const char* const* names, size_t count,
                    AttributeValue* values);

enum AtomTextType { AtomText, AtomHtml, AtomXhtml };

// The form of a text construct by its type attribute: "html" (or "text/html") is escaped HTML,
// "xhtml" is markup written as it stands, anything else (or no type) is text.
AtomTextType atomTextType(const char* attributes, const char* end);

// Whether a link element names the address of its feed or entry: rel "alternate" (short or as the
// full IANA address) or no rel at all. Links of any other relation (self, enclosure, replies,
// edit, related, via, stylesheet, ...) name something else.
bool isAlternateLink(const char* attributes, const char* end);
// The same for the value of a link's rel attribute (text null: absent).
bool isAlternateRel(const AttributeValue& rel);

// Whether the attribute's value is word (lower case) without regard to case, blanks at either end
// ignored.
bool attributeIs(const AttributeValue& value, const char* word);
