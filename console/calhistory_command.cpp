#include "console/calhistory_command.h"

#include <cstdio>
#include <string>

#include "calibration/calibration.h"
#include "calibration/calibration_history.h"
#include "console/register_commands.h"
#include "registers/catalogue.h"

command_status cmd_calhistory(const command_args& args) {
  int reg_cal = 0;
  if (!args.empty()) {
    std::string token = args[0];
    const modbus_reg_entry* entry = find_register(token.data());
    if (entry == nullptr) return CMD_FAILED;
    if (entry->type != SET_CALIB && entry->type != READ_CALIB) {
      printf("Not a calibration register: %s (%d, %s)\n", entry->name, entry->address,
             reg_type_name(entry->type));
      return CMD_FAILED;
    }
    reg_cal = entry->address;
  } else if (calib_session_running()) {
    reg_cal = calib_selected_definition()->iRegCal;
  }
  return calib_history_print(reg_cal) == 0 ? CMD_OK : CMD_FAILED;
}
