// Placeholder until this unit is built; replaced by its real implementation.
#include "plugin/lifecycle.h"
#include "plugin/runtime_state.h"

RuntimeState runtime;
UINT pluginMessages[4] = {10103, 10881, 10901, 0};
const char* const pluginName = "FeedMarquee";
int beginPlugin(HINSTANCE) { return 1; }
int beginSlitPlugin(HINSTANCE, HWND) { return 1; }
int endPlugin(HINSTANCE) { return 0; }
const char* pluginInfo(int) { return "FeedMarquee 0.0.1a"; }
bool processAttach() { return true; }
void processDetach() {}
