// Check of the point table before it goes to the device. The device interpolates between the
// five points of a calibration table, so each of its two columns (actual value and DAC or ADC
// count) must rise or fall strictly over the points that hold a value; a turn (a value typed
// as 1.25 instead of 12.5) or two equal values make the interpolation wrong or undefined.
#pragma once

#include <string>

#include "calibration/table_layout.h"

// Prints one line "Warning: ...", naming the points, when the filled values of a column are
// not strictly increasing or decreasing; prints nothing otherwise. Values PRINT shows as empty
// (a NaN actual value, a count of 65535) are left out. count_label names the count column as
// PRINT does ("dac" or "adc"). Console thread.
void calib_warn_order(const calib_point* points, const char* count_label);

// The line calib_warn_order prints, without its line end; empty when the table is in order.
std::string calib_order_warning(const calib_point* points, const char* count_label);
