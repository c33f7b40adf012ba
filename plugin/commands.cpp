// Placeholder until this unit is built; replaced by its real implementation.
#include "plugin/commands.h"

void handleCommand(HWND, const char*) {}
