// Interlock change monitor: reports every change of a named interlock bit, run by the link
// thread once a second when iPrintIlockChange is set.
#pragma once

#include <modbus.h>

#include <cstdint>

// Previous interlock words of the three groups (standby, HV, trigger); link thread only.
struct interlock_memory {
  uint32_t previous[3];
};

// Prints one coloured line per changed bit with a name, lowest bit first.
void interlock_report(const char* label, const char (*names)[64], uint32_t now_word,
                      uint32_t previous_word);

// One monitor pass over the three groups with the link thread's context.
void interlock_monitor_pass(modbus_t* ctx, interlock_memory* memory);
