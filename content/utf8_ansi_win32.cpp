// Placeholder until this unit is built; replaced by its real implementation.
#include "content/utf8_ansi.h"

char* utf8ToAnsi(const char*) { return nullptr; }
