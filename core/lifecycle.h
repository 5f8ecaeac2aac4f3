// Process-wide state shared by the main thread and the two worker threads.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cerrno>

#include "core/tool_config.h"

// The stop flag. Set to 1 by the SIGINT handler (main thread), by the console thread when the
// user quits or input ends, by the thread reading standard input when standard output is lost
// (core/input.h), by the link thread when it leaves its loop and by each worker as it ends; never
// reset. Whoever sets it while another thread may wait for input calls wake_input_waits(). Read by
// both workers on every pass of their loops and by every wait for standard input.
extern std::atomic<int> quit_requested;

// Whether the stop was requested: quit_requested, named for the loops that end on it.
inline bool stop_requested() { return quit_requested.load() != 0; }

// Whether a system call failed with `error` because the stop's signal interrupted it: the stop,
// no fault of the file or the descriptor.
inline bool interrupted_by_stop(int error) { return error == EINTR && stop_requested(); }

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

// Job control and the window, counted by their signal handlers (app/main.cpp), which run on
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

// Copies the calibration definitions in use and the interlock names out of the loaded record.
// Main thread, before the workers start.
void make_working_copies(const tool_config_t& config);

// What a stop does beyond the flag and the input waits, set by the program before the workers
// start (the link's connection cut and wake-up). `at_once` runs inside request_stop and
// request_stop_from_signal, so it must be async-signal-safe; `afterwards` may take a lock and
// runs only where no signal handler is (request_stop, finish_stop). Either may be nullptr.
void set_stop_actions(void (*at_once)(), void (*afterwards)());

// Stops the tool: sets quit_requested, wakes every wait for input and runs both stop actions.
// The one stop sequence for every side that ends the tool outside a signal handler (the console
// at its end, a test). Any thread but a signal handler.
void request_stop();

// The part of request_stop that a signal handler may do: the flag, the input waits' eventfd and
// the `at_once` action. The thread the eventfd wakes (the main thread, in sleep_until_stop) then
// calls finish_stop.
void request_stop_from_signal();

// Runs the `afterwards` stop action. After request_stop_from_signal, off the signal handler.
void finish_stop();
