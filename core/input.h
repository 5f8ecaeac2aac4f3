// Standard input: every read of the operator's command lines, answers and keys, the waits that
// come before them, and the cutting of a command line into tokens.
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

#include <cstdint>

// When a write to standard output has failed and nothing reads it any more (a closed pipe: EPIPE,
// with SIGPIPE ignored), nobody can see a prompt, a question or a watch line: sets
// quit_requested, so that the tool ends, and returns true. Otherwise returns false. For every
// wait for the operator.
bool stop_if_output_lost();

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

// Command-line tokens: a line is cut at blank characters only (a tab is part of a token; runs of
// blanks count as one). Commands take their arguments one at a time from the same cursor the
// console used for the command word. Returns the next token of *cursor and advances the cursor
// past it, terminating the token in place; nullptr when the line holds no more tokens (or
// cursor is null).
char* next_token(char** cursor);
