#include "console/calhistory_command.h"

#include <cstdio>
#include <string>

#include "calibration/calibration.h"
#include "calibration/calibration_history.h"
#include "registers/catalogue.h"
#include "registers/register_lookup.h"

command_status cmd_calhistory(const command_args& args) {
  int reg_cal = 0;
  if (!args.empty()) {
    const modbus_reg_entry* entry = find_register(args[0].c_str());
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
