// Interlock change monitor: reports every change of a named interlock bit, run by the link
// thread once a second when iPrintIlockChange is set.
#pragma once

#include <cstdint>

class link_backend;

// Previous interlock words of the three groups (standby, HV, trigger); link thread only.
struct interlock_memory {
  uint32_t previous[3];
};

// Prints one coloured line per changed bit with a name, lowest bit first.
void interlock_report(const char* label, const char (*names)[64], uint32_t now_word,
                      uint32_t previous_word);

// One monitor pass over the three groups on the link thread's connection. Reads nothing more
// once quit_requested is set.
void interlock_monitor_pass(link_backend* device, interlock_memory* memory);
