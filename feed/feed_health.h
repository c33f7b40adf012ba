// The health line: one line of text on the state of the feed, shown at the end of the header's
// tooltip and answered to the health command. Pure and portable: the times come preformatted.
#pragma once
#include <cstddef>

enum HealthKind {
    healthUnknown,     // nothing has been fetched yet: no line
    healthCached,      // headlines from the saved copy, the first check still to come
    healthUpdated,     // the last pass brought new headlines
    healthNotModified, // the last pass was answered "not modified"
    healthFailed,      // the last pass failed
};

struct HealthFacts {
    HealthKind kind;
    char when[20];       // "12/08 14:21": the time of the pass (of the saved copy for healthCached)
    int items;           // headlines shown (healthUpdated, healthCached)
    char reason[256];    // why the pass failed (healthFailed)
    char nextTry[20];    // "15:21": the next automatic attempt after a failure; empty: not shown
    const char* movedTo; // the new address after permanent redirects (any length); null or empty
                         // when there were none
    int intervalMinutes; // the automatic interval in force; 0: not shown
};

// Writes the line for facts into out (size bytes, at least 1), cut to fit; returns its length.
// healthUnknown gives an empty line.
size_t composeHealthLine(const HealthFacts* facts, char* out, size_t size);

// The longest health report, terminator included: every feed's line, or as many as fit, and a
// line moved to the longest address kept fits whole.
const size_t healthReportLimit = 16384;

// One feed's line in a report of several feeds.
struct NamedHealth {
    const char* name;
    const char* line;
    bool failed; // failed, or still without headlines: reported first
};

// "name: line" of every feed, the failed ones first (each group in the order given), joined by
// " | ", into out (size bytes, at least 1). When not all fit, the report ends with
// "... and N more" for the lines left out. Returns its length.
size_t composeHealthReport(const NamedHealth* feeds, int count, char* out, size_t size);
