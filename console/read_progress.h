// How far a long read of many registers is, for an operator at a terminal: one line on standard
// error, "Reading 120 of 248 registers...", drawn once the read has taken about half a second,
// redrawn in place and erased at the end. Never drawn when standard error is no terminal, so
// that a pipe or a file gets exactly the command's output. Console thread only.
#pragma once

#include <cstdint>

struct read_progress {
  int total = 0;
  int64_t started_ms = 0;
  int64_t drawn_ms = 0;  // when the line was last drawn
  bool at_terminal = false;
  int shown_length = 0;  // of the line on the screen; 0 when none is
};

// Starts counting a read of `total` registers.
void read_progress_start(read_progress* progress, int total);

// Tells that `done` registers are read: draws or redraws the line once the read is long enough.
void read_progress_update(read_progress* progress, int done);

// Erases the line, if one is shown, so that the command's own output starts at the line's
// beginning; the next update draws it again. Call it before printing while a read goes on, and
// at the read's end.
void read_progress_erase(read_progress* progress);
