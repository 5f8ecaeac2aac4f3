// The command line. Options for scripts (-e, -q, -c, -f), the device and the configuration of
// this run (-H, -p, --config), the size of planned reads (--max-block), the journal (--no-journal);
// --help and --version answer without touching the configuration or the device, so they are safe to
// try on a host that controls a live modulator.
#pragma once

#include <string>
#include <vector>

#include "registers/read_plan.h"

// What the options asked for. Pointers point into argv.
struct command_line_options {
  bool exit_on_error = false;
  bool quiet = false;
  const char* config_file = nullptr;  // --config; nullptr: the default file
  const char* host = nullptr;         // -H; nullptr: the configuration's sIpAddr
  int port = 0;                       // -p; 0: the configuration's iPort
  std::vector<std::string> commands;  // -c, in order
  const char* script_file = nullptr;  // -f
  int max_block = READ_BLOCK_MAX;     // --max-block: most registers in one planned read
  bool no_journal = false;            // --no-journal: send nothing to the host's journal
};

// Exit status of a command line the tool does not understand (as getopt-based tools use).
constexpr int STATUS_BAD_USAGE = 2;

// Parses the arguments (getopt_long: --opt=value, --, bundled short options) before anything
// else happens. Returns -1 when the tool runs, with *options filled. Otherwise returns the exit
// status for main to end with: 0 after printing the usage text (--help) or the name and version
// (--version) on standard output, 1 when that text could not be written (said on standard
// error); the first of --help and --version decides, and only once every argument was
// understood. 2 after one line on standard error naming what was not understood: an unknown
// argument (its bytes other than printable ASCII escaped, \xHH, \\ for a backslash), an option
// without its value, an address, port or block size that doesn't parse, -c together with -f. Main
// thread, first thing in main; not reentrant (getopt's state).
int command_line_handle(int argc, char** argv, command_line_options* options);

// Text as it may be shown on a terminal: bytes other than printable ASCII, which could carry
// escape sequences, and the backslash itself as C escapes.
std::string shown_argument(const char* text);
