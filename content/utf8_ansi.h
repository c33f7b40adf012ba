// UTF-8 to the ANSI code page, for drawing feed text with the narrow GDI functions. Win32 only.
#pragma once

// A new text: the UTF-8 text converted to the ANSI code page. The caller frees it with free();
// null for a null text or when memory runs out.
char* utf8ToAnsi(const char* text);
