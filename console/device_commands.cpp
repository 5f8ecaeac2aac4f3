#include "console/device_commands.h"

#include <cstdio>

void cmd_login(char**) { printf("Command is not available yet.\n"); }
void cmd_logout(char**) { printf("Command is not available yet.\n"); }
void cmd_status(char**) { printf("Command is not available yet.\n"); }
void cmd_state(char**) { printf("Command is not available yet.\n"); }
void cmd_reset(char**) { printf("Command is not available yet.\n"); }
