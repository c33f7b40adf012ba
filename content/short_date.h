// Short dates for the item list: a feed's date as "MM/DD HH:MM". Portable: no Win32 headers.
#pragma once

// A new text with the date shortened to "MM/DD HH:MM", or "MM/DD" when it carries no time; the
// caller frees it with free(). Reads RFC 822 and RFC 3339 dates, a date alone ("2023-12-16"),
// month names in any letter case and in the common European languages, and 12-hour times with
// AM or PM. A date these rules cannot read is copied as it is written, never guessed at. Null for
// a null date or when memory runs out.
char* abbreviateDate(const char* date);
