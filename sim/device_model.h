// The simulated modulator: its register file, how it reacts to a client's writes, the faults a
// test has asked for and the log of every request it has seen.
//
// Device behaviour after a client write (control-channel SET stores words without any of this):
//   MB_STATE_SET (5120)      0, 3, 6 or 9 moves MB_STATE_READ (5480) to that state at once;
//                            other values are kept in 5120 and change nothing.
//   MB_LOG_IN (5121, 5 words) the session-start code "40716253" sets MB_ACCESS_LEVEL (5559) to 1,
//                            the logout code "59283746" sets it to 0, any other code leaves it;
//                            the five words read back as zeros afterwards, as a device hides codes.
//   MB_RESET (5140)          1 clears the three interlock words (5532 to 5537); 5140 reads back 0.
//   MB_CALIB_SEQUENCE_ID (5453) and the source register of the calibration it names:
//                            MB_CALIB_SEQUENCE_DAC_ADC (5457) becomes the count of that
//                            calibration's linear law (see sim_calib_pair) whenever either is
//                            written; an ID without a pair leaves 5457 as it is.
//
// Not thread-safe; the server owns one instance and uses it from its one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "sim/device_registers.h"
#include "sim/request_log.h"

// A fault a test has asked for: requests of the given direction whose range overlaps
// [address, address + count) are answered with the Modbus exception code.
struct sim_fail_rule {
  bool on_write;
  int address;
  int count;
  int exception;
};

// The longest logs kept; the oldest entries are dropped beyond this.
constexpr size_t SIM_LOG_LIMIT = 100000;

class sim_device {
 public:
  // Starts with the start values of device_registers.h, no faults and empty logs.
  sim_device();

  // The register file, SIM_REGISTER_COUNT words, served to clients as holding registers.
  std::span<uint16_t> registers() { return regs_; }
  std::span<const uint16_t> registers() const { return regs_; }

  // Device reaction to a client write of count registers at address that was carried out.
  void after_write(int address, int count);

  // The exception code for a request touching [address, address + count) in the given direction,
  // or 0 when no fault rule matches. A count of 0 or less matches nothing.
  int fault_for(bool on_write, int address, int count) const;
  void add_fault(const sim_fail_rule& rule) { faults_.push_back(rule); }
  void clear_faults() { faults_.clear(); }

  // Request logs, in the order the requests arrived.
  void record_write(sim_write write);
  void record_read(const sim_read& read);
  const std::deque<sim_write>& writes() const { return writes_; }
  const std::deque<sim_read>& reads() const { return reads_; }
  void clear_writes() { writes_.clear(); }
  void clear_reads() { reads_.clear(); }

 private:
  void check_login();
  void follow_calibration();

  std::vector<uint16_t> regs_;
  std::vector<sim_fail_rule> faults_;
  std::deque<sim_write> writes_;
  std::deque<sim_read> reads_;
};

// Whether [address, address + count) overlaps [first, first + words).
bool sim_range_touches(int address, int count, int first, int words);
