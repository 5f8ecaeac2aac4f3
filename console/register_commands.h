// Register access commands: READ, WRITE, SETBIT on catalogue registers, RR and RW on any
// address with a stated type. Console thread only.
#pragma once

#include "core/command_status.h"

// The type words of RR and RW, matched whole.
inline constexpr const char* type_keywords[] = {"RAW", "FLOAT", "WORD", "DWORD"};

// Console handlers. The table hands each at least one token: READ, WRITE and SETBIT a register,
// RR and RW a type word. Inside a calibration session, READ and WRITE without argument go to
// the session's handler instead.
command_status cmd_read(const command_args& args);
command_status cmd_write(const command_args& args);
command_status cmd_rr(const command_args& args);
command_status cmd_rw(const command_args& args);
command_status cmd_setbit(const command_args& args);
