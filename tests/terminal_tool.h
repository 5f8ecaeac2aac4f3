// The one pseudo-terminal driver of the integration tests: the real tool with a terminal as its
// standard output (and input, unless piped), keys typed as an operator types them.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include "tests/harness.h"

// The tool on a fresh pseudo-terminal of 100 by 30 characters, with TERM (xterm unless given)
// and HOME (unless empty) set. Everything it writes to the terminal is collected in out(); every
// wait has a time limit; the tool is killed and reaped when the object dies.
class terminal_tool {
 public:
  ~terminal_tool() { kill_and_reap(); }

  // With piped_input, standard input is a pipe fed by type() and closed by close_input(), while
  // standard output stays the terminal. With as_job, a process of the terminal's session starts
  // the tool as a shell starts a job: in a process group of its own in the terminal's
  // foreground, which Ctrl-Z stops (the system stops no group that nothing in its session could
  // continue); job() is that group.
  int start(const std::string& dir, const std::string& home, bool piped_input = false,
            const char* term = "xterm", bool as_job = false) {
    int in_pipe[2] = {-1, -1};
    if (piped_input && pipe2(in_pipe, O_CLOEXEC) != 0) return -1;
    winsize size = {};
    size.ws_row = 30;
    size.ws_col = 100;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) return -1;
    if (pid_ == 0) {
      // No core file from the tests that end the tool with SIGQUIT.
      rlimit no_core = {0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      if (piped_input) dup2(in_pipe[0], STDIN_FILENO);
      if (!home.empty()) setenv("HOME", home.c_str(), 1);
      setenv("TERM", term, 1);
      if (chdir(dir.c_str()) != 0) _exit(126);
      if (as_job) run_as_job();
      execl(VT_TOOL_PATH, VT_TOOL_PATH, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (piped_input) {
      close(in_pipe[0]);
      input_ = in_pipe[1];
    } else {
      input_ = master_;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // The terminal's modes before the tool has touched them.
    return tcgetattr(master_, &initial_modes_);
  }

  int type(std::string_view keys) {
    while (!keys.empty()) {
      ssize_t n = write(input_, keys.data(), keys.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        pump(monotonic_ms() + 50);
        continue;
      }
      if (n <= 0) return -1;
      keys.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
  }

  void close_input() {
    if (input_ >= 0 && input_ != master_) close(input_);
    input_ = -1;
  }

  // Waits until text appears in the output at or after position from; returns its position or
  // std::string::npos after timeout_ms.
  size_t wait_for(std::string_view text, size_t from = 0, int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    for (;;) {
      size_t at = out_.find(text, from);
      if (at != std::string::npos) return at;
      if (monotonic_ms() >= deadline || !pump(deadline)) return out_.find(text, from);
    }
  }

  // Waits for the end of the tool and reaps it; returns its exit status, or -1 after timeout_ms.
  int wait_exit(int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    while (pid_ > 0) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (monotonic_ms() >= deadline) return -1;
      if (!pump(std::min(deadline, monotonic_ms() + 20))) usleep(10000);
    }
    // The kernel hands a pty's last bytes to the master side asynchronously: a quiet spell proves
    // nothing under load. Every slave descriptor is closed now, so read on until EIO says the
    // buffer is drained (within two seconds).
    long long drained_by = monotonic_ms() + 2000;
    while (master_ >= 0 && monotonic_ms() < drained_by) {
      pollfd fd = {master_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(std::max(0LL, drained_by - monotonic_ms()))) <= 0) break;
      char buf[4096];
      ssize_t n = read(master_, buf, sizeof(buf));
      if (n > 0) {
        out_.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        break;
      }
    }
    return exit_status_;
  }

  // Waits until the terminal has left canonical mode: the tool is reading keys for an edited
  // line. The prompt is drawn just before, so keys typed at once after it would still be taken
  // by the terminal's own line editing (where Ctrl-D and Ctrl-R mean other things).
  bool wait_editing(int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    for (;;) {
      termios now;
      if (tcgetattr(master_, &now) == 0 && !(now.c_lflag & ICANON)) return true;
      if (monotonic_ms() >= deadline) return false;
      pump(monotonic_ms() + 2);
    }
  }

  // The terminal's modes now.
  termios attributes() const {
    termios now = {};
    tcgetattr(master_, &now);
    return now;
  }

  // Waits until the terminal's modes satisfy want; returns whether they did in time.
  template <typename F>
  bool wait_attributes(F want, int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    for (;;) {
      if (want(attributes())) return true;
      if (monotonic_ms() >= deadline) return false;
      pump(monotonic_ms() + 2);
    }
  }

  // The terminal's modes now, compared with those before the tool started.
  bool modes_restored() {
    termios now;
    if (tcgetattr(master_, &now) != 0) return false;
    return now.c_lflag == initial_modes_.c_lflag && now.c_iflag == initial_modes_.c_iflag &&
           now.c_oflag == initial_modes_.c_oflag;
  }

  // Waits until the tool has stopped itself (SIGSTOP).
  bool wait_stopped(int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WUNTRACED | WNOHANG) == pid_ && WIFSTOPPED(status)) return true;
      if (monotonic_ms() >= deadline) return false;
      pump(monotonic_ms() + 5);
    }
  }

  // Waits until a signal sent to the whole process waits for delivery.
  bool wait_pending(int sig, int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    std::string path = "/proc/" + std::to_string(pid_) + "/status";
    for (;;) {
      std::string status;
      if (read_text_file(path, &status) == 0) {
        size_t at = status.find("ShdPnd:\t");
        if (at != std::string::npos &&
            (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (sig - 1)) & 1)
          return true;
      }
      if (monotonic_ms() >= deadline) return false;
      usleep(1000);
    }
  }

  int send(int sig) { return pid_ > 0 ? kill(pid_, sig) : -1; }

  // The tool's process group when it runs as a job, once it has taken the terminal; -1 before.
  pid_t job() {
    long long deadline = monotonic_ms() + VT_WAIT_MS;
    while (job_ <= 0 && monotonic_ms() < deadline) {
      pid_t group = tcgetpgrp(master_);
      if (group > 0 && group != pid_) job_ = group;
      if (job_ <= 0) pump(monotonic_ms() + 5);
    }
    return job_;
  }

  int send_job(int sig) { return job() > 0 ? kill(-job_, sig) : -1; }

  // Waits until the job's process is stopped (true) or runs (false).
  bool wait_job_stopped(bool stopped, int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    std::string path = "/proc/" + std::to_string(job()) + "/stat";
    for (;;) {
      std::string stat;
      // The state follows the command name in parentheses.
      if (read_text_file(path, &stat) == 0 && stat.rfind(") ") != std::string::npos &&
          (stat[stat.rfind(") ") + 2] == 'T') == stopped)
        return true;
      if (monotonic_ms() >= deadline) return false;
      pump(monotonic_ms() + 5);
    }
  }

  // Gives the terminal a new size; the system sends SIGWINCH to its foreground.
  int resize(int rows, int columns) {
    winsize size = {};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    return ioctl(master_, TIOCSWINSZ, &size);
  }

  void kill_and_reap() {
    if (job_ > 0) kill(-job_, SIGKILL);
    job_ = -1;
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    close_input();
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  const std::string& out() const { return out_; }
  size_t mark() const { return out_.size(); }

 private:
  // Reads what is there, waiting until the deadline for something. Returns false when nothing
  // came and nothing more can come before the deadline.
  bool pump(long long deadline) {
    if (master_ < 0) return false;
    pollfd fd = {master_, POLLIN, 0};
    int wait = static_cast<int>(std::max(0LL, deadline - monotonic_ms()));
    if (poll(&fd, 1, wait) <= 0) return false;
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof(buf));
    if (n <= 0) return false;  // EIO once the tool has closed the terminal
    out_.append(buf, static_cast<size_t>(n));
    return true;
  }

  // In the child of forkpty: starts the tool as a job and ends with its exit status. Only calls
  // that are safe after fork.
  static void run_as_job() {
    pid_t tool = fork();
    if (tool == 0) {
      setpgid(0, 0);
      // Taking the terminal from the background would stop the process.
      signal(SIGTTOU, SIG_IGN);
      tcsetpgrp(STDIN_FILENO, getpid());
      signal(SIGTTOU, SIG_DFL);
      execl(VT_TOOL_PATH, VT_TOOL_PATH, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (tool < 0) _exit(125);
    setpgid(tool, tool);
    int status = 0;
    while (waitpid(tool, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }

  pid_t pid_ = -1;
  pid_t job_ = -1;
  int master_ = -1;
  int input_ = -1;
  int exit_status_ = -1;
  termios initial_modes_ = {};
  std::string out_;
};
