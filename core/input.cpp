#include "core/input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "registers/values.h"

namespace {

// Answer buffers: 15 characters of a yes/no line, 255 of an integer line.
constexpr int YES_NO_BUF = 16;
constexpr int INT_ANSWER_BUF = 256;

// Failed reads of standard input in a row; see stdin_read_failed. Written and read only by the
// thread that reads standard input.
int stdin_failures = 0;

// Reads what is left of a line whose start filled a buffer, up to and including its line end.
void discard_rest_of_line() {
  int c;
  while ((c = getc(stdin)) != EOF && c != '\n') {
  }
}

}  // namespace

bool stdio_has_buffered_input() { return stdin->_IO_read_ptr < stdin->_IO_read_end; }

bool stdio_input_ready() { return stdio_has_buffered_input() || feof(stdin); }

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
  if (quit_requested.load()) return INPUT_STOPPED;
  if (stdio_input_ready()) return INPUT_READY;
  pollfd pfd = {STDIN_FILENO, POLLIN, 0};
  int rc = poll(&pfd, 1, timeout_ms);
  if (rc > 0) return quit_requested.load() ? INPUT_STOPPED : INPUT_READY;
  if (rc < 0 && errno != EINTR) return INPUT_FAILED;
  return INPUT_TIMEOUT;
}

int wait_for_input() {
  stop_if_output_lost();
  for (;;) {
    switch (wait_for_input_ms(INPUT_STOP_CHECK_MS)) {
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

int read_line_bytes(char* buf, int size) {
  if (buf == nullptr || size <= 0) return -1;
  // fgets writes one NUL after the bytes it read and leaves the rest of the buffer alone; with
  // the buffer filled with a byte that is not NUL first, the last NUL is that terminator.
  memset(buf, '\n', static_cast<size_t>(size));
  if (fgets(buf, size, stdin) == nullptr) {
    buf[0] = '\0';
    return -1;
  }
  const void* end = memrchr(buf, '\0', static_cast<size_t>(size));
  return static_cast<int>(static_cast<const char*>(end) - buf);
}

line_read_result read_command_line(char* buf, int size) {
  if (buf == nullptr || size < 2) return LINE_ERROR;
  buf[0] = '\0';
  if (stdin_given_up()) return LINE_END;
  if (wait_for_input() < 0) return LINE_INTERRUPTED;
  errno = 0;
  int got = read_line_bytes(buf, size);
  if (got < 0) {
    if (feof(stdin)) return LINE_END;
    bool interrupted = errno == EINTR;
    clearerr(stdin);
    return interrupted ? LINE_INTERRUPTED : LINE_ERROR;
  }
  // Counted in bytes read, not by strlen: a NUL byte in a long line must not let its rest run.
  if (got == size - 1 && buf[got - 1] != '\n') {
    int c = getc(stdin);
    if (c == '\n' || c == EOF) return LINE_OK;
    if (c != '\n') discard_rest_of_line();
    buf[0] = '\0';
    return LINE_TOO_LONG;
  }
  return LINE_OK;
}

int read_answer_line(char* buf, int size) {
  if (buf == nullptr || size <= 0) return -1;
  buf[0] = '\0';
  fflush(stdout);
  if (stdin_given_up()) return -1;
  if (wait_for_input() < 0) {
    errno = EINTR;
    return -1;
  }
  int len = read_line_bytes(buf, size);
  if (len < 0) {
    // A read interrupted by Ctrl-C must not leave the error flag for the next reader; end of
    // input stays sticky.
    int err = errno;
    if (ferror(stdin) && !feof(stdin)) {
      clearerr(stdin);
      if (err != EINTR) stdin_read_failed();
    }
    errno = err;
    return -1;
  }
  stdin_read_succeeded();
  // Discard the rest of an over-long line: on a high-voltage device a fragment of an answer must
  // never be taken as the next answer or run as a command. The length is counted in bytes read,
  // not by strlen, so that a NUL byte in the line does not keep its rest.
  if (len > 0 && len + 1 == size && buf[len - 1] != '\n' && !feof(stdin)) discard_rest_of_line();
  return 0;
}

int read_yes_no() {
  char line[YES_NO_BUF];
  if (read_answer_line(line, sizeof line) < 0) {
    msg_answer_read_error();
    return -1;
  }
  if (line[0] == 'Y' || line[0] == 'y') return 1;
  if (line[0] == 'N' || line[0] == 'n') return 0;
  return -1;
}

int read_int_in_range(int32_t* value, int32_t lowest, int32_t highest) {
  char line[INT_ANSWER_BUF];
  if (read_answer_line(line, sizeof line) < 0) return -1;
  // The last character is taken to be the line end. A line cut at the buffer size, or one that
  // ends at end of input without a line end, loses its last kept character instead.
  size_t len = strlen(line);
  if (len > 0) line[len - 1] = '\0';

  uint32_t n = 0;
  if (parse_unsigned(line, 10, &n) != 0) {
    printf("Invalid: %s.\n", line);
    return -2;
  }
  if (n < static_cast<uint32_t>(lowest) || n > static_cast<uint32_t>(highest)) {
    printf("Out of range: %d.\n", static_cast<int32_t>(n));
    return -3;
  }
  *value = static_cast<int32_t>(n);
  return 0;
}

key_mode::key_mode() {
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
  termios raw = saved_;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

key_mode::~key_mode() {
  if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

int read_key_byte() {
  if (wait_for_input() < 0) return -1;
  int c = getc(stdin);
  if (c == EOF) {
    // Ctrl-C (EINTR) or a read error: the next reader must not see a stale error flag; end of
    // input stays visible so the console ends too.
    if (ferror(stdin) && !feof(stdin)) clearerr(stdin);
    return -1;
  }
  return c;
}

void drop_key() {
  if (stdio_has_buffered_input()) {
    while (stdio_has_buffered_input()) getc(stdin);
    return;
  }
  char bytes[64];
  ssize_t n;
  do {
    n = read(STDIN_FILENO, bytes, sizeof bytes);
  } while (n < 0 && errno == EINTR && !quit_requested.load());
}
