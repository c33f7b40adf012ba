// Feed text for the Win32 text functions: UTF-8 to UTF-16 for the wide GDI and tooltip calls, and
// to the ANSI code page for narrow texts (menu titles, the settings file). Win32 only.
#pragma once
#include <cstddef>

// A new text: the UTF-8 text converted to the ANSI code page. The caller frees it with free();
// null for a null text or when memory runs out.
char* utf8ToAnsi(const char* text);

// A new text: the ANSI code page's text converted to UTF-8. The caller frees it with free(); null
// for a null text or when memory runs out.
char* ansiToUtf8(const char* text);

// A new UTF-16 text converted from the UTF-8 text; a malformed sequence becomes U+FFFD. The caller
// frees it with free(); null for a null text or when memory runs out.
wchar_t* utf8ToWide(const char* text);

// A new UTF-16 text made from at most the first length bytes of text (less where text ends
// before), read as UTF-8 when utf8 is true, else in the ANSI code page: then the result holds the
// characters the narrow text functions would show for those bytes. A UTF-8 character cut by the
// length limit is left out rather than shown as U+FFFD. The caller frees it with free(); null for
// a null text or when memory runs out.
wchar_t* bytesToWide(const char* text, size_t length, bool utf8);
