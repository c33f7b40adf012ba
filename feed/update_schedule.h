// When the next automatic update runs: the interval in force (the user's, or the feed's own when
// longer), the stretch after consecutive failures and a server's Retry-After. Pure and portable:
// the clock and the random source are passed in, so the rules are tested without waiting hours.
#pragma once
#include <cstdint>

// The longest interval in force and the latest a Retry-After can push the next attempt (24 hours).
const int64_t scheduleLongestDelaySeconds = 24 * 60 * 60;
// The longest stretch of the interval after failures (4 hours), unless the interval itself is
// longer.
const int64_t scheduleLongestBackoffSeconds = 4 * 60 * 60;

// Consecutive failed passes since the last success; the window thread's own.
struct UpdateSchedule {
    int failures;
};

// The automatic interval in force, in minutes: the larger of the user's interval (at least one
// minute) and the feed's own ttl, at most 24 hours.
int intervalInForceMinutes(int userMinutes, int feedTtlMinutes);

// A Retry-After value, delay seconds ("120") or an HTTP date ("Wed, 21 Oct 2026 07:28:00 GMT",
// also the RFC 850 and asctime forms), as seconds since 1970 (UTC) given the clock now; -1 when
// the value is empty or unreadable.
int64_t retryAfterTime(const char* value, int64_t now);

// The seconds since 1970 (UTC) of an HTTP date; -1 when it is none.
int64_t parseHttpDate(const char* text);

// Records the outcome of a pass and returns the seconds until the next automatic attempt.
// success: the feed updated or was not modified; status: the last HTTP status (0 for none);
// retryAfter: the response's Retry-After header (null or empty when absent), heeded for 429 and
// 503; random: any 32-bit value, spread into about +-10% of a stretched interval.
int64_t recordUpdateOutcome(UpdateSchedule* schedule, bool success, int status,
                            const char* retryAfter, int64_t now, int intervalMinutes,
                            uint32_t random);
