// Standard input: every read of the operator's command lines, answers and keys, and the waits
// that come before them. (Line editing at a terminal reads through libedit in
// console/line_editor.h, and uses the buffered-input helpers below; the console cuts a line into
// tokens in console/tokenizer.h.)
//
// Threads: standard input is read by one thread at a time, the main thread during the start-up
// questions of the host service, then the console thread; never by the link thread. The input
// buffer and the run of failed reads below belong to that thread.
//
// Stop: whoever sets quit_requested (core/lifecycle.h) while another thread may wait calls
// wake_input_waits() after it: every wait here watches a wake descriptor beside standard input,
// so an idle tool sleeps until input, the stop or its own timeout, and a stop that came just
// before a wait began still ends it. The signal handler also interrupts the reading thread's
// blocking call; a reader then returns LINE_INTERRUPTED and reads nothing more.
//
// End of input: sticky. Once stdin is at end of input every reader returns its end result at once
// without blocking; so does every reader once input has been given up after
// STDIN_FAILURE_LIMIT failed reads in a row. A last line without its line end is a whole line.
//
// Standard input is read from its descriptor through one buffer of this module, never through
// the stdio stream stdin, so that input a pipe delivered during one read is still seen by the
// next reader.
//
// Readers return a count or a byte (0 or more), or a negative line_read_result; each counts its
// own failed reads towards STDIN_FAILURE_LIMIT.
#pragma once

#include <termios.h>

#include <cstdint>

// Takes the next buffered byte (0 to 255), or returns -1 when the buffer is empty. Never reads.
int take_buffered_byte();

// Whether a read of stdin returns at once, whatever the descriptor holds: bytes are buffered,
// or stdin is at end of input.
bool input_ready();

// Forgets buffered bytes and end of input, and empties the wake descriptor: for tests that give
// stdin new contents and clear quit_requested. Reading thread only.
void input_reset();

// The descriptor every wait for input polls beside stdin: readable once wake_input_waits() has
// been called. Made at the first call; -1 when the system has none, and the waits then look at
// quit_requested every INPUT_STOP_CHECK_MS instead.
int input_wake_fd();

// Wakes every wait for input, now and later, for good. Call after setting quit_requested.
// Async-signal-safe (one write; errno is kept), any thread.
void wake_input_waits();

// Blocks until quit_requested is set, waking only when wake_input_waits() is called or a signal
// interrupts the wait. For the main thread while the workers run.
void sleep_until_stop();

// When a write to standard output has failed and nothing reads it any more (a closed pipe: EPIPE,
// with SIGPIPE ignored), nobody can see a prompt, a question or a watch line: sets
// quit_requested, so that the tool ends, and returns true. Otherwise returns false. For every
// wait for the operator.
bool stop_if_output_lost();

// Longest wait between two looks at quit_requested when the system gave no wake descriptor.
constexpr int INPUT_STOP_CHECK_MS = 200;

// One look at standard input, for waits that also watch something else (the clock).
enum input_wait_result {
  INPUT_READY,    // a read will not block: data, buffered bytes or end of input
  INPUT_TIMEOUT,  // nothing within timeout_ms, or the wait was interrupted by a signal
  INPUT_STOPPED,  // quit_requested is set (the wake descriptor fired)
  INPUT_FAILED,   // the descriptor can't be watched (poll failed)
};

// Waits at most timeout_ms (-1: no limit, 0: one look) for standard input to become readable or
// the waits to be woken, looking at quit_requested before the wait and after input came.
input_wait_result wait_for_input_ms(int timeout_ms);

// Waits until standard input has data (or end of input) to read without blocking. Returns 0
// when a read will not block (also when the descriptor can't be watched: the read itself then
// reports the error), -1 when quit_requested is set (also when stop_if_output_lost sets it).
int wait_for_input();

// Standard input that fails every read (a directory, a terminal that hung up) would keep the
// prompt and the questions asking forever. Every reader counts its failed reads (a read
// interrupted by a signal is none), and a read that delivered data breaks the run; after
// STDIN_FAILURE_LIMIT failures in a row input counts as ended, as at end of input.
constexpr int STDIN_FAILURE_LIMIT = 10;

// Counts one failed read of standard input, for readers outside this module (the line editor).
// Returns true when this is the STDIN_FAILURE_LIMIT-th failure in a row (or input was given up
// before): from now on standard input counts as ended.
bool stdin_read_failed();

// A read of standard input delivered data: the run of failures is broken. For readers outside
// this module.
void stdin_read_succeeded();

// Whether standard input has been given up after STDIN_FAILURE_LIMIT failed reads in a row. It
// stays given up: every reader then reports end of input without reading.
bool stdin_given_up();

// Where standard input's lines come from, for naming a line in messages: "<stdin>" unless the
// main thread names another source (-c, a -f file) before the workers start.
void input_set_source_name(const char* name);
const char* input_source_name();

// The lines taken from standard input so far, command lines and answers alike (the last one
// without a line end too): the number of the line a reader has just returned. Reading thread.
unsigned input_lines_read();

// Counts one line read outside this module (the line editor). Reading thread.
void input_count_line();

// Outcome of a read of standard input: 0 or more is what was read (a line, a count, a byte); a
// negative result says why nothing was.
enum line_read_result {
  LINE_OK = 0,             // a line is in the buffer
  LINE_END = -1,           // end of input (Ctrl-D on an empty line), or input given up
  LINE_INTERRUPTED = -2,   // Ctrl-C: quit_requested set, or a read interrupted by a signal
  LINE_ERROR = -3,         // any other read error
  LINE_TOO_LONG = -4,      // the line did not fit the buffer; it was read to its end and dropped
  LINE_CONTINUED = -5,     // read_key_byte: the process continued after a stop during the wait;
                           // the caller shows its state again (the shell's lines may stand below
                           // it) and reads on
  LINE_NOT_A_NUMBER = -6,  // read_int_in_range: the line is no number ("Invalid: %s." printed)
  LINE_OUT_OF_RANGE = -7,  // read_int_in_range: outside the range ("Out of range: %d." printed)
};

// Waits for and reads one line of stdin into buf (size bytes, line end kept, always
// NUL-terminated): at most size - 1 bytes, up to and including the first line end. Returns the
// number of bytes stored (NUL bytes inside the line count, so a caller can tell a line that
// filled the buffer even when strlen stops early), or LINE_END, LINE_INTERRUPTED or LINE_ERROR
// when nothing was read. A last line without its line end is returned whole at end of input.
int read_line_bytes(char* buf, int size);

// Waits for and reads one command line into buf (size bytes, line end kept when it fits). A line
// that does not fit is read to its end and dropped, buf then empty, so no piece of it is ever run
// as a command. Returns LINE_OK or the negative result; the caller prints the message for
// LINE_ERROR.
line_read_result read_command_line(char* buf, int size);

// Reads one whole answer line from stdin into buf (size bytes, line end included when it fits,
// always NUL-terminated). What does not fit is read and discarded, so no fragment of the line is
// ever taken as a later answer or command. Flushes stdout first. Returns LINE_OK, or LINE_END
// (also once standard input has been given up), LINE_INTERRUPTED (Ctrl-C; the line, if any, is
// left unread) or LINE_ERROR; nothing printed.
int read_answer_line(char* buf, int size);

// The outcome of a yes/no question. ANSWER_NONE: the operator gave none (end of input, a read
// error, or no usable answer in the tries allowed); ANSWER_STOPPED: none either, because the stop
// was requested (Ctrl-C, standard output lost), after which a command prints nothing more.
// Nothing was agreed then, and a script that ended before its answer did not do what it meant:
// every command counts both as a failure, a plain no as declined.
enum yes_no_answer { ANSWER_YES, ANSWER_NO, ANSWER_NONE, ANSWER_STOPPED };

// How an answer that is neither Y nor N (an empty line too) counts: as a no where the question
// says "other-key=cancel" or cancels anything but a yes, or as no answer, asked again while
// tries are left.
enum other_answer { OTHER_IS_NO, OTHER_IS_NONE };

// The one yes/no question of every command: prints question ("%s", stdout flushed) and reads an
// answer line, at most `tries` times. Only the line's first character counts, in either case
// (judged on its first 15 characters); a failed read writes "Error reading answer." to stderr and
// is asked again too (WRITE asks three times whatever the reason), unless the stop was
// requested. Returns the answer.
yes_no_answer ask_yes_no(const char* question, int tries, other_answer other);

// Reads a decimal integer answer line and checks lowest <= number <= highest, compared as unsigned
// 32-bit numbers. Lines are judged on their first 255 characters without the line end (a last
// line without one counts whole); an empty line reads as 0. Returns LINE_OK with *value stored;
// LINE_END, LINE_INTERRUPTED or LINE_ERROR as read_answer_line does (nothing printed);
// LINE_NOT_A_NUMBER after printing "Invalid: %s." for a line that is not a number;
// LINE_OUT_OF_RANGE after printing "Out of range: %d." for a number outside the range.
line_read_result read_int_in_range(int32_t* value, int32_t lowest, int32_t highest);

// Terminal modes of stdin for reading single keys, held for the lifetime of the object and
// restored on every way out of its scope. Without canonical input a key is readable as soon as
// it is pressed; echo is off so it does not land in the output. The signal keys stay, so Ctrl-C
// still interrupts. Changes nothing when stdin is no terminal.
class key_mode {
 public:
  key_mode();
  ~key_mode();
  key_mode(const key_mode&) = delete;
  key_mode& operator=(const key_mode&) = delete;

  // Whether the process has continued after a stop (terminal_continues, core/lifecycle.h) since
  // the mode was set or since the last call that returned true. When it has, the key mode is put
  // back (a shell's job control may have left its own modes) and the keys typed at the terminal
  // meanwhile are dropped, so that they never reach the device as a burst.
  bool resumed();

 private:
  termios saved_{};
  termios keys_{};
  bool active_ = false;
  unsigned continues_seen_ = 0;
};

// Waits for and reads one byte (a key in key mode) from stdin, buffered bytes first. Returns the
// byte (0 to 255), LINE_CONTINUED (with a mode whose resumed() was true: nothing read), or
// LINE_INTERRUPTED on Ctrl-C, LINE_END at end of input (also once input has been given up),
// LINE_ERROR on a read error.
int read_key_byte(key_mode* mode = nullptr);

// Reads and drops the key press that is waiting at a terminal in key mode. A key that sends
// several bytes (an arrow key's escape sequence) arrives in one piece, so one read takes all of
// it and none of it reaches the next command line. Buffered bytes are what is dropped when there
// are any.
void drop_key();
