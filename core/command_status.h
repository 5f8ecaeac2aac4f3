// What a console command is handed and what it hands back to the prompt loop. Shared by the
// console and the calibration commands, which the console's table names.
#pragma once

#include <string>
#include <vector>

// The outcome of one command, decided by the handler, which printed what happened.
enum command_status {
  CMD_OK = 0,    // done as asked
  CMD_FAILED,    // it printed a failure: a failed device request, invalid input, a refusal
  CMD_DECLINED,  // the operator answered no to a confirmation: nothing was done, by choice
};

// The tokens after the command word, in order, as the console cut the line (blanks separate
// tokens; a tab belongs to its token).
using command_args = std::vector<std::string>;
