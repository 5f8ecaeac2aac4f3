// Command-line tokens: the console cuts a line at blank characters only (a tab is part of a
// token; runs of blanks count as one). Commands take their arguments one at a time from the
// same cursor the console used for the command word.
#pragma once

// Returns the next token of *cursor and advances the cursor past it, terminating the token in
// place; nullptr when the line holds no more tokens.
char* next_token(char** cursor);
