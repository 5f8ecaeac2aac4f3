// Coordination with the host's own control service (systemd unit qpx8), which can drive the
// modulator through a modulator thread of its own. With iStopOnQpxRun set, the main thread
// checks the service before connecting, offers to run it with that thread disabled, and puts
// service and configuration back at exit. Main thread only.
#pragma once

// Service state bits carried from the check to the restore.
enum : unsigned {
  QPX_WAS_RUNNING = 1u << 0,
  QPX_THREAD_WAS_ENABLED = 1u << 1,
  QPX_RUNNING = 1u << 2,
  QPX_THREAD_ENABLED = 1u << 3,
};

constexpr const char* QPX_CONFIG_PATH = "/etc/norvane/lumorda/qpx8.conf";
constexpr const char* QPX_THREAD_LINE = "qpx8_nv.bveltrona_modulator_inuse = 1";

// Returns 1 when the process list shows the service, 0 when not, -1 when the pipe can't be
// opened (after printing why). A Ctrl-C meanwhile does not cut the listing short.
int qpx_running_check();

// Returns 1 when the service configuration enables the modulator thread, else 0.
int qpx_thread_check();

// Compares one configuration line with the enabling line position by position: a white-space
// character on either side matches any character. Returns 1 on a match.
int qpx_line_matches(const char* line);

// Runs a command through the shell and prints why it failed, if it did. Waits for the command
// to end also when Ctrl-C comes meanwhile; the signal only sets the stop flag, which the caller
// looks at afterwards.
void run_shell_command(const char* command);

// The check step: returns the service state bits. After a Ctrl-C it runs no further command; a
// question still to come reads as interrupted.
unsigned host_service_check();

// What the restore step does for a set of service state bits.
struct restore_actions {
  bool enable_thread;
  bool restart;
  bool stop;
};
restore_actions host_service_restore_plan(unsigned bits);

// The restore step.
void host_service_restore(unsigned bits);
