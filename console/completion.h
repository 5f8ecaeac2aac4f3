// Tab completion of a console line: command words at the start of the line, and after a
// command word its arguments as its row in the command table says (register names, the
// keywords its parser takes, file names).
// Pure functions of the text before the cursor and the file system; they print nothing and
// hold no state. Console thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct completion {
  // The last `replace` characters before the cursor (the word being completed) give way to
  // `text`. A unique match ends with a blank (a directory with '/'); several matches extend the
  // word to their longest common beginning.
  size_t replace = 0;
  std::string text;
  // Filled when several matches remain and the word could not be extended: the list to show.
  std::vector<std::string> choices;
  // False when nothing matches (or the position takes no completion): the line stays as it is.
  bool matched = false;
};

// Completes the word that ends at the cursor. Command words and keywords match the word
// case-insensitively and are given in upper case. Register names match the word's beginning,
// or, when no name begins with it, any part of the name (as READ finds registers); file
// names match case-sensitively.
completion complete_line(std::string_view before_cursor);

// Lays the choices out in columns, top to bottom then left to right, for a terminal `width`
// characters wide. Returns the lines without line ends.
std::vector<std::string> layout_columns(const std::vector<std::string>& choices, int width);
