// WATCH's record: the samples of a watch appended to a CSV file (RFC 4180: fields separated by
// commas, a field with a comma, a quote or a line end quoted with its quotes doubled, CRLF at the
// end of every row), so a trend taken during a soak test can be opened in a spreadsheet or read
// by a script. Console thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "registers/catalogue.h"

// The header row for the watched registers, without its line end: "time", then each register's
// name without the trailing blank that four catalogue names carry, and " [<unit>]" where the
// register has a unit.
std::string watch_csv_header(const modbus_reg_entry* const* entries, int count);

// One field as RFC 4180 writes it: quoted, quotes doubled, when it holds a comma, a quote, CR or
// LF; as it is otherwise.
std::string csv_field(const std::string& text);

// The text of one value in a row: a FLOAT as the shortest text that gives the float back
// exactly (shortest_float_text, registers/values.h), a WORD or DWORD in decimal (a DWORD signed, as
// READ shows it); words holds the register's one or two words, or is null for a failed read, which
// gives the empty field.
std::string watch_csv_value(const modbus_reg_entry* entry, const uint16_t* words);

// The sample's wall-clock time in UTC, ISO 8601 with milliseconds: 2026-12-09T14:03:12.000Z.
std::string watch_csv_time(const timespec& when);

// An open record file. Rows are written whole with one write each, so a crash or Ctrl-C loses
// at most the row being written.
struct watch_csv_file {
  int fd = -1;
  std::string path;
  bool failed = false;  // a write failed; the watch goes on on screen only
};

// Opens path for appending the watch whose header row is `header`. A new or empty file gets the
// header row; an existing file whose first line is exactly that header is appended to. Returns 0,
// or -1 after printing why (a file that can't be opened, one that holds other columns) with
// nothing written and the file closed.
int watch_csv_open(const std::string& path, const std::string& header, watch_csv_file* file);

// Appends one row (fields already formatted; joined with commas, CRLF added). A failed write is
// reported once on standard output and ends the file's record; the row is lost.
void watch_csv_append(watch_csv_file* file, const std::vector<std::string>& fields);

// Closes the file (nothing when it is not open).
void watch_csv_close(watch_csv_file* file);
