// What a screen reader reads of the shown feed: the accessible list's source, over the DisplayList,
// the settings and the health of the last update.
#pragma once

// Fills accessibleListSource with this unit's functions.
void connectAccessibleFeed();
