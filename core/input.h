// Standard input: every read of the operator's command lines, answers and keys, and the waits
// that come before them. (Line editing at a terminal reads through libedit in
// console/line_editor.h, and uses the buffered-input helper below; the console cuts a line into
// tokens in console/tokenizer.h.)
//
// Threads: standard input is read by one thread at a time, the main thread during the start-up
// questions of the host service, then the console thread; never by the link thread. The run of
// failed reads below belongs to that thread.
//
// Stop: every wait watches quit_requested (core/lifecycle.h) several times a second, so that a
// Ctrl-C ends a read even when its signal came just before the read began. The signal handler
// sets the flag and interrupts the reading thread's blocking call; a reader then returns its
// interrupted result (below) and reads nothing more.
//
// End of input: sticky. Once stdin is at end of input every reader returns its end result at once
// without blocking; so does every reader once input has been given up after
// STDIN_FAILURE_LIMIT failed reads in a row.
//
// Standard input is read only through the stdio stream stdin, so that input a pipe delivered into
// the stream's buffer during one read is still seen by the next reader.
#pragma once

#include <termios.h>

#include <cstdint>

// Whether stdio holds bytes of stdin that it has taken from the descriptor but nobody has read
// yet (glibc keeps them between the read pointers of the FILE). They are input that is waiting,
// although the descriptor may have nothing more.
bool stdio_has_buffered_input();

// Whether a read of stdin returns at once, whatever the descriptor holds: stdio has buffered
// bytes, or stdin is at end of input.
bool stdio_input_ready();

// When a write to standard output has failed and nothing reads it any more (a closed pipe: EPIPE,
// with SIGPIPE ignored), nobody can see a prompt, a question or a watch line: sets
// quit_requested, so that the tool ends, and returns true. Otherwise returns false. For every
// wait for the operator.
bool stop_if_output_lost();

// Longest wait between two looks at quit_requested: Ctrl-C reaches the reading thread as a signal
// that may land just before a wait begins, so the flag is looked at again at least this often.
constexpr int INPUT_STOP_CHECK_MS = 200;

// One look at standard input, for waits that also watch something else (the clock).
enum input_wait_result {
  INPUT_READY,    // a read will not block: data, buffered bytes or end of input
  INPUT_TIMEOUT,  // nothing within timeout_ms, or the wait was interrupted by a signal
  INPUT_STOPPED,  // quit_requested is set
  INPUT_FAILED,   // the descriptor can't be watched (poll failed)
};

// Waits at most timeout_ms for standard input to become readable, looking at quit_requested
// before the wait and after input came. A caller keeps timeout_ms at or below INPUT_STOP_CHECK_MS
// and calls again after INPUT_TIMEOUT, so that a Ctrl-C is seen in time.
input_wait_result wait_for_input_ms(int timeout_ms);

// Waits until standard input has data (or end of input) to read without blocking. Returns 0
// when a read will not block (also when the descriptor can't be watched: the read itself then
// reports the error), -1 when quit_requested is set (also when stop_if_output_lost sets it).
int wait_for_input();

// Standard input that fails every read (a directory, a terminal that hung up) would keep the
// prompt and the questions asking forever. Every reader that reads again after a failed read
// reports each read here, so that a run of failures ends input as end of input does.
constexpr int STDIN_FAILURE_LIMIT = 10;

// Counts one failed read of standard input. A read interrupted by a signal (EINTR) is no failure:
// callers neither count it nor let it break the run. Returns true when this is the
// STDIN_FAILURE_LIMIT-th failure in a row (or input was given up before): from now on standard
// input counts as ended.
bool stdin_read_failed();

// A read of standard input delivered data: the run of failures is broken.
void stdin_read_succeeded();

// Whether standard input has been given up after STDIN_FAILURE_LIMIT failed reads in a row. It
// stays given up: every reader then reports end of input without reading.
bool stdin_given_up();

// fgets on stdin into buf (size bytes), and the number of bytes it stored: NUL bytes inside the
// line count, so a caller can tell a line that filled the buffer even when strlen stops early.
// Returns -1 when fgets read nothing (end of input or a read error; errno and the stream's flags
// as fgets left them). Does not wait and counts nothing.
int read_line_bytes(char* buf, int size);

// Outcome of reading one command line, from stdin here or through the line editor.
enum line_read_result {
  LINE_OK,           // a line is in the buffer
  LINE_END,          // end of input (Ctrl-D on an empty line), or input given up
  LINE_INTERRUPTED,  // Ctrl-C: quit_requested set, or a read interrupted by a signal
  LINE_ERROR,        // any other read error (the stream's error flag is cleared)
  LINE_TOO_LONG,     // the line did not fit the buffer; it was read to its end and dropped whole
};

// Waits for and reads one command line into buf (size bytes, line end kept when it fits). A line
// that does not fit is read to its end and dropped, buf then empty, so no piece of it is ever run
// as a command. Counts nothing towards the failure limit: the caller, which prints the message
// for LINE_ERROR, reports the outcome (stdin_read_failed, stdin_read_succeeded).
line_read_result read_command_line(char* buf, int size);

// Reads one whole answer line from stdin into buf (size bytes, line end included when it fits,
// always NUL-terminated). What does not fit is read and discarded, so no fragment of the line is
// ever taken as a later answer or command. Flushes stdout first. Returns 0, or -1 at end of
// input, on a read error (errno from the failed read is kept; nothing printed), once standard
// input has been given up, and on Ctrl-C (errno EINTR; the line, if any, is left unread). Each
// read counts towards the failure limit.
int read_answer_line(char* buf, int size);

// Reads a yes/no answer line; only its first character counts, in either case. Lines are judged
// on their first 15 characters. Returns 1 for Y, 0 for N, -1 for anything else (an empty line
// too), and -1 at end of input, on a read error or on Ctrl-C after writing
// "Error reading answer." to stderr.
int read_yes_no();

// Reads a decimal integer answer line and checks lowest <= number <= highest, compared as unsigned
// 32-bit numbers. Lines are judged on their first 255 characters; the last character kept (the
// line end) is dropped and an empty line reads as 0. Returns 0 with *value stored; -1 at end of
// input, on a read error or on Ctrl-C (nothing printed); -2 after printing "Invalid: %s." for a
// line that is not a number; -3 after printing "Out of range: %d." for a number outside the range.
int read_int_in_range(int32_t* value, int32_t lowest, int32_t highest);

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

 private:
  termios saved_{};
  bool active_ = false;
};

// Waits for and reads one byte (a key in key mode) from stdin, bytes already in the stdio buffer
// first. Returns the byte (0 to 255), or -1 on Ctrl-C, at end of input or on a read error; a
// read error's flag is cleared for the next reader, end of input stays visible. Counts nothing
// towards the failure limit.
int read_key_byte();

// Reads and drops the key press that is waiting at a terminal in key mode. A key that sends
// several bytes (an arrow key's escape sequence) arrives in one piece, so one read takes all of
// it and none of it reaches the next command line. Bytes stdio already holds are what is dropped
// when there are any.
void drop_key();
