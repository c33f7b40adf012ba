// Placeholder until this unit is built; replaced by its real implementation.
#include "feed/http_fetch.h"

char* fetchUrl(const char*) { return nullptr; }
int sendText(SOCKET, const char*) { return 0; }
