// Composes the health line. A permanent move outranks the rest of a successful pass: it needs the
// user's action, the rest does not.
#include "feed/feed_health.h"

#include <cstdio>
#include <cstring>

size_t composeHealthLine(const HealthFacts* facts, char* out, size_t size) {
    if (size == 0)
        return 0;
    out[0] = '\0';
    char every[32] = "";
    if (facts->intervalMinutes > 0)
        std::snprintf(every, sizeof every, " (every %d min)", facts->intervalMinutes);
    const char* itemWord = facts->items == 1 ? "item" : "items";
    int length = 0;
    bool succeeded = facts->kind == healthUpdated || facts->kind == healthNotModified;
    if (succeeded && facts->movedTo != nullptr && facts->movedTo[0]) {
        length =
            std::snprintf(out, size, "Moved permanently to %s (update the feed address to keep it)",
                          facts->movedTo);
    } else {
        switch (facts->kind) {
        case healthUnknown:
            break;
        case healthCached:
            length = std::snprintf(out, size, "Saved headlines from %s, %d %s; checking now",
                                   facts->when, facts->items, itemWord);
            break;
        case healthUpdated:
            length = std::snprintf(out, size, "Updated %s, %d %s%s", facts->when, facts->items,
                                   itemWord, every);
            break;
        case healthNotModified:
            length = std::snprintf(out, size, "Not modified, checked %s%s", facts->when, every);
            break;
        case healthFailed:
            if (facts->nextTry[0])
                length =
                    std::snprintf(out, size, "Failed %s: %s. Next try %s", facts->when,
                                  facts->reason[0] ? facts->reason : "no answer", facts->nextTry);
            else
                length = std::snprintf(out, size, "Failed %s: %s", facts->when,
                                       facts->reason[0] ? facts->reason : "no answer");
            break;
        }
    }
    if (length < 0) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(length) < size ? static_cast<size_t>(length) : size - 1;
}

size_t composeHealthReport(const NamedHealth* feeds, int count, char* out, size_t size) {
    if (size == 0)
        return 0;
    out[0] = '\0';
    // Room kept for " | ... and N more".
    const size_t tail = 40;
    size_t used = 0;
    int reported = 0;
    bool full = false;
    for (int group = 0; group < 2; ++group) {
        for (int i = 0; i < count && !full; ++i) {
            if (feeds[i].failed != (group == 0))
                continue;
            const char* name = feeds[i].name != nullptr ? feeds[i].name : "";
            const char* line = feeds[i].line != nullptr ? feeds[i].line : "";
            size_t piece = (reported > 0 ? 3 : 0) + std::strlen(name) + 2 + std::strlen(line);
            if (used + piece + tail >= size) {
                full = true;
                break;
            }
            used += static_cast<size_t>(std::snprintf(out + used, size - used, "%s%s: %s",
                                                      reported > 0 ? " | " : "", name, line));
            ++reported;
        }
    }
    if (reported < count) {
        int length = std::snprintf(out + used, size - used, "%s... and %d more",
                                   reported > 0 ? " | " : "", count - reported);
        if (length > 0)
            used += static_cast<size_t>(length);
    }
    return used < size ? used : size - 1;
}
