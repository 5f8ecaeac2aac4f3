#include "core/timestamp.h"

#include <cstdio>

std::string format_timestamp(const timespec& when, timestamp_style style) {
  tm parts;
  if (style == TIMESTAMP_UTC) {
    gmtime_r(&when.tv_sec, &parts);
  } else {
    localtime_r(&when.tv_sec, &parts);
  }
  char date[32], zone[8] = "", text[64];
  strftime(date, sizeof date, style == TIMESTAMP_LOG ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%dT%H:%M:%S",
           &parts);
  if (style != TIMESTAMP_UTC) strftime(zone, sizeof zone, "%z", &parts);
  long ms = when.tv_nsec / 1000000L;
  switch (style) {
    case TIMESTAMP_LOG:
      snprintf(text, sizeof text, "%s.%03ld %s", date, ms, zone);
      break;
    case TIMESTAMP_RECORD:
      snprintf(text, sizeof text, "%s.%03ld%.3s:%.2s", date, ms, zone, zone + 3);
      break;
    case TIMESTAMP_UTC:
      snprintf(text, sizeof text, "%s.%03ldZ", date, ms);
      break;
  }
  return text;
}

int64_t monotonic_clock_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
