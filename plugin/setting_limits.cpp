// Bounds for settings that reach the window, the GDI and the tooltip control.
#include "plugin/setting_limits.h"

namespace {

const int lowestOpacity = 16;
const int smallestWindowExtent = 10;
const int defaultFontHeight = 12;
const int largestFontHeight = 128;
const int narrowestTip = 50;
const int widestTip = 4096;
// The control reads the delay as a signed 16-bit count of milliseconds.
const int longestTipDelay = 32767;

int clamp(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

} // namespace

unsigned char opacityInForce(int alpha) {
    int opacity = alpha & 0xff; // as stored files have always been read
    return static_cast<unsigned char>(opacity < lowestOpacity ? lowestOpacity : opacity);
}

int windowExtentInForce(int extent, int screenExtent) {
    if (screenExtent >= smallestWindowExtent && extent > screenExtent)
        return screenExtent;
    return extent < smallestWindowExtent ? smallestWindowExtent : extent;
}

int fontHeightInForce(int fontHeight) {
    if (fontHeight <= 0)
        return defaultFontHeight;
    return fontHeight > largestFontHeight ? largestFontHeight : fontHeight;
}

int tipWidthInForce(int tipWidth) {
    return clamp(tipWidth, narrowestTip, widestTip);
}

int tipHideDelayInForce(int seconds) {
    if (seconds <= 0)
        return -1;
    return seconds > longestTipDelay / 1000 ? longestTipDelay : seconds * 1000;
}

int maxItemsPerFeedInForce(int items) {
    return clamp(items, 1, 1000);
}

int turnSecondsInForce(int seconds) {
    return clamp(seconds, 5, 3600);
}

int tipShowMilliseconds(int seconds) {
    if (seconds <= 0)
        return -1;
    return seconds > 3600 ? 3600 * 1000 : seconds * 1000;
}

int feedIntervalInForce(int own, int global) {
    return own > 0 ? clamp(own, 1, 1440) : global;
}

int feedShareInForce(int own, int global) {
    return maxItemsPerFeedInForce(own > 0 ? own : global);
}
