// Helpers shared by the benchmark programs: the minimal Modbus server as a child process,
// medians, a monotonic clock and the CPU time a process has used.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/harness.h"

// Path of bench_modbus_server, fixed by the build.
extern const char* const VT_MINIMAL_SERVER_PATH;

// The minimal libmodbus server (bench_modbus_server) in its own scratch directory.
class minimal_server {
 public:
  minimal_server() = default;
  ~minimal_server() { stop(); }

  // Starts it on a free loopback port and waits up to VT_WAIT_MS for its port file.
  // Returns 0, or -1 with the reason in error().
  int start();
  // SIGTERM and reap; SIGKILL when it does not end in time.
  void stop();
  int port() const { return port_; }
  const std::string& error() const { return error_; }

 private:
  child_process child_;
  scratch_dir dir_;
  int port_ = 0;
  std::string error_;
};

// Nanoseconds of CLOCK_MONOTONIC.
long long monotonic_ns();

// Median of the values (the mean of the middle two for an even count); 0 for none.
double median_of(std::vector<double> values);

// CPU time used by every thread of process pid, in nanoseconds, from the scheduler's run-time
// account (/proc/PID/task/*/schedstat); -1 when it can't be read.
long long process_cpu_ns(pid_t pid);

// utime + stime of process pid in clock ticks (/proc/PID/stat); -1 when it can't be read.
long long process_cpu_ticks(pid_t pid);

// A field of /proc/PID/status in kB (for example "VmHWM"); -1 when it can't be read.
long process_status_kb(pid_t pid, const char* field);
