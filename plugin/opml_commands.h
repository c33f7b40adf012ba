// Favourites in and out as OPML: "@FeedMarqueeImportOpml [PATH]" adds the feeds of a subscription
// list another reader exported, "@FeedMarqueeExportOpml [PATH]" writes the favourites as one.
// Without a path a file dialog asks for it. Each tells the user what it did, or why it did nothing.
#pragma once
#include <windows.h>
#include <commdlg.h>

// Adds the list's feeds that are not favourites yet, after those in the settings file, and then
// saves and re-reads the settings as "Add Favorites" does. An outline whose address the plug-in
// cannot fetch (not http or https, a user name in it, a blank, longer than 8 KiB) is skipped and
// named in the message. A file that cannot be read, is larger than 8 MiB, is no OPML list or is
// cut off changes nothing. True when favourites were added.
// path is UTF-8: a folder or file named in any script is opened through the wide file functions.
bool importOpml(const char* path);
// Writes every favourite into an OPML 2.0 file (replaced whole, or not at all). True on success.
bool exportOpml(const char* path);

// The two commands: path empty or null opens the open or save dialog. A path that is not valid
// UTF-8 is read in the ANSI code page.
void importOpmlCommand(const char* path);
void exportOpmlCommand(const char* path);

// The open and save dialogs (wide, so that any file can be chosen), called through these pointers
// so that tests can answer them (the system's, loaded when one opens).
extern BOOL(WINAPI* openOpmlDialog)(OPENFILENAMEW* dialog);
extern BOOL(WINAPI* saveOpmlDialog)(OPENFILENAMEW* dialog);
