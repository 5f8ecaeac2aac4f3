#include "link/interlock_monitor.h"

#include "core/colours.h"
#include "core/lifecycle.h"
#include "link/async_output.h"
#include "link/link_backend.h"
#include "registers/catalogue.h"

namespace {

struct interlock_group {
  const char* label;
  int address;  // first of two registers, low half first
  int table;
};

const interlock_group groups[3] = {
    {"Standby", MB_STANDBY_INTERLOCK_ADDR, ILOCK_STANDBY},
    {"HV", MB_HV_INTERLOCK_ADDR, ILOCK_HV},
    {"Trig", MB_TRIG_INTERLOCK_ADDR, ILOCK_TRIG},
};

}  // namespace

void interlock_report(const char* label, const char (*names)[64], uint32_t now_word,
                      uint32_t previous_word) {
  uint32_t changed = now_word ^ previous_word;
  for (int k = 0; k < 32; k++) {
    if (!(changed & (1u << k)) || names[k][0] == '\0') continue;
    unsigned was = (previous_word >> k) & 1u;
    unsigned is = (now_word >> k) & 1u;
    link_printf("%s ilock change: %s%d->%d: %s%s\n", label, is ? colours.red : colours.green,
                static_cast<int>(was), static_cast<int>(is), names[k], colours.reset);
  }
}

void interlock_monitor_pass(link_backend* device, interlock_memory* memory) {
  for (int g = 0; g < 3; g++) {
    // After a stop each read could only delay the end.
    if (quit_requested.load()) return;
    uint16_t regs[2];
    if (device->read_registers(groups[g].address, 2, regs) <= 0) continue;
    uint32_t word = static_cast<uint32_t>(regs[0]) | (static_cast<uint32_t>(regs[1]) << 16);
    if (word == memory->previous[g]) continue;
    interlock_report(groups[g].label, ilock_names[groups[g].table], word, memory->previous[g]);
    memory->previous[g] = word;
  }
}
