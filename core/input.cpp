#include "core/input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/lifecycle.h"
#include "registers/values.h"

namespace {

// Longest wait between two looks at the stop flag: Ctrl-C reaches the reading thread as a signal
// that may land just before a wait begins, so the flag is looked at again at least this often.
constexpr int STOP_CHECK_MS = 200;

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

bool stop_if_output_lost() {
  // The stream's error flag is cheap and sticky; the poll tells a reader gone (POLLERR on a
  // pipe) from other write errors.
  if (!ferror(stdout)) return false;
  pollfd pfd = {STDOUT_FILENO, POLLOUT, 0};
  if (poll(&pfd, 1, 0) <= 0 || (pfd.revents & (POLLERR | POLLHUP)) == 0) return false;
  quit_requested.store(1);
  return true;
}

int wait_for_input() {
  stop_if_output_lost();
  for (;;) {
    if (quit_requested.load()) return -1;
    // Bytes that an earlier read already pulled into the stream's buffer (glibc's stdio).
    if (stdin->_IO_read_ptr < stdin->_IO_read_end || feof(stdin)) return 0;
    pollfd pfd = {STDIN_FILENO, POLLIN, 0};
    int rc = poll(&pfd, 1, STOP_CHECK_MS);
    if (rc > 0) return quit_requested.load() ? -1 : 0;
    if (rc < 0 && errno != EINTR) return 0;  // let the read itself report the error
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
    fprintf(stderr, "Error reading answer.\n");
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

char* next_token(char** cursor) {
  if (!cursor || !*cursor) return nullptr;
  char* p = *cursor;
  while (*p == ' ') p++;
  if (*p == '\0') {
    *cursor = p;
    return nullptr;
  }
  char* token = p;
  while (*p != '\0' && *p != ' ') p++;
  if (*p == ' ') *p++ = '\0';
  *cursor = p;
  return token;
}
