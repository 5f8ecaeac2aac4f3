// The console thread: logs in to the modulator and runs the operator's prompt loop on
// standard input until the user quits, input ends or Ctrl-C arrives.
#pragma once

// Console thread entry (no argument).
void* console_thread_main(void* arg);
