// Removing a favourite from the settings file, which otherwise only a text editor could do.
#pragma once

// Removes the favourite at index (0 first) from the settings file: its lines go, the favourites
// after it move up one number, every other byte stays as it was; the favourites are then the
// file's. A file that cannot be written (marked read-only, locked, a full disk) is left as it was
// and the user is told; false then, and for an index that names no favourite.
bool removeFavorite(int index);
