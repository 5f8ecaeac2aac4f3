// WATCH: a live view of up to eight catalogue registers, one line per wall-clock second, for
// following a value while the device is tuned. Reads only; never writes to the device.
// Console thread only.
#pragma once

#include "core/command_status.h"

// Maximum number of registers one WATCH shows.
constexpr int WATCH_MAX_REGISTERS = 8;

// WATCH <register> [<register> ...]: each register chosen as READ chooses it, FLOAT, WORD and
// DWORD only. Prints the registers' headers, then once a wall-clock second the local time and
// each register's name and value (READ's value format, "----" for a read that failed). Ends at
// a terminal on any key, which is read and dropped (the terminal's modes are restored on every
// way out); with piped or redirected input as soon as input is waiting (the next line, or end
// of input), which is left unread for the console; and on Ctrl-C. The table hands it at least one
// token. With -o <path> (any case, anywhere after the word; the path keeps its case) each whole
// sample is also appended to a CSV file as one row (console/watch_csv.h), stamped with the time
// the sample started; a file that can't be opened or holds other columns is refused before
// anything is watched. Fails on a refusal, or when a row could not be written (the watch then
// went on on screen only); reads that failed during the watch are not a failure of it.
command_status cmd_watch(const command_args& args);
