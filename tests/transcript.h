// Transcript files: integration cases written as the session looks on the screen, read by
// tests/integration_transcript_test.cpp (the runner) from tests/transcripts/*.txt.
//
//   == startup_add_is_listed           a case: "== " and its name (letters, digits, '_'),
//   # a comment                        unique over all files
//   config startup[0].iReg = 0         setup, before the session, in any order:
//   preset 5480 3                        a configuration line for the tool's file,
//   sim FAIL WRITE 5136                  registers set in the simulator, a control command,
//   args -e -c 'READ 5120'               the tool's arguments (blank-separated, or one in
//                                        single quotes), every run
//   put script.txt READ 5120             a line of a file made in the tool's directory
//   >> STARTUP ADD 5136 0.5            the session: the output from after the connection line,
//   Startup entry added: 5136, ...     a line typed after a prompt written behind it
//   >> ^D                              (^D: input ends here; the tool then prints "Exit.";
//   Exit.                               ^C: Ctrl-C here, see below)
//   writes 5136 f:0.5                  after the session, in any order: the writes after the
//   file veltrona_tool.conf has LINE   session-start login (none when not given), a line a
//   file veltrona_tool.conf unchanged  file in the tool's directory holds or that the file
//   stderr LINE                        is as before the session, a line of standard error
//   status 1                           (none when not given), the exit status (0 if not given)
//
// Typed input in a session line: after a prompt that starts the line (">> " or "[Name,1]>> "),
// the rest of the line is typed; anywhere else the typed text is in braces that end the line,
// as in "Do you want to continue? (y/n): {y}". "{}" types an empty line, also after a prompt.
// Input goes to the tool through a pipe, so the tool does not echo it: a typed line adds the text
// before it to the expected output without a line end, and its text and a line end to the input.
// A run with ^C where a typed line goes types its lines one at a time, each once the output
// before it has come, sends SIGINT once the output before the ^C has come, and waits for the
// end, which must come within INTERRUPT_BOUND_MS. Nothing is typed after it.
// Before the first case, "@define NAME" ... "@end" keeps lines that a line "@NAME" in a case
// stands for (the calibration menu shown again and again).
//
// A line "--- restart" inside the session starts the tool again in the same directory (the saved
// configuration kept); writes are then listed across both sessions, each one's login left out.
//
// In args and put lines, ${port} stands for the simulator's port. With -q (also heading a bundle,
// -qp${port}) or --quiet among the args there is no connection line (and no prompt: typed lines
// are in braces).
//
// Words, in presets and writes: decimal or 0x hexadecimal (0 to 65535), f:VALUE for the two words
// of a float (low half first), any of them followed by *N for N copies. "writes" is a function 16
// request; "writes/6", "writes/22" and "writes/23" name another function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/request_log.h"

// One run of the tool.
struct scripted_run {
  std::string input;             // the typed lines, each with its line end
  std::string output;            // standard output after the connection line
  std::vector<size_t> typed_at;  // per typed line, the length of the output before it
  bool interrupted = false;      // ^C: SIGINT once the output has reached interrupt_at
  size_t interrupt_at = 0;
};

// The longest a run may take from its ^C to its end, also in sanitizer builds.
constexpr long long INTERRUPT_BOUND_MS = 3000;

// A file line to find after the session, or (line empty, unchanged set) a file to find as it was.
struct scripted_file_check {
  std::string name;
  std::string line;
  bool unchanged = false;
};

struct scripted_case {
  std::string name;
  std::string where;  // "file:line" of the case's "==" line
  std::vector<std::string> config;
  std::vector<sim_write> presets;  // function unused
  std::vector<std::string> sim_commands;
  std::vector<std::string> args;          // the tool's command line arguments
  std::vector<scripted_file_check> puts;  // lines of files made before the first run (name, line)
  std::vector<scripted_run> runs;
  std::vector<sim_write> writes;
  std::vector<scripted_file_check> files;
  std::string err;
  int status = 0;
  std::string error;  // why the case could not be read; the runner fails it with this
};

// Reads the cases of one file's text; file names the file in error messages. A case that can't
// be read comes back with error set (and its name, or "file_line_N" when it has none).
std::vector<scripted_case> parse_transcript(std::string_view text, const std::string& file);

// Parses "ADDR word..." (the arguments of preset and writes) into w's address and values.
// Returns 0, or -1 with the reason in *why.
int parse_register_words(std::string_view text, sim_write* w, std::string* why);

// A write as a transcript line, every word in hexadecimal: "writes 5126 0x0000 0x4148".
std::string writes_line(const sim_write& w);

// "<time>" in an expected output line stands for a wall-clock time HH:MM:SS (a WATCH line).
// Returns actual with each line that fits its expected line replaced by it, for a plain compare.
std::string match_wildcards(const std::string& expected, const std::string& actual);

// The first line where two texts differ, numbered from 1, with both versions; "" when equal.
std::string first_difference(const std::string& expected, const std::string& actual);

// The directory of the transcript files, fixed by the build.
extern const char* const VT_TRANSCRIPT_DIR;

// Every case of every *.txt file in dir, files in name order. A file that can't be read, or a
// case name used twice, comes back as a case with error set.
std::vector<scripted_case> load_transcripts(const std::string& dir);
