#include "calibration/table_layout.h"

#include "registers/values.h"

float calib_empty_float() { return bits_to_float(0xFFFFFFFFu); }

bool calib_float_is_empty(float value) { return float_to_bits(value) == 0xFFFFFFFFu; }

void calib_point_make_empty(calib_point* point) {
  point->fSet = calib_empty_float();
  point->fActual = calib_empty_float();
  point->wDacAdc = CALIB_EMPTY_WORD;
}

void calib_table_encode(const calib_point* points, calib_layout layout, uint16_t* words) {
  for (int k = 0; k < CALIB_POINTS; k++) {
    uint16_t* triple = words + 3 * k;
    uint16_t actual[2];
    split_words(float_to_bits(points[k].fActual), actual);
    if (layout == CALIB_LAYOUT_SET) {
      triple[0] = actual[0];
      triple[1] = actual[1];
      triple[2] = points[k].wDacAdc;
    } else {
      triple[0] = points[k].wDacAdc;
      triple[1] = actual[0];
      triple[2] = actual[1];
    }
  }
}

void calib_table_decode(const uint16_t* words, calib_layout layout, calib_point* points) {
  for (int k = 0; k < CALIB_POINTS; k++) {
    const uint16_t* triple = words + 3 * k;
    points[k].fSet = calib_empty_float();
    if (layout == CALIB_LAYOUT_SET) {
      points[k].fActual = bits_to_float(join_words(triple));
      points[k].wDacAdc = triple[2];
    } else {
      points[k].wDacAdc = triple[0];
      points[k].fActual = bits_to_float(join_words(triple + 1));
    }
  }
}
