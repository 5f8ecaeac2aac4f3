// DUMP: every catalogue register read and written to a text file, one line per register in
// catalogue order. Console thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/command_status.h"
#include "registers/catalogue.h"

// DUMP <path>. Reads each catalogue register in turn and writes "NAME = value" lines; a register
// that can't be read gets "Error read NAME" on the screen and no line in the file. Ends with
// "Dumped to <path>", or with "Error writing file: <path> [errno=N]" when a write or the close
// failed. A stop request (Ctrl-C) ends the dump at once, silently. The table hands it the path.
// Fails also when a register could not be read: the file then lacks its line.
command_status cmd_dump(const command_args& args);

// Writes one dump line for entry, whose value is in words (as many as its type covers), to
// stream: the name as stored, " = ", the value text of its type, a line feed. Returns 0, or -1
// when the stream refused a write (errno as the failed call left it).
int write_dump_line(FILE* stream, const modbus_reg_entry* entry, const uint16_t* words);

// Room for the longest value text of any register type, terminator included.
constexpr size_t DUMP_VALUE_TEXT_SIZE = 256;

// The value text write_dump_line writes after "NAME = " (without the line end), into buf (size
// bytes, always terminated), for comparing a register with a line of a dump file. Returns 0, or
// -1 when the text did not fit (buf then holds what fitted).
int dump_value_text(const modbus_reg_entry* entry, const uint16_t* words, char* buf, size_t size);
