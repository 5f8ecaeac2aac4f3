// Device control commands: LOGIN, LOGOUT, STATUS, STATE, RESET. Console thread only.
#pragma once

void cmd_login(char** args);
void cmd_logout(char** args);
void cmd_status(char** args);
void cmd_state(char** args);
void cmd_reset(char** args);
