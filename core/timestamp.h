// The one formatter of wall-clock times that files carry: the write log, the calibration records
// and the WATCH CSV each use one style of it, always with milliseconds.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

enum timestamp_style {
  TIMESTAMP_LOG,     // local time: 2026-12-09 14:03:12.000 +0100
  TIMESTAMP_RECORD,  // local time, ISO 8601: 2026-12-09T14:03:12.000+01:00
  TIMESTAMP_UTC,     // UTC, ISO 8601: 2026-12-09T13:03:12.000Z
};

// `when` in the given style. The local styles take the time zone as tzset() last read it.
std::string format_timestamp(const timespec& when, timestamp_style style);

// Milliseconds of the monotonic clock, for measuring waits and durations (not a wall-clock
// time). Any thread.
int64_t monotonic_clock_ms();
