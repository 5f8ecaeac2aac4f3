// Device control commands: LOGIN, LOGOUT, STATUS, STATE, RESET. Console thread only.
#pragma once

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

void cmd_login(char** args);
void cmd_logout(char** args);
void cmd_status(char** args);
void cmd_state(char** args);
void cmd_reset(char** args);
