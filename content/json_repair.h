// JSON as other readers read it, for RapidJSON's event reader. Portable: no Win32 headers.
#pragma once
#include <cstddef>

// Rewrites in place, each in the bytes it takes, what RapidJSON refuses in a whole document but
// other JSON readers accept: a lone surrogate escape ("\ud83c", a string a script cut in the middle
// of an emoji) becomes "\ufffd" (U+FFFD), and a number no double holds (1e400, a number of more
// than 300 digits) becomes 0 followed by blanks. Nothing else changes; the JSON's own faults stay.
// Returns whether a string escapes a control character other than a tab or a line break ("\f",
// "\u000b"): the only way one reaches a value, as the reader refuses them written out.
bool repairJsonForReader(char* text, size_t length);
