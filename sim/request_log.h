// The records of the simulator's request log, as its control socket lists them and as tests
// compare them.
#pragma once

#include <cstdint>
#include <vector>

// One write request as a client sent it: function 6 (one register), 16 (several), 22 (mask write:
// values are the AND and the OR mask) or 23 (the write half of read/write).
struct sim_write {
  int function;
  int address;
  std::vector<uint16_t> values;
  bool operator==(const sim_write&) const = default;
};

// One read request: function 3 (holding registers), 4 (input registers) or 23 (the read half).
struct sim_read {
  int function;
  int address;
  int count;
  bool operator==(const sim_read&) const = default;
};
