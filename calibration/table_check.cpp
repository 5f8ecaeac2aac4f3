#include "calibration/table_check.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

// The filled values of one column, in entry order, with their entry numbers (from 1).
struct column {
  int n = 0;
  int entries[CALIB_POINTS];
  double values[CALIB_POINTS];
};

// Whether the values picked by mask (bit i: value i) rise or fall strictly.
bool strictly_monotonic(const column& c, unsigned mask) {
  bool rising = true;
  bool falling = true;
  int last = -1;
  for (int i = 0; i < c.n; i++) {
    if (!(mask & (1u << i))) continue;
    if (last >= 0) {
      rising = rising && c.values[i] > c.values[last];
      falling = falling && c.values[i] < c.values[last];
    }
    last = i;
  }
  return rising || falling;
}

// The points to blame: those left out of a longest strictly monotonic selection of the
// column's values. With one such selection they are the fewest points whose correction mends
// the column (the 1.25 typed for 12.5); when several selections are as long, the points left
// out of any of them are named, as the table can't tell which is wrong. Equal values never
// both fit in a selection, so they are named too. Returns a bit mask over the values, 0 when
// the column is in order. Five points make 32 selections, so all are tried.
unsigned out_of_order(const column& c) {
  int longest = 0;
  unsigned blamed = 0;
  unsigned all = (1u << c.n) - 1;
  for (unsigned mask = 0; mask <= all; mask++) {
    if (!strictly_monotonic(c, mask)) continue;
    int size = __builtin_popcount(mask);
    if (size > longest) {
      longest = size;
      blamed = 0;
    }
    if (size == longest) blamed |= all & ~mask;
  }
  return blamed;
}

// "value_name at point 3", "value_name at points 1, 2 and 4"; empty when the column is in order.
std::string finding(const column& c, const char* value_name) {
  unsigned blamed = out_of_order(c);
  if (blamed == 0) return "";
  int count = __builtin_popcount(blamed);
  std::string text = std::string(value_name) + (count == 1 ? " at point " : " at points ");
  int listed = 0;
  for (int i = 0; i < c.n; i++) {
    if (!(blamed & (1u << i))) continue;
    if (listed > 0) text += listed + 1 == count ? " and " : ", ";
    text += std::to_string(c.entries[i]);
    listed++;
  }
  return text;
}

}  // namespace

std::string calib_order_warning(const calib_point* points, const char* count_label) {
  column actual;
  column counts;
  for (int k = 0; k < CALIB_POINTS; k++) {
    if (!std::isnan(points[k].fActual)) {
      actual.entries[actual.n] = k + 1;
      actual.values[actual.n++] = points[k].fActual;
    }
    if (points[k].wDacAdc != CALIB_EMPTY_WORD) {
      counts.entries[counts.n] = k + 1;
      counts.values[counts.n++] = points[k].wDacAdc;
    }
  }
  std::string count_name = std::string(count_label) + " count";
  std::string findings = finding(actual, "actual value");
  std::string count_finding = finding(counts, count_name.c_str());
  if (!findings.empty() && !count_finding.empty()) findings += ", ";
  findings += count_finding;
  if (findings.empty()) return "";
  return "Warning: not strictly increasing or decreasing: " + findings + ".";
}

void calib_warn_order(const calib_point* points, const char* count_label) {
  std::string warning = calib_order_warning(points, count_label);
  if (!warning.empty()) printf("%s\n", warning.c_str());
}
