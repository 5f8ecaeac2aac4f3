// Device behaviour of the simulated modulator. See device_model.h.
#include "sim/device_model.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Access codes: eight ASCII digits and two NUL bytes, low byte first in each word.
constexpr char SESSION_START_CODE[] = "40716253";
constexpr char LOGOUT_CODE[] = "59283746";

bool login_words_hold(std::span<const uint16_t> words, const char* code) {
  char bytes[2 * MB_LOG_IN_WORDS];
  for (int k = 0; k < MB_LOG_IN_WORDS; ++k) {
    bytes[2 * k] = static_cast<char>(words[k] & 0xFF);
    bytes[2 * k + 1] = static_cast<char>(words[k] >> 8);
  }
  // The eight digits and then NUL bytes only.
  char expected[2 * MB_LOG_IN_WORDS] = {};
  std::memcpy(expected, code, std::strlen(code));
  return std::memcmp(bytes, expected, sizeof bytes) == 0;
}

}  // namespace

bool sim_range_touches(int address, int count, int first, int words) {
  return count > 0 && address < first + words && first < address + count;
}

sim_device::sim_device() : regs_(SIM_REGISTER_COUNT) { sim_load_start_values(regs_); }

void sim_device::after_write(int address, int count) {
  if (sim_range_touches(address, count, MB_STATE_SET, 1)) {
    uint16_t state = regs_[MB_STATE_SET];
    if (state <= 9 && state % 3 == 0) regs_[MB_STATE_READ] = state;
  }
  if (sim_range_touches(address, count, MB_LOG_IN, MB_LOG_IN_WORDS)) check_login();
  if (sim_range_touches(address, count, MB_RESET, 1) && regs_[MB_RESET] == 1) {
    std::fill_n(regs_.begin() + MB_STANDBY_INTERLOCK, MB_INTERLOCK_WORDS, 0);
    regs_[MB_RESET] = 0;
  }
  const sim_calib_pair* pair = sim_find_calib_pair(regs_[MB_CALIB_SEQUENCE_ID]);
  if (sim_range_touches(address, count, MB_CALIB_SEQUENCE_ID, 1) ||
      (pair != nullptr && sim_range_touches(address, count, pair->source_address, 2))) {
    follow_calibration();
  }
}

void sim_device::check_login() {
  std::span<const uint16_t> words(regs_.data() + MB_LOG_IN, MB_LOG_IN_WORDS);
  if (login_words_hold(words, SESSION_START_CODE)) {
    regs_[MB_ACCESS_LEVEL] = 1;
  } else if (login_words_hold(words, LOGOUT_CODE)) {
    regs_[MB_ACCESS_LEVEL] = 0;
  }
  std::fill_n(regs_.begin() + MB_LOG_IN, MB_LOG_IN_WORDS, 0);
}

void sim_device::follow_calibration() {
  const sim_calib_pair* pair = sim_find_calib_pair(regs_[MB_CALIB_SEQUENCE_ID]);
  if (pair == nullptr) return;
  regs_[MB_CALIB_SEQUENCE_DAC_ADC] =
      sim_calib_count(*pair, sim_get_float(regs_, pair->source_address));
}

int sim_device::fault_for(bool on_write, int address, int count) const {
  for (const sim_fail_rule& rule : faults_) {
    if (rule.on_write == on_write && sim_range_touches(address, count, rule.address, rule.count)) {
      return rule.exception;
    }
  }
  return 0;
}

void sim_device::record_write(sim_write write) {
  if (writes_.size() >= SIM_LOG_LIMIT) writes_.pop_front();
  writes_.push_back(std::move(write));
}

void sim_device::record_read(const sim_read& read) {
  if (reads_.size() >= SIM_LOG_LIMIT) reads_.pop_front();
  reads_.push_back(read);
}
