// The simulated modulator's register file: its size, the addresses it reacts to, the values it
// starts with and the calibration pairs behind MB_CALIB_SEQUENCE_DAC_ADC.
//
// This table is the simulator's own; it describes what a freshly powered modulator would show so
// that a dump or a status looks like a real device. Constant data, read by the server thread only.
#pragma once

#include <cstdint>
#include <span>

// Holding registers 0 to SIM_REGISTER_COUNT - 1 are served; an access beyond them is answered
// with the exception "illegal data address".
constexpr int SIM_REGISTER_COUNT = 6400;

// Addresses the device reacts to.
constexpr uint16_t MB_STATE_SET = 5120;  // requested state, one word
constexpr uint16_t MB_LOG_IN = 5121;     // access code, five words
constexpr int MB_LOG_IN_WORDS = 5;
constexpr uint16_t MB_RESET = 5140;                   // 1 resets the interlocks
constexpr uint16_t MB_CALIB_SEQUENCE_ID = 5453;       // address of the calibration in progress
constexpr uint16_t MB_CALIB_SEQUENCE_DAC_ADC = 5457;  // present DAC or ADC count
constexpr uint16_t MB_STATE_READ = 5480;              // present state, one word
constexpr uint16_t MB_STANDBY_INTERLOCK = 5532;       // three interlock words of two registers each
constexpr int MB_INTERLOCK_WORDS = 6;
constexpr uint16_t MB_ACCESS_LEVEL = 5559;  // 1 logged in, 0 logged out

// How a start value is laid out in its registers. Values wider than one register keep their low
// half in the lower address; characters and bytes are packed low byte first.
enum sim_value_kind {
  SIM_WORD,        // number: one register
  SIM_DWORD,       // number: 32 bits in two registers
  SIM_FLOAT,       // number: IEEE single precision in two registers
  SIM_TEXT,        // text: up to ten characters in five registers, NUL padded
  SIM_BYTES,       // text: six bytes written as hexadecimal pairs "00:1A:..." in three registers
  SIM_DWORDS,      // text: ten numbers separated by blanks, 32 bits each, in twenty registers
  SIM_SET_TABLE,   // five points of (float actual, word DAC count), fifteen registers
  SIM_READ_TABLE,  // five points of (word ADC count, float actual), fifteen registers
};

// One register of the modulator with the value it starts with.
struct sim_start_value {
  uint16_t address;
  const char* name;
  sim_value_kind kind;
  double number;     // for SIM_WORD, SIM_DWORD and SIM_FLOAT
  const char* text;  // for SIM_TEXT, SIM_BYTES and SIM_DWORDS; nullptr otherwise
};

// A calibration table and the register whose value the device's DAC or ADC count follows while
// that calibration is in progress: count = round(gain * value of the source), kept within 0 to
// 65535. The source is read as a float (two registers). The start table of the calibration holds
// five points taken from the same law at source values step, 2 step, ... 5 step.
struct sim_calib_pair {
  uint16_t calib_address;
  uint16_t source_address;
  double gain;
  double step;
};

// Start values, one row per register of the modulator (248 rows; two addresses carry two names).
std::span<const sim_start_value> sim_start_values();

// Calibration pairs, one row per calibration table of the modulator.
std::span<const sim_calib_pair> sim_calib_pairs();

// The pair whose calibration table starts at calib_address, or nullptr.
const sim_calib_pair* sim_find_calib_pair(int calib_address);

// The count that the law of pair gives for value.
uint16_t sim_calib_count(const sim_calib_pair& pair, float value);

// Fills regs (SIM_REGISTER_COUNT words) with zeros and then with every start value.
void sim_load_start_values(std::span<uint16_t> regs);

// Register word helpers: a 32-bit value with its low half at regs[address].
void sim_put_u32(std::span<uint16_t> regs, int address, uint32_t value);
uint32_t sim_get_u32(std::span<const uint16_t> regs, int address);
void sim_put_float(std::span<uint16_t> regs, int address, float value);
float sim_get_float(std::span<const uint16_t> regs, int address);
