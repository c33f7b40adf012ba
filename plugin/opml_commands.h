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
bool importOpml(const char* path);
// Writes every favourite into an OPML 2.0 file (replaced whole, or not at all). True on success.
bool exportOpml(const char* path);

// The two commands: path empty or null opens the open or save dialog.
void importOpmlCommand(const char* path);
void exportOpmlCommand(const char* path);

// The save dialog, called through this pointer so that tests can answer it (the system's, loaded
// when it opens);
// the open dialog is commands.h's openFileDialog.
extern BOOL(WINAPI* saveFileDialog)(OPENFILENAMEA* dialog);
