#include "console/command_table.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "calibration/calibration.h"
#include "console/calhistory_command.h"
#include "console/compare.h"
#include "console/console.h"
#include "console/device_commands.h"
#include "console/dump.h"
#include "console/register_commands.h"
#include "console/startup.h"
#include "console/watch.h"
#include "core/colours.h"
#include "core/command_status.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"

namespace {

// Q outside a session ends the tool; inside one it ends the session.
command_status cmd_quit(const command_args&) {
  if (calib_session_running()) return calib_end_session();
  quit_requested.store(1);
  return CMD_OK;
}

// The refusals the dispatcher prints for a missing first argument.
constexpr argument_count needs_register = {1, missing_address_text};
constexpr argument_count needs_type = {1, "Missing Type (RAW, FLOAT, WORD, or DWORD)."};

// The lines under each help summary, without the indentation that aligns them with it.
// One literal per output line, kept whole so that a search finds each line as printed.
// clang-format off
constexpr const char* read_details[] = {
    "READ <<address,dec> or <name,string>>",
    "<address,dec> : address, decimal only",
    "<name,string> : register name (can be partial), string",
    "Partial <name> should be unique, examples below.",
    "  READ 5120       -> read MB_STATE_SET",
    "  READ STATE      -> read MB_STATE_SET",
    "  READ STATE_SET  -> read MB_STATE_SET",
    "  READ STATE_READ -> read MB_STATE_READ",
};
constexpr const char* write_details[] = {
    "WRITE <<address,dec> or <name,string>> <value,dec/hex/float>",
    "<address,dec> : address, decimal only",
    "<name,string> : register name (can be partial), string",
    "<value,d/h/f> : value to write, type is according to register",
    "Partial <name> behaves similarly as in READ command.",
    "  WRITE STATE 3           -> write 3 to MB_STATE_SET",
    "  WRITE MAX_AVERAGE 0.93  -> write 0.93 to MB_MAX_AVERAGE_POWER",
};
constexpr const char* rr_details[] = {
    "RR <FLOAT/WORD/DWORD/RAW> <address,hex/dec> [<word size,dec>]",
    "<FLOAT/WORD/DWORD/RAW> : data type, string",
    "<address,hex/dec> : address, hex (start with 0x) or decimal",
    "[<word size,dec>] : (only for RAW) word size",
};
constexpr const char* rw_details[] = {
    "RW <FLOAT/WORD/DWORD/RAW> <address,hex/dec> <data,float/word/dword/word-array>",
    "<data> : according to data type. For ROW, each hex words are separated by a space.",
};
constexpr const char* setbit_details[] = {
    "SETBIT <<address,dec> or <name,string>> [<bit position> <bit value>]",
    "<address,dec> : address, decimal only",
    "<name,string> : register name (can be partial), string",
    "<bit position,dec> : bit position to modify",
    "<bit value,dec> : bit value, 0 or 1",
    "With only <address> or <name> provided, this will read all bits.",
    "Example: SETBIT 5200, read all bits in reg 5200.",
    "Example: SETBIT 5200 11 0, set bit-11 with value 0.",
};
constexpr const char* status_details[] = {
    "STATUS [option]",
    "option=short, return short result.",
    "option=long or not supplied, return result with description.",
};
constexpr const char* state_details[] = {
    "STATE [<state>]",
    "<state> can be in decimal (0, 3, 6, 9) or string name (OFF, STANDBY, HV, TRIG)",
    "Without argument, this will return current state read.",
};
constexpr const char* dump_details[] = {
    "DUMP <filepath,string>",
};
constexpr const char* startup_details[] = {
    "STARTUP or STARTUP PRINT: to print startup registers list.",
    "STARTUP ADD <reg address> <reg value>: to add startup register.",
    "STARTUP DEL <reg address>: to delete startup register.",
    "Example: STARTUP ADD 5136 0.5",
};
constexpr const char* actual_details[] = {
    "* Example for Filament Set Calibration:",
    "SET for user to set Filament Voltage (5126),",
    "DAC-ADC to read the DAC value (as Y-axis),",
    "ACTUAL for user to input the measured/actual value (as X-axis).",
    "* Example for Filament Volt Read Calibration:",
    "SET for user to set Filament Voltage (5126),",
    "DAC-ADC to read the ADC value (as X-axis),",
    "ACTUAL for user to input the measured/actual value (as Y-axis).",
};
constexpr const char* add_details[] = {
    "With no argument, add consecutively, e.g. first ADD adds to 1st entry, second ADD adds to second entry.",
    "With <entry number>, add to specific entry, e.g. ADD 4 to add/modify fourth entry.",
};
constexpr const char* del_details[] = {
    "With no argument, remove last entry.",
    "With <entry number>, remove specific entry, e.g. REMOVE 4 to remove/invalidate fourth entry.",
};
constexpr const char* edit_details[] = {
    "1) Normal mode, need SEND command to write to device.",
    "  EDIT <entry number> <param> <new value>",
    "  <entry number>    : entry number of calibration table, decimal.",
    "  <param>           : parameter to edit {ACTUAL, DAC or ADC}, string.",
    "  <new value>       : new value to set, decimal/hexadecimal or float (according to <param>).",
    "  Example: EDIT 5 ACTUAL 9.01",
    "  Example: EDIT 5 DAC 0x3DF1",
    "2) Interactive mode, changes are written to device immediately.",
    "  EDIT <entry number> -i",
    "  Within interactive mode,",
    "      press 'v': to decrease DAC/ADC value,",
    "      press 'V': to increase DAC/ADC value,",
    "      press 'q' or 'Q': to exit from interactive mode.",
    "  Example: EDIT 2 -i",
};
constexpr const char* step_details[] = {
    "STEP <new step size>",
    "<new step size> : new step size, decimal.",
    "Note that step size is reloaded to new selected calibration's default step.",
    "Without argument, this will return current step.",
};
constexpr const char* reconnect_details[] = {
    "Logs in and writes the startup registers again, as at tool start.",
    "A running calibration session is kept.",
};
constexpr const char* watch_details[] = {
    "WATCH <<address,dec> or <name,string>> [...] [-o <filepath,string>]",
    "Up to 8 FLOAT, WORD or DWORD registers, chosen as in READ.",
    "Any key ends the watch; with piped input, the next input line.",
    "-o appends one CSV row per second to the file: UTC time, then each value.",
};
constexpr const char* compare_details[] = {
    "COMPARE <filepath,string> [<pattern> ...]",
    "Reads the registers a DUMP file holds and shows those whose values differ from the file.",
    "<pattern> : part of a register name, e.g. _CAL for the calibration tables.",
};
constexpr const char* restore_details[] = {
    "RESTORE <filepath,string> <<address,dec> or <name,string>> [...]",
    "Writes up to 16 registers, chosen as in READ, back to their values in a DUMP file,",
    "after showing what changes and asking. FLOAT, WORD, DWORD and calibration registers.",
    "A dump keeps floats to 6 significant digits: a restored FLOAT is that rounded value.",
    "Never a command register, nor a read-back one (measurements and status): 5480 to 5598",
    "and every name ending in _READ; never two registers that share a word.",
};
constexpr const char* calhistory_details[] = {
    "CALHISTORY [<<address,dec> or <name,string>>]",
    "A SET_CALIB or READ_CALIB register, chosen as in READ; without it, the",
    "session's calibration register, or outside a session every table.",
    "Every SEND, every interactive edit that sent and every table RESTORE wrote is",
    "recorded, as found and as left, in $XDG_STATE_HOME/veltrona_tool/calibrations.jsonl",
    "(~/.local/state/...).",
};

constexpr console_command commands[] = {
    {"Q", cmd_quit, {}, COMPLETE_NOTHING, {}, {"Quit tool or calibration session."}},
    {"HELP", cmd_help, {}, COMPLETE_NOTHING, {}, {"Print this help."}},
    {"READ", cmd_read, needs_register, COMPLETE_REGISTER, {}, {"Read from Modbus register.", read_details},
     {"Inside calibration session, READ without argument is shortcut to read pre-specified read register."},
     cmd_cal_read},
    {"WRITE", cmd_write, needs_register, COMPLETE_REGISTER, {}, {"Write to Modbus register.", write_details},
     {}, cmd_cal_read},
    {"RR", cmd_rr, needs_type, COMPLETE_KEYWORD, type_keywords,
     {"Read from Modbus register, type specified.", rr_details}},
    {"RW", cmd_rw, needs_type, COMPLETE_KEYWORD, type_keywords,
     {"Write to Modbus register, type specified.", rw_details}},
    {"SETBIT", cmd_setbit, needs_register, COMPLETE_REGISTER, {},
     {"Set/read bits from Modbus register.", setbit_details}},
    {"LOGIN", cmd_login, {}, COMPLETE_NOTHING, {}, {"Log in to gain write access."}},
    {"LOGOUT", cmd_logout, {}, COMPLETE_NOTHING, {}, {"Log out to release write access."}},
    {"STATUS", cmd_status, {}, COMPLETE_KEYWORD, status_keywords,
     {"Get device status.", status_details}},
    {"STATE", cmd_state, {}, COMPLETE_KEYWORD, state_keywords, {"Set device's state.", state_details}},
    {"RESET", cmd_reset, {}, COMPLETE_NOTHING, {}, {"Interlock reset."}},
    {"DUMP", cmd_dump, {1, missing_filename_text}, COMPLETE_FILE, {},
     {"Read entire registers to a file.", dump_details}},
    {"STARTUP", cmd_startup, {}, COMPLETE_KEYWORD, startup_keywords,
     {"Configure startup registers. Startup registers are loaded during tool startup.", startup_details}},
    {"CALIBRATE", cmd_calibrate, {}, COMPLETE_NOTHING, {},
     {"Display calibration menu and start calibration session."}},
    {"SET", cmd_cal_set, {}, COMPLETE_NOTHING, {}, {"Set condition for a calibration point."}},
    {"ACTUAL", cmd_cal_actual, {}, COMPLETE_NOTHING, {},
     {"Set actual value for a calibration point.", actual_details}},
    {"DAC-ADC", cmd_cal_dac_adc, {}, COMPLETE_NOTHING, {}, {"Read DAC/ADC of a calibration point."}},
    {"ADD", cmd_cal_add, {}, COMPLETE_NOTHING, {},
     {"Add pair of {DAC-ADC,ACTUAL} as entry to calibration table.", add_details}},
    {"EDIT", cmd_cal_edit, {1, "Missing point."}, COMPLETE_NOTHING, {},
     {"Edit existing calibration table.", edit_details}},
    {"STEP", cmd_cal_step, {}, COMPLETE_NOTHING, {},
     {"Modify default step size for DAC/ADC in interactive mode in current calibration.", step_details}},
    {"DEL", cmd_cal_del, {}, COMPLETE_NOTHING, {},
     {"Delete an entry from calibration table.", del_details}},
    {"SEND", cmd_cal_send, {}, COMPLETE_NOTHING, {}, {"Send calibration table to the device."}},
    {"PRINT", cmd_cal_print, {}, COMPLETE_NOTHING, {},
     {"Print calibration table vs calibration table from device."}},
    // Added commands; HELP lists them in this order under its last heading.
    {"RECONNECT", cmd_reconnect, {}, COMPLETE_NOTHING, {},
     {"Close the connection and connect again, e.g. after a device restart.", reconnect_details}},
    {"WATCH", cmd_watch, needs_register, COMPLETE_REGISTERS, {},
     {"Show registers live, one line per second.", watch_details}, {}, nullptr, {},
     {WATCH_MAX_REGISTERS, "Too many registers: WATCH shows at most 8.", "-o"}},
    {"COMPARE", cmd_compare, {1, missing_filename_text}, COMPLETE_FILE_THEN_REGISTERS, {},
     {"Compare registers with a dump file.", compare_details}},
    {"RESTORE", cmd_restore, {1, missing_filename_text}, COMPLETE_FILE_THEN_REGISTERS, {},
     {"Restore registers from a dump file.", restore_details}, {}, nullptr,
     {2, missing_address_text},
     {1 + RESTORE_MAX_REGISTERS, "Too many registers: RESTORE puts back at most 16."}},
    {"CALHISTORY", cmd_calhistory, {}, COMPLETE_REGISTER, {},
     {"Show the last 10 recorded calibrations of a table, oldest first.", calhistory_details}},
};
// clang-format on

static_assert(std::size(commands) > ORIGINAL_COMMAND_COUNT);

// One place in the original help text: a command's entry, or its session entry.
struct help_place {
  console_command_code code;
  bool session = false;
};

// The original help text, in its long-standing order, which is not the table's.
struct help_section {
  const char* heading;
  std::span<const help_place> places;
};

constexpr help_place generic_places[] = {
    {CODE_HELP},  {CODE_Q},      {CODE_READ},   {CODE_WRITE},   {CODE_RR},
    {CODE_RW},    {CODE_SETBIT}, {CODE_STATUS}, {CODE_STATE},   {CODE_RESET},
    {CODE_LOGIN}, {CODE_LOGOUT}, {CODE_DUMP},   {CODE_STARTUP},
};
constexpr help_place calibration_places[] = {
    {CODE_CALIBRATE},  {CODE_SET},   {CODE_DAC_ADC}, {CODE_ACTUAL}, {CODE_ADD},  {CODE_DEL},
    {CODE_READ, true}, {CODE_PRINT}, {CODE_EDIT},    {CODE_STEP},   {CODE_SEND},
};
constexpr help_section original_help[] = {
    {"Generic commands", generic_places},
    {"Calibration commands", calibration_places},
};
constexpr const char* added_commands_heading = "Further commands";

// Command words sit in a column this wide, so that the summaries line up; the widest words,
// CALIBRATE and RECONNECT, fill it.
constexpr int HELP_WORD_WIDTH = 9;
// Where summaries and the lines under them begin.
constexpr int HELP_TEXT_COLUMN = 2 + HELP_WORD_WIDTH + 3;

void print_heading(const char* heading) {
  printf("%s%s%s:\n", colours.red, heading, colours.reset);
  printf("\n");
}

// The word in green, padded after the colour so that the padding is plain blanks.
void print_entry(const char* word, const command_help& help) {
  int pad = HELP_WORD_WIDTH - static_cast<int>(strlen(word));
  printf("  %s%s%s%*s : %s\n", colours.green, word, colours.reset, pad > 0 ? pad : 0, "",
         help.summary);
  for (const char* line : help.details) printf("%*s%s\n", HELP_TEXT_COLUMN, "", line);
  printf("\n");
}

// Whether args hold more tokens than the limit lets through, an option and its value uncounted.
bool exceeds(const argument_limit& limit, const command_args& args) {
  if (limit.most == 0) return false;
  size_t counted = 0;
  bool option_seen = false;
  for (size_t i = 0; i < args.size(); i++) {
    if (limit.option == nullptr || strcasecmp(args[i].c_str(), limit.option) != 0) {
      counted++;
      continue;
    }
    if (option_seen || i + 1 == args.size()) return false;
    option_seen = true;
    i++;
  }
  return counted > limit.most;
}

}  // namespace

constinit const std::span<const console_command> command_table = commands;

int find_command(const char* token) {
  for (size_t code = 0; code < command_table.size(); code++) {
    const char* word = command_table[code].word;
    if (strncmp(token, word, strlen(word)) == 0) return static_cast<int>(code);
  }
  return -1;
}

command_status run_command(const console_command& command, const command_args& args) {
  if (args.size() < command.needs.count) {
    if (command.session_handler && calib_session_running()) return command.session_handler(args);
    printf("%s\n", command.needs.missing);
    return CMD_FAILED;
  }
  if (args.size() < command.then_needs.count) {
    printf("%s\n", command.then_needs.missing);
    return CMD_FAILED;
  }
  if (exceeds(command.limit, args)) {
    printf("%s\n", command.limit.too_many);
    return CMD_FAILED;
  }
  return command.handler(args);
}

command_status cmd_help(const command_args&) {
  printf("Calibration and Chat utility for Veltrona modulator\n");
  printf("-----------------------------------------------------\n");
  printf("\n");
  for (const help_section& section : original_help) {
    print_heading(section.heading);
    for (const help_place& place : section.places) {
      const console_command& command = command_table[place.code];
      print_entry(command.word, place.session ? command.session_help : command.help);
    }
  }
  print_heading(added_commands_heading);
  for (const console_command& command : command_table.subspan(ORIGINAL_COMMAND_COUNT)) {
    print_entry(command.word, command.help);
    if (command.session_help.summary) print_entry(command.word, command.session_help);
  }
  return CMD_OK;
}
