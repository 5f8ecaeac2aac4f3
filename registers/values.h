// Moving between register words and the user's text: the layout of each register data type in its
// 16-bit words, printing a value by its type, parsing a typed value, and the text helpers for the
// tokens the user types. Reading the text from standard input is core/input.h's job.
//
// Console thread only (the main thread too before the console starts). Nothing here reads input;
// print_value_by_type is the one function that writes (to stdout). The others report failures by
// their result and leave the message to the caller.
//
// Word order: a 32-bit value (float bits, DWORD, interlock word) keeps its low 16 bits in the
// lower-addressed word; bytes and characters are packed low byte first within each word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "registers/catalogue.h"

// Joins words[0] (bits 0-15) and words[1] (bits 16-31).
uint32_t join_words(const uint16_t* words);

// Splits value into words[0] (bits 0-15) and words[1] (bits 16-31).
void split_words(uint32_t value, uint16_t* words);

// The 32 bits of a single-precision float, and back.
uint32_t float_to_bits(float value);
float bits_to_float(uint32_t bits);

// Prints the value held in words as entry's type dictates, on one line (five for READ_CALIB and
// SET_CALIB), the unit following FLOAT, WORD and DWORD values without a blank. count is the number
// of valid words: for RAW it is how many words are printed (0 or less gives an empty line); for the
// other types, words beyond count are taken as 0. A type code outside 0 to 8 prints nothing.
void print_value_by_type(const modbus_reg_entry* entry, const uint16_t* words, int count);

// Longest text of a FLOAT, WORD or DWORD value with its unit, terminator included.
constexpr size_t MAX_SCALAR_TEXT = 96;

// Writes the text print_value_by_type shows for a FLOAT, WORD or DWORD register (value and
// unit, without the line end) into buf (size bytes, always terminated; MAX_SCALAR_TEXT holds
// every value). words holds the type's one or two words. Returns 0, or -1 for any other type
// (buf then empty when it has room).
int format_scalar_value(const modbus_reg_entry* entry, const uint16_t* words, char* buf,
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
int parse_float(char* text, float_empty empty, float* value);

// Parses token as a value of a register of the given type into *value (float bits for FLOAT).
// FLOAT is parse_float with an empty token read as 0. WORD and DWORD tokens are hexadecimal only
// when they begin with "0X" (capital X), else decimal; no range check is made. token is cut at its
// first CR or LF.
// Returns 0 on success; -1 for a type without a text form (all but FLOAT, WORD and DWORD; nothing
// stored); -2 when a FLOAT token is not wholly a number or not a valid float (float_value_valid;
// nothing stored); -3 when a WORD or DWORD token is not wholly a number (*value may hold the
// partial number).
int parse_value_by_type(int32_t type, char* token, uint32_t* value);

// Parses text as an unsigned number in base 10 or 16 into *value (the low 32 bits). Leading blanks
// and a sign are accepted (a minus gives the two's complement), in base 16 also a 0x or 0X prefix.
// text is cut at its first CR or LF. *value receives the number also when the conversion stops
// early. Returns 0 when the whole text is a number (the empty text gives 0 with value 0), -2 when
// it isn't, -1 when text is null (nothing stored).
int parse_unsigned(char* text, int base, uint32_t* value);

// Whether text holds nothing but the digits 0 to 9: a token that names a register by its decimal
// address rather than by (part of) its name. The empty text counts as all digits (none of its
// characters is anything else); READ, WRITE, SETBIT and STARTUP then look up address 0, which no
// register has.
bool all_digits(const char* text);

// Upper-cases a to z in the first limit characters of text, or in all of it when it is shorter.
void upper_case_in_place(char* text, int limit);

// A copy of text with a to z upper-cased: for a token the caller may not change.
std::string upper_cased(std::string text);

// Cuts text at its first CR or LF: a token, an answer or a line of a file may still carry the
// end of the line it came from.
void cut_at_line_end(char* text);

// The shortest text that reads back as the same single-precision value ("6.3", not
// "6.30000019"), as the calibration records write their floats; "nan", "inf" or "-inf" for the
// values that are no number.
std::string shortest_float_text(float value);

// The text of bytes as it may stand on a terminal or in one line of a file: every byte below
// 0x20, 0x7F, the C1 controls (U+0080 to U+009F) and every byte that is not part of a valid UTF-8
// sequence are written as \xHH (capital hex digits); all else, a backslash too, stands as it is.
// A device or a file can then never move the cursor, hide the screen or end a line.
std::string printable_text(const char* bytes, size_t size);
std::string printable_text(const std::string& text);

// The printable_text of a CHAR_ARRAY_10 value: its bytes, low byte first in each of the five
// words, up to the first NUL or all ten.
std::string char_array_text(const uint16_t* words);
