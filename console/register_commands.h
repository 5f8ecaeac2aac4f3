// Register access commands: READ, WRITE, SETBIT on catalogue registers, RR and RW on any
// address with a stated type. Console thread only.
#pragma once

void cmd_read(char** args);
void cmd_write(char** args);
void cmd_rr(char** args);
void cmd_rw(char** args);
void cmd_setbit(char** args);
