// Output of the link thread. The link thread prints on its own (poll failures, unknown
// requests, interlock changes) while the console may be showing a prompt; its lines go through
// link_printf so that a console editing a line can put them above the prompt instead of into
// the half-typed line.
#pragma once

#include <cstddef>

// Receives one formatted message (text[0..len), NUL-terminated at len) instead of standard
// output. Called on the thread that called link_printf, with the output lock held: the hook
// must not call link_printf or link_set_output_hook.
typedef void (*link_output_hook)(const char* text, size_t len);

// Formats like printf and hands the text to the registered hook; without a hook it writes the
// text to standard output and flushes it, exactly as printf followed by fflush would. Any
// thread; calls are serialised, so one message is never mixed into another.
void link_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Registers hook for all later messages; nullptr restores plain standard output. When it
// returns, no message is being handed to the previous hook any more. Any thread but a signal
// handler.
void link_set_output_hook(link_output_hook hook);

// A status line on standard error (a long read's progress at a terminal): drawn at the start of
// the cursor's line, and taken away before each message and drawn again after it, so that a
// message never starts behind it. text nullptr or empty erases it (blanks over it, then the
// cursor back at the line's start). Flushes standard output first. Console thread.
void link_set_status_line(const char* text);
