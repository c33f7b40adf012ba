// Removing a favourite from the settings file, which otherwise only a text editor could do.
#pragma once

// Removes the favourite at index (0 first) from the settings file: its two lines go, the
// favourites after it move up one number, every other line stays as it was. The settings in
// memory are written first (as adding a favourite does), the favourites are read again afterwards.
// A file that cannot be written (marked read-only, locked) is left as it was and the user is told;
// false then, and for an index that names no favourite.
bool removeFavorite(int index);

// The line rewrite of removeFavorite on text (a whole settings file, zero-terminated): a new text
// (the caller frees it with free()) without the two lines of favourite index, the later ones
// renumbered; null when memory runs out.
char* withoutFavorite(const char* text, int index);
