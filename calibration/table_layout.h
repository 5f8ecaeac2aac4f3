// Calibration points and the device's 15-word calibration table.
//
// A calibration register (catalogue type SET_CALIB or READ_CALIB) holds five triples, one per
// point, point 1 first; triple k occupies words 3k, 3k+1 and 3k+2. A float takes two words,
// its low half in the lower word.
//   SET_CALIB  (output channel): actual low, actual high, DAC count
//   READ_CALIB (input channel):  ADC count, actual low, actual high
// The set value of a point is kept for the operator only and is never part of the table.
//
// A member whose bits are all ones has no value ("empty"). Pure functions, any thread.
#pragma once

#include <cstdint>

constexpr int CALIB_POINTS = 5;
constexpr int CALIB_TABLE_WORDS = 15;
constexpr uint16_t CALIB_EMPTY_WORD = 0xFFFF;

// One calibration point.
struct calib_point {
  float fSet;        // value set through the set register; informational
  float fActual;     // measured value
  uint16_t wDacAdc;  // DAC count (SET calibration) or ADC count (READ calibration)
};

// Which of the two table layouts.
enum calib_layout { CALIB_LAYOUT_SET, CALIB_LAYOUT_READ };

// A float with all 32 bits set: the empty marker of a float member.
float calib_empty_float();
// True when both 16-bit halves of value are 0xFFFF.
bool calib_float_is_empty(float value);
// Sets all three members to all ones.
void calib_point_make_empty(calib_point* point);

// Writes the triples of the five points into words[0..14].
void calib_table_encode(const calib_point* points, calib_layout layout, uint16_t* words);
// Reads fActual and wDacAdc of the five points from words[0..14]; fSet becomes empty.
void calib_table_decode(const uint16_t* words, calib_layout layout, calib_point* points);
