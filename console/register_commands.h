// Register access commands: READ, WRITE, SETBIT on catalogue registers, RR and RW on any
// address with a stated type. Console thread only.
#pragma once

#include "registers/catalogue.h"

// The type words of RR and RW, matched whole.
inline constexpr const char* type_keywords[] = {"RAW", "FLOAT", "WORD", "DWORD"};

void cmd_read(char** args);
void cmd_write(char** args);
void cmd_rr(char** args);
void cmd_rw(char** args);
void cmd_setbit(char** args);

// Finds the catalogue register that token names, as READ does: all digits is a decimal
// address, anything else a partial name (upper-cased in place). Returns the entry, or nullptr
// after printing "Missing Address." (no token) or the two lines of a failed lookup.
const modbus_reg_entry* find_register(char* token);

// Prints a register's header line: name, address and type name.
void print_register_header(const modbus_reg_entry* entry);
