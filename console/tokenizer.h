// Command-line tokens: how the console cuts a command line into the command word and the
// arguments it hands the command. Pure text handling: no input, no output, any thread.
#pragma once

#include <string_view>

#include "core/command_status.h"

// A line is cut at blank characters only (a tab is part of a token; runs of blanks count as
// one). Returns the next token of *cursor and advances the cursor past it, terminating the
// token in place; nullptr when the line holds no more tokens (or cursor is null).
char* next_token(char** cursor);

// Every token left in *cursor, in order, as next_token cuts them; the cursor ends at the end of
// the line. The line's 511 characters bound the count: no token is dropped.
command_args take_all_tokens(char** cursor);

// Whether line is a comment: its first character that is not a blank or a tab is '#'. A comment
// at the prompt runs nothing, prints nothing and is not kept in the history, so that a script
// can say what it does.
bool is_comment_line(std::string_view line);
