// Placeholder until this unit is built; replaced by its real implementation.
#include "display/painting.h"

HostStyleItem windowStyle;
void loadShellStyle() {}
void paintWindow(HWND) {}
