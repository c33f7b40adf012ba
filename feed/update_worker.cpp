// Placeholder until this unit is built; replaced by its real implementation.
#include "feed/update_worker.h"

HANDLE workerSemaphore;
volatile LONG stopRequested;
char lastUpdateTime[20];
const char* const connectingText = "Connecting...";
const char* const failedText = "Couldn't connect!";
bool requestUpdate() { return false; }
void startUpdate() {}
void runUpdatePass(char*) {}
void stopUpdate() {}
void finishUpdate(LPARAM) {}
