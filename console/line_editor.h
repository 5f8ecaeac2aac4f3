// Line editing at a terminal: when standard input and standard output are both terminals the
// console reads its command lines through libedit, with emacs key bindings, a history kept
// across runs in ~/.veltrona_tool_history and tab completion (console/completion.h). While a
// line is being edited, the link thread's messages are shown above the prompt and the prompt
// with the half-typed line is drawn again below them.
//
// With piped or redirected input or output none of this is active and the console reads plain
// lines itself, so its output stays exactly as it was.
//
// Console thread only, except where a function says otherwise.
#pragma once

#include <cstddef>

#include "core/input.h"

// Starts line editing when standard input and standard output are terminals and TERM names a
// terminal that can move its cursor (not empty, not "dumb"): loads the history, registers the
// link output hook. Returns true when editing is active; false (and nothing changed) otherwise.
bool line_editor_start();

// Whether line_editor_start made editing active.
bool line_editor_active();

// Shows prompt and reads one edited line into buf (NUL-terminated, without its line end).
// A line of more than size - 1 characters yields LINE_TOO_LONG with buf empty. A line that
// holds more than blanks is added to the history (unless it repeats the previous entry, or it
// writes a secret register: console/history_filter.h), and the history file is rewritten, so it
// survives however the tool ends. Returns promptly once
// quit_requested is set by a signal; on interrupt and end of input the cursor is moved to a new
// line first. Only while editing is active.
line_read_result line_editor_read(const char* prompt, char* buf, size_t size);

// Ends line editing: unregisters the output hook, prints the link thread's lines still queued,
// frees the editor and puts the terminal back into the state it had at line_editor_start.
// Does nothing when editing is not active.
void line_editor_stop();
