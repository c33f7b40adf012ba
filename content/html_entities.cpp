// Looks names up in the generated table: the name's letters and digits are hashed as they are
// read, and the hash slot leads to the entry numbers to compare with (linear probing).
#include "content/html_entities.h"

#include <cstring>

namespace {

#include "content/html_entities.inc"

inline bool isNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

size_t findHtmlEntity(const char* name, const char* end, const HtmlEntity** entity) {
    // No name is longer than htmlEntityLongestName, so a longer run of letters is none; the byte
    // after the run decides between the two forms.
    unsigned hash = 0;
    const char* p = name;
    while (p < end && isNameByte(*p)) {
        if (static_cast<size_t>(p - name) == htmlEntityLongestName)
            return 0;
        hash = hash * 31 + static_cast<unsigned char>(*p);
        ++p;
    }
    size_t length = static_cast<size_t>(p - name);
    if (length == 0)
        return 0;
    bool semicolon = p < end && *p == ';';
    // A legacy name needs the word to end with it: "&copy 2006" is one, "&copyright" and
    // "&copy=1" (a query in a link's text) are not.
    if (!semicolon && (length > htmlEntityLongestLegacyName || (p < end && *p == '=')))
        return 0;
    const unsigned mask = (1u << htmlEntitySlotBits) - 1;
    for (unsigned slot = (hash * 0x9E3779B1u) >> (32 - htmlEntitySlotBits);;
         slot = (slot + 1) & mask) {
        unsigned short index = htmlEntitySlots[slot];
        if (index == 0xFFFF)
            return 0;
        const HtmlEntity& e = htmlEntities[index];
        if (e.nameLength == length &&
            std::memcmp(htmlEntityNames + e.nameOffset, name, length) == 0) {
            if (semicolon && (e.forms & 1) != 0) {
                *entity = &e;
                return length + 1;
            }
            if (!semicolon && (e.forms & 2) != 0) {
                *entity = &e;
                return length;
            }
            return 0;
        }
    }
}
