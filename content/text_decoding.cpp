// Placeholder until this unit is built; replaced by its real implementation.
#include "content/text_decoding.h"

void decodeEntities(const char*, size_t, char*) {}
void descriptionToText(char*, bool) {}
char* abbreviateDate(const char*) { return nullptr; }
