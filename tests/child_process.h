// A child process for integration tests: started with a working directory, fed through a pipe on
// standard input, with standard output and standard error captured separately. Every wait takes a
// timeout in milliseconds; a process still running when its object dies is killed and reaped.
//
// One thread uses an object at a time. Starting a child makes the calling process ignore SIGPIPE,
// so that writing to a child that has gone away fails instead of ending the test.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

class child_process {
 public:
  child_process() = default;
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  // Starts argv[0] (a path) with the arguments in cwd. With an empty log_path, standard input is
  // a pipe and the output streams are captured; otherwise standard input is /dev/null and both
  // output streams go to the file log_path. Returns 0, or -1 with the reason in error().
  int start(const std::vector<std::string>& argv, const std::string& cwd,
            const std::string& log_path = "");

  // Writes all of text to the child's standard input. Returns 0, or -1 when the input is closed,
  // the child stopped reading and the pipe stayed full for timeout_ms, or the child is gone.
  int write_input(std::string_view text, int timeout_ms);

  // Closes the child's standard input, so that it sees end of input.
  void close_input();

  // Waits until the captured standard output contains text at or after offset from. Returns 0,
  // or -1 after timeout_ms or when the child ended without printing it.
  int wait_for_output(std::string_view text, int timeout_ms, size_t from = 0);

  // Waits until the child has ended and both output streams are read to their end; reaps it.
  // Returns 0, or -1 after timeout_ms (the child is left running).
  int wait_exit(int timeout_ms);

  // Sends sig to the child, by its PID. Returns 0, or -1 when the child is not running.
  int send_signal(int sig);

  // SIGKILL, then reap. Safe to call at any time; does nothing when no child runs.
  void kill_and_reap();

  // Whether the child has been started and not yet reaped (reaping it if it has just ended).
  bool running();

  pid_t pid() const { return pid_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  const std::string& error() const { return error_; }

  // After the child ended: its exit code, or 128 + the signal that ended it; -1 before.
  int exit_status() const { return exit_status_; }

  // A descriptor that becomes readable when the child ends (a pidfd), or -1 when the system has
  // none; for waits that poll other descriptors too.
  int exit_fd() const { return pidfd_; }

 private:
  // Moves data until done() holds or the deadline passes; returns 0 or -1 on timeout.
  template <typename predicate>
  int pump(long long deadline_ms, predicate done);
  bool reap(bool block);
  void drain(int& fd, std::string& into);
  void close_fds();

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string pending_input_;
  std::string out_;
  std::string err_;
  std::string error_;
  int exit_status_ = -1;
};

// Milliseconds of CLOCK_MONOTONIC, for deadlines.
long long monotonic_ms();
