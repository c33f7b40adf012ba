// The context menu, built fresh from the settings through the shell's menu functions.
#pragma once
#include "shell/blackbox_api.h"

extern Menu* rootMenu; // the top menu "FDMQ_Main", or null

// Deletes the previous tree, builds the whole tree and hands it to ShowMenu; popup true opens it
// (right-click), false refreshes an open menu.
void buildMenu(bool popup);
