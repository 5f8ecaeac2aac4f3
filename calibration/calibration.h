// Calibration: the definitions menu and the guided calibration session, reached from the
// console's command table.
//
// A session works on one calibration definition (a working-table slot): it checks that the
// modulator is in the definition's state, tells the device which table is being calibrated,
// backs up the set register, loads the device table into five points, lets the operator
// capture, edit and fine-tune the points and sends the table back.
//
// Everything here runs on the console thread only; every device access is one blocking
// request through the link mailbox. Each function prints its own messages. The commands return
// their status: CMD_FAILED once they printed a failure, CMD_DECLINED when the operator said no.
#pragma once

#include <cstdint>

#include "calibration/table_layout.h"
#include "core/command_status.h"
#include "core/tool_config.h"
#include "registers/catalogue.h"

// State of the calibration session. One process-wide record, console thread only.
struct calib_session_t {
  int iActive;          // 1 while a session runs, else 0
  int iSelected;        // menu number 1 to 16 (working slot + 1), 0 for none
  int iPoint;           // current point index 0 to 4; the prompt shows iPoint + 1
  int iPrecondition;    // last state check: 0 satisfied, -1 not satisfied or untested,
                        // -2 the state read failed
  float fBackup;        // set register value read at session start; 0 when none was read
  int iBackedUp;        // 1 when fBackup holds a value read from the device
  float fLeft;          // the last value SET wrote to the set register in this session
  int iSetWritten;      // 1 when fLeft holds one
  int iCurStep;         // DAC/ADC step of interactive editing; its low 16 bits count
  calib_point pending;  // point being collected by SET, ACTUAL and DAC-ADC
  calib_point points[CALIB_POINTS];  // entry number k is element k - 1
};

extern calib_session_t calib_session;

// Called once at the start of the console thread: no definition selected, state untested.
void calib_console_start();

// ---- Definitions menu (definitions_menu.cpp)

// CALIBRATE: ends a running session without asking, lists the definitions and reads one
// answer line: Q leaves, A adds, V views, D deletes, a number starts a session on that
// definition. Further tokens on the command line are ignored.
command_status calib_menu(const command_args& args);

// ---- Session (session.cpp)

// Starts a session on menu number n (1 to 16, slot in use; the menu has stored n in
// iSelected). Only a failed state read prevents the session. Returns 0, or -1 when the session
// did not start or a step of its start failed (each printed).
int calib_start_session(int n);

// Ends a session at once: nothing is asked, read or written. Points, pending point and step
// keep their values.
void calib_reset_session();

// Q inside a session: compares the set register with its backup, offers to restore it, then
// resets the session. Declined when the operator keeps the present value.
command_status calib_end_session();

// The tool ends while a session runs (end of input, Ctrl-C, a failure under -e): Q's offer to
// restore the set register is never made, and nothing is written unasked. When SET left the
// register at another value than its backup, says so in one line on standard error:
// "Set register <reg> left at <value> <unit>; backed-up value <value> <unit> not restored."
void calib_say_left_behind();

// Reads MB_STATE_READ and compares it with the selected definition's iState; sets and
// returns iPrecondition (0, -1 or -2).
int calib_check_precondition();

// Loads the device table of the selected definition's iRegCal into points, in the layout
// the catalogue type of that register gives. Returns 0, or -1 after printing why not.
int calib_load_from_device();

// The selected definition (working slot iSelected - 1), or nullptr when iSelected is not
// 1 to 16.
cal_definition* calib_selected_definition();

// Whether a session runs: started, on a menu number that names a definition. Prints nothing.
bool calib_session_running();

// The gate of the commands that need a running session (SET, ACTUAL, DAC-ADC, ADD, DEL, the READ
// shortcut, PRINT, SEND and the interactive send): true when one runs, else false after printing
// "No calibration is selected! Select using CALIBRATE.".
bool calib_session_gate();

// ---- Point capture (point_capture.cpp)

// SET, ACTUAL, DAC-ADC, ADD and DEL are the console handlers cmd_cal_set, cmd_cal_actual,
// cmd_cal_dac_adc, cmd_cal_add and cmd_cal_del below. Each of them, and the READ shortcut, runs
// behind the session gate and then the state gate: without a session it prints the gate's
// message; while the device is not in the definition's state it prints
// "Change state using STATE <state> command.".

// READ (and WRITE) without argument inside a session: reads and prints the definition's read
// register. cmd_cal_read is the console's session handler of both rows.
command_status calib_read_shortcut();
command_status cmd_cal_read(const command_args& args);

// ---- Table editing and transfer (table_commands.cpp)

// EDIT <entry> ACTUAL|DAC|ADC <value>, or EDIT <entry> -i for the interactive mode. Works
// with or without a session. args holds at least the entry (the console's table refuses EDIT
// without it).
command_status calib_edit(const command_args& args);
// STEP [<step>]: shows or sets iCurStep.
command_status calib_step(const command_args& args);
// PRINT: the device's table against the point table.
command_status calib_print_tables();
// Builds the 15 table words from points and writes them to iRegCal; with confirm, lists the
// words and asks first (any answer but y declines), and makes point 1 current again after the
// write.
command_status calib_send_to_device(bool confirm);

// ---- Console command handlers: each hands its arguments on.
command_status cmd_calibrate(const command_args& args);
command_status cmd_cal_set(const command_args& args);
command_status cmd_cal_actual(const command_args& args);
command_status cmd_cal_dac_adc(const command_args& args);
command_status cmd_cal_add(const command_args& args);
command_status cmd_cal_edit(const command_args& args);
command_status cmd_cal_step(const command_args& args);
command_status cmd_cal_del(const command_args& args);
command_status cmd_cal_send(const command_args& args);
command_status cmd_cal_print(const command_args& args);
