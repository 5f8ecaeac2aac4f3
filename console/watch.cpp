#include "console/watch.h"

#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console/register_commands.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

// Longest wait between two looks at the stop flag: Ctrl-C reaches this thread as a signal that
// may land just before a wait begins, so the flag is looked at again at least this often.
constexpr int STOP_CHECK_MS = 200;

// Shown instead of a value whose read failed.
const char FAILED_READ_MARK[] = "----";

// The time and eight registers of up to 63 characters, each with a value of at most
// MAX_SCALAR_TEXT characters and its separators.
constexpr size_t WATCH_LINE_SIZE = 16 + WATCH_MAX_REGISTERS * (64 + MAX_SCALAR_TEXT + 4);

// Terminal attributes of stdin saved while the watch waits for a key; restored on every way
// out. Without canonical input a key is readable as soon as it is pressed; echo is off so it
// does not land in the watch lines. The signal keys stay, so Ctrl-C still interrupts.
class key_mode {
 public:
  key_mode() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~key_mode() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  key_mode(const key_mode&) = delete;
  key_mode& operator=(const key_mode&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

bool watchable(int32_t type) { return type == FLOAT || type == WORD || type == DWORD; }

// Four catalogue names end with a blank that belongs to them; in a watch line it would only
// blur the separation between registers.
int shown_length(const char* name) {
  int n = static_cast<int>(strlen(name));
  while (n > 0 && name[n - 1] == ' ') n--;
  return n;
}

// Bytes that stdio has already taken from standard input but nobody has read yet (glibc keeps
// them between the read pointers of the FILE). They are input that is waiting, although the
// descriptor may have nothing more.
bool stdin_has_buffered_bytes() { return stdin->_IO_read_ptr < stdin->_IO_read_end; }

enum wait_outcome {
  WAIT_NEXT_SECOND,  // the wall clock has left the sampled second
  WAIT_INPUT,        // input is waiting: a key, a line, or end of input
  WAIT_END,          // Ctrl-C, or the descriptor can't be watched: end without touching input
};

// Waits until the wall clock leaves `second`, input is waiting or the stop is requested. The
// test is "another second" rather than "a later second", so that setting the clock back does
// not stall the watch.
wait_outcome wait_next_second(time_t second) {
  for (;;) {
    if (quit_requested.load() || stop_if_output_lost()) return WAIT_END;
    if (stdin_has_buffered_bytes() || feof(stdin)) return WAIT_INPUT;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != second) return WAIT_NEXT_SECOND;
    int left_ms = static_cast<int>((1000000000L - now.tv_nsec) / 1000000) + 1;
    pollfd pfd = {STDIN_FILENO, POLLIN, 0};
    int rc = poll(&pfd, 1, left_ms < STOP_CHECK_MS ? left_ms : STOP_CHECK_MS);
    if (rc > 0) return quit_requested.load() ? WAIT_END : WAIT_INPUT;
    // The console's next read reports what is wrong with the input.
    if (rc < 0 && errno != EINTR) return WAIT_END;
  }
}

// Reads and drops the key that ended the watch at a terminal. A key that sends several bytes
// (an arrow key's escape sequence) arrives in one piece, so one read takes all of it and none
// of it reaches the next command line.
void drop_key() {
  if (stdin_has_buffered_bytes()) {
    while (stdin_has_buffered_bytes()) getc(stdin);
    return;
  }
  char bytes[64];
  ssize_t n;
  do {
    n = read(STDIN_FILENO, bytes, sizeof bytes);
  } while (n < 0 && errno == EINTR && !quit_requested.load());
}

// Reads every register once and prints one line stamped with `second`. Nothing is printed once
// the stop is requested: its reads fail and would only show markers.
void print_sample(time_t second, const modbus_reg_entry* const* entries, int count) {
  char line[WATCH_LINE_SIZE];
  tm local;
  localtime_r(&second, &local);
  size_t used = strftime(line, sizeof line, "%H:%M:%S", &local);
  for (int i = 0; i < count; i++) {
    uint16_t words[2] = {0, 0};
    char value[MAX_SCALAR_TEXT];
    if (modbus_cmd_read(entries[i]->address, reg_words_of_type(entries[i]->type), words) < 0) {
      snprintf(value, sizeof value, "%s", FAILED_READ_MARK);
    } else {
      format_scalar_value(entries[i], words, value, sizeof value);
    }
    int n = snprintf(line + used, sizeof line - used, "  %.*s=%s", shown_length(entries[i]->name),
                     entries[i]->name, value);
    // The line has room for eight registers of the longest name and value.
    if (n < 0 || static_cast<size_t>(n) >= sizeof line - used) break;
    used += static_cast<size_t>(n);
  }
  if (quit_requested.load()) return;
  printf("%s\n", line);
  fflush(stdout);
}

}  // namespace

void cmd_watch(char** args) {
  char* tokens[WATCH_MAX_REGISTERS];
  int count = 0;
  for (char* token = next_token(args); token; token = next_token(args)) {
    if (count == WATCH_MAX_REGISTERS) {
      printf("Too many registers: WATCH shows at most %d.\n", WATCH_MAX_REGISTERS);
      return;
    }
    tokens[count++] = token;
  }
  if (count == 0) {
    printf("Missing Address.\n");
    return;
  }

  const modbus_reg_entry* entries[WATCH_MAX_REGISTERS];
  for (int i = 0; i < count; i++) {
    entries[i] = find_register(tokens[i]);
    if (!entries[i]) return;
    if (!watchable(entries[i]->type)) {
      printf("Cannot watch %s (%s): FLOAT, WORD and DWORD registers only.\n", entries[i]->name,
             reg_type_name(entries[i]->type));
      return;
    }
  }
  for (int i = 0; i < count; i++) print_register_header(entries[i]);

  bool at_terminal = isatty(STDIN_FILENO);
  if (at_terminal) printf("Press any key to end the watch.\n");
  fflush(stdout);

  key_mode mode;
  for (;;) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    print_sample(now.tv_sec, entries, count);
    wait_outcome outcome = wait_next_second(now.tv_sec);
    if (outcome == WAIT_NEXT_SECOND) continue;
    if (outcome == WAIT_INPUT && at_terminal) drop_key();
    break;
  }
}
