#include "core/lifecycle.h"

#include <cstdio>
#include <cstring>

std::atomic<int> quit_requested{0};
std::atomic<bool> exit_on_error{false};
std::atomic<bool> quiet_output{false};
std::atomic<bool> session_failed{false};
std::atomic<unsigned> terminal_continues{0};
std::atomic<unsigned> terminal_resizes{0};
cal_definition work_cal[CAL_DEFINITIONS];
char ilock_names[3][ILOCK_NAMES][ILOCK_NAME_SIZE];
link_params device_in_use;

namespace {

void copy_text(char* dst, const char* src, size_t size) {
  size_t n = strnlen(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

}  // namespace

void make_working_copies(const tool_config_t& config, link_params* params) {
  copy_text(params->host, config.sIpAddr, sizeof(params->host));
  params->port = static_cast<int>(config.iPort);
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
