// Reading back a file that DUMP wrote: one "NAME = TEXT" line per register, for COMPARE and
// RESTORE. Console thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registers/catalogue.h"

// Largest dump file read: a full dump is about 10 KiB, so anything near this is no dump.
constexpr long DUMP_FILE_MAX_BYTES = 1024 * 1024;

// What a dump file holds, by catalogue entry.
struct dump_file {
  std::string path;
  // For each catalogue entry (by index): whether the file has its line, and the line's text
  // after "NAME = ", exactly as written (trailing blanks kept, no line end).
  bool present[MODBUS_REG_COUNT] = {};
  std::string texts[MODBUS_REG_COUNT];
  // Names the catalogue doesn't know (a dump of newer firmware), in file order.
  std::vector<std::string> unknown_names;
};

// Reads the dump file at path into *out. Lines may come in any order; names are matched exactly
// against the catalogue, trailing blanks included; the last line may lack its line end. A UTF-8
// byte-order mark at the start and a CR before each line end are dropped. Refuses,
// printing one message, and returns -1: no path ("Missing filename."), a file that can't be
// opened or read ("Error opening file: %s [errno=%d]"), a file over DUMP_FILE_MAX_BYTES, a line
// not of the form "NAME = TEXT" (its number given) and a name given twice (the line of the
// second). Returns 0 otherwise.
int read_dump_file(const char* path, dump_file* out);

// Parses a dump text of entry's type back into the register's words (FLOAT, WORD, DWORD,
// READ_CALIB and SET_CALIB; as many words as the type covers): the exact form DUMP writes, unit
// included, each float finite (but for a table point's "-nan", the empty marker: all bits one)
// and each integer within its word. Returns 0, or -1 for another
// type or a text of another form (nothing printed; words may be partly filled).
int parse_dump_value(const modbus_reg_entry* entry, const std::string& text, uint16_t* words);

// Prints the names of dump that the catalogue doesn't know, on one line, when there are any.
void print_unknown_names(const dump_file& dump);
