// Device control commands: LOGIN, LOGOUT, STATUS, STATE, RESET. Console thread only.
#pragma once

#include "core/command_status.h"

// Access codes written to the login register.
constexpr const char* ACCESS_CODE_LOGIN = "40716253";
constexpr const char* ACCESS_CODE_LOGOUT = "59283746";

// Writes an eight-digit access code and two NUL bytes to MB_LOG_IN as five registers, low
// byte first in each. Returns the mailbox result (negative on failure).
int write_access_code(const char* digits);

// Name of a device state 0 to 9, or "(null)" for a state that has none.
const char* device_state_name(unsigned state);

// The words STATUS takes, a place for each mode: a word matches when the typed argument is part
// of it and of no other.
enum status_mode { STATUS_SHORT, STATUS_LONG };
inline constexpr const char* status_keywords[] = {"SHORT", "LONG"};
// The state words STATE takes, in state order: a word's place times 3 is its state. A word
// matches when the typed argument is part of it and of no other.
inline constexpr const char* state_keywords[] = {"OFF", "STANDBY", "HV", "TRIGGER"};

// Console handlers. STATE and STATUS take an optional word; the others ignore their arguments.
command_status cmd_login(const command_args& args);
command_status cmd_logout(const command_args& args);
command_status cmd_status(const command_args& args);
command_status cmd_state(const command_args& args);
command_status cmd_reset(const command_args& args);
