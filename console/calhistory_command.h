// CALHISTORY [<register>]: the recorded calibrations of one table. Console thread only.
#pragma once

#include "core/command_status.h"

// The register is chosen as READ chooses it and must be a SET_CALIB or READ_CALIB register;
// without one, the running session's calibration register, or outside a session every table.
// Further tokens are ignored. Reads no device register. CMD_FAILED after printing why the
// register is refused or the records can't be read.
command_status cmd_calhistory(const command_args& args);
