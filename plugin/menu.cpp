// Placeholder until this unit is built; replaced by its real implementation.
#include "plugin/menu.h"

Menu* rootMenu;
void buildMenu(bool) {}
