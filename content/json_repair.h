// JSON as other readers read it, for RapidJSON's event reader. Portable: no Win32 headers.
//
// RapidJSON refuses in a whole document what other JSON readers accept: a lone surrogate escape
// ("\ud83c", a string a script cut in the middle of an emoji) and a number no double holds (1e400,
// a number of more than 300 digits). The reader reads the document through JsonRepairStream, which
// rewrites each of them, in the bytes it takes, just before the reader comes to it: the escape as
// "\ufffd" (U+FFFD), the number as 0 followed by blanks. The document is thus read only once, and
// nothing else changes (the JSON's own faults stay).
#pragma once
#include <cstddef>

#include <rapidjson/reader.h>

// What the repairs of one document share: where it ends, and whether a string escapes a control
// character other than a tab or a line break ("\f", "\u000b"; "\u0000" ends a text there): the
// only way one reaches a value, as the reader refuses them written out.
struct JsonRepairs {
    char* end;
    bool controls;
};

// Rewrites the escape at p (a '\\' before repairs->end) as "\ufffd" when it is a lone surrogate
// (a pair stays); notes an escaped control character in repairs->controls.
void repairJsonEscape(char* p, JsonRepairs* repairs);
// Rewrites the number that starts at p (a '-' or a digit before end) as "0" and blanks when no
// double holds it.
void repairJsonNumber(char* p, char* end);

// The document read in place, as rapidjson::InsituStringStream reads it, with the repairs above
// made on the way: the bytes ahead of the reader are still the document's own.
struct JsonRepairStream : rapidjson::InsituStringStream {
    JsonRepairStream(char* text, JsonRepairs* shared)
        : rapidjson::InsituStringStream(text), repairs(shared) {}
    JsonRepairs* repairs;
};

// Passes over the plain characters of a string from is.src_ to its next quote, backslash or
// control character, moving them to is.dst_ (where the text shrank by an escape before them), and
// repairs the escape the run ends at.
void readJsonStringRun(JsonRepairStream& is);

namespace rapidjson {

// Copied into the reader's locals while it reads, as its own in-place stream is.
template <> struct StreamTraits<JsonRepairStream> {
    enum { copyOptimization = 1 };
};

// The reader passes over blanks before every value: a number, which starts there, is repaired
// before it is read.
template <> inline void SkipWhitespace(JsonRepairStream& is) {
    char* p = is.src_;
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')
        ++p;
    is.src_ = p;
    if (RAPIDJSON_UNLIKELY(*p == '-' || (*p >= '0' && *p <= '9')))
        repairJsonNumber(p, is.repairs->end);
}

// The reader asks this before each character or escape of a string, to pass over a run of plain
// characters at once where it can: readJsonStringRun does, and repairs the escape after the run
// before the reader decodes it.
template <>
template <>
inline void
GenericReader<UTF8<>, UTF8<>, CrtAllocator>::ScanCopyUnescapedString(JsonRepairStream& is,
                                                                     JsonRepairStream&) {
    readJsonStringRun(is);
}

} // namespace rapidjson
