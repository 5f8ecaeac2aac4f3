// Interactive editing of one point's DAC or ADC count: key by key, each change sent to the
// device at once while the read register is shown. Console thread only.
#pragma once

#include "core/command_status.h"

// Runs the key loop for entry 1 to 5 until q or Q, end of input, a read error or Ctrl-C.
// Keys are single bytes read through core/input's buffer, so bytes an earlier line read left
// there are seen. A V or v that would take the count below 0, above 65534 or off the empty
// marker 65535 changes and sends nothing; the point line says why. On a terminal, canonical input
// and echo are off for the duration and the saved attributes are restored on every way out.
// Each change is sent with send_table(false) (the session's table sender, calibration.h); returns
// CMD_FAILED when any send failed ("Fail sending calibration!" was printed), else CMD_OK.
command_status calib_interactive_edit(int entry, command_status (*send_table)(bool confirm));
