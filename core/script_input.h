// Lines from the command line (-c) or from a file (-f) in place of standard input. Both put
// their source on descriptor 0, so that every reader of core/input.h (commands, answers,
// the start-up questions of the host service) takes its lines from there as from a pipe.
#pragma once

#include <string>
#include <vector>

// Puts the lines (each given its line end) on standard input, which then ends after the last;
// names the source "-c". Returns 0, or -1 after saying why on standard error. Main thread,
// before anything reads standard input.
int script_input_from_commands(const std::vector<std::string>& lines);

// Puts the file at path on standard input and names the source by path; "-" keeps standard
// input. Returns 0, or -1 after saying "veltrona_tool: <path>: <reason>" on standard error.
// Main thread, before anything reads standard input.
int script_input_from_file(const char* path);
