// Finding a catalogue register by what the operator typed, as READ, WRITE, SETBIT and WATCH do,
// with the messages of a failed lookup. Console thread (it prints).
#pragma once

#include "registers/catalogue.h"

// Finds the catalogue register that token names: all digits is a decimal address, anything
// else a partial name, matched upper-cased. Returns the entry, or nullptr after printing the two
// lines of a failed lookup: "Invalid address name: %s" (an address) or "Invalid reg name: %s" (a
// name, shown upper-cased), then the line of msg_invalid_address. A null token finds nothing and
// prints nothing (the console refuses a command without its register before it runs).
const modbus_reg_entry* find_register(const char* token);

// The quiet forms of find_register, for callers that print their own messages. The catalogue
// index of the register token names as find_register chooses it, or -1 (also for a null token).
int register_index_of(const char* token);
// The same for a token that may only be a decimal address (STARTUP ADD and DELETE): a name is -1.
int register_index_of_address(const char* token);

// Prints a register's header line: name, address and type name.
void print_register_header(const modbus_reg_entry* entry);

// Prints "Invalid address: %s" with token: the line every failed register lookup ends with.
void msg_invalid_address(const char* token);
