// The console's command table: the command words in code order with their handlers, the
// matching rule and the HELP text. Words added to the original 24 follow them and begin with
// no earlier word, so that they can be reached and every earlier input still finds its word.
#pragma once

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
  // Commands added after the first 24; none of the words above is a prefix of theirs.
  CODE_RECONNECT,
  CODE_WATCH,
  COMMAND_COUNT
};

// A command handler takes its arguments from the cursor into the command line.
typedef void (*command_handler)(char** args);

struct console_command {
  const char* word;  // upper case
  command_handler handler;
};

extern const console_command command_table[COMMAND_COUNT];

// Returns the code of the first word in table order that the (upper-cased) token begins with,
// or -1 when none does.
int find_command(const char* token);

// Prints the help text: the original text, then a section for the added commands.
void cmd_help(char** args);
