// Test hooks of standard input (core/input_test.cpp).
#pragma once

// Whether the input buffer holds bytes of stdin that were taken from the descriptor but nobody
// has read yet. They are input that is waiting, although the descriptor may have nothing more.
bool input_has_buffered_bytes();
