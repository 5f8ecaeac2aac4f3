// Moving between register words and the user's text: the layout of each register data type in its
// 16-bit words, printing a value by its type, parsing a typed value, and reading the two kinds of
// answer (yes/no, integer in a range) from standard input.
//
// Console thread only. Only the answer readers print anything on failure; the other functions
// report by their result and leave the message to the caller.
//
// Word order: a 32-bit value (float bits, DWORD, interlock word) keeps its low 16 bits in the
// lower-addressed word; bytes and characters are packed low byte first within each word.
//
// Standard input is read only through the stdio stream stdin, so that input a pipe delivered into
// the stream's buffer during one read is still seen by the next reader.
#ifndef VELTRONA_REGISTERS_VALUES_H_
#define VELTRONA_REGISTERS_VALUES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "registers/catalogue.h"

// Joins words[0] (bits 0-15) and words[1] (bits 16-31).
uint32_t join_words(const uint16_t *words);

// Splits value into words[0] (bits 0-15) and words[1] (bits 16-31).
void split_words(uint32_t value, uint16_t *words);

// The 32 bits of a single-precision float, and back.
uint32_t float_to_bits(float value);
float bits_to_float(uint32_t bits);

// Prints the value held in words as entry's type dictates, on one line (five for READ_CALIB and
// SET_CALIB), the unit following FLOAT, WORD and DWORD values without a blank. count is the number
// of valid words: for RAW it is how many words are printed (0 or less gives an empty line); for the
// other types, words beyond count are taken as 0. A type code outside 0 to 8 prints nothing.
void print_value_by_type(const modbus_reg_entry *entry, const uint16_t *words, int count);

// Longest text of a FLOAT, WORD or DWORD value with its unit, terminator included.
constexpr size_t MAX_SCALAR_TEXT = 96;

// Writes the text print_value_by_type shows for a FLOAT, WORD or DWORD register (value and
// unit, without the line end) into buf (size bytes, always terminated; MAX_SCALAR_TEXT holds
// every value). words holds the type's one or two words. Returns 0, or -1 for any other type
// (buf then empty when it has room).
int format_scalar_value(const modbus_reg_entry *entry, const uint16_t *words, char *buf,
                        size_t size);

// Whether a float that strtof made of the user's text may go to the device, into the
// configuration or into a calibration point: only a finite number may. NaN and the infinities
// typed as such ("nan", "-inf") are refused, and so is a number that overflows single precision.
// strtof rounds to nearest, so a number overflows exactly when it rounds to infinity: a magnitude
// of 2^128 - 2^103 (half a unit above FLT_MAX, about 3.40282357e38) or more, which strtof returns
// as an infinity. Every finite result is valid whatever errno says: FLT_MAX, a number just above
// it that rounds down to it, denormals, and numbers so small that they round to 0.
bool float_value_valid(float value);

// What parse_float makes of an empty text (also one that held nothing but a line end). The
// commands have always differed here and keep their ways: WRITE and STARTUP ADD (through
// parse_value_by_type) take it as 0; RW FLOAT, SET, ACTUAL and EDIT ACTUAL refuse it. The console
// cuts the line end off a command line before it cuts tokens and never hands a command an empty
// token, so the difference shows only to callers that pass their own text.
enum float_empty { FLOAT_EMPTY_IS_ZERO, FLOAT_EMPTY_REFUSED };

// Parses the whole of text as a single-precision float (decimal or exponent notation, as strtof
// reads it) into *value; text is cut at its first CR or LF first, and an empty text is read as the
// empty argument says. Returns 0 with *value stored; -2 when the text is not wholly a number, when
// the number is no valid float (float_value_valid) or for a refused empty text; -1 when text is
// null. Nothing is stored on failure.
int parse_float(char *text, float_empty empty, float *value);

// Parses token as a value of a register of the given type into *value (float bits for FLOAT).
// FLOAT is parse_float with an empty token read as 0. WORD and DWORD tokens are hexadecimal only
// when they begin with "0X" (capital X), else decimal; no range check is made. token is cut at its
// first CR or LF.
// Returns 0 on success; -1 for a type without a text form (all but FLOAT, WORD and DWORD; nothing
// stored); -2 when a FLOAT token is not wholly a number or not a valid float (float_value_valid;
// nothing stored); -3 when a WORD or DWORD token is not wholly a number (*value may hold the
// partial number).
int parse_value_by_type(int32_t type, char *token, uint32_t *value);

// Parses text as an unsigned number in base 10 or 16 into *value (the low 32 bits). Leading blanks
// and a sign are accepted (a minus gives the two's complement), in base 16 also a 0x or 0X prefix.
// text is cut at its first CR or LF. *value receives the number also when the conversion stops
// early. Returns 0 when the whole text is a number (the empty text gives 0 with value 0), -2 when
// it isn't, -1 when text is null (nothing stored).
int parse_unsigned(char *text, int base, uint32_t *value);

// Whether text holds nothing but the digits 0 to 9: a token that names a register by its decimal
// address rather than by (part of) its name. The empty text counts as all digits (none of its
// characters is anything else); READ, WRITE, SETBIT and STARTUP then look up address 0, which no
// register has.
bool all_digits(const char *text);

// Upper-cases a to z in the first limit characters of text, or in all of it when it is shorter.
void upper_case_in_place(char *text, int limit);

// The stop flag that every wait for standard input watches (the process-wide quit flag); set
// once at start, before any thread reads input.
void set_input_stop_flag(std::atomic<int> *flag);

// Waits until standard input has data (or end of input) to read without blocking, looking at
// the stop flag several times a second, so that Ctrl-C ends a read even when the signal came
// just before the read began. Bytes already in the stdin buffer count as data. Returns 0 when
// a read will not block, -1 when the stop flag is set (also when stop_if_output_lost sets it).
int wait_for_input();

// When a write to standard output has failed and nothing reads it any more (a closed pipe: EPIPE,
// with SIGPIPE ignored), nobody can see a prompt, a question or a watch line: sets the stop flag,
// so that the tool ends, and returns true. Otherwise returns false. For every wait for the
// operator.
bool stop_if_output_lost();

// Standard input that fails every read (a directory, a terminal that hung up) would keep the
// prompt and the questions asking forever. Every reader that reads again after a failed read
// reports each read here, so that a run of failures ends input as end of input does. The count is
// kept for the thread that reads standard input (the main thread during the start-up questions,
// then the console thread); no two threads read it at once.
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
// as fgets left them).
int read_line_bytes(char *buf, int size);

// Reads one whole line from stdin into buf (size bytes, line end included when it fits, always
// NUL-terminated). What does not fit is read and discarded, so no fragment of the line is ever
// taken as a later answer or command. Flushes stdout first. Returns 0, or -1 at end of input, on
// a read error (errno from the failed read is kept; nothing printed) and once standard input has
// been given up. Each read counts towards the limit above.
int read_answer_line(char *buf, int size);

// Reads a yes/no answer line; only its first character counts, in either case. Lines are judged
// on their first 15 characters. Returns 1 for Y, 0 for N, -1 for anything else (an empty line
// too), and -1 at end of input or on a read error after writing "Error reading answer." to stderr.
int read_yes_no();

// Reads a decimal integer answer line and checks lowest <= number <= highest, compared as unsigned
// 32-bit numbers. Lines are judged on their first 255 characters; the last character kept (the
// line end) is dropped and an empty line reads as 0. Returns 0 with *value stored; -1 at end of
// input or on a read error (nothing printed); -2 after printing "Invalid: %s." for a line that is
// not a number; -3 after printing "Out of range: %d." for a number outside the range.
int read_int_in_range(int32_t *value, int32_t lowest, int32_t highest);

#endif  // VELTRONA_REGISTERS_VALUES_H_
