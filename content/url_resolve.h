// Resolving a relative address against the address of the document that holds it (or that sent a
// redirect), as browsers do. Portable: no Win32 headers.
#pragma once
#include <cstddef>

// Resolves reference (zero-terminated; blanks at either end are ignored) against the absolute
// address base and writes the result, zero-terminated, into out (outSize bytes). An absolute
// reference ("https://...") is taken as it stands. Dot segments ("./", "../") are removed and a
// fragment of the reference is kept. False, with out empty, when base has no scheme and the
// reference is relative, or when the result does not fit.
bool resolveUrl(const char* base, const char* reference, char* out, size_t outSize);

// Whether text (zero-terminated) starts with a scheme ("http:", "mailto:"): such an address
// stands on its own and is never resolved against a base.
bool hasScheme(const char* text);
