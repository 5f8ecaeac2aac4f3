// Test hooks of standard input (core/input_test.cpp).
#pragma once

// Whether the input buffer holds bytes of stdin that were taken from the descriptor but nobody
// has read yet. They are input that is waiting, although the descriptor may have nothing more.
bool input_has_buffered_bytes();

// Reads a yes/no answer line, the one read of ask_yes_no; only its first character counts, in
// either case. Lines are judged on their first 15 characters. Returns 1 for Y, 0 for N, -1 for
// anything else (an empty line too), and -1 at end of input, on a read error or on Ctrl-C after
// writing "Error reading answer." to stderr.
int read_yes_no();
