// Blocking system calls that know no stop (the resolver, proxy discovery) run on a thread of their
// own while the fetch waits for them in slices, so that a stop, the pass's overall bound or the
// stall limit ends the wait at once. An abandoned call finishes on its own later: its thread keeps
// the record and this module alive until then, and frees both itself.
#pragma once
#include "feed/fetch.h"

enum BoundedEnd {
    boundedDone,     // work ran to its end; the record holds its result
    boundedStopped,  // the request's stop flag was set first
    boundedTimedOut, // the pass's bound or fetchStallLimitMs passed first
};

// Runs work(record) and waits for it. record is malloc'd by the caller and handed over: freed
// here with free() unless boundedDone is returned, in which case the caller frees it after
// reading the result. work must touch nothing but the record.
BoundedEnd runBounded(void (*work)(void* record), void* record, const FetchRequest* request,
                      unsigned long passStarted);
