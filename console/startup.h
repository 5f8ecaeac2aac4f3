// Startup registers: up to five register writes kept in the configuration (tool_config.startup)
// and replayed every time the console starts, right after the login. Console thread only.
#pragma once

#include "core/command_status.h"

// Writes every startup entry in use to the device, slot 0 to 4, printing one line per entry.
// An address missing from the catalogue, a register type that does not fit the 32-bit stored
// value, or a failed write is reported and the other entries are still written; after all
// entries "Writing startup registers fail!" is printed when any of them failed, and -1 returned;
// else 0.
int startup_apply();

// STARTUP [PRINT | ADD <address> <value> | DELETE <address>]: lists, adds or deletes startup
// entries. ADD and DELETE save the configuration file at once; when the save fails the change
// is undone in memory, so the record and the file stay in step.
command_status cmd_startup(const command_args& args);

// The sub-command words of STARTUP, in the order they are tried. A word matches when the
// typed argument begins with all of it, so DEL, shorter than DELETE, matches nothing.
inline constexpr const char* startup_keywords[] = {"PRINT", "ADD", "DELETE"};
