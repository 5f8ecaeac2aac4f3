#include "core/lifecycle.h"

#include <cstdio>
#include <cstring>

#include "core/input.h"

std::atomic<int> quit_requested{0};
std::atomic<bool> exit_on_error{false};
std::atomic<bool> quiet_output{false};
std::atomic<bool> session_failed{false};
std::atomic<unsigned> terminal_continues{0};
std::atomic<unsigned> terminal_resizes{0};
cal_definition work_cal[CAL_DEFINITIONS];
char ilock_names[3][ILOCK_NAMES][ILOCK_NAME_SIZE];
namespace {

// Set by the main thread before the workers start and before a stop can be requested, then
// only read (by the stop signal handler too).
void (*stop_at_once)() = nullptr;
void (*stop_afterwards)() = nullptr;

void copy_text(char* dst, const char* src, size_t size) {
  size_t n = strnlen(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

void make_working_copies(const tool_config_t& config) {
  for (int i = 0; i < CAL_DEFINITIONS; i++) {
    // A free slot is cleared rather than skipped, so that it is all zero however often the
    // copies are made.
    if (config.cal[i].use == 0) {
      work_cal[i] = cal_definition{};
      continue;
    }
    work_cal[i] = config.cal[i];
    work_cal[i].sMsg[sizeof(work_cal[i].sMsg) - 1] = '\0';
  }
  const ilock_name* sources[3] = {config.ilock_standby, config.ilock_hv, config.ilock_trig};
  for (int g = 0; g < 3; g++)
    for (int k = 0; k < ILOCK_NAMES; k++)
      copy_text(ilock_names[g][k], sources[g][k].name, ILOCK_NAME_SIZE);
}

void set_stop_actions(void (*at_once)(), void (*afterwards)()) {
  stop_at_once = at_once;
  stop_afterwards = afterwards;
}

void request_stop_from_signal() {
  quit_requested.store(1);
  wake_input_waits();
  if (stop_at_once) stop_at_once();
}

void finish_stop() {
  if (stop_afterwards) stop_afterwards();
}

void request_stop() {
  request_stop_from_signal();
  finish_stop();
}
