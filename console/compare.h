// COMPARE and RESTORE: the device against a file that DUMP wrote. COMPARE shows the registers
// whose values differ from the file's; RESTORE puts chosen registers back to the file's values
// after showing what will change and asking. Console thread only.
#pragma once

#include "core/command_status.h"

// Most registers one RESTORE puts back.
constexpr int RESTORE_MAX_REGISTERS = 16;

// COMPARE <file> [<pattern> ...]. Each pattern (upper-cased) selects the catalogue registers
// whose names contain it; none selects all. Reads every selected register the file holds, in
// few requests (link/planned_reads.h), formats each as DUMP writes it and compares the texts: a
// register that differs gets its name, then the file's and the device's text on a line each. Ends
// with "Compared %d registers: %d differ, %d not in the file, %d not read." after the list of names
// the catalogue doesn't know. Never writes. CMD_FAILED when the file or a pattern is refused, a
// read failed or the stop was requested.
command_status cmd_compare(const command_args& args);

// RESTORE <file> <register> [<register> ...]. Registers chosen as READ chooses them, at most
// RESTORE_MAX_REGISTERS; FLOAT, WORD, DWORD, READ_CALIB and SET_CALIB only, never a command
// register nor a read-back one (reg_is_read_back), no two covering a common word, each in the
// file with a text that parses back into its type. Any refusal refuses all, before anything is
// read. Then reads them (planned, as COMPARE does); those whose device text equals the file's are
// left alone; the others are shown (device, then file) and written, one request each in the order
// given, only after a yes to "Restore %d registers? (y/n) ". Each calibration table written
// leaves a calibration record of mode "restore". CMD_DECLINED on any other answer; CMD_FAILED on
// a refusal, a failed read (nothing written) or a failed write.
command_status cmd_restore(const command_args& args);
