// Process-wide state shared by the main thread and the two worker threads.
#pragma once

#include <pthread.h>

#include <atomic>

#include "core/tool_config.h"

// The stop flag. Set to 1 by the SIGINT handler (main thread), by the console thread when the
// user quits or input ends, by the thread reading standard input when standard output is lost
// (core/input.h), by the link thread when it leaves its loop and by each worker as it ends; never
// reset. Whoever sets it while another thread may wait for input calls wake_input_waits(). Read by
// both workers on every pass of their loops and by every wait for standard input.
extern std::atomic<int> quit_requested;

// --exit-on-error: set by the main thread from the command line before the workers start, then
// only read (by the console thread, which ends the session at the first failure).
extern std::atomic<bool> exit_on_error;

// --quiet: set by the main thread from the command line before the workers start, then only
// read. Leaves out the connection line on success (a failure goes to standard error), the
// prompts and "Exit.".
extern std::atomic<bool> quiet_output;

// Set by the console thread when, with exit_on_error, it ended the session because of a failure
// (a command that failed, the connection or the login at start); read by the main thread after
// joining the workers, for the exit status. Never reset.
extern std::atomic<bool> session_failed;

// Job control and the window, counted by their signal handlers (core/main.cpp), which run on
// the console thread while it runs (the other threads block these signals), so that they
// interrupt its waits. terminal_continues: continues after a stop (Ctrl-Z and fg, SIGSTOP and
// SIGCONT); terminal_resizes: changes of the window size (SIGWINCH). Never reset. Read by the
// console thread's waits for the operator, which put their terminal mode back and redraw when a
// count has moved.
extern std::atomic<unsigned> terminal_continues;
extern std::atomic<unsigned> terminal_resizes;

// Working calibration table: slot i holds cal[i] of the configuration when its use flag is
// set, otherwise all zero. Filled by the main thread before the workers start; afterwards
// read and changed only by the console thread.
extern cal_definition work_cal[CAL_DEFINITIONS];

// Interlock name tables, indexed standby, HV, trigger; name k describes bit k of the
// interlock word. Filled by the main thread before the workers start, then constant.
enum { ILOCK_STANDBY = 0, ILOCK_HV = 1, ILOCK_TRIG = 2 };
extern char ilock_names[3][ILOCK_NAMES][ILOCK_NAME_SIZE];

// Connection parameters handed to the link thread.
struct link_params {
  char host[32];  // at most 31 characters of sIpAddr, always terminated
  int port;
};

// The device of this run: the configuration's sIpAddr and iPort, or -H and -p over them, which
// are never written into tool_config (so no save can keep them). Filled by the main thread
// before the workers start, then constant; what the write log and the calibration records name.
extern link_params device_in_use;

// Copies the connection parameters, calibration definitions in use and interlock names out of
// the loaded record. Main thread, before the workers start.
void make_working_copies(const tool_config_t& config, link_params* params);
