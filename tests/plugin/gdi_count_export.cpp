// Built only into the counting test build of FeedMarquee.dll: lets the leak test read the plug-in's
// own GDI object accounting through the DLL's export table.
#include "display/gdi_count.h"

extern "C" LONG countedGdiObjects() {
    return gdiObjectsAlive;
}
extern "C" LONG countedGdiCreations() {
    return gdiObjectsCreated;
}
