// Startup registers: up to five register writes kept in the configuration and replayed every
// time the console starts. Console thread only.
#pragma once

// Writes every startup entry in use to the device.
void startup_apply();

// STARTUP [PRINT | ADD <reg> <value> | DEL <reg>]
void cmd_startup(char** args);
