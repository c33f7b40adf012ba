// Placeholder until this unit is built; replaced by its real implementation.
#include "display/tooltip.h"

void createTooltip() {}
void addOrUpdateTool(const RECT&, const char*) {}
void sweepTools() {}
void removeAllTools() {}
void activateTooltip(bool) {}
void applyTooltipSettings() {}
