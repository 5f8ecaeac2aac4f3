#include "console/startup.h"

#include <cstdio>

void startup_apply() {}
void cmd_startup(char**) { printf("Command is not available yet.\n"); }
