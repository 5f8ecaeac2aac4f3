// The console's command table: one row per command word, in code order, holding all there is
// to know about the command outside its handler: the word, the handler, how many arguments it
// needs, what they complete to, its help entry and what it does inside a calibration session.
// The dispatcher, HELP and tab completion all read it, so a new command is one row (plus its
// handler and help lines).
//
// Words added to the original 24 follow them and begin with no earlier word, so that they can
// be reached and every earlier input still finds its word. HELP prints the original commands in
// their long-standing layout and the added ones, in table order, in a section after them.
#pragma once

#include <cstddef>
#include <span>

#include "core/command_status.h"

// Codes of the original commands: a word's place in the table. Added commands need no code.
enum console_command_code {
  CODE_Q = 0,
  CODE_HELP,
  CODE_READ,
  CODE_WRITE,
  CODE_RR,
  CODE_RW,
  CODE_SETBIT,
  CODE_LOGIN,
  CODE_LOGOUT,
  CODE_STATUS,
  CODE_STATE,
  CODE_RESET,
  CODE_DUMP,
  CODE_STARTUP,
  CODE_CALIBRATE,
  CODE_SET,
  CODE_ACTUAL,
  CODE_DAC_ADC,
  CODE_ADD,
  CODE_EDIT,
  CODE_STEP,
  CODE_DEL,
  CODE_SEND,
  CODE_PRINT,
  ORIGINAL_COMMAND_COUNT
};

// A command handler: args are the tokens after the command word, at least as many as its row
// needs (tokens after those a command takes are ignored). It prints what happens and returns
// how it went: CMD_FAILED when it printed a failure, CMD_DECLINED when the operator said no.
typedef command_status (*command_handler)(const command_args& args);

// The arguments a row's handler cannot go without: with fewer than count tokens the dispatcher
// prints missing as a line and runs nothing (no device request). A command whose refusal comes
// only after it has looked at its first arguments (WRITE's "Missing data.", which follows the
// register's header) checks the later ones itself; so do the commands whose arguments are
// optional words (STATE, STATUS) or one or three tokens (SETBIT beyond its register).
struct argument_count {
  size_t count = 0;
  const char* missing = nullptr;
};

// The most tokens a row's handler takes: with more, the dispatcher prints too_many as a line and
// runs nothing. `option` (any case) names an option whose value follows it (WATCH's -o and its
// file): neither is counted. An option given without its value or twice is left to the handler,
// whose refusal of it comes first. most 0: no limit.
struct argument_limit {
  size_t most = 0;
  const char* too_many = nullptr;
  const char* option = nullptr;
};

// What the arguments of a command complete to on the interactive line.
enum argument_completion {
  COMPLETE_NOTHING,
  COMPLETE_REGISTER,             // the first argument: a catalogue register name
  COMPLETE_REGISTERS,            // every argument: a catalogue register name
  COMPLETE_KEYWORD,              // the first argument: one of the row's keywords
  COMPLETE_FILE,                 // the first argument: a file name
  COMPLETE_FILE_THEN_REGISTERS,  // a file name, then every further argument a register name
};

// One entry of the help text: the summary printed beside the command word, and the lines
// printed under it, aligned with the summary.
struct command_help {
  const char* summary = nullptr;  // nullptr: no entry
  std::span<const char* const> details = {};
};

struct console_command {
  const char* word;  // upper case
  command_handler handler;
  argument_count needs;
  argument_completion completes;
  // COMPLETE_KEYWORD: the very list the command's parser matches its first argument against.
  std::span<const char* const> keywords;
  command_help help;
  // What the command does inside a calibration session, when that differs enough to have its
  // own entry among the calibration commands (READ).
  command_help session_help = {};
  // Inside a calibration session, runs in place of the refusal when fewer tokens than needed
  // came (READ and WRITE without argument read the session's read register).
  command_handler session_handler = nullptr;
  // A further count the row needs once `needs` is met, with its own refusal (RESTORE's register
  // after the file), and the most tokens it takes.
  argument_count then_needs = {};
  argument_limit limit = {};
};

// The rows in code order; constant, read by the console thread.
extern const std::span<const console_command> command_table;

// Returns the code of the first word in table order that the (upper-cased) token begins with,
// or -1 when none does.
int find_command(const char* token);

// Runs a row on the tokens after its word, as the console does once it has found the row: fewer
// tokens than the row needs go to its session handler inside a calibration session, else are
// refused with the row's message (CMD_FAILED), as are fewer than then_needs and more than its
// limit; otherwise the handler runs. Returns the status of
// what ran. Console thread.
command_status run_command(const console_command& command, const command_args& args);

// Prints the help text: the original text, then a section for the added commands.
command_status cmd_help(const command_args& args);
