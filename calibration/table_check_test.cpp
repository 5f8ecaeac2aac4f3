#include "calibration/table_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/stream_capture.h"

namespace {

constexpr float E = -1;  // stands for an empty actual value in the cases below
constexpr int EMPTY = CALIB_EMPTY_WORD;

struct order_case {
  std::vector<float> actual;  // five values, E for empty
  std::vector<int> count;     // five counts
  const char* warning;        // the whole output
};

const order_case order_cases[] = {
    // Rising, falling, and partly filled tables pass.
    {{1.5, 2.5, 3.5, 4.5, 5.5}, {100, 200, 300, 400, 500}, ""},
    {{9, 7, 5, 3, 1}, {100, 200, 300, 400, 500}, ""},
    {{E, 2.5, E, 12.5, E}, {EMPTY, 900, EMPTY, 100, 50}, ""},
    {{E, E, E, E, E}, {EMPTY, EMPTY, EMPTY, EMPTY, EMPTY}, ""},
    {{E, E, 3, E, E}, {EMPTY, 0, EMPTY, EMPTY, EMPTY}, ""},
    // A value typed as 1.25 instead of 12.5 is named alone.
    {{10, 11.5, 1.25, 13, 14},
     {100, 200, 300, 400, 500},
     "Warning: not strictly increasing or decreasing: actual value at point 3.\n"},
    // Empty points in between are skipped; the entry numbers stay.
    {{1, 2, 3, 4, 5},
     {500, EMPTY, 300, 600, 100},
     "Warning: not strictly increasing or decreasing: dac count at point 4.\n"},
    // Equal values: either may be the wrong one.
    {{1, 2, 2, 3, 4},
     {100, 200, 300, 400, 500},
     "Warning: not strictly increasing or decreasing: actual value at points 2 and 3.\n"},
    // When the table can't tell which point is wrong, every candidate is named.
    {{1, 3, 2, E, E},
     {10, 20, 30, EMPTY, EMPTY},
     "Warning: not strictly increasing or decreasing: actual value at points 1, 2 and 3.\n"},
    // Both columns in one line: a table whose first point was captured last.
    {{6.5, 2.5, 3.5, 4.5, 5.5},
     {6000, 2000, 3000, 4000, 5000},
     "Warning: not strictly increasing or decreasing: actual value at point 1, dac count at "
     "point 1.\n"},
};

TEST(CalibWarnOrder, NamesThePointsThatBreakStrictOrder) {
  for (const order_case& c : order_cases) {
    calib_point points[CALIB_POINTS];
    for (int k = 0; k < CALIB_POINTS; k++) {
      calib_point_make_empty(&points[k]);
      if (c.actual[k] != E) points[k].fActual = c.actual[k];
      points[k].wDacAdc = static_cast<uint16_t>(c.count[k]);
    }
    stream_capture out;
    calib_warn_order(points, "dac");
    EXPECT_EQ(c.warning, out.finish());
  }
}

TEST(CalibWarnOrder, CountColumnIsNamedByTheLabel) {
  calib_point points[CALIB_POINTS];
  for (int k = 0; k < CALIB_POINTS; k++) {
    calib_point_make_empty(&points[k]);
    points[k].wDacAdc = 7;
  }
  stream_capture out;
  calib_warn_order(points, "adc");
  EXPECT_EQ(
      "Warning: not strictly increasing or decreasing: adc count at points 1, 2, 3, 4 and "
      "5.\n",
      out.finish());
}

}  // namespace
