#include "console/dump.h"

#include <cstdio>

void cmd_dump(char**) { printf("Command is not available yet.\n"); }
