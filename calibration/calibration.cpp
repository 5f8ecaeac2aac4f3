#include "calibration/calibration.h"

#include <cstdio>

calib_session_t calib_session;

namespace {

void not_available() { printf("Calibration is not available yet.\n"); }

}  // namespace

void calib_console_start() {
  calib_session.iSelected = 0;
  calib_session.iPrecondition = -1;
}

void cmd_calibrate(char**) { not_available(); }
void cmd_cal_set(char**) { not_available(); }
void cmd_cal_actual(char**) { not_available(); }
void cmd_cal_dac_adc(char**) { not_available(); }
void cmd_cal_add(char**) { not_available(); }
void cmd_cal_edit(char**) { not_available(); }
void cmd_cal_step(char**) { not_available(); }
void cmd_cal_del(char**) { not_available(); }
void cmd_cal_send(char**) { not_available(); }
void cmd_cal_print(char**) { not_available(); }
void calib_quit_session() { calib_session.iActive = 0; }
void calib_read_shortcut() { not_available(); }
