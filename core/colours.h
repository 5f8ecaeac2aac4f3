// Colour escape sequences of the tool's output: red for help headings, active interlock bits
// and interlock changes to 1, green for command words in the help and interlock changes to 0.
// When the environment variable NO_COLOR is set and not empty, all three are empty texts, so
// every text prints the same without colour.
#pragma once

struct output_colours {
  const char* red;
  const char* green;
  const char* reset;
};

// The sequences in use. Written by colours_init on the main thread before the worker threads
// start, read by all threads afterwards (starting a thread orders the write before its reads).
// Until colours_init runs they hold the colour sequences.
extern output_colours colours;

// Reads NO_COLOR once. Main thread, before the worker threads start.
void colours_init();
