#include "core/input.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/input_testing.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "registers/values.h"

namespace {

// Answer buffers: 15 characters of a yes/no line, 255 of an integer line.
constexpr int YES_NO_BUF = 16;
constexpr int INT_ANSWER_BUF = 256;

// Failed reads of standard input in a row; see STDIN_FAILURE_LIMIT. Written and read only by the
// thread that reads standard input.
int stdin_failures = 0;
// Whether the last read_yes_no failed to read (end of input, an error, Ctrl-C) rather than read
// a line that is no answer. Reading thread.
bool input_failed_last = false;

// Bytes read from standard input's descriptor that no reader has taken yet, and whether the
// descriptor has reported end of input. Reading thread only.
struct input_buffer {
  char bytes[4096];
  size_t start = 0;  // next byte to take
  size_t end = 0;    // one past the last byte read
  bool at_end = false;
};
input_buffer in;

// The source's name and the lines taken so far; see input_lines_read. The name is set before the
// workers start; the count belongs to the reading thread.
const char* source_name = "<stdin>";
unsigned lines_read = 0;

// The wake descriptor (an eventfd, never read, so it stays readable once written): -1 until the
// first input_wake_fd() makes it. Written once by whichever thread makes it; read by every wait
// and by wake_input_waits, the signal handler's too.
std::atomic<int> wake_descriptor{-1};

// Reads more bytes into the empty buffer, first waiting for them (or the stop). A read
// interrupted by a signal other than the stop is read again. Returns 1, or LINE_END,
// LINE_INTERRUPTED or LINE_ERROR; counts the read towards the failure limit.
int fill_buffer() {
  for (;;) {
    if (in.at_end) return LINE_END;
    if (wait_for_input() < 0) return LINE_INTERRUPTED;
    ssize_t n = read(STDIN_FILENO, in.bytes, sizeof in.bytes);
    if (n > 0) {
      in.start = 0;
      in.end = static_cast<size_t>(n);
      stdin_read_succeeded();
      return 1;
    }
    if (n == 0) {
      in.at_end = true;
      return LINE_END;
    }
    if (errno == EINTR) {
      if (quit_requested.load()) return LINE_INTERRUPTED;
      continue;
    }
    stdin_read_failed();
    return LINE_ERROR;
  }
}

// The next byte, reading more when the buffer is empty; or the negative result of fill_buffer.
int next_byte() {
  if (in.start == in.end) {
    int got = fill_buffer();
    if (got < 0) return got;
  }
  return static_cast<unsigned char>(in.bytes[in.start++]);
}

// Reads what is left of a line whose start filled a buffer, up to and including its line end.
// Endless input without a line end (/dev/zero) is read for as long as it comes, so every refill
// waits through wait_for_input and the stop ends it. Returns 0, or the negative result that
// ended it first.
int discard_rest_of_line() {
  for (;;) {
    if (in.start == in.end) {
      int got = fill_buffer();
      if (got < 0) return got;
    }
    const void* line_end = memchr(in.bytes + in.start, '\n', in.end - in.start);
    if (line_end != nullptr) {
      in.start = static_cast<size_t>(static_cast<const char*>(line_end) - in.bytes) + 1;
      return 0;
    }
    in.start = in.end;
  }
}

}  // namespace

bool input_has_buffered_bytes() { return in.start < in.end; }

int take_buffered_byte() {
  if (in.start == in.end) return -1;
  return static_cast<unsigned char>(in.bytes[in.start++]);
}

bool input_ready() { return input_has_buffered_bytes() || in.at_end; }

void input_reset() {
  in.start = in.end = 0;
  in.at_end = false;
  int fd = input_wake_fd();
  if (fd < 0) return;
  // One read of an eventfd takes its whole count (EAGAIN when it was not woken).
  uint64_t count;
  ssize_t taken = read(fd, &count, sizeof count);
  (void)taken;
}

int input_wake_fd() {
  // A function-local static: made once, whichever thread waits first.
  static const int fd = [] {
    int made = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wake_descriptor.store(made);
    return made;
  }();
  return fd;
}

void wake_input_waits() {
  int fd = wake_descriptor.load();
  if (fd < 0) return;
  int saved_errno = errno;
  uint64_t one = 1;
  // A counter at its limit already wakes every wait, so a failed write loses nothing.
  ssize_t written = write(fd, &one, sizeof one);
  (void)written;
  errno = saved_errno;
}

void sleep_until_stop() {
  // The descriptor is made before the flag is looked at: a stop that comes meanwhile either is
  // seen by the look or finds the descriptor to wake.
  int fd = input_wake_fd();
  while (!quit_requested.load()) {
    pollfd pfd = {fd, POLLIN, 0};
    poll(&pfd, fd < 0 ? 0 : 1, fd < 0 ? INPUT_STOP_CHECK_MS : -1);
  }
}

bool stop_if_output_lost() {
  // The stream's error flag is cheap and sticky; the poll tells a reader gone (POLLERR on a
  // pipe) from other write errors.
  if (!ferror(stdout)) return false;
  pollfd pfd = {STDOUT_FILENO, POLLOUT, 0};
  if (poll(&pfd, 1, 0) <= 0 || (pfd.revents & (POLLERR | POLLHUP)) == 0) return false;
  quit_requested.store(1);
  return true;
}

input_wait_result wait_for_input_ms(int timeout_ms) {
  int wake_fd = input_wake_fd();
  if (quit_requested.load()) return INPUT_STOPPED;
  if (input_ready()) return INPUT_READY;
  // Without a wake descriptor the flag is looked at again every INPUT_STOP_CHECK_MS.
  if (wake_fd < 0 && (timeout_ms < 0 || timeout_ms > INPUT_STOP_CHECK_MS))
    timeout_ms = INPUT_STOP_CHECK_MS;
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd, POLLIN, 0}};
  int rc = poll(fds, wake_fd < 0 ? 1 : 2, timeout_ms);
  if (rc > 0) {
    if (quit_requested.load()) return INPUT_STOPPED;
    return fds[0].revents != 0 ? INPUT_READY : INPUT_TIMEOUT;
  }
  if (rc < 0 && errno != EINTR) return INPUT_FAILED;
  return INPUT_TIMEOUT;
}

int wait_for_input() {
  stop_if_output_lost();
  for (;;) {
    switch (wait_for_input_ms(-1)) {
      case INPUT_STOPPED:
        return -1;
      case INPUT_READY:
      case INPUT_FAILED:  // let the read itself report the error
        return 0;
      case INPUT_TIMEOUT:
        break;
    }
  }
}

bool stdin_read_failed() {
  if (stdin_given_up()) return true;
  return ++stdin_failures >= STDIN_FAILURE_LIMIT;
}

void stdin_read_succeeded() {
  if (!stdin_given_up()) stdin_failures = 0;
}

bool stdin_given_up() { return stdin_failures >= STDIN_FAILURE_LIMIT; }

void input_set_source_name(const char* name) { source_name = name; }

const char* input_source_name() { return source_name; }

unsigned input_lines_read() { return lines_read; }

void input_count_line() { lines_read++; }

int read_line_bytes(char* buf, int size) {
  if (buf == nullptr || size <= 0) return LINE_ERROR;
  buf[0] = '\0';
  if (stdin_given_up()) return LINE_END;
  // After Ctrl-C not even a line that is waiting is taken as an answer or a command.
  if (quit_requested.load()) return LINE_INTERRUPTED;
  int n = 0;
  while (n < size - 1) {
    int c = next_byte();
    if (c < 0) {
      // End of input after a last line without its line end: the line counts whole.
      if (c == LINE_END && n > 0) break;
      buf[0] = '\0';
      return c;
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  lines_read++;
  return n;
}

line_read_result read_command_line(char* buf, int size) {
  if (buf == nullptr || size < 2) return LINE_ERROR;
  int got = read_line_bytes(buf, size);
  if (got < 0) return static_cast<line_read_result>(got);
  // Counted in bytes read, not by strlen: a NUL byte in a long line must not let its rest run.
  if (got == size - 1 && buf[got - 1] != '\n') {
    int c = next_byte();
    if (c == '\n' || c == LINE_END) return LINE_OK;
    buf[0] = '\0';
    if (c < 0) return static_cast<line_read_result>(c);
    if (discard_rest_of_line() == LINE_INTERRUPTED) return LINE_INTERRUPTED;
    return LINE_TOO_LONG;
  }
  return LINE_OK;
}

int read_answer_line(char* buf, int size) {
  if (buf == nullptr || size <= 0) return LINE_ERROR;
  buf[0] = '\0';
  fflush(stdout);
  int len = read_line_bytes(buf, size);
  if (len < 0) return len;
  // Discard the rest of an over-long line: on a high-voltage device a fragment of an answer must
  // never be taken as the next answer or run as a command. The length is counted in bytes read,
  // not by strlen, so that a NUL byte in the line does not keep its rest.
  if (len > 0 && len + 1 == size && buf[len - 1] != '\n') {
    int rest = discard_rest_of_line();
    if (rest == LINE_INTERRUPTED) return rest;
  }
  return LINE_OK;
}

int read_yes_no() {
  char line[YES_NO_BUF];
  input_failed_last = read_answer_line(line, sizeof line) < 0;
  if (input_failed_last) {
    msg_answer_read_error();
    return -1;
  }
  if (line[0] == 'Y' || line[0] == 'y') return 1;
  if (line[0] == 'N' || line[0] == 'n') return 0;
  return -1;
}

yes_no_answer ask_yes_no(const char* question, int tries, other_answer other) {
  for (int asked = 0; asked < tries; asked++) {
    printf("%s", question);
    fflush(stdout);
    int answer = read_yes_no();
    if (answer == 1) return ANSWER_YES;
    if (answer == 0) return ANSWER_NO;
    if (quit_requested.load()) return ANSWER_STOPPED;
    // read_yes_no said "Error reading answer." for a failed read; an unusable line it did not.
    if (other == OTHER_IS_NO && !input_failed_last) return ANSWER_NO;
  }
  return ANSWER_NONE;
}

line_read_result read_int_in_range(int32_t* value, int32_t lowest, int32_t highest) {
  char line[INT_ANSWER_BUF];
  if (int rc = read_answer_line(line, sizeof line); rc < 0)
    return static_cast<line_read_result>(rc);
  size_t len = strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';

  uint32_t n = 0;
  if (parse_unsigned(line, 10, &n) != 0) {
    printf("Invalid: %s.\n", line);
    return LINE_NOT_A_NUMBER;
  }
  if (n < static_cast<uint32_t>(lowest) || n > static_cast<uint32_t>(highest)) {
    printf("Out of range: %d.\n", static_cast<int32_t>(n));
    return LINE_OUT_OF_RANGE;
  }
  *value = static_cast<int32_t>(n);
  return LINE_OK;
}

key_mode::key_mode() {
  continues_seen_ = terminal_continues.load();
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  keys_ = saved_;
  keys_.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  keys_.c_cc[VMIN] = 1;
  keys_.c_cc[VTIME] = 0;
  active_ = tcsetattr(STDIN_FILENO, TCSANOW, &keys_) == 0;
}

key_mode::~key_mode() {
  if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

bool key_mode::resumed() {
  unsigned continues = terminal_continues.load();
  if (continues == continues_seen_) return false;
  continues_seen_ = continues;
  if (active_) {
    tcsetattr(STDIN_FILENO, TCSANOW, &keys_);
    tcflush(STDIN_FILENO, TCIFLUSH);
  }
  return true;
}

int read_key_byte(key_mode* mode) {
  if (stdin_given_up()) return LINE_END;
  if (quit_requested.load()) return LINE_INTERRUPTED;
  // A continue after a stop interrupts the wait (the signal lands on this thread); the keys that
  // became readable meanwhile are dropped by resumed() before anything is read.
  while (mode && !input_ready()) {
    if (mode->resumed()) return LINE_CONTINUED;
    input_wait_result got = wait_for_input_ms(-1);
    if (got == INPUT_STOPPED) return LINE_INTERRUPTED;
    if (mode->resumed()) return LINE_CONTINUED;
    if (got != INPUT_TIMEOUT) break;
  }
  return next_byte();
}

void drop_key() {
  if (input_has_buffered_bytes()) {
    in.start = in.end;
    return;
  }
  char bytes[64];
  ssize_t n;
  do {
    n = read(STDIN_FILENO, bytes, sizeof bytes);
  } while (n < 0 && errno == EINTR && !quit_requested.load());
}
