// The line the window shows under "Couldn't connect!": why the last update failed, or, while no
// feed address is set, where to set one.
#pragma once

// The note for the lists as they are now: null unless they hold only the "Couldn't connect!"
// placeholder. The text stays valid until the next call.
const wchar_t* failureNote();
// Frees the note's memory.
void releaseFailureNote();
