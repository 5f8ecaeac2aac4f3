// The command line. The tool itself takes -e (--exit-on-error), for scripts, and --no-journal;
// --help and --version answer without touching the configuration or the device, so they are safe to
// try on a host that controls a live modulator.
#pragma once

// Handles the arguments before anything else happens. Returns -1 when the tool runs as usual:
// there are none, or only -e / --exit-on-error, which sets *exit_on_error_given, and
// --no-journal, which turns the journal off (journal_turn_off). Otherwise returns
// the exit status for main to end with: 0 after printing the usage text (--help) or the name and
// version (--version) on standard output, 1 when that text could not be written (said on standard
// error); the first of --help and --version decides. 2 after naming an unknown argument on standard
// error, its bytes other than printable ASCII escaped (\xHH, \\ for a backslash). Main thread,
// first thing in main.
int command_line_handle(int argc, char** argv, bool* exit_on_error_given);
