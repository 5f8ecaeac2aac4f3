// Child processes for integration tests. See child_process.h.
#include "tests/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Without a pidfd the child's end is noticed by looking at it this often.
constexpr int NO_PIDFD_TICK_MS = 20;

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// In the child between fork and exec: only async-signal-safe calls.
void child_fail(const char* what) {
  const char* reason = strerror(errno);  // static text for the errno values that occur here
  ssize_t ignored = write(STDERR_FILENO, what, strlen(what));
  ignored = write(STDERR_FILENO, ": ", 2);
  ignored = write(STDERR_FILENO, reason, strlen(reason));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  _exit(127);
}

// dup2 that also works when the descriptor is already in place (clearing its close-on-exec).
void move_fd(int from, int to) {
  if (from == to) {
    fcntl(to, F_SETFD, 0);
  } else if (dup2(from, to) < 0) {
    child_fail("dup2");
  }
}

int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

}  // namespace

long long monotonic_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

child_process::~child_process() {
  kill_and_reap();
  close_fds();
}

int child_process::start(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::string& log_path) {
  if (pid_ > 0 || argv.empty()) {
    error_ = pid_ > 0 ? "already started" : "no program";
    return -1;
  }
  signal(SIGPIPE, SIG_IGN);
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  bool piped = log_path.empty();
  if (piped) {
    if (pipe2(in, O_CLOEXEC) < 0 || pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0) {
      error_ = std::string("pipe: ") + strerror(errno);
      for (int* p : {in, out, err}) {
        close_fd(p[0]);
        close_fd(p[1]);
      }
      return -1;
    }
  } else {
    in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
    out[1] = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in[0] < 0 || out[1] < 0) {
      error_ = "cannot open " + log_path + ": " + strerror(errno);
      close_fd(in[0]);
      close_fd(out[1]);
      return -1;
    }
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGINT, SIGTERM}) sigaction(sig, &dfl, nullptr);
    move_fd(in[0], STDIN_FILENO);
    move_fd(out[1], STDOUT_FILENO);
    move_fd(piped ? err[1] : out[1], STDERR_FILENO);
    if (chdir(cwd.c_str()) < 0) child_fail(cwd.c_str());
    execv(args[0], args.data());
    child_fail(args[0]);
  }
  int fork_errno = errno;
  close_fd(in[0]);
  close_fd(out[1]);
  close_fd(err[1]);
  if (pid < 0) {
    error_ = std::string("fork: ") + strerror(fork_errno);
    close_fd(in[1]);
    close_fd(out[0]);
    close_fd(err[0]);
    return -1;
  }
  pid_ = pid;
  pidfd_ = open_pidfd(pid);
  in_fd_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
  for (int fd : {in_fd_, out_fd_, err_fd_}) {
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  out_.clear();
  err_.clear();
  pending_input_.clear();
  exit_status_ = -1;
  return 0;
}

void child_process::drain(int& fd, std::string& into) {
  char buffer[65536];
  while (fd >= 0) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      return;
    } else {
      close_fd(fd);  // end of output, or an error that ends it
    }
  }
}

bool child_process::reap(bool block) {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = 0;
  do {
    r = waitpid(pid_, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid_) return false;
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  close_fd(pidfd_);
  // Whatever the child wrote is in the pipes now; a grandchild holding them open must not keep
  // the wait going.
  drain(out_fd_, out_);
  drain(err_fd_, err_);
  close_fd(out_fd_);
  close_fd(err_fd_);
  close_fd(in_fd_);
  pending_input_.clear();
  return true;
}

template <typename predicate>
int child_process::pump(long long deadline_ms, predicate done) {
  while (!done()) {
    long long remaining = deadline_ms - monotonic_ms();
    if (remaining <= 0) return -1;
    pollfd fds[4];
    int count = 0;
    int in_index = -1, out_index = -1, err_index = -1, exit_index = -1;
    if (in_fd_ >= 0 && !pending_input_.empty()) {
      in_index = count;
      fds[count++] = {in_fd_, POLLOUT, 0};
    }
    if (out_fd_ >= 0) {
      out_index = count;
      fds[count++] = {out_fd_, POLLIN, 0};
    }
    if (err_fd_ >= 0) {
      err_index = count;
      fds[count++] = {err_fd_, POLLIN, 0};
    }
    if (pidfd_ >= 0) {
      exit_index = count;
      fds[count++] = {pidfd_, POLLIN, 0};
    }
    if (count == 0 && pid_ <= 0) return -1;  // nothing can change any more
    int timeout = static_cast<int>(std::min<long long>(remaining, 1000000));
    if (pidfd_ < 0 && pid_ > 0) timeout = std::min(timeout, NO_PIDFD_TICK_MS);
    int ready = poll(fds, static_cast<nfds_t>(count), timeout);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) {
      if (pidfd_ < 0) reap(false);
      continue;
    }
    if (in_index >= 0 && fds[in_index].revents != 0) {
      ssize_t n = write(in_fd_, pending_input_.data(), pending_input_.size());
      if (n > 0) {
        pending_input_.erase(0, static_cast<size_t>(n));
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        pending_input_.clear();  // the child closed its input
        close_fd(in_fd_);
      }
    }
    if (out_index >= 0 && fds[out_index].revents != 0) drain(out_fd_, out_);
    if (err_index >= 0 && fds[err_index].revents != 0) drain(err_fd_, err_);
    if ((exit_index >= 0 && fds[exit_index].revents != 0) || pidfd_ < 0) reap(false);
  }
  return 0;
}

int child_process::write_input(std::string_view text, int timeout_ms) {
  if (in_fd_ < 0) return -1;
  pending_input_.append(text);
  long long deadline = monotonic_ms() + timeout_ms;
  if (pump(deadline, [this] { return pending_input_.empty() || in_fd_ < 0; }) < 0) return -1;
  return in_fd_ >= 0 ? 0 : -1;
}

void child_process::close_input() {
  pending_input_.clear();
  close_fd(in_fd_);
}

int child_process::wait_for_output(std::string_view text, int timeout_ms, size_t from) {
  long long deadline = monotonic_ms() + timeout_ms;
  auto found = [&] { return out_.find(text, from) != std::string::npos; };
  pump(deadline, [&] { return found() || pid_ <= 0; });
  return found() ? 0 : -1;
}

int child_process::wait_exit(int timeout_ms) {
  long long deadline = monotonic_ms() + timeout_ms;
  return pump(deadline, [this] { return pid_ <= 0; });
}

int child_process::send_signal(int sig) {
  if (!running()) return -1;
  return kill(pid_, sig) == 0 ? 0 : -1;
}

bool child_process::running() {
  if (pid_ <= 0) return false;
  reap(false);
  return pid_ > 0;
}

void child_process::kill_and_reap() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  reap(true);
}

void child_process::close_fds() {
  close_fd(in_fd_);
  close_fd(out_fd_);
  close_fd(err_fd_);
  close_fd(pidfd_);
}
