// Attributes of start tags and the Atom rules that depend on them. Tags are short, so everything
// here is a plain forward scan over the tag's bytes.
#include "content/atom_parser.h"

#include "content/byte_scan.h"

#include <cstring>

namespace {

inline char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

void findAttributes(const char* p, const char* end, const char* const* names, size_t count,
                    AttributeValue* values) {
    size_t found = 0;
    for (size_t i = 0; i < count; ++i)
        values[i] = AttributeValue{nullptr, 0};
    while (p < end && found < count) {
        while (p < end && (isBlank(*p) || *p == '/'))
            ++p;
        const char* nameStart = p;
        while (p < end && *p != '=' && *p != '/' && !isBlank(*p))
            ++p;
        size_t nameLength = static_cast<size_t>(p - nameStart);
        while (p < end && isBlank(*p))
            ++p;
        const char* value = p;
        size_t valueLength = 0;
        if (p < end && *p == '=') {
            ++p;
            while (p < end && isBlank(*p))
                ++p;
            if (p < end && (*p == '"' || *p == '\'')) {
                char quote = *p++;
                value = p;
                p = findByteBefore(p, end, quote);
                valueLength = static_cast<size_t>(p - value);
                if (p < end)
                    ++p;
            } else {
                value = p;
                while (p < end && !isBlank(*p))
                    ++p;
                valueLength = static_cast<size_t>(p - value);
            }
        }
        if (nameLength == 0)
            continue;
        for (size_t i = 0; i < count; ++i) {
            const char* name = names[i];
            if (values[i].text != nullptr || lowerAscii(nameStart[0]) != name[0])
                continue;
            size_t k = 1;
            while (k < nameLength && name[k] != '\0' && lowerAscii(nameStart[k]) == name[k])
                ++k;
            if (k == nameLength && name[k] == '\0') {
                values[i] = AttributeValue{value, valueLength};
                ++found;
                break;
            }
        }
    }
}

AttributeValue findAttribute(const char* p, const char* end, const char* name) {
    AttributeValue value;
    findAttributes(p, end, &name, 1, &value);
    return value;
}

bool attributeIs(const AttributeValue& value, const char* word) {
    if (value.text == nullptr)
        return false;
    const char* p = value.text;
    const char* end = p + value.length;
    while (p < end && isBlank(*p))
        ++p;
    while (end > p && isBlank(end[-1]))
        --end;
    size_t n = std::strlen(word);
    if (static_cast<size_t>(end - p) != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (lowerAscii(p[i]) != word[i])
            return false;
    return true;
}

AtomTextType atomTextType(const char* attributes, const char* end) {
    AttributeValue type = findAttribute(attributes, end, "type");
    if (attributeIs(type, "html") || attributeIs(type, "text/html"))
        return AtomHtml;
    if (attributeIs(type, "xhtml"))
        return AtomXhtml;
    return AtomText;
}

bool isAlternateRel(const AttributeValue& rel) {
    return rel.text == nullptr || attributeIs(rel, "alternate") ||
           attributeIs(rel, "http://www.iana.org/assignments/relation/alternate");
}

bool isAlternateLink(const char* attributes, const char* end) {
    return isAlternateRel(findAttribute(attributes, end, "rel"));
}
