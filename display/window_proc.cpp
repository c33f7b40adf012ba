// Placeholder until this unit is built; replaced by its real implementation.
#include "display/window_proc.h"

LRESULT CALLBACK windowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }
FeedItem* hitTestItem(POINT) { return nullptr; }
bool openItemLink(const FeedItem*) { return false; }
void repaint() {}
void followUpRepaint() {}
void armUpdateTimer() {}
