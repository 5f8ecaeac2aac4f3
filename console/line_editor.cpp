#include "console/line_editor.h"

#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "console/completion.h"
#include "console/history_filter.h"
#include "core/home_directory.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "link/async_output.h"

namespace {

constexpr int HISTORY_LINES = 1000;
const char HISTORY_FILE[] = ".veltrona_tool_history";

// Editor state: created and used by the console thread only.
EditLine* editor = nullptr;
History* history_list = nullptr;
std::string history_path;  // empty: history kept for this run only
std::string prompt_text;
termios saved_termios;
bool termios_saved = false;
mbstate_t input_state;

// For the tests: when the environment holds VT_TEST_STOP_BEFORE_KEY_READ, the process stops
// itself (SIGSTOP) once, the first time the terminal has a key ready and before the key is read,
// so that a test can press Ctrl-C at exactly that instant. Console thread only.
bool stop_before_key_read = false;

// Wakes the console thread's key wait when the link thread has queued a message. Both ends are
// opened and closed by the console thread; the link thread writes while the hook is registered.
int wake_read = -1;
int wake_write = -1;

// Guards `editing` and `pending`. The link thread queues its messages while the console thread
// edits a line (editing true) and prints them itself otherwise.
pthread_mutex_t pending_mutex = PTHREAD_MUTEX_INITIALIZER;
bool editing = false;
std::string pending;

std::string take_pending() {
  std::string text;
  pthread_mutex_lock(&pending_mutex);
  text.swap(pending);
  pthread_mutex_unlock(&pending_mutex);
  return text;
}

void write_out(const std::string& text) {
  if (text.empty()) return;
  fwrite(text.data(), 1, text.size(), stdout);
  fflush(stdout);
}

// The link output hook; link thread.
void queue_output(const char* text, size_t len) {
  pthread_mutex_lock(&pending_mutex);
  if (editing) {
    pending.append(text, len);
    char byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    while (write(wake_write, &byte, 1) < 0 && errno == EINTR) {
    }
  } else {
    fwrite(text, 1, len, stdout);
    fflush(stdout);
  }
  pthread_mutex_unlock(&pending_mutex);
}

void drain_wake_pipe() {
  char bytes[64];
  while (read(wake_read, bytes, sizeof(bytes)) > 0) {
  }
}

char* prompt_of(EditLine*) { return const_cast<char*>(prompt_text.c_str()); }

int terminal_columns() {
  int columns = 0;
  if (el_get(editor, EL_GETTC, "co", &columns, static_cast<void*>(nullptr)) != 0) return 80;
  return columns > 0 ? columns : 80;
}

// Screen row of a position in the edited line, counted from the prompt's row. The prompt and
// the commands are plain ASCII, one column per character.
int row_of(size_t offset) {
  return static_cast<int>((prompt_text.size() + offset) / static_cast<size_t>(terminal_columns()));
}

// Puts the cursor at the start of the prompt's row and clears from there to the end of the
// screen, so that the prompt and the line can be drawn again after other text.
void erase_edit_area() {
  const LineInfo* line = el_line(editor);
  int up = row_of(static_cast<size_t>(line->cursor - line->buffer));
  fputs("\r", stdout);
  if (up > 0) printf("\033[%dA", up);
  fputs("\033[J", stdout);
}

// Shows the link thread's queued lines above the prompt and redraws the prompt and the line.
void show_pending() {
  std::string text = take_pending();
  if (text.empty()) return;
  if (text.back() != '\n') text += '\n';
  erase_edit_area();
  write_out(text);
  el_set(editor, EL_REFRESH);
}

// Counts of terminal_continues and terminal_resizes the edited line has been drawn for. Console
// thread only.
unsigned continues_seen = 0;
unsigned resizes_seen = 0;

// Draws the prompt and the line again after a continue (the shell's lines stand below the old
// prompt: they are drawn on the row the cursor is on) or a resize (erased as drawn at the old
// width, drawn again at the new one, which libedit takes on at once).
void follow_terminal_changes() {
  unsigned continues = terminal_continues.load();
  unsigned resizes = terminal_resizes.load();
  if (continues == continues_seen && resizes == resizes_seen) return;
  if (continues != continues_seen) {
    fputs("\r\033[J", stdout);
  } else {
    erase_edit_area();
  }
  continues_seen = continues;
  resizes_seen = resizes;
  fflush(stdout);
  el_resize(editor);
  el_set(editor, EL_REFRESH);
}

// Takes the next byte for read_key: first what core/input has buffered (the interactive key mode
// and the plain readers may leave typeahead behind), then the terminal itself once it has one.
// Returns 1, 0 at end of input, -1 with errno set, or 2 when nothing came (woken or interrupted).
int next_byte(char* byte, const sigset_t* wait_mask) {
  int buffered = take_buffered_byte();
  if (buffered >= 0) {
    *byte = static_cast<char>(buffered);
    return 1;
  }
  // The third descriptor wakes the wait when the tool stops (read_key then sees the flag).
  pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {wake_read, POLLIN, 0}, {input_wake_fd(), POLLIN, 0}};
  if (ppoll(fds, 3, nullptr, wait_mask) < 0) return errno == EINTR ? 2 : -1;
  if (fds[1].revents) drain_wake_pipe();
  if (!fds[0].revents) return 2;
  if (stop_before_key_read) {
    stop_before_key_read = false;
    raise(SIGSTOP);
  }
  // The read may block after all: a Ctrl-C since the wait makes the terminal discard the keys
  // the wait saw. So the signal is let through for the read, and the main thread repeats it
  // until this thread has ended, in case it came before the read began.
  sigset_t blocked;
  pthread_sigmask(SIG_SETMASK, wait_mask, &blocked);
  ssize_t n = read(STDIN_FILENO, byte, 1);
  int read_errno = errno;
  pthread_sigmask(SIG_SETMASK, &blocked, nullptr);
  if (n < 0 && (read_errno == EINTR || read_errno == EAGAIN)) return 2;
  errno = read_errno;
  return static_cast<int>(n);
}

// Reads one character for libedit. Blocks SIGINT, SIGCONT and SIGWINCH except inside the wait
// and the read, so a Ctrl-C forwarded to this thread always ends the wait, and a continue or a
// resize always redraws, however close it comes to the wait's start.
int read_key(EditLine*, wchar_t* wc) {
  sigset_t interrupt, previous;
  sigemptyset(&interrupt);
  for (int sig : {SIGINT, SIGCONT, SIGWINCH}) sigaddset(&interrupt, sig);
  pthread_sigmask(SIG_BLOCK, &interrupt, &previous);
  int result;
  for (;;) {
    if (quit_requested.load()) {
      errno = EINTR;
      result = -1;
      break;
    }
    follow_terminal_changes();
    show_pending();
    char byte;
    int got = next_byte(&byte, &previous);
    if (got == 2) continue;
    if (got <= 0) {
      result = got;
      break;
    }
    wchar_t decoded;
    size_t used = mbrtowc(&decoded, &byte, 1, &input_state);
    if (used == static_cast<size_t>(-2)) continue;
    if (used == static_cast<size_t>(-1)) {
      // An invalid byte is dropped, as libedit's own reader does.
      memset(&input_state, 0, sizeof(input_state));
      continue;
    }
    *wc = used == 0 ? L'\0' : decoded;
    result = 1;
    break;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result;
}

// Tab: completes the word before the cursor, or lists the choices below the line.
unsigned char complete_key(EditLine*, int) {
  const LineInfo* line = el_line(editor);
  std::string before(line->buffer, static_cast<size_t>(line->cursor - line->buffer));
  size_t length = static_cast<size_t>(line->lastchar - line->buffer);
  completion c = complete_line(before);
  if (!c.matched) return CC_REFRESH_BEEP;
  // Screen rows of the line as it stands now, before the edit below changes it.
  int cursor_row = row_of(before.size());
  int end_row = row_of(length);
  if (before.compare(before.size() - c.replace, c.replace, c.text) != 0) {
    el_deletestr(editor, static_cast<int>(c.replace));
    if (el_insertstr(editor, c.text.c_str()) != 0) return CC_REFRESH_BEEP;
  }
  if (c.choices.empty()) return CC_REFRESH;
  if (end_row > cursor_row) printf("\033[%dB", end_row - cursor_row);
  fputs("\n", stdout);
  for (const std::string& row : layout_columns(c.choices, terminal_columns() - 1))
    printf("%s\n", row.c_str());
  fflush(stdout);
  el_set(editor, EL_REFRESH);
  return CC_REFRESH;
}

std::string find_history_path() {
  std::string home = home_directory();
  if (home.empty()) return "";
  return home + "/" + HISTORY_FILE;
}

bool blank(const char* text, size_t len) {
  for (size_t i = 0; i < len; i++)
    if (text[i] != ' ' && text[i] != '\t') return false;
  return true;
}

// Saves the history through a stream of the tool's own, since libedit does not look at its
// writes: a file that can't be written whole (a full disk, the file-size limit) is said once on
// standard error, and from then on the history is kept for this run only.
void save_history() {
  if (history_path.empty()) return;
  HistEvent event;
  errno = 0;
  int fd = open_state_file(history_path, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < -1) {
    fprintf(stderr, "History not kept any more: %s: %s\n", history_path.c_str(),
            file_refusal_text(fd));
    history_path.clear();
    return;
  }
  FILE* file = fd < 0 ? nullptr : fdopen(fd, "w");
  if (file == nullptr && fd >= 0) close(fd);
  bool saved = file != nullptr && history(history_list, &event, H_SAVE_FP, file) >= 0 &&
               fflush(file) == 0 && !ferror(file);
  int error = errno;
  if (file != nullptr && fclose(file) != 0 && saved) {
    saved = false;
    error = errno;
  }
  if (saved) return;
  fprintf(stderr, "History not kept any more: %s: %s\n", history_path.c_str(),
          strerror(error != 0 ? error : EIO));
  history_path.clear();
}

// Loads the history through a descriptor that was checked (no FIFO to hang on, no link
// followed); libedit reads it by the descriptor's name.
void load_history() {
  int fd = open_state_file(history_path, O_RDONLY);
  if (fd < -1) {
    fprintf(stderr, "History not kept: %s: %s\n", history_path.c_str(), file_refusal_text(fd));
    history_path.clear();
    return;
  }
  if (fd < 0) return;
  char name[32];
  snprintf(name, sizeof name, "/dev/fd/%d", fd);
  HistEvent event;
  history(history_list, &event, H_LOAD, name);
  close(fd);
}

void remember(const char* text, size_t len) {
  if (len == 0 || blank(text, len)) return;
  HistEvent event;
  std::string entry(text, len);
  history(history_list, &event, H_ENTER, entry.c_str());
  save_history();
}

void bind_keys() {
  el_set(editor, EL_EDITOR, "emacs");
  // The wide call keeps the names as given; the narrow one copies them and never frees the copies.
  el_wset(editor, EL_ADDFN, L"vt-complete", L"Complete the word before the cursor", complete_key);
  // Key, function: the usual emacs keys where libedit's defaults differ.
  const char* const bindings[][2] = {
      {"^I", "vt-complete"},
      {"^R", "em-inc-search-prev"},
      {"^W", "ed-delete-prev-word"},
      {"^U", "vi-kill-line-prev"},
      {"\\e[1;5C", "em-next-word"},
      {"\\e[1;5D", "ed-prev-word"},
      {"\\e[H", "ed-move-to-beg"},
      {"\\e[F", "ed-move-to-end"},
      {"\\e[1~", "ed-move-to-beg"},
      {"\\e[4~", "ed-move-to-end"},
      {"\\e[3~", "ed-delete-next-char"},
  };
  for (const auto& b : bindings) el_set(editor, EL_BIND, b[0], b[1], static_cast<char*>(nullptr));
}

}  // namespace

bool line_editor_start() {
  if (editor) return true;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return false;
  const char* term = getenv("TERM");
  if (!term || !*term || strcmp(term, "dumb") == 0) return false;

  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  editor = el_init("veltrona_tool", stdin, stdout, stderr);
  if (!editor) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  wake_read = fds[0];
  wake_write = fds[1];
  termios_saved = tcgetattr(STDIN_FILENO, &saved_termios) == 0;
  stop_before_key_read = getenv("VT_TEST_STOP_BEFORE_KEY_READ") != nullptr;
  memset(&input_state, 0, sizeof(input_state));

  // libedit's own signal handlers stay off: SIGINT belongs to the main thread (read_key).
  el_set(editor, EL_SIGNAL, 0);
  el_set(editor, EL_PROMPT, prompt_of);
  el_set(editor, EL_GETCFN, read_key);
  bind_keys();

  HistEvent event;
  history_list = history_init();
  history(history_list, &event, H_SETSIZE, HISTORY_LINES);
  history(history_list, &event, H_SETUNIQUE, 1);
  history_path = find_history_path();
  if (!history_path.empty()) load_history();
  el_set(editor, EL_HIST, history, history_list);

  link_set_output_hook(queue_output);
  return true;
}

bool line_editor_active() { return editor != nullptr; }

line_read_result line_editor_read(const char* prompt, char* buf, size_t size) {
  prompt_text = prompt;
  continues_seen = terminal_continues.load();
  resizes_seen = terminal_resizes.load();
  el_resize(editor);
  pthread_mutex_lock(&pending_mutex);
  editing = true;
  pthread_mutex_unlock(&pending_mutex);

  int count = 0;
  const char* line = el_gets(editor, &count);
  int read_errno = errno;

  pthread_mutex_lock(&pending_mutex);
  editing = false;
  pthread_mutex_unlock(&pending_mutex);
  drain_wake_pipe();

  line_read_result result;
  buf[0] = '\0';
  if (!line || count <= 0) {
    if (quit_requested.load() || (count < 0 && read_errno == EINTR)) {
      result = LINE_INTERRUPTED;
    } else {
      result = count == 0 ? LINE_END : LINE_ERROR;
    }
    if (result != LINE_ERROR) write_out("\n");
  } else {
    size_t len = strcspn(line, "\r\n");
    // Only command lines come here (answers to questions are read as plain lines), and of
    // them none that writes a secret register.
    if (history_keeps_line(std::string_view(line, len))) remember(line, len);
    if (len > size - 1) {
      result = LINE_TOO_LONG;
    } else {
      memcpy(buf, line, len);
      buf[len] = '\0';
      result = LINE_OK;
    }
  }
  write_out(take_pending());
  if (result == LINE_ERROR) {
    stdin_read_failed();
  } else if (result == LINE_OK || result == LINE_TOO_LONG) {
    stdin_read_succeeded();
    input_count_line();
  }
  return result;
}

void line_editor_stop() {
  if (!editor) return;
  link_set_output_hook(nullptr);
  write_out(take_pending());
  el_end(editor);
  editor = nullptr;
  history_end(history_list);
  history_list = nullptr;
  if (termios_saved) tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
  close(wake_read);
  close(wake_write);
  wake_read = wake_write = -1;
}
