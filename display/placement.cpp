// Placeholder until this unit is built; replaced by its real implementation.
#include "display/placement.h"

bool applySize(int, int) { return false; }
void applyTransparency() {}
RECT monitorBounds(HWND) { return RECT{0, 0, 0, 0}; }
bool autoHideTarget(POINT*) { return false; }
void autoHideCheck() {}
void showFromAutoHide() {}
void endMoveOrResize() {}
void trackPosition(const WINDOWPOS*) {}
void snapPosition(WINDOWPOS*) {}
void displayChanged() {}
void placeAfterAutoHideChange() {}
