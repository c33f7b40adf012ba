#include "content/text_direction.h"

#include "content/utf8.h"

namespace {

struct StrongRange {
    uint32_t first;
    uint32_t last;
    bool rightToLeft;
};

const StrongRange strongRanges[] = {
#include "content/strong_direction.inc"
};

// Follows the isolates of a text: strong characters count only outside every isolate. An
// unmatched U+2069 closes nothing.
struct DirectionScan {
    unsigned isolateDepth = 0;
    TextDirection found = TextDirection::neutral;
    // False once the direction is known.
    bool take(uint32_t c) {
        if (c >= 0x2066 && c <= 0x2068) {
            ++isolateDepth;
        } else if (c == 0x2069) {
            if (isolateDepth > 0)
                --isolateDepth;
        } else if (isolateDepth == 0) {
            found = characterDirection(c);
        }
        return found == TextDirection::neutral;
    }
};

} // namespace

TextDirection characterDirection(uint32_t c) {
    size_t low = 0, high = sizeof strongRanges / sizeof strongRanges[0];
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (c < strongRanges[middle].first)
            high = middle;
        else if (c > strongRanges[middle].last)
            low = middle + 1;
        else
            return strongRanges[middle].rightToLeft ? TextDirection::rightToLeft
                                                    : TextDirection::leftToRight;
    }
    return TextDirection::neutral;
}

TextDirection utf8Direction(const char* text, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    DirectionScan scan;
    while (p < end && *p != 0) {
        size_t n = utf8SequenceLength(p, end);
        if (n == 0) {
            ++p;
            continue;
        }
        uint32_t c = utf8CodePoint(p, n);
        p += n;
        if (!scan.take(c))
            break;
    }
    return scan.found;
}

TextDirection utf16Direction(const char16_t* text, size_t length) {
    DirectionScan scan;
    for (size_t i = 0; i < length && text[i] != 0; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        if (!scan.take(c))
            break;
    }
    return scan.found;
}
