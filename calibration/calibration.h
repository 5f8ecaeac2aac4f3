// Calibration: the definitions menu and the guided calibration session, reached from the
// console's command table. Console thread only.
#pragma once

// State of the running calibration session.
struct calib_session_t {
  int iActive;        // 1 while a session runs
  int iSelected;      // menu number 1 to 16 (working slot + 1), 0 for none
  int iPoint;         // current calibration point, 0 to 4
  int iPrecondition;  // -1 until a session has checked the device state
};

// Console thread only.
extern calib_session_t calib_session;

// Called once at the start of the console thread.
void calib_console_start();

// Command handlers; each takes its arguments from the command-line cursor.
void cmd_calibrate(char** args);
void cmd_cal_set(char** args);
void cmd_cal_actual(char** args);
void cmd_cal_dac_adc(char** args);
void cmd_cal_add(char** args);
void cmd_cal_edit(char** args);
void cmd_cal_step(char** args);
void cmd_cal_del(char** args);
void cmd_cal_send(char** args);
void cmd_cal_print(char** args);

// Q inside a session: ends the session and offers to restore the set register.
void calib_quit_session();
// READ or WRITE without argument inside a session: reads the point registers.
void calib_read_shortcut();
