#include "calibration/table_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "registers/values.h"

namespace {

calib_point point(float actual, uint16_t count) { return {calib_empty_float(), actual, count}; }

TEST(TableLayout, EmptyMarkerIsAllOnes) {
  calib_point p = {1, 2, 3};
  calib_point_make_empty(&p);
  EXPECT_EQ(float_to_bits(p.fSet), 0xFFFFFFFFu);
  EXPECT_EQ(float_to_bits(p.fActual), 0xFFFFFFFFu);
  EXPECT_EQ(p.wDacAdc, 0xFFFF);
  EXPECT_TRUE(calib_float_is_empty(p.fSet));
  EXPECT_FALSE(calib_float_is_empty(0.0f));
  // Another NaN is a value, not the marker.
  EXPECT_FALSE(calib_float_is_empty(bits_to_float(0x7FC00000u)));
  EXPECT_FALSE(calib_float_is_empty(bits_to_float(0xFFFF0000u)));
}

TEST(TableLayout, SetLayoutPutsFloatFirst) {
  calib_point points[CALIB_POINTS] = {point(1.5f, 100), point(2.5f, 200), point(0, 0), point(0, 0),
                                      point(0, 0)};
  uint16_t words[CALIB_TABLE_WORDS];
  calib_table_encode(points, CALIB_LAYOUT_SET, words);
  std::vector<uint16_t> first(words, words + 6);
  EXPECT_EQ(first, (std::vector<uint16_t>{0x0000, 0x3FC0, 100, 0x0000, 0x4020, 200}));
}

TEST(TableLayout, ReadLayoutPutsCountFirst) {
  calib_point points[CALIB_POINTS] = {point(1.5f, 100), point(2.5f, 200), point(0, 0), point(0, 0),
                                      point(0, 0)};
  uint16_t words[CALIB_TABLE_WORDS];
  calib_table_encode(points, CALIB_LAYOUT_READ, words);
  std::vector<uint16_t> first(words, words + 6);
  EXPECT_EQ(first, (std::vector<uint16_t>{100, 0x0000, 0x3FC0, 200, 0x0000, 0x4020}));
}

TEST(TableLayout, EmptyPointsAreSentAsAllOnes) {
  calib_point points[CALIB_POINTS];
  for (calib_point& p : points) calib_point_make_empty(&p);
  uint16_t words[CALIB_TABLE_WORDS];
  calib_table_encode(points, CALIB_LAYOUT_SET, words);
  for (uint16_t w : words) EXPECT_EQ(w, 0xFFFF);
}

TEST(TableLayout, DecodeIsTheInverseAndEmptiesTheSet) {
  const calib_layout layouts[] = {CALIB_LAYOUT_SET, CALIB_LAYOUT_READ};
  for (calib_layout layout : layouts) {
    calib_point sent[CALIB_POINTS];
    for (int k = 0; k < CALIB_POINTS; k++)
      sent[k] = {12.0f, 1.5f + k, static_cast<uint16_t>(100 * (k + 1))};
    uint16_t words[CALIB_TABLE_WORDS];
    calib_table_encode(sent, layout, words);
    calib_point got[CALIB_POINTS];
    calib_table_decode(words, layout, got);
    for (int k = 0; k < CALIB_POINTS; k++) {
      EXPECT_TRUE(calib_float_is_empty(got[k].fSet));
      EXPECT_EQ(got[k].fActual, 1.5f + k);
      EXPECT_EQ(got[k].wDacAdc, 100 * (k + 1));
    }
  }
}

}  // namespace
