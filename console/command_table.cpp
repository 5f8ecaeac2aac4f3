#include "console/command_table.h"

#include <cstdio>
#include <cstring>
#include <ranges>
#include <span>

#include "calibration/calibration.h"
#include "console/console.h"
#include "console/device_commands.h"
#include "console/dump.h"
#include "console/register_commands.h"
#include "console/startup.h"
#include "console/watch.h"
#include "core/colours.h"
#include "core/lifecycle.h"

namespace {

// Q outside a session ends the tool; inside one it ends the session.
void cmd_quit(char**) {
  if (calib_session_running()) {
    calib_end_session();
  } else {
    quit_requested.store(1);
  }
}

enum help_colour { HELP_PLAIN, HELP_RED, HELP_GREEN };

struct help_line {
  const char* text;  // plain lines get a line end; coloured ones carry theirs
  help_colour colour;
};

const help_line help_text[] = {
    {"Calibration and Chat utility for Veltrona modulator", HELP_PLAIN},
    {"-----------------------------------------------------", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"%sGeneric commands%s:\n", HELP_RED},
    {"", HELP_PLAIN},
    {"  %sHELP%s      : Print this help.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sQ%s         : Quit tool or calibration session.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sREAD%s      : Read from Modbus register.\n", HELP_GREEN},
    {"              READ <<address,dec> or <name,string>>", HELP_PLAIN},
    {"              <address,dec> : address, decimal only", HELP_PLAIN},
    {"              <name,string> : register name (can be partial), string", HELP_PLAIN},
    {"              Partial <name> should be unique, examples below.", HELP_PLAIN},
    {"                READ 5120       -> read MB_STATE_SET", HELP_PLAIN},
    {"                READ STATE      -> read MB_STATE_SET", HELP_PLAIN},
    {"                READ STATE_SET  -> read MB_STATE_SET", HELP_PLAIN},
    {"                READ STATE_READ -> read MB_STATE_READ", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sWRITE%s     : Write to Modbus register.\n", HELP_GREEN},
    {"              WRITE <<address,dec> or <name,string>> <value,dec/hex/float>", HELP_PLAIN},
    {"              <address,dec> : address, decimal only", HELP_PLAIN},
    {"              <name,string> : register name (can be partial), string", HELP_PLAIN},
    {"              <value,d/h/f> : value to write, type is according to register", HELP_PLAIN},
    {"              Partial <name> behaves similarly as in READ command.", HELP_PLAIN},
    {"                WRITE STATE 3           -> write 3 to MB_STATE_SET", HELP_PLAIN},
    {"                WRITE MAX_AVERAGE 0.93  -> write 0.93 to MB_MAX_AVERAGE_POWER", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sRR%s        : Read from Modbus register, type specified.\n", HELP_GREEN},
    {"              RR <FLOAT/WORD/DWORD/RAW> <address,hex/dec> [<word size,dec>]", HELP_PLAIN},
    {"              <FLOAT/WORD/DWORD/RAW> : data type, string", HELP_PLAIN},
    {"              <address,hex/dec> : address, hex (start with 0x) or decimal", HELP_PLAIN},
    {"              [<word size,dec>] : (only for RAW) word size", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sRW%s        : Write to Modbus register, type specified.\n", HELP_GREEN},
    {"              RW <FLOAT/WORD/DWORD/RAW> <address,hex/dec> <data,float/word/dword/word-array>", HELP_PLAIN},
    {"              <data> : according to data type. For ROW, each hex words are separated by a space.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sSETBIT%s    : Set/read bits from Modbus register.\n", HELP_GREEN},
    {"              SETBIT <<address,dec> or <name,string>> [<bit position> <bit value>]", HELP_PLAIN},
    {"              <address,dec> : address, decimal only", HELP_PLAIN},
    {"              <name,string> : register name (can be partial), string", HELP_PLAIN},
    {"              <bit position,dec> : bit position to modify", HELP_PLAIN},
    {"              <bit value,dec> : bit value, 0 or 1", HELP_PLAIN},
    {"              With only <address> or <name> provided, this will read all bits.", HELP_PLAIN},
    {"              Example: SETBIT 5200, read all bits in reg 5200.", HELP_PLAIN},
    {"              Example: SETBIT 5200 11 0, set bit-11 with value 0.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sSTATUS%s    : Get device status.\n", HELP_GREEN},
    {"              STATUS [option]", HELP_PLAIN},
    {"              option=short, return short result.", HELP_PLAIN},
    {"              option=long or not supplied, return result with description.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sSTATE%s     : Set device's state.\n", HELP_GREEN},
    {"              STATE [<state>]", HELP_PLAIN},
    {"              <state> can be in decimal (0, 3, 6, 9) or string name (OFF, STANDBY, HV, TRIG)", HELP_PLAIN},
    {"              Without argument, this will return current state read.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sRESET%s     : Interlock reset.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sLOGIN%s     : Log in to gain write access.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sLOGOUT%s    : Log out to release write access.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sDUMP%s      : Read entire registers to a file.\n", HELP_GREEN},
    {"              DUMP <filepath,string>", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sSTARTUP%s   : Configure startup registers. Startup registers are loaded during tool startup.\n", HELP_GREEN},
    {"              STARTUP or STARTUP PRINT: to print startup registers list.", HELP_PLAIN},
    {"              STARTUP ADD <reg address> <reg value>: to add startup register.", HELP_PLAIN},
    {"              STARTUP DEL <reg address>: to delete startup register.", HELP_PLAIN},
    {"              Example: STARTUP ADD 5136 0.5", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"%sCalibration commands%s:\n", HELP_RED},
    {"", HELP_PLAIN},
    {"  %sCALIBRATE%s : Display calibration menu and start calibration session.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sSET%s       : Set condition for a calibration point.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sDAC-ADC%s   : Read DAC/ADC of a calibration point.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sACTUAL%s    : Set actual value for a calibration point.\n", HELP_GREEN},
    {"              * Example for Filament Set Calibration:", HELP_PLAIN},
    {"              SET for user to set Filament Voltage (5126),", HELP_PLAIN},
    {"              DAC-ADC to read the DAC value (as Y-axis),", HELP_PLAIN},
    {"              ACTUAL for user to input the measured/actual value (as X-axis).", HELP_PLAIN},
    {"              * Example for Filament Volt Read Calibration:", HELP_PLAIN},
    {"              SET for user to set Filament Voltage (5126),", HELP_PLAIN},
    {"              DAC-ADC to read the ADC value (as X-axis),", HELP_PLAIN},
    {"              ACTUAL for user to input the measured/actual value (as Y-axis).", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sADD%s       : Add pair of {DAC-ADC,ACTUAL} as entry to calibration table.\n", HELP_GREEN},
    {"              With no argument, add consecutively, e.g. first ADD adds to 1st entry, second ADD adds to second entry.", HELP_PLAIN},
    {"              With <entry number>, add to specific entry, e.g. ADD 4 to add/modify fourth entry.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sDEL%s       : Delete an entry from calibration table.\n", HELP_GREEN},
    {"              With no argument, remove last entry.", HELP_PLAIN},
    {"              With <entry number>, remove specific entry, e.g. REMOVE 4 to remove/invalidate fourth entry.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sREAD%s      : Inside calibration session, READ without argument is shortcut to read pre-specified read register.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sPRINT%s     : Print calibration table vs calibration table from device.\n", HELP_GREEN},
    {"", HELP_PLAIN},
    {"  %sEDIT%s      : Edit existing calibration table.\n", HELP_GREEN},
    {"              1) Normal mode, need SEND command to write to device.", HELP_PLAIN},
    {"                EDIT <entry number> <param> <new value>", HELP_PLAIN},
    {"                <entry number>    : entry number of calibration table, decimal.", HELP_PLAIN},
    {"                <param>           : parameter to edit {ACTUAL, DAC or ADC}, string.", HELP_PLAIN},
    {"                <new value>       : new value to set, decimal/hexadecimal or float (according to <param>).", HELP_PLAIN},
    {"                Example: EDIT 5 ACTUAL 9.01", HELP_PLAIN},
    {"                Example: EDIT 5 DAC 0x3DF1", HELP_PLAIN},
    {"              2) Interactive mode, changes are written to device immediately.", HELP_PLAIN},
    {"                EDIT <entry number> -i", HELP_PLAIN},
    {"                Within interactive mode,", HELP_PLAIN},
    {"                    press 'v': to decrease DAC/ADC value,", HELP_PLAIN},
    {"                    press 'V': to increase DAC/ADC value,", HELP_PLAIN},
    {"                    press 'q' or 'Q': to exit from interactive mode.", HELP_PLAIN},
    {"                Example: EDIT 2 -i", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sSTEP%s      : Modify default step size for DAC/ADC in interactive mode in current calibration.\n", HELP_GREEN},
    {"              STEP <new step size>", HELP_PLAIN},
    {"              <new step size> : new step size, decimal.", HELP_PLAIN},
    {"              Note that step size is reloaded to new selected calibration's default step.", HELP_PLAIN},
    {"              Without argument, this will return current step.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sSEND%s      : Send calibration table to the device.\n", HELP_GREEN},
    {"", HELP_PLAIN},
};

// The commands added to the original set, after its text and in its layout; a new command adds
// its lines here.
const help_line added_help_text[] = {
    {"%sFurther commands%s:\n", HELP_RED},
    {"", HELP_PLAIN},
    {"  %sRECONNECT%s : Close the connection and connect again, e.g. after a device restart.\n",
     HELP_GREEN},
    {"              Logs in and writes the startup registers again, as at tool start.", HELP_PLAIN},
    {"              A running calibration session is kept.", HELP_PLAIN},
    {"", HELP_PLAIN},
    {"  %sWATCH%s     : Show registers live, one line per second.\n", HELP_GREEN},
    {"              WATCH <<address,dec> or <name,string>> [...]", HELP_PLAIN},
    {"              Up to 8 FLOAT, WORD or DWORD registers, chosen as in READ.", HELP_PLAIN},
    {"              Any key ends the watch; with piped input, the next input line.", HELP_PLAIN},
    {"", HELP_PLAIN},
};

// HELP prints the sections one after the other.
const std::span<const help_line> help_sections[] = {help_text, added_help_text};

}  // namespace

const console_command command_table[COMMAND_COUNT] = {
    {"Q", cmd_quit},
    {"HELP", cmd_help},
    {"READ", cmd_read},
    {"WRITE", cmd_write},
    {"RR", cmd_rr},
    {"RW", cmd_rw},
    {"SETBIT", cmd_setbit},
    {"LOGIN", cmd_login},
    {"LOGOUT", cmd_logout},
    {"STATUS", cmd_status},
    {"STATE", cmd_state},
    {"RESET", cmd_reset},
    {"DUMP", cmd_dump},
    {"STARTUP", cmd_startup},
    {"CALIBRATE", cmd_calibrate},
    {"SET", cmd_cal_set},
    {"ACTUAL", cmd_cal_actual},
    {"DAC-ADC", cmd_cal_dac_adc},
    {"ADD", cmd_cal_add},
    {"EDIT", cmd_cal_edit},
    {"STEP", cmd_cal_step},
    {"DEL", cmd_cal_del},
    {"SEND", cmd_cal_send},
    {"PRINT", cmd_cal_print},
    {"RECONNECT", cmd_reconnect},
    {"WATCH", cmd_watch},
};

int find_command(const char* token) {
  for (int code = 0; code < COMMAND_COUNT; code++) {
    const char* word = command_table[code].word;
    if (strncmp(token, word, strlen(word)) == 0) return code;
  }
  return -1;
}

void cmd_help(char**) {
  for (const help_line& line : help_sections | std::views::join) {
    switch (line.colour) {
      case HELP_PLAIN:
        printf("%s\n", line.text);
        break;
      case HELP_RED:
        printf(line.text, colours.red, colours.reset);
        break;
      case HELP_GREEN:
        printf(line.text, colours.green, colours.reset);
        break;
    }
  }
}
